#pragma once

#include "imagen/imagen_bmp.hpp"

// The accumulator drawn as a 360 x 359 gray picture: each cell times 250 / (largest cell),
// truncated; all 0 when no cell is positive. The accumulator is only read.
ImagenBmp imagenEspacioHough(const PlanoReal& acumulador);

// A 360 x 359 image whose three planes are copies of `gris`, with a header built from scratch.
ImagenBmp armarImagenHough(const PlanoBytes& gris);
