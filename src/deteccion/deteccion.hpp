#pragma once

// The robust sheet detector: finds the sheet where fixed thresholds cannot (pale desks, low
// contrast, any rotation, corners outside the photo), and says so when no sheet is convincing.
//
// The road: the photo is shrunk to a working image; edges come from the colour gradient (gray and
// two opponent-colour planes together) kept where they are local maxima above a threshold taken
// from the photo's own gradients; straight lines come from a Hough accumulator voted along each
// edge's direction and are refitted to their edge pixels; every choice of two roughly opposite
// pairs of lines is a candidate quadrilateral, judged by its shape (convex, plausible area and
// angles, corners at most a margin outside the photo) and by how much of each side the edges
// cover; the best few are judged again by their inside against their surroundings (a sheet is
// brighter or differs in colour, is even, and differs from what lies past each of its sides). The winner's sides are then refitted on the
// full-resolution photo, each to the points of steepest change across it.

#include <array>
#include <optional>
#include <string>

#include "geometria/esquinas.hpp"
#include "imagen/imagen_bmp.hpp"

struct HojaDetectada {
    bool encontrada = false;
    // Photograph pixels: x the column, y the row in file order (row 0 is the bottom row of the
    // picture as a viewer shows it), pixel centres at whole numbers; corners may lie outside the
    // photo. Slots in the order the rectification maps them: 0 bottom-left, 1 bottom-right,
    // 2 top-right, 3 top-left of the sheet as the photo shows it.
    std::array<Esquina, 4> esquinas{};
    std::string motivo;  // when not found: why, in one line (Spanish)
    double confianza = 0.0;  // 0 .. 1: how convincing the chosen quadrilateral was (0 when none)
};

// Looks for the sheet in `foto` (a photo as leerFoto gives it). Never prints; safe to call from
// several threads at once.
HojaDetectada detectarHojaRobusta(const ImagenBmp& foto);

// The four corners of a convex quadrilateral, given in any order, put in the slot order above
// for a photo `alto` rows high: the top-left corner is the one nearest the picture's top-left as
// a viewer shows it (least x + (alto - 1 - y)), and the others follow it around the
// quadrilateral (top-left, then bottom-left, bottom-right, top-right going counter-clockwise on
// screen). Any rotation of the sheet gives an untwisted order.
std::array<Esquina, 4> ordenarEsquinasHoja(const std::array<Esquina, 4>& esquinas, int alto);

// A straight line a x + b y = c with (a, b) a unit normal.
struct RectaNormal {
    double a = 0.0;
    double b = 0.0;
    double c = 0.0;
};

// The side from `desde` to `hasta` of the sheet whose inside contains `interior`, refitted on
// the photo: along the side, the points of steepest change of colour across it within `radio`
// pixels of the estimate (sub-pixel), then a line through them that ignores the points far
// from the rest. Nothing when too few points agree or the side is too short or lies outside
// the photo.
std::optional<RectaNormal> refinarLado(const ImagenBmp& foto, Esquina desde, Esquina hasta, Esquina interior,
                                       double radio);
