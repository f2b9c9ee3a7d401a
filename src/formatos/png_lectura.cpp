#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include <spng.h>

#include "formatos/interno.hpp"
#include "imagen/memoria.hpp"
#include "sistema/archivos.hpp"

namespace formatos {

namespace {

using Bytes = std::vector<std::uint8_t, Asignador<std::uint8_t>>;

struct BorrarSpng {
    void operator()(spng_ctx* c) const { spng_ctx_free(c); }
};

int canalesPng(std::uint8_t tipo) {
    switch (tipo) {
        case SPNG_COLOR_TYPE_GRAYSCALE: return 1;
        case SPNG_COLOR_TYPE_TRUECOLOR: return 3;
        case SPNG_COLOR_TYPE_INDEXED: return 1;
        case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA: return 2;
        case SPNG_COLOR_TYPE_TRUECOLOR_ALPHA: return 4;
        default: return 4;
    }
}

// The file through spng's stream reader, up to the size it had when it was opened.
struct FuentePng {
    Archivo archivo;
    std::uint64_t siguiente = 0;
    std::string error;  // why a read failed
};

int leerTrozoPng(spng_ctx*, void* datos, void* destino, std::size_t cantidad) {
    auto* f = static_cast<FuentePng*>(datos);
    if (f->siguiente >= f->archivo.tamano || cantidad > f->archivo.tamano - f->siguiente) return SPNG_IO_EOF;
    const Resultado<std::size_t> n = leerCompleto(f->archivo.fd, static_cast<std::uint8_t*>(destino), cantidad, f->siguiente);
    if (!n) {
        f->error = n.mensaje();
        return SPNG_IO_ERROR;
    }
    if (*n < cantidad) return SPNG_IO_EOF;
    f->siguiente += cantidad;
    return 0;
}

// Where each pass of an interlaced (Adam7) picture puts its pixels along a row.
constexpr int kInicioAdam7[7] = {0, 4, 0, 2, 0, 1, 0};
constexpr int kPasoAdam7[7] = {8, 8, 4, 4, 2, 2, 1};

// Transparent pixels over a white sheet of paper: `cuantos` RGBA pixels, `paso` pixels apart.
void sobreBlanco(std::uint8_t* rgba, std::size_t cuantos, std::size_t paso) {
    for (std::size_t k = 0; k < cuantos; ++k) {
        std::uint8_t* p = rgba + 4 * k * paso;
        const unsigned a = p[3];
        if (a == 255) continue;
        for (std::size_t c = 0; c < 3; ++c) {
            p[c] = static_cast<std::uint8_t>((p[c] * a + 255 * (255 - a) + 127) / 255);
        }
    }
}

}  // namespace

LecturaFoto leerPng(const std::string& nombre, const Archivo& archivo, std::uint64_t pixelesMaximos) {
    const auto refusar = [&](std::string texto) { return fallo(nombre + " " + texto); };
    const auto falla = [&](int e, const char* danado) {
        if (e == SPNG_EMEM) return refusar("no cabe en la memoria libre");
        return refusar(danado + enUnaLinea(spng_strerror(e)));
    };
    std::unique_ptr<spng_ctx, BorrarSpng> ctx(spng_ctx_new(0));
    if (!ctx) return refusar("no se puede leer: no hay memoria para el decodificador PNG");
    // Sides beyond the limit are refused on reading the header; no chunk may claim more than the
    // file holds, nor may the kept ancillary chunks together.
    spng_set_image_limits(ctx.get(), kLadoMaximo, kLadoMaximo);
    const std::size_t tope = static_cast<std::size_t>(std::min<std::uint64_t>(archivo.tamano, SIZE_MAX));
    spng_set_chunk_limits(ctx.get(), tope, tope);
    FuentePng fuente{archivo, 0, {}};
    spng_set_png_stream(ctx.get(), leerTrozoPng, &fuente);
    const auto leida = [&](int e) {
        return e == SPNG_IO_ERROR && !fuente.error.empty() ? std::optional<Fallo>(refusar("no se puede leer: " + fuente.error))
                                                          : std::nullopt;
    };

    spng_ihdr ihdr{};
    if (const int e = spng_get_ihdr(ctx.get(), &ihdr); e != 0) {
        if (e == SPNG_EWIDTH || e == SPNG_EHEIGHT || e == SPNG_EUSER_WIDTH || e == SPNG_EUSER_HEIGHT) {
            // The sides as the header gives them (big-endian, right after "IHDR").
            std::array<std::uint8_t, 8> lados{};
            if (const auto leidos = leerCompleto(archivo.fd, lados.data(), lados.size(), 16); leidos && *leidos == 8) {
                const auto lado = [&](std::size_t en) {
                    return static_cast<std::int64_t>(lados[en]) << 24 | lados[en + 1] << 16 | lados[en + 2] << 8 |
                           lados[en + 3];
                };
                return fallo(mensajeTamano(nombre, lado(0), lado(4)));
            }
        }
        if (auto r = leida(e)) return *r;
        return falla(e, "no es un PNG que se pueda leer: ");
    }
    if (!ladosValidos(ihdr.width, ihdr.height)) {
        return fallo(mensajeTamano(nombre, ihdr.width, ihdr.height));
    }
    const std::uint64_t bitsFila =
        static_cast<std::uint64_t>(ihdr.width) * canalesPng(ihdr.color_type) * ihdr.bit_depth;
    const std::uint64_t filas = static_cast<std::uint64_t>(ihdr.height) * (1 + (bitsFila + 7) / 8);
    if (filas > kRazonDeflate * archivo.tamano) {
        return fallo(mensajeDesmedido(nombre, ihdr.width, ihdr.height, archivo.tamano));
    }
    if (demasiadosPixeles(ihdr.width, ihdr.height, pixelesMaximos)) {
        return fallo(mensajeMegapixeles(nombre, ihdr.width, ihdr.height, pixelesMaximos));
    }

    // The orientation, from an eXIf chunk before the pixels.
    int orientacion = 1;
    spng_exif exif{};
    const int errorExif = spng_get_exif(ctx.get(), &exif);
    const bool conExif = errorExif == 0 && exif.data != nullptr && exif.length > 0;
    if (conExif) {
        std::vector<std::uint8_t> bloque = {'E', 'x', 'i', 'f', 0, 0};
        bloque.insert(bloque.end(), exif.data, exif.data + exif.length);
        orientacion = leerExif(bloque.data(), bloque.size()).orientacion;
    }

    // Rows decoded one at a time as RGBA, a band of them at a time into the planes: the photo costs
    // its planes and a band.
    if (int e = spng_decode_image(ctx.get(), nullptr, 0, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE);
        e != 0) {
        // A fault in the chunks before the pixels stops the decoder; it was met looking for eXIf.
        if (e == SPNG_EBADSTATE && errorExif != 0 && errorExif != SPNG_ECHUNKAVAIL) e = errorExif;
        if (auto r = leida(e)) return *r;
        if (e == SPNG_EOF || e == SPNG_IO_EOF) return refusar("esta cortada: el PNG termina antes que sus datos");
        return falla(e, "es un PNG danado: ");
    }
    const int w = static_cast<int>(ihdr.width), h = static_cast<int>(ihdr.height);
    const std::size_t porFila = static_cast<std::size_t>(w) * 4;
    const bool entrelazada = ihdr.interlace_method != SPNG_INTERLACE_NONE;
    Bytes banda(porFila * (entrelazada ? 1 : kFilasPorBanda));
    PlanosOrientados<4, 2, 1, 0> planos(w, h, orientacion);
    int enBanda = 0, primera = 0;
    for (;;) {
        spng_row_info fila{};
        int e = spng_get_row_info(ctx.get(), &fila);
        if (e == 0) e = spng_decode_row(ctx.get(), banda.data() + enBanda * porFila, porFila);
        if (e != 0 && e != SPNG_EOI) {
            if (auto r = leida(e)) return *r;
            if (e == SPNG_EOF || e == SPNG_IO_EOF) return refusar("esta cortada: el PNG termina antes que sus datos");
            return falla(e, "es un PNG danado: ");
        }
        if (entrelazada) {
            // A pass fills every kPasoAdam7-th pixel of the row from kInicioAdam7 on; only those go.
            const int x0 = kInicioAdam7[fila.pass], paso = kPasoAdam7[fila.pass];
            if (x0 < w) {
                const auto cuantos = static_cast<std::size_t>((w - x0 + paso - 1) / paso);
                sobreBlanco(banda.data() + 4 * static_cast<std::size_t>(x0), cuantos, static_cast<std::size_t>(paso));
                planos.puntos(banda.data(), static_cast<int>(fila.row_num), x0, paso);
            }
        } else {
            if (enBanda == 0) primera = static_cast<int>(fila.row_num);
            ++enBanda;
            if (enBanda == kFilasPorBanda || e == SPNG_EOI) {
                sobreBlanco(banda.data(), porFila / 4 * static_cast<std::size_t>(enBanda), 1);
                planos.banda(banda.data(), porFila, primera, enBanda);
                enBanda = 0;
            }
        }
        if (e == SPNG_EOI) break;
    }

    FotoLeida r;
    r.formato = FormatoFoto::png;
    r.imagen = planos.tomar();
    // An eXIf chunk may also come after the pixels (the chunks there are read once they are
    // decoded; a fault among them leaves the picture as it is): the picture is then turned as it
    // says, through a copy.
    if (!conExif && spng_decode_chunks(ctx.get()) == 0 && spng_get_exif(ctx.get(), &exif) == 0 &&
        exif.data != nullptr && exif.length > 0) {
        std::vector<std::uint8_t> bloque = {'E', 'x', 'i', 'f', 0, 0};
        bloque.insert(bloque.end(), exif.data, exif.data + exif.length);
        orientacion = leerExif(bloque.data(), bloque.size()).orientacion;
        if (orientacion != 1) r.imagen = orientada(r.imagen, orientacion);
    }
    r.orientacion = orientacion;
    return r;
}

}  // namespace formatos
