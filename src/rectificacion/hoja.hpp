#pragma once

#include <array>
#include <optional>

#include "geometria/esquinas.hpp"
#include "imagen/imagen_bmp.hpp"
#include "rectificacion/ecuaciones.hpp"

inline constexpr int kAnchoHoja = 852;
inline constexpr int kAltoHoja = 1103;
inline constexpr int kMarcoHoja = 15;

// The system whose solution is the bilinear map carrying output points (1,1), (850,1), (850,1100),
// (0,1100) to the photograph positions in slots 0 .. 3 (pixel coordinates of the photograph): two
// rows per corner, in slot order, the first for the column and the second for the row.
Sistema sistemaDeHoja(const std::array<Esquina, 4>& esquinas);

// What rectifying the sheet found: the system as it was set up, its solution (the map's
// coefficients s0 .. s7; nothing when it has none) and the sheet made through it.
struct HojaRectificada {
    Sistema sistema{};
    std::optional<Solucion> solucion;
    std::optional<ImagenBmp> hoja;  // when there is a solution
};

// The front-on sheet, 852 x 1103: the map of sistemaDeHoja is solved for, every output pixel is
// sampled from the photograph by bilinear interpolation (positions clamped to the photograph), and a
// 15-pixel frame repeats the pixels just inside it. The photograph is only read; it must be at least
// 2 x 2. With `usar`, the sheet is handed to it to be made, as it reads it (see UsoDeImagen);
// otherwise it is made in two halves at once. Either way it is whole when this returns.
HojaRectificada rectificarHoja(const ImagenBmp& foto, const std::array<Esquina, 4>& esquinas,
                               const UsoDeImagen& usar = {});
