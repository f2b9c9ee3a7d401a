#pragma once

#include "imagen/imagen_bmp.hpp"

// Shrinks (or, for a factor under 1, enlarges) the photograph by `factorReduccion`: output pixel
// (x, y) is the truncated mean of the k x k block of input pixels whose first corner is
// (trunc(x f), trunc(y f)), k = max(1, trunc(f)), each plane on its own. The output is
// trunc(W / f) x trunc(H / f); its header is the input's with width, height, image size and file
// size set for rows padded to 4 bytes. The photograph is only read.
ImagenBmp reducirImagen(const ImagenBmp& foto, double factorReduccion);

// The working image's diagonal, in pixels.
inline constexpr double kDiagonalTrabajo = 720.0;

// The photograph's diagonal over the working diagonal: the factor the fixed-threshold stages
// reduce it by.
double factorDeReduccion(const ImagenBmp& foto);

// The size reducirImagen gives a photo of `ancho` x `alto`: trunc(W / f) x trunc(H / f).
struct TamanoReducido {
    int ancho;
    int alto;
};
TamanoReducido tamanoReducido(int ancho, int alto, double factorReduccion);
