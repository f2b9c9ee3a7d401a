#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "imagen/plano.hpp"
#include "sistema/fallo.hpp"

// The first 54 bytes of a BMP file: the 14-byte file header and the 40-byte information header.
inline constexpr std::size_t kTamanoHeader = 54;
using HeaderBmp = std::array<std::uint8_t, kTamanoHeader>;

// File offsets of the header fields we read or set. All fields are little-endian.
namespace bmp {
inline constexpr std::size_t kFirma = 0;            // 2 bytes, "BM"
inline constexpr std::size_t kTamanoArchivo = 2;    // 4 bytes, whole file
inline constexpr std::size_t kInicioPixeles = 10;   // 4 bytes, offset of the pixel data
inline constexpr std::size_t kTamanoInfo = 14;      // 4 bytes, information header size
inline constexpr std::size_t kAncho = 18;           // 4 bytes, signed
inline constexpr std::size_t kAlto = 22;            // 4 bytes, signed; negative = rows stored top-down
inline constexpr std::size_t kPlanos = 26;          // 2 bytes
inline constexpr std::size_t kBitsPorPixel = 28;    // 2 bytes
inline constexpr std::size_t kCompresion = 30;      // 4 bytes
inline constexpr std::size_t kTamanoImagen = 34;    // 4 bytes, bytes of pixel data
inline constexpr std::size_t kResolucionX = 38;     // 4 bytes, pixels per metre
inline constexpr std::size_t kResolucionY = 42;     // 4 bytes
inline constexpr std::size_t kColoresUsados = 46;   // 4 bytes
inline constexpr std::size_t kColoresImportantes = 50;  // 4 bytes

// Bytes a stored row of `ancho` 24-bit pixels takes on disk: padded to a multiple of 4.
inline std::size_t bytesPorFila(std::int64_t ancho) {
    return static_cast<std::size_t>((3 * ancho + 3) / 4 * 4);
}
}  // namespace bmp

std::int32_t leerCampo32(const HeaderBmp& header, std::size_t offset);
std::uint16_t leerCampo16(const HeaderBmp& header, std::size_t offset);
void fijarCampo32(HeaderBmp& header, std::size_t offset, std::int32_t valor);
void fijarCampo16(HeaderBmp& header, std::size_t offset, std::uint16_t valor);

// A 24-bit colour image: the 54 header bytes as they go to disk, and the three bytes of every pixel
// triple split into planes, in file order. Rows stay in bottom-up file order (row 0 is the first
// row of an ordinary BMP). The planes are always `ancho` x `alto` as the header says.
struct ImagenBmp {
    HeaderBmp header{};
    PlanoBytes plano0;  // first byte of each triple
    PlanoBytes plano1;  // second byte
    PlanoBytes plano2;  // third byte

    std::int32_t ancho() const { return leerCampo32(header, bmp::kAncho); }
    std::int32_t alto() const { return leerCampo32(header, bmp::kAlto); }
};

// A header built from scratch for a standard 24-bit image of `ancho` x `alto`, rows padded to 4
// bytes, 3780 pixels per metre.
HeaderBmp headerNuevo(std::int32_t ancho, std::int32_t alto);

// A picture of `ancho` x `alto` with a header from headerNuevo: every byte of its three planes
// `valor`, or, from imagenSinIniciar, left unset for a maker that fills them all.
ImagenBmp imagenNueva(int ancho, int alto, std::uint8_t valor = 0);
ImagenBmp imagenSinIniciar(int ancho, int alto);

// Makes rows desde .. hasta - 1 of a picture, counted from its top row as seen (plane rows
// alto - hasta .. alto - desde - 1). Calls for rows that do not overlap may run at once.
using HacerFilas = std::function<void(int desde, int hasta)>;

// What is done with a picture that is still to be made: usar(imagen, hacer) makes every row it
// reads through hacer, first, on whichever of its threads reads it. Made so, a picture is used
// while it is made on more than one thread, without waiting for the whole first.
using UsoDeImagen = std::function<void(const ImagenBmp& imagen, const HacerFilas& hacer)>;

// Why a file could not be read.
enum class FalloLectura {
    ninguno,
    noSeAbre,           // missing, a folder, or unreadable
    headerCorto,        // fewer than 54 bytes
    noEsBmp,            // signature other than "BM"
    formatoNoSoportado, // info header under 40 bytes, bits other than 24, compression, bad offset
    tamanoInvalido,     // width or |height| outside 2 .. 30000
    incompleto,         // holds less than half of the pixel data its header announces
};

// A BMP file as it was read: the image, and a warning when the file ended inside its pixel data
// (the missing bytes read as 0).
struct BmpLeido {
    ImagenBmp imagen;
    std::string advertencia;
};

inline constexpr std::int32_t kLadoMinimo = 2;
inline constexpr std::int32_t kLadoMaximo = 30000;

// Reads a 24-bit uncompressed BMP. Pixel data is taken from the header's offset, row padding is
// skipped, and a top-down file (negative height) is turned into bottom-up row order. The kept header
// is the file's first 54 bytes with the pixel offset set to 54, the information-header size to 40
// and the height to its absolute value. Bytes missing at the end of the file read as 0 (with a
// warning), unless less than half of the pixel data is there: that file is refused.
// A failure's `causa` is the FalloLectura that stopped it.
Resultado<BmpLeido> leerImagen(const std::filesystem::path& archivo);

// Rows [desde, hasta) of three planes as pixel triples (each pixel's byte of `a`, of `b`, then of
// `c`), one row every `porFila` bytes from `destino` on, each padded with zero bytes to `porFila`
// (at least 3 x ancho). With the planes in their order and bmp::bytesPorFila(ancho) it is a BMP
// file's pixel data, the one way it is laid out.
void intercalarFilas(const PlanoBytes& a, const PlanoBytes& b, const PlanoBytes& c, int ancho, int desde, int hasta,
                     std::size_t porFila, std::uint8_t* destino);

// The BMP file of `header` as it is, then `alto` rows of `ancho` pixel triples (sizes from the
// header), each row padded with zero bytes to a multiple of 4: the one encoder of BMP files. The
// three planes must be at least that size; they may be the same plane. The file is handed to
// `recibir` in order, a piece of about 2 MiB at a time, so that it need not be held whole; the
// first failure of `recibir` ends it and is returned.
Hecho codificarPlanosBmp(const HeaderBmp& header, const PlanoBytes& plano0, const PlanoBytes& plano1,
                         const PlanoBytes& plano2, const std::function<Hecho(std::span<const std::uint8_t>)>& recibir);

// The whole file of codificarPlanosBmp.
std::vector<std::uint8_t> codificarPlanosBmp(const HeaderBmp& header, const PlanoBytes& plano0,
                                             const PlanoBytes& plano1, const PlanoBytes& plano2);

// Writes codificarPlanosBmp's bytes as `archivo` as they are made, whole or not at all; or the
// failure as one line naming the file.
Hecho grabarPlanos(const HeaderBmp& header, const PlanoBytes& plano0, const PlanoBytes& plano1,
                   const PlanoBytes& plano2, const std::filesystem::path& archivo);

// grabarPlanos with the image's own header and planes.
Hecho grabarImagen(const ImagenBmp& imagen, const std::filesystem::path& archivo);
