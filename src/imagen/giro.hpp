#pragma once

// Quarter turns of a picture as a viewer shows it: every pixel moved, none resampled.

#include "imagen/imagen_bmp.hpp"
#include "imagen/plano.hpp"

// `plano` turned clockwise, as seen, by `grados` (0, 90, 180 or 270; rows in file order, row 0 at
// the bottom of the picture): a turn of 90 or 270 swaps its sides.
PlanoBytes girarPlano(const PlanoBytes& plano, int grados);

// The same for the three planes of an image, with a headerNuevo header of its new sides.
ImagenBmp girarImagen(const ImagenBmp& imagen, int grados);
