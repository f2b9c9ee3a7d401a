#pragma once

// Photos in and pages out, in the formats people have: a photo is read from a JPEG, PNG or BMP file
// (recognised by its first bytes, never by its name) into the same ImagenBmp the stages take, and a
// result is turned into the bytes of a PNG, JPEG or BMP file, or into a page of a PDF. Every codec
// is a library (libjpeg-turbo, libspng, libexif, leptonica for G4, cairo for the PDF); nothing here
// prints, and every failure is a value: one line of text, without a line break, that names the
// photo (for reading) or the file written.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "imagen/imagen_bmp.hpp"

// ---------------------------------------------------------------------------------------------
// Reading

enum class FormatoFoto { bmp, jpeg, png };

// "BMP", "JPEG" or "PNG".
const char* nombreFormato(FormatoFoto formato);

struct LecturaFoto {
    // The photo as a viewer shows it (EXIF orientation applied): a headerNuevo(ancho, alto) header,
    // rows bottom-up (row 0 is the bottom row of the picture), plano0 blue, plano1 green, plano2
    // red. Set only when `mensaje` is empty. For a BMP it is exactly what leerImagen returns.
    std::optional<ImagenBmp> imagen;
    std::string mensaje;      // the failure, one line naming the photo; empty when read
    std::string advertencia;  // the BMP reader's warning (file ended inside its pixels), if any
    std::optional<FormatoFoto> formato;  // as recognised by the first bytes (also on a failure)
    int orientacion = 1;                 // the EXIF orientation applied, 1 .. 8 (1 when none)
    std::optional<double> focal35mm;     // EXIF FocalLengthIn35mmFilm in mm, when given (> 0)
};

// Reads a photo file. The file is opened with abrirEntrada (never blocks; FIFOs, devices and
// folders are refused) and recognised by its content:
//   "BM"           leerImagen, unchanged: its checks, its messages, its warning;
//   FF D8 FF       JPEG through libjpeg-turbo (baseline, progressive, gray or colour), then the EXIF
//                  orientation (tag 0x0112, all eight cases) applied through libexif;
//   PNG signature  PNG through libspng: 1 to 16 bits, gray, gray+alpha, palette (tRNS too), RGB,
//                  RGBA; 16-bit samples keep their high byte; alpha is flattened onto white; an
//                  eXIf chunk's orientation is applied as a JPEG's is.
// Anything else is refused: "\"x.gif\" no es una foto que se pueda leer: se leen JPEG, PNG y BMP".
//
// A JPEG or PNG is read in pieces as it is decoded (never held whole; a file that grows meanwhile is
// read to the size it had when opened) and must be whole: a cut file, a bad checksum, corrupt
// data, a warning of libjpeg-turbo (premature end of data, corrupt data), a colour space that has
// no RGB (CMYK), a photo that does not fit in the memory left, are refused. Sides must lie between
// kLadoMinimo and kLadoMaximo, as for a BMP, and a photo of more than `pixelesMaximos` pixels is
// refused from its header, before any pixel is decoded. Rows are decoded a band at a time straight
// into the planes: a photo takes its planes (3 bytes per pixel) and a band of rows, and a
// progressive JPEG also its coefficients (2 bytes per sample, as libjpeg-turbo keeps them). No
// photo is allocated far beyond what its file can hold:
//   JPEG  at most kPixelesPorByteJpeg pixels per byte of file. A blank white 4000 x 3000 page, the
//         most a photo compresses, takes as libjpeg-turbo writes it at quality 75 to 100: 338
//         pixels per byte in 4:2:0, 170 in 4:4:4, 508 in gray, 85 to 254 progressive. The bound
//         leaves four times the densest of these, so no real photo is refused, while a file of a
//         few kilobytes cannot announce more than a few million pixels (a 30000 x 30000 picture
//         needs 440 kB).
//   PNG   the announced rows (filter bytes included) at most kRazonDeflate times the file's bytes:
//         deflate cannot expand further, so only files that cannot hold their image are refused.
inline constexpr std::uint64_t kPixelesPorByteJpeg = 2048;
inline constexpr std::uint64_t kRazonDeflate = 1032;

// The largest photo read unless told otherwise, in megapixels (a million pixels): about the most a
// phone writes.
inline constexpr int kMegapixelesMaximos = 200;

LecturaFoto leerFoto(const std::filesystem::path& archivo,
                     std::uint64_t pixelesMaximos = std::uint64_t{kMegapixelesMaximos} * 1000000);

// What reading a photo will take, from its header alone: its sides as stored, and the memory its
// decoder keeps beyond the planes and a band of rows (a progressive JPEG's coefficients). Nothing
// when the header cannot be read or its sides are out of bounds (the reading then refuses it).
struct MedidaFoto {
    std::int64_t ancho = 0, alto = 0;
    std::uint64_t bytesDecodificador = 0;
};
std::optional<MedidaFoto> medirFoto(const std::filesystem::path& archivo);

// ---------------------------------------------------------------------------------------------
// Writing

// The bytes of a whole file, or why they could not be made. Written through grabarArchivo.
struct ArchivoCodificado {
    std::vector<std::uint8_t> bytes;  // the whole file; empty on a failure
    std::string mensaje;              // the failure, one line; empty on success
    bool valido() const { return mensaje.empty(); }
};

// A PNG file: 8-bit RGB, not interlaced, no ancillary chunks. A large picture is compressed in two
// parts at once. With `hacer`, the picture is still to be made: each part makes its rows through
// it before it reads them (see UsoDeImagen).
ArchivoCodificado codificarPng(const ImagenBmp& imagen, const HacerFilas& hacer = {});

inline constexpr int kCalidadJpeg = 90;  // the default quality

// A baseline JFIF file at `calidad` (1 .. 100; outside that range is a failure). Chroma is
// subsampled 4:2:0 below quality 95, as cameras do: a page at the default quality takes about 15 %
// less room than at full chroma, with no visible change to print. From 95 up, where size matters
// less than fidelity, chroma is kept whole (4:4:4).
ArchivoCodificado codificarJpeg(const ImagenBmp& imagen, int calidad = kCalidadJpeg);

// Exactly the bytes grabarImagen writes for the image.
ArchivoCodificado codificarBmp(const ImagenBmp& imagen);

// A gray baseline JFIF file (one 8-bit component, the picture's luma) at `calidad`, as codificarJpeg.
ArchivoCodificado codificarJpegGris(const ImagenBmp& imagen, int calidad = kCalidadJpeg);

// A word recognised on a page: its text (UTF-8) and its box, in inches from the page's top-left
// corner (x to the right, y down). A PDF page carries its words as invisible text over its picture.
struct PalabraPdf {
    std::string texto;
    double x = 0, y = 0, ancho = 0, alto = 0;
};

// How a PDF page's picture is stored in the document.
enum class ImagenPdf {
    jpegColor,  // a JPEG file, as codificarJpeg makes it
    jpegGris,   // a gray JPEG file, as codificarJpegGris makes it
    g4,         // 1 bit per pixel, CCITT Group 4 (T.6) data, black where the picture is dark
};

// One page of a PDF document (written by EscritorPdf, formatos/pdf.hpp): its picture drawn over the whole page, which measures anchoPulgadas x
// altoPulgadas (letter portrait 8.5 x 11; a landscape page is wider than tall). The picture is
// stretched to the page; give it the page's proportions.
struct PaginaPdf {
    ImagenPdf tipo = ImagenPdf::jpegColor;
    std::vector<std::uint8_t> datos;   // the JPEG file or the G4 data
    int anchoPixeles = 0;              // the picture's sides: G4 data has no header to say them
    int altoPixeles = 0;               // (a JPEG's come from its own header)
    double anchoPulgadas = 8.5;
    double altoPulgadas = 11.0;
    std::vector<PalabraPdf> palabras;  // in reading order; none without text recognition
};

enum class FormatoSalida { png, jpeg, bmp, pdf };

// The format an output file's extension names: .png, .jpg or .jpeg, .bmp, .pdf, in any case.
// Nothing for any other extension or none.
std::optional<FormatoSalida> formatoPorExtension(const std::filesystem::path& archivo);
