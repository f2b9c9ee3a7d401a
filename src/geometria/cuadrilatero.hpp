#pragma once

// A sheet's four corners: the one way they travel between the detectors, the page, the options, the
// tools and the JSON lines. This header stands near the bottom of the house: of the program's, it
// includes only the failure type.

#include <array>
#include <string_view>

#include "sistema/fallo.hpp"

// A point of a picture: x along the columns, y along the rows, fractions allowed.
struct Esquina {
    double x = 0.0;
    double y = 0.0;
};

// The four corners of a sheet in a photograph.
//
// Frame (the stored-row frame): photograph pixels, x the column from the left, y the row as the
// file stores it, row 0 being the bottom row of the picture as a viewer shows it; pixel centres at
// whole numbers. Corners may lie outside the photo.
//
// Slots: 0 bottom-left, 1 bottom-right, 2 top-right, 3 top-left of the sheet as the photo shows it
// (counter-clockwise on screen, from the bottom-left). The page maps carry slot n to the page's
// corner n in that order, so the order is the page's orientation.
using Cuadrilatero = std::array<Esquina, 4>;

// Four corners of a convex quadrilateral, given in any order, in the slot order above for a photo
// `alto` rows high: the top-left corner is the one nearest the picture's top-left as a viewer shows
// it (least x + (alto - 1 - y)), and the others follow it around the quadrilateral. Any rotation
// of the sheet gives an untwisted order.
Cuadrilatero ordenarCuadrilatero(const Cuadrilatero& esquinas, int alto);

// How far apart two findings of one sheet are: the largest distance between corresponding corners,
// both put in slot order and matched around the sheet (the best of the four turns, so that a sheet
// near 45 degrees is not charged for which corner counts as the first). In pixels.
double distanciaEntreHojas(const Cuadrilatero& a, const Cuadrilatero& b, int alto);

// The display frame, in which a viewer shows the picture and in which people and scripts give and
// read corners (the JSON lines, --esquinas): x the column from the left, y the row from the top
// (alto - 1 - y), slots top-left, top-right, bottom-right, bottom-left (clockwise on screen). The
// two conversions, for a photo `alto` rows high, undo each other exactly (for whole `alto`).
Cuadrilatero aPantalla(const Cuadrilatero& esquinas, int alto);
Cuadrilatero desdePantalla(const Cuadrilatero& enPantalla, int alto);

// Corners a detector found (stored-row frame, any order) as people are shown them and give them
// back: ordered, in the display frame, each to the nearest hundredth of a pixel (a hundredth is
// printed exactly and reads back as the same number). Fed those corners, a later run makes the very
// same page.
Cuadrilatero comoSeMuestran(const Cuadrilatero& halladas, int alto);

// Whether corners given by a person or a script (display frame, top-left first, clockwise on
// screen) can make a page of a photo `ancho` x `alto` as a viewer shows it: eight finite numbers,
// a convex quadrilateral that does not cross itself, no three corners on a line, each corner at
// most a quarter of the photo's side beyond its edge, and an area of at least kAreaMinimaDada of
// the photo (and kAreaMinimaPixeles square pixels). The failure says what is wrong in one line,
// naming the corner by its place; no file name.
inline constexpr double kMargenDado = 0.25;
inline constexpr double kAreaMinimaDada = 0.001;
inline constexpr double kAreaMinimaPixeles = 16.0;
Hecho comprobarEsquinas(const Cuadrilatero& enPantalla, int ancho, int alto);

// Found corners as people are shown them (comoSeMuestran), when they pass comprobarEsquinas as
// given corners would: found corners that could not be given back are no sheet. The failure says
// why, in one line.
Resultado<Cuadrilatero> comoSeMuestranSiSirven(const Cuadrilatero& halladas, int ancho, int alto);

// Corners written as "X1,Y1,X2,Y2,X3,Y3,X4,Y4" (display frame, in that order: top-left, top-right,
// bottom-right, bottom-left), blanks allowed around each number; the failure, when it is not eight
// finite decimal numbers, in one line. Nothing about the photo is checked here.
Resultado<Cuadrilatero> leerEsquinasTexto(std::string_view texto);
