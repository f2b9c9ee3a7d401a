#pragma once

// A synthetic photograph of a letter-size sheet lying on a desk, for the example input and for
// end-to-end tests that need to know where the sheet really is.
//
// Frame used throughout: photo pixel coordinates with x = column and y = row, rows in BMP file
// order (row 0 is the first row stored in the file, which a viewer shows at the bottom of the
// picture). The centre of pixel (column c, row r) is the point (c, r); the pixel covers
// [c - 0.5, c + 0.5] x [r - 0.5, r + 0.5]. This is the frame of the corners that the scanner itself
// reports once they are scaled to the photograph.
//
// The sheet is 8.5 x 11 (portrait). Its own corners are named as the page reads: inferior
// izquierda, inferior derecha, superior derecha, superior izquierda. Because rows grow upward in
// file order, a page that stands upright in the picture has its bottom edge at the lower rows.
//
// Everything is deterministic: noise comes from a 64-bit integer generator and no library
// transcendental function is used, so a given Escena gives the same bytes with any compiler or
// standard library (built with -ffp-contract=off, as the project is).

#include <array>
#include <cstdint>
#include <optional>

#include "imagen/imagen_bmp.hpp"

namespace escena {

struct Punto {
    double x = 0.0;  // column
    double y = 0.0;  // row, file order
};

// The sheet's corners in the photograph, in the order of the page:
// [0] bottom-left, [1] bottom-right, [2] top-right, [3] top-left (bottom = the page's foot, where
// the text ends). For an upright sheet in an ordinary bottom-up BMP this is the scanner's own slot
// order: lower column and lower row first, then counter-clockwise as a viewer sees the picture.
using Esquinas = std::array<Punto, 4>;

inline constexpr double kProporcionHoja = 8.5 / 11.0;  // width / height of a letter-size sheet

struct Escena {
    int ancho = 1280;  // photo width in pixels, 2 .. 30000
    int alto = 960;    // photo height in pixels, 2 .. 30000
    Esquinas esquinas{};      // where the sheet lies; ignored when conHoja is false
    std::uint64_t semilla = 1;  // picks the desk texture, the text and the noise
    int fondo = 75;        // mean gray level of the desk before lighting, 0 .. 255 (40 .. 110 looks right)
    double gradiente = 0.2;  // lighting change across the photo's diagonal, as a fraction (0 = flat)
    double direccionLuz = 35.0;  // degrees, direction in which the light grows (0 = toward higher
                                 // columns, 90 = toward higher rows)
    int ruido = 5;         // per-channel noise amplitude in gray levels (triangular, -ruido .. ruido)
    bool conHoja = true;   // false renders the empty desk
};

struct FotoSintetica {
    ImagenBmp imagen;   // 24-bit, planes in B, G, R order, header from headerNuevo
    Esquinas esquinas;  // the sheet's corners as rendered (those of the Escena)
};

// Renders the scene. The sheet's content (heading, lines of words, margins) is drawn onto an 8.5 x 11
// page and carried into the photo by the perspective map that takes the page's corners to
// `esquinas`; each photo pixel near the sheet averages 4 x 4 samples, so the sheet's sides are
// anti-aliased. Returns nothing when the size is out of range, a parameter is out of range, or the
// corners do not form a convex quadrilateral (in either turning direction).
std::optional<FotoSintetica> renderizarEscena(const Escena& escena);

// The sheet of `escena` front-on, as a scan of its photo should show it: 852 x 1103, in the frame
// of the scanner's output. Output pixel (column X, row Y in file order) shows the page point to
// which the bilinear map taking (1,1), (850,1), (850,1100) and (0,1100) to the page's bottom-left,
// bottom-right, top-right and top-left corners sends it: the scanner's own map, with the page in
// place of the photo. For a sheet seen without tilt (photo corners that are an affine image of the
// page) a scan samples exactly there; a tilted sheet's perspective is not undone by that map. Each
// pixel samples the page once, lit as the photo is lit where that page point lies; no noise, desk or
// shadow. Page points past the edge (in the 15-pixel frame) repeat the edge. Returns nothing when
// the scene has no sheet or could not be rendered.
std::optional<ImagenBmp> hojaDeFrente(const Escena& escena);

// A simple camera looking at a sheet on a table.
struct Camara {
    Punto centro;              // where the sheet's centre lands in the photo
    double altoHoja = 600.0;   // height of the sheet in pixels when seen straight on
    double giro = 0.0;         // degrees; positive turns the sheet counter-clockwise as displayed
    double inclinacion = 0.0;  // degrees the page's top edge leans away from the camera (a
                               // positive value makes the top edge shorter than the bottom one)
    double ladeo = 0.0;        // degrees the page's right edge leans away (right edge shorter)
    double distancia = 2.5;    // camera distance in sheet heights; smaller = stronger perspective
};

// The photo corners of the sheet seen by `camara`: the page is turned by `giro` in its own plane,
// tilted by `inclinacion` and `ladeo`, and projected with a pinhole whose scale is 1 at the sheet's
// centre. With no tilt the result is the upright or turned rectangle of height `altoHoja` and width
// altoHoja x 8.5 / 11 centred on `centro`.
Esquinas esquinasDeCamara(const Camara& camara);

// Convenience: the scene of a sheet seen by `camara` on a `ancho` x `alto` photo, other knobs at
// their defaults.
Escena escenaConCamara(int ancho, int alto, const Camara& camara, std::uint64_t semilla);

// The scene of the bundled example photograph (examples/imagenDocumento.bmp): 1280 x 960, the sheet
// about 63 % of the photo's height near its centre, turned 6.5 degrees counter-clockwise, its top
// edge leaning 12 degrees away and its left edge 5 degrees, on a dark wooden desk.
Escena escenaEjemplo();

// Sine and cosine of an angle in degrees, from plain arithmetic so that every build agrees.
double senoGrados(double grados);
double cosenoGrados(double grados);

}  // namespace escena
