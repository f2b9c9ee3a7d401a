#pragma once

#include <array>
#include <cstdio>
#include <optional>

#include "geometria/esquinas.hpp"
#include "imagen/imagen_bmp.hpp"

inline constexpr int kAnchoHoja = 852;
inline constexpr int kAltoHoja = 1103;
inline constexpr int kMarcoHoja = 15;

// The front-on sheet, 852 x 1103: the bilinear map that carries output points (1,1), (850,1),
// (850,1100), (0,1100) to the photograph positions in slots 0 .. 3 (pixel coordinates of `foto`) is
// solved for and printed to `salida`, every output pixel is sampled from the photograph by bilinear
// interpolation (positions clamped to the photograph), and a 15-pixel frame repeats the pixels just
// inside it. The photograph is only read; it must be at least 2 x 2. With `usar`, the sheet is
// handed to it to be made, as it reads it (see UsoDeImagen); otherwise it is made in two halves at
// once. Either way it is whole when this returns.
std::optional<ImagenBmp> rectificarHoja(const ImagenBmp& foto,
                                        const std::array<Esquina, kMaxEsquinas>& esquinas,
                                        std::FILE* salida, const UsoDeImagen& usar = {});
