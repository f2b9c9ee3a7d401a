#pragma once

// The sheet's true shape: the page resampled from the photo through the map of its four corners,
// at its paper size and orientation, optionally with a scanned look.

#include <array>
#include <optional>
#include <string>

#include "geometria/esquinas.hpp"
#include "imagen/imagen_bmp.hpp"

enum class Mapa { perspectiva, bilineal };
enum class Papel { carta, a4, oficio, automatico };
enum class Mejora { ninguna, color, gris, bn };

struct OpcionesPagina {
    Mapa mapa = Mapa::perspectiva;
    Papel papel = Papel::carta;
    double ppp = 0.0;                  // pixels per inch; 0: letter's 852 x 1103 scale
    std::optional<double> focal35mm;  // the photo's EXIF focal length (35 mm equivalent), if any
};

struct PaginaEnderezada {
    ImagenBmp imagen;           // rows in file order, planes B, G, R, as every image here
    double anchoPulgadas = 8.5;  // the page's size, for a PDF page
    double altoPulgadas = 11.0;
};

// The page between `esquinas` (photograph pixels, rows in file order; slots 0 bottom-left,
// 1 bottom-right, 2 top-right, 3 top-left of the sheet as the photo shows it), or nothing when the
// corners admit no map. For now every map and paper gives the letter-size bilinear page.
std::optional<PaginaEnderezada> enderezarPagina(const ImagenBmp& foto, const std::array<Esquina, 4>& esquinas,
                                                const OpcionesPagina& opciones);

// A scanned look for a page: the lighting evened out, paper to white and text to dark, colour kept
// (color), gray (gris) or black and white (bn). For now it leaves the page as it is.
void mejorarPagina(ImagenBmp& pagina, Mejora mejora);
