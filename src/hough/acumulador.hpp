#pragma once

#include "imagen/plano.hpp"

// Rows of the accumulator: distances 0 .. 358 pixels from the centre of the working image.
inline constexpr int kFilasHough = 359;
// Columns: angles -180 .. 179 degrees, column = angle + 180.
inline constexpr int kColumnasHough = 360;

// The number of distance rows that can receive votes for a working image of this size:
// (trunc(diagonal) / 2) - 1, which is 359 or 358 for the working images we make.
int filasConVotos(int ancho, int alto);

// The smoothed Hough accumulator of the edge map: 359 rows x 360 columns. Every edge pixel at least
// three pixels from each side votes for the three lines whose normal angle is its orientation - 1,
// + 0, + 1 degrees (centred frame: x = c - ancho / 2, y = r - alto / 2), at the truncated distance;
// then the whole plane is smoothed with the 11 x 11 Gaussian of sigma 2. Maps are only read.
PlanoReal acumuladorHough(const MapaBordes& bordes, const MapaOrientacion& orientacion, int ancho,
                          int alto);

// The raw vote counts, before the smoothing (359 x 360).
PlanoReal votosHough(const MapaBordes& bordes, const MapaOrientacion& orientacion, int ancho,
                     int alto);
