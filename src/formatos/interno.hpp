#pragma once

// What the photo readers and the file writers of this folder share: the failures as the user reads
// them, the bounds every format is held to, an open photo file, the EXIF block, the planes a
// decoder fills in the orientation the EXIF gives, and the checks and pixel layout of the writers.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "formatos/formatos.hpp"
#include "imagen/memoria.hpp"
#include "sistema/comprobar.hpp"

namespace formatos {

// ---------------------------------------------------------------------------------------------
// Failures and bounds (lectura.cpp)

Fallo fallo(std::string mensaje);

// A library's text as part of one line: line breaks become spaces, trailing ones go.
std::string enUnaLinea(std::string texto);

std::string mensajeTamano(const std::string& nombre, std::int64_t ancho, std::int64_t alto);
bool ladosValidos(std::int64_t ancho, std::int64_t alto);
std::string mensajeDesmedido(const std::string& nombre, std::int64_t ancho, std::int64_t alto,
                             std::uint64_t bytes);
std::string mensajeMegapixeles(const std::string& nombre, std::int64_t ancho, std::int64_t alto,
                               std::uint64_t pixelesMaximos);
bool demasiadosPixeles(std::int64_t ancho, std::int64_t alto, std::uint64_t pixelesMaximos);

// An open file: its descriptor and its size when it was opened.
struct Archivo {
    int fd = -1;
    std::uint64_t tamano = 0;
};

// ---------------------------------------------------------------------------------------------
// The decoders (jpeg_lectura.cpp, png_lectura.cpp). Each reads the photo named `nombre` (quoted)
// from `archivo`, recognised as its format by its first bytes.

LecturaFoto leerJpeg(const std::string& nombre, const Archivo& archivo, std::uint64_t pixelesMaximos);
LecturaFoto leerPng(const std::string& nombre, const Archivo& archivo, std::uint64_t pixelesMaximos);

// A JPEG's sides as stored and the memory its decoder keeps beyond the planes, from its header
// (the sides not yet held to their bounds); nothing when the header cannot be read. Throws
// std::bad_alloc when the decoder cannot be had.
std::optional<MedidaFoto> medirJpeg(const Archivo& archivo);

// ---------------------------------------------------------------------------------------------
// EXIF and orientation (orientacion.cpp)

struct DatosExif {
    int orientacion = 1;
    std::optional<double> focal35mm;
};

// The orientation and the 35 mm focal length of an EXIF block: `datos` is either a whole JPEG file
// (libexif finds its APP1 segment) or "Exif\0\0" followed by the TIFF structure.
DatosExif leerExif(const std::uint8_t* datos, std::size_t cantidad);

// The planes of the picture as a viewer shows it (bottom-up rows, the EXIF `orientacion`
// applied), filled from the stored picture: `alto` rows of `ancho` pixels, top-down, each pixel
// kCanales bytes with blue, green and red at the offsets kAzul, kVerde and kRojo (fixed when
// compiled, so that the copying loops vectorise). Stored rows arrive in bands, in order; each byte
// goes straight to its place.
template <int kCanales, int kAzul, int kVerde, int kRojo>
class PlanosOrientados {
public:
    // `orientacion` is an EXIF orientation, 1 .. 8.
    PlanosOrientados(int ancho, int alto, int orientacion)
        : imagen_(orientacion >= 5 ? imagenSinIniciar(alto, ancho) : imagenSinIniciar(ancho, alto)),
          ancho_(ancho), alto_(alto), orientacion_(orientacion) {
        COMPROBAR_MAYOR_IGUAL(orientacion, 1);
        COMPROBAR_MENOR_IGUAL(orientacion, 8);
    }

    // Stored rows primera .. primera + filas - 1, `salto` bytes apart from `pixeles` on; they must
    // lie among the `alto` rows.
    void banda(const std::uint8_t* pixeles, std::size_t salto, int primera, int filas) {
        COMPROBAR_MAYOR_IGUAL(primera, 0);
        COMPROBAR_MENOR_IGUAL(primera + filas, alto_);
        // Kept in locals: a store through a byte pointer could change a member, as far as the
        // compiler knows, and the row loops would then be left unvectorised.
        const int o = orientacion_, ancho = ancho_, alto = alto_;
        const bool volteada = o == 2 || o == 3 || o == 6 || o == 7;
        constexpr std::ptrdiff_t c = kCanales;
        if (o <= 4) {
            // A stored row is a row of the picture seen, perhaps mirrored and perhaps upside down.
            const bool alReves = o == 3 || o == 4;
            for (int j = 0; j < filas; ++j) {
                const int y = primera + j;
                const int visto = alReves ? alto - 1 - y : y;
                const int fila = alto - 1 - visto;
                std::uint8_t* b = imagen_.plano0[fila];
                std::uint8_t* g = imagen_.plano1[fila];
                std::uint8_t* r = imagen_.plano2[fila];
                const std::uint8_t* p = pixeles + j * salto;
                if (!volteada) {
                    for (int x = 0; x < ancho; ++x, p += c) {
                        b[x] = p[kAzul];
                        g[x] = p[kVerde];
                        r[x] = p[kRojo];
                    }
                } else {
                    for (int x = ancho - 1; x >= 0; --x, p += c) {
                        b[x] = p[kAzul];
                        g[x] = p[kVerde];
                        r[x] = p[kRojo];
                    }
                }
            }
            return;
        }
        // A stored row is a column of the picture seen: stored column x is seen row x (5, 6) or
        // ancho - 1 - x (7, 8), stored row y is seen column y (5, 8) or alto - 1 - y (6, 7).
        const bool filaInvertida = o == 7 || o == 8;
        for (int x = 0; x < ancho; ++x) {
            const int visto = filaInvertida ? ancho - 1 - x : x;
            const int fila = ancho - 1 - visto;
            std::uint8_t* b = imagen_.plano0[fila];
            std::uint8_t* g = imagen_.plano1[fila];
            std::uint8_t* r = imagen_.plano2[fila];
            const std::uint8_t* p = pixeles + x * c;
            for (int j = 0; j < filas; ++j, p += salto) {
                const int y = primera + j;
                const int columna = volteada ? alto - 1 - y : y;
                b[columna] = p[kAzul];
                g[columna] = p[kVerde];
                r[columna] = p[kRojo];
            }
        }
    }

    // The pixels x0, x0 + paso, ... of stored row y, as they stand at those places of `fila` (a
    // pass of an interlaced picture). Row y must be one of the `alto` rows, and paso at least 1.
    void puntos(const std::uint8_t* fila, int y, int x0, int paso) {
        COMPROBAR_MAYOR_IGUAL(y, 0);
        COMPROBAR_MENOR(y, alto_);
        COMPROBAR_MAYOR_IGUAL(x0, 0);
        COMPROBAR_MAYOR_IGUAL(paso, 1);
        const int o = orientacion_, ancho = ancho_, alto = alto_;
        const bool volteada = o == 2 || o == 3 || o == 6 || o == 7;
        for (int x = x0; x < ancho; x += paso) {
            int filaPlano = 0, columna = 0;
            if (o <= 4) {
                const int visto = o == 3 || o == 4 ? alto - 1 - y : y;
                filaPlano = alto - 1 - visto;
                columna = volteada ? ancho - 1 - x : x;
            } else {
                const int visto = o == 7 || o == 8 ? ancho - 1 - x : x;
                filaPlano = ancho - 1 - visto;
                columna = volteada ? alto - 1 - y : y;
            }
            const std::uint8_t* p = fila + static_cast<std::ptrdiff_t>(x) * kCanales;
            imagen_.plano0[filaPlano][columna] = p[kAzul];
            imagen_.plano1[filaPlano][columna] = p[kVerde];
            imagen_.plano2[filaPlano][columna] = p[kRojo];
        }
    }

    ImagenBmp tomar() { return std::move(imagen_); }

private:
    ImagenBmp imagen_;
    int ancho_, alto_, orientacion_;
};

// The picture `derecha` (as stored, planes as every image here) turned as the EXIF `orientacion` says.
ImagenBmp orientada(const ImagenBmp& derecha, int orientacion);

// Stored rows go to PlanosOrientados in bands of this many: a turned picture then writes each band
// as runs of this many bytes along every plane row.
constexpr int kFilasPorBanda = 16;

// ---------------------------------------------------------------------------------------------
// Writing (escritura.cpp)

using Pixeles = std::vector<std::uint8_t, Asignador<std::uint8_t>>;

// Why the image cannot be written as `formato`: its header gives a side out of range, or a plane
// smaller than the header says.
Hecho revisar(const ImagenBmp& imagen, const char* formato);

// The pixels as 3-byte triples in the planes' order (blue, green, red), row after row from row 0
// (the bottom row), each row padded with bytes of 0 to `porFila` bytes.
void intercalar(const ImagenBmp& imagen, std::uint8_t* destino, std::size_t porFila);

}  // namespace formatos
