#pragma once

// The geometry of a page: the maps from output pixels to photograph positions, and the sheet's
// true proportions measured from its quadrilateral.

#include <array>
#include <optional>

#include "geometria/esquinas.hpp"

// A plane projective map: x = (a X + b Y + c) / w, y = (d X + e Y + f) / w, w = g X + h Y + 1.
struct Homografia {
    double a = 1, b = 0, c = 0;
    double d = 0, e = 1, f = 0;
    double g = 0, h = 0;
};

// The homography carrying the ancho x alto output rectangle's corners (pixel edges: (-0.5, -0.5),
// (ancho - 0.5, -0.5), (ancho - 0.5, alto - 0.5), (-0.5, alto - 0.5); rows in file order) to the
// photograph points in slots 0 .. 3, or nothing when three of them are on a line.
std::optional<Homografia> homografiaDePagina(const std::array<Esquina, 4>& esquinas, int ancho, int alto);

// A bilinear map x = s0 + s1 X + s2 Y + s3 X Y, y = s4 + s5 X + s6 Y + s7 X Y.
using Bilineal = std::array<double, 8>;

// The bilinear map of the letter page at any size: output points (1, 1), (ancho - 2, 1),
// (ancho - 2, alto - 3), (0, alto - 3) to slots 0 .. 3 (for 852 x 1103 exactly the letter page's
// points), or nothing when the equations have no single solution.
std::optional<Bilineal> bilinealDePagina(const std::array<Esquina, 4>& esquinas, int ancho, int alto);

// The sheet's true width over its height (slot 0 -> 1 over slot 0 -> 3, as the photo shows it),
// from the vanishing points of its sides. `principal` is the camera's principal point, in the frame
// of the corners: the photo's centre (principalDeFoto), wherever the sheet lies in it. The focal
// length (pixels) is
// `focalConocida` when given (the photo's EXIF); otherwise it is measured from the quadrilateral
// when both pairs of sides converge enough to tell it, and `focalPorOmision` is used when they do
// not (a nearly affine view, where the proportion hardly depends on it, or a tilt about one axis).
// Nothing for a quadrilateral that is not convex.
struct Proporcion {
    double valor = 1.0;       // width / height
    double focal = 0.0;       // the focal length used, pixels
    bool focalMedida = false;  // measured from the quadrilateral (not the given one)
};
std::optional<Proporcion> medirProporcion(const std::array<Esquina, 4>& esquinas, const Esquina& principal,
                                         std::optional<double> focalConocida, double focalPorOmision);

// The centre of a photo ancho x alto, in pixels (a pixel's centre at whole coordinates).
inline Esquina principalDeFoto(int ancho, int alto) { return {(ancho - 1) / 2.0, (alto - 1) / 2.0}; }

// The focal length in pixels of a photo ancho x alto taken at `focal35mm` (35 mm equivalent).
double focalEnPixeles(double focal35mm, int ancho, int alto);

// A usual phone's main camera, 35 mm equivalent.
inline constexpr double kFocalTelefono35mm = 26.0;
