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

#include <optional>
#include <string>

#include "geometria/cuadrilatero.hpp"
#include "imagen/imagen_bmp.hpp"

struct HojaDetectada {
    bool encontrada = false;
    // In the stored-row frame of the photo and in slot order (see Cuadrilatero); corners may lie
    // outside the photo.
    Cuadrilatero esquinas{};
    std::string motivo;  // when not found: why, in one line (Spanish)
    double confianza = 0.0;  // 0 .. 1: how convincing the chosen quadrilateral was (0 when none)
};

// Looks for the sheet in `foto` (a photo as leerFoto gives it: each of its planes holds its width
// and height; checked). Never prints; safe to call from several threads at once.
HojaDetectada detectarHojaRobusta(const ImagenBmp& foto);

// A straight line a x + b y = c in pixels (of the photo or of the detector's working image: x the
// column, y the row in file order), (a, b) a unit normal. The detector's one line type; the
// fixed-threshold stages' Recta is another thing: a cell of their Hough space, an angle in degrees
// and a distance from the working image's centre.
struct RectaNormal {
    double a = 0.0;
    double b = 0.0;
    double c = 0.0;
};

// The side from `desde` to `hasta` of the sheet whose inside contains `interior`, refitted on
// the photo: along the side, the points of steepest change of colour across it within `radio`
// pixels of the estimate (sub-pixel), then a line through them that ignores the points far
// from the rest. Nothing when too few points agree or the side is too short or lies outside
// the photo. The photo's planes hold its width and height (checked).
std::optional<RectaNormal> refinarLado(const ImagenBmp& foto, Esquina desde, Esquina hasta, Esquina interior,
                                       double radio);
