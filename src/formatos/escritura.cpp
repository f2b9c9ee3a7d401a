#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <spng.h>
#include <zlib.h>
#include <turbojpeg.h>

#include "formatos/formatos.hpp"

namespace {

using Pixeles = std::vector<std::uint8_t, Asignador<std::uint8_t>>;

ArchivoCodificado fallo(std::string mensaje) {
    ArchivoCodificado r;
    r.mensaje = std::move(mensaje);
    return r;
}

// Why the image cannot be written: its header gives a side out of range, or a plane smaller than
// the header says. Nothing when it can.
std::optional<std::string> revisar(const ImagenBmp& imagen, const char* formato) {
    const std::int64_t ancho = imagen.ancho();
    const std::int64_t alto = imagen.alto();
    if (ancho < 1 || alto < 1 || ancho > kLadoMaximo || alto > kLadoMaximo) {
        return std::string("no se puede hacer un ") + formato + " de una imagen de " + std::to_string(ancho) +
               " x " + std::to_string(alto) + " pixeles";
    }
    for (const PlanoBytes* p : {&imagen.plano0, &imagen.plano1, &imagen.plano2}) {
        if (p->ancho < ancho || p->alto < alto ||
            p->datos.size() < static_cast<std::size_t>(p->ancho) * static_cast<std::size_t>(p->alto)) {
            return std::string("no se puede hacer un ") + formato + ": la imagen no mide lo que dice su cabecera";
        }
    }
    return std::nullopt;
}

// One row of `ancho` pixels as 3-byte triples: a's byte, b's, c's.
void tripletes(const std::uint8_t* a, const std::uint8_t* b, const std::uint8_t* c, int ancho,
               std::uint8_t* destino) {
    for (int x = 0; x < ancho; ++x) {
        destino[3 * x] = a[x];
        destino[3 * x + 1] = b[x];
        destino[3 * x + 2] = c[x];
    }
}

// The pixels as 3-byte triples in the planes' order (blue, green, red), row after row from row 0
// (the bottom row), each row padded with bytes of 0 to `porFila` bytes.
void intercalar(const ImagenBmp& imagen, std::uint8_t* destino, std::size_t porFila) {
    const int ancho = imagen.ancho();
    const int alto = imagen.alto();
    for (int r = 0; r < alto; ++r, destino += porFila) {
        tripletes(imagen.plano0[r], imagen.plano1[r], imagen.plano2[r], ancho, destino);
        std::fill(destino + 3 * static_cast<std::size_t>(ancho), destino + porFila, std::uint8_t{0});
    }
}

struct BorrarTurbo {
    void operator()(void* h) const { tjDestroy(h); }
};
struct BorrarSpng {
    void operator()(spng_ctx* c) const { spng_ctx_free(c); }
};

}  // namespace

ArchivoCodificado codificarBmp(const ImagenBmp& imagen) {
    if (auto error = revisar(imagen, "BMP")) return fallo(*error);
    const std::size_t porFila = bmp::bytesPorFila(imagen.ancho());
    ArchivoCodificado r;
    r.bytes.resize(kTamanoHeader + porFila * static_cast<std::size_t>(imagen.alto()));
    std::copy(imagen.header.begin(), imagen.header.end(), r.bytes.begin());
    intercalar(imagen, r.bytes.data() + kTamanoHeader, porFila);
    return r;
}

// spng's writer: the file's bytes go on the end of the vector.
int anadirBytes(spng_ctx*, void* destino, void* bytes, std::size_t cuantos) {
    auto* v = static_cast<std::vector<std::uint8_t>*>(destino);
    const auto* b = static_cast<const std::uint8_t*>(bytes);
    try {
        v->insert(v->end(), b, b + cuantos);
    } catch (const std::bad_alloc&) {
        return SPNG_IO_ERROR;
    }
    return 0;
}

ArchivoCodificado codificarPng(const ImagenBmp& imagen, const Espera& hechas) {
    if (auto error = revisar(imagen, "PNG")) return fallo(*error);
    const int ancho = imagen.ancho();
    const int alto = imagen.alto();
    ArchivoCodificado r;
    const std::size_t porFila = 3 * static_cast<std::size_t>(ancho);
    // Room for a page that barely compresses, so that the file is not moved as it grows.
    r.bytes.reserve(porFila * static_cast<std::size_t>(alto) / 2 + 4096);

    std::unique_ptr<spng_ctx, BorrarSpng> ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!ctx) return fallo("no se puede hacer un PNG: no hay memoria para el codificador");
    spng_set_png_stream(ctx.get(), anadirBytes, &r.bytes);
    // A photographed page is mostly paper with a little noise: each row taken against the one above
    // it and then only Huffman codes (no search for matches, not even runs) give a letter page of
    // about 1.35 MB in 37 ms, where deflate's default with every filter tried gives 1.35 MB in
    // 400 ms (and runs too, 1.34 MB in 43 ms).
    spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_LEVEL, 1);
    spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_STRATEGY, Z_HUFFMAN_ONLY);
    spng_set_option(ctx.get(), SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_UP);
    spng_ihdr ihdr{};
    ihdr.width = static_cast<std::uint32_t>(ancho);
    ihdr.height = static_cast<std::uint32_t>(alto);
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    int e = spng_set_ihdr(ctx.get(), &ihdr);
    if (e == 0) e = spng_encode_image(ctx.get(), nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
    // RGB rows from the top of the picture down, one at a time.
    std::vector<std::uint8_t> rgb(porFila);
    for (int y = 0; y < alto && e == 0; ++y) {
        const int fila = alto - 1 - y;
        if (hechas) hechas(y + 1);
        tripletes(imagen.plano2[fila], imagen.plano1[fila], imagen.plano0[fila], ancho, rgb.data());
        e = spng_encode_row(ctx.get(), rgb.data(), rgb.size());
        // The last row ends the image and finishes the file.
        if (e == SPNG_EOI && y == alto - 1) e = 0;
    }
    if (e != 0) return fallo(std::string("no se puede hacer un PNG: ") + spng_strerror(e));
    return r;
}

ArchivoCodificado codificarJpeg(const ImagenBmp& imagen, int calidad) {
    if (auto error = revisar(imagen, "JPEG")) return fallo(*error);
    if (calidad < 1 || calidad > 100) {
        return fallo("no se puede hacer un JPEG de calidad " + std::to_string(calidad) +
                     ": la calidad va de 1 a 100");
    }
    const int ancho = imagen.ancho();
    const int alto = imagen.alto();
    const std::size_t porFila = 3 * static_cast<std::size_t>(ancho);
    Pixeles bgr;
    bgr.resize(porFila * static_cast<std::size_t>(alto));
    intercalar(imagen, bgr.data(), porFila);

    std::unique_ptr<void, BorrarTurbo> tj(tjInitCompress());
    if (!tj) return fallo("no se puede hacer un JPEG: no hay memoria para el codificador");
    unsigned char* jpeg = nullptr;
    unsigned long tamano = 0;
    const int submuestreo = calidad >= 95 ? TJSAMP_444 : TJSAMP_420;
    // Rows go bottom-up, as the planes keep them.
    const int estado = tjCompress2(tj.get(), bgr.data(), ancho, static_cast<int>(porFila), alto, TJPF_BGR, &jpeg,
                                   &tamano, submuestreo, calidad, TJFLAG_BOTTOMUP | TJFLAG_ACCURATEDCT);
    if (estado != 0 || jpeg == nullptr) {
        std::string motivo = tjGetErrorStr2(tj.get());
        std::replace(motivo.begin(), motivo.end(), '\n', ' ');
        tjFree(jpeg);
        return fallo("no se puede hacer un JPEG: " + motivo);
    }
    ArchivoCodificado r;
    r.bytes.assign(jpeg, jpeg + tamano);
    tjFree(jpeg);
    return r;
}

std::optional<FormatoSalida> formatoPorExtension(const std::filesystem::path& archivo) {
    std::string extension = archivo.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".png") return FormatoSalida::png;
    if (extension == ".jpg" || extension == ".jpeg") return FormatoSalida::jpeg;
    if (extension == ".bmp") return FormatoSalida::bmp;
    if (extension == ".pdf") return FormatoSalida::pdf;
    return std::nullopt;
}
