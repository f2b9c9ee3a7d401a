#include "imagen/imagen_bmp.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

std::int32_t leerCampo32(const HeaderBmp& header, std::size_t offset) {
    const std::uint32_t v = static_cast<std::uint32_t>(header[offset]) |
                            static_cast<std::uint32_t>(header[offset + 1]) << 8 |
                            static_cast<std::uint32_t>(header[offset + 2]) << 16 |
                            static_cast<std::uint32_t>(header[offset + 3]) << 24;
    return static_cast<std::int32_t>(v);
}

std::uint16_t leerCampo16(const HeaderBmp& header, std::size_t offset) {
    return static_cast<std::uint16_t>(header[offset] | header[offset + 1] << 8);
}

void fijarCampo32(HeaderBmp& header, std::size_t offset, std::int32_t valor) {
    const auto v = static_cast<std::uint32_t>(valor);
    for (std::size_t i = 0; i < 4; ++i) header[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void fijarCampo16(HeaderBmp& header, std::size_t offset, std::uint16_t valor) {
    header[offset] = static_cast<std::uint8_t>(valor);
    header[offset + 1] = static_cast<std::uint8_t>(valor >> 8);
}

HeaderBmp headerNuevo(std::int32_t ancho, std::int32_t alto) {
    HeaderBmp h{};
    const auto tamanoImagen = static_cast<std::int32_t>(bmp::bytesPorFila(ancho) * static_cast<std::size_t>(alto));
    fijarCampo16(h, bmp::kFirma, 0x4D42);
    fijarCampo32(h, bmp::kTamanoArchivo, static_cast<std::int32_t>(kTamanoHeader) + tamanoImagen);
    fijarCampo32(h, bmp::kInicioPixeles, static_cast<std::int32_t>(kTamanoHeader));
    fijarCampo32(h, bmp::kTamanoInfo, 40);
    fijarCampo32(h, bmp::kAncho, ancho);
    fijarCampo32(h, bmp::kAlto, alto);
    fijarCampo16(h, bmp::kPlanos, 1);
    fijarCampo16(h, bmp::kBitsPorPixel, 24);
    fijarCampo32(h, bmp::kCompresion, 0);
    fijarCampo32(h, bmp::kTamanoImagen, tamanoImagen);
    fijarCampo32(h, bmp::kResolucionX, 3780);
    fijarCampo32(h, bmp::kResolucionY, 3780);
    return h;
}

namespace {

struct CierraArchivo {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using Archivo = std::unique_ptr<std::FILE, CierraArchivo>;

LecturaBmp fallo(FalloLectura tipo, std::string mensaje) {
    LecturaBmp r;
    r.fallo = tipo;
    r.mensaje = std::move(mensaje);
    return r;
}

std::string entreComillas(const std::filesystem::path& archivo) {
    std::string texto = archivo.string();
    texto.insert(texto.begin(), '"');
    texto.push_back('"');
    return texto;
}

// Splits one stored row of pixel triples into the three planes.
void separarFila(const std::uint8_t* fila, int ancho, std::uint8_t* p0, std::uint8_t* p1,
                 std::uint8_t* p2) {
    for (int c = 0; c < ancho; ++c) {
        p0[c] = fila[3 * c];
        p1[c] = fila[3 * c + 1];
        p2[c] = fila[3 * c + 2];
    }
}

}  // namespace

LecturaBmp leerImagen(const std::filesystem::path& archivo) {
    const std::string nombre = entreComillas(archivo);
    std::error_code ec;
    if (std::filesystem::is_directory(archivo, ec)) {
        return fallo(FalloLectura::noSeAbre, "no se puede leer " + nombre + ": es una carpeta");
    }
    Archivo f(std::fopen(archivo.c_str(), "rb"));
    if (!f) {
        return fallo(FalloLectura::noSeAbre,
                     "no se puede abrir " + nombre + ": " + std::strerror(errno));
    }

    HeaderBmp header{};
    const std::size_t leidos = std::fread(header.data(), 1, header.size(), f.get());
    if (leidos != header.size()) {
        if (std::ferror(f.get())) {
            return fallo(FalloLectura::noSeAbre, "no se puede leer " + nombre);
        }
        return fallo(FalloLectura::headerCorto, nombre + " mide menos de 54 bytes");
    }

    if (header[0] != 'B' || header[1] != 'M') {
        return fallo(FalloLectura::noEsBmp, nombre + " no es un archivo BMP: no empieza con \"BM\"");
    }
    const std::int32_t tamanoInfo = leerCampo32(header, bmp::kTamanoInfo);
    if (tamanoInfo < 40) {
        return fallo(FalloLectura::formatoNoSoportado,
                     nombre + " tiene una cabecera de informacion de " + std::to_string(tamanoInfo) +
                         " bytes; solo se leen cabeceras de 40 bytes o mas");
    }
    const int bits = leerCampo16(header, bmp::kBitsPorPixel);
    if (bits != 24) {
        return fallo(FalloLectura::formatoNoSoportado,
                     nombre + " tiene " + std::to_string(bits) +
                         " bits por pixel; solo se leen imagenes de 24 bits");
    }
    const std::int32_t compresion = leerCampo32(header, bmp::kCompresion);
    if (compresion != 0) {
        return fallo(FalloLectura::formatoNoSoportado,
                     nombre + " esta comprimida (compresion " + std::to_string(compresion) +
                         "); solo se leen imagenes sin comprimir");
    }
    const std::int64_t ancho = leerCampo32(header, bmp::kAncho);
    const std::int64_t altoFirmado = leerCampo32(header, bmp::kAlto);
    const std::int64_t alto = altoFirmado < 0 ? -altoFirmado : altoFirmado;
    if (ancho < kLadoMinimo || alto < kLadoMinimo || ancho > kLadoMaximo || alto > kLadoMaximo) {
        return fallo(FalloLectura::tamanoInvalido,
                     nombre + " mide " + std::to_string(ancho) + " x " + std::to_string(altoFirmado) +
                         " pixeles; el ancho y el alto deben estar entre " +
                         std::to_string(kLadoMinimo) + " y " + std::to_string(kLadoMaximo));
    }
    const std::int64_t inicio = static_cast<std::uint32_t>(leerCampo32(header, bmp::kInicioPixeles));
    if (inicio < static_cast<std::int64_t>(kTamanoHeader)) {
        return fallo(FalloLectura::formatoNoSoportado,
                     nombre + " dice que sus pixeles empiezan en el byte " + std::to_string(inicio) +
                         ", dentro de su cabecera");
    }

    const int w = static_cast<int>(ancho);
    const int h = static_cast<int>(alto);
    const bool deArribaAbajo = altoFirmado < 0;
    fijarCampo32(header, bmp::kInicioPixeles, static_cast<std::int32_t>(kTamanoHeader));
    fijarCampo32(header, bmp::kTamanoInfo, 40);
    fijarCampo32(header, bmp::kAlto, h);

    LecturaBmp r;
    ImagenBmp& img = r.imagen.emplace();
    img.header = header;
    img.plano0 = PlanoBytes(w, h);
    img.plano1 = PlanoBytes(w, h);
    img.plano2 = PlanoBytes(w, h);

    // Whole rows are read in blocks of about 4 MiB; a row the file does not hold reads as 0.
    const std::size_t porFila = bmp::bytesPorFila(w);
    const int filasPorBloque = static_cast<int>(std::max<std::size_t>(1, (std::size_t{4} << 20) / porFila));
    std::vector<std::uint8_t> bloque(porFila * static_cast<std::size_t>(std::min(filasPorBloque, h)));
    bool incompleto = std::fseek(f.get(), static_cast<long>(inicio), SEEK_SET) != 0;
    for (int primera = 0; primera < h; primera += filasPorBloque) {
        const int filas = std::min(filasPorBloque, h - primera);
        const std::size_t pedidos = porFila * static_cast<std::size_t>(filas);
        std::size_t obtenidos = incompleto ? 0 : std::fread(bloque.data(), 1, pedidos, f.get());
        if (obtenidos < pedidos) {
            incompleto = true;
            std::fill(bloque.begin() + static_cast<std::ptrdiff_t>(obtenidos),
                      bloque.begin() + static_cast<std::ptrdiff_t>(pedidos), std::uint8_t{0});
        }
        for (int i = 0; i < filas; ++i) {
            const int enArchivo = primera + i;
            const int fila = deArribaAbajo ? h - 1 - enArchivo : enArchivo;
            separarFila(bloque.data() + porFila * static_cast<std::size_t>(i), w, img.plano0[fila],
                        img.plano1[fila], img.plano2[fila]);
        }
    }
    if (incompleto) {
        r.advertencia = nombre + " termina antes que sus pixeles; los bytes que faltan se toman como 0";
    }
    return r;
}

std::optional<std::string> grabarPlanos(const HeaderBmp& header, const PlanoBytes& plano0,
                                        const PlanoBytes& plano1, const PlanoBytes& plano2,
                                        const std::filesystem::path& archivo) {
    const std::int32_t ancho = leerCampo32(header, bmp::kAncho);
    const std::int32_t alto = leerCampo32(header, bmp::kAlto);
    const bool hayPixeles = ancho > 0 && alto > 0;
    const std::size_t porFila = hayPixeles ? bmp::bytesPorFila(ancho) : 0;
    const std::size_t filas = hayPixeles ? static_cast<std::size_t>(alto) : 0;

    // The whole file is built in memory and handed over in one write.
    std::vector<std::uint8_t> contenido(kTamanoHeader + porFila * filas, 0);
    std::copy(header.begin(), header.end(), contenido.begin());
    for (std::size_t r = 0; r < filas; ++r) {
        std::uint8_t* destino = contenido.data() + kTamanoHeader + porFila * r;
        const int fila = static_cast<int>(r);
        const std::uint8_t* p0 = plano0[fila];
        const std::uint8_t* p1 = plano1[fila];
        const std::uint8_t* p2 = plano2[fila];
        for (int c = 0; c < ancho; ++c) {
            destino[3 * c] = p0[c];
            destino[3 * c + 1] = p1[c];
            destino[3 * c + 2] = p2[c];
        }
    }

    const std::string nombre = entreComillas(archivo);
    Archivo f(std::fopen(archivo.c_str(), "wb"));
    if (!f) return "no se puede crear " + nombre + ": " + std::strerror(errno);
    if (std::fwrite(contenido.data(), 1, contenido.size(), f.get()) != contenido.size()) {
        return "no se pudo escribir completo " + nombre + ": " + std::strerror(errno);
    }
    if (std::fclose(f.release()) != 0) {
        return "no se pudo escribir completo " + nombre + ": " + std::strerror(errno);
    }
    return std::nullopt;
}

std::optional<std::string> grabarImagen(const ImagenBmp& imagen, const std::filesystem::path& archivo) {
    return grabarPlanos(imagen.header, imagen.plano0, imagen.plano1, imagen.plano2, archivo);
}
