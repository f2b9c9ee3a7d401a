#pragma once

// The sheet's true shape: the page resampled from the photo through the map of its four corners,
// at its paper size and orientation, optionally with a scanned look.

#include <array>
#include <optional>
#include <string>

#include "geometria/esquinas.hpp"
#include "imagen/imagen_bmp.hpp"
#include "pagina/remuestreo.hpp"
#include "rectificacion/hoja.hpp"

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
    // For the letter page (FormaPagina::hojaCarta), the system of its bilinear map and its
    // solution, for its account; its sheet is `imagen`.
    std::optional<HojaRectificada> carta;
};

// The page's size and orientation for a sheet with these corners in a photo ancho x alto.
// Orientation: landscape when the sheet is wider than high (slot 0 -> 1 against slot 0 -> 3), from
// the sheet's true proportion (medirProporcion in forma.hpp: the focal length from `focal35mm`,
// else measured from the quadrilateral, else a phone's usual 26 mm); the bilinear map, which can do
// without it, falls back on the quadrilateral's sides when it cannot be measured. `auto` measures that proportion
// and picks letter, A4 or legal when one is within 4 %, or keeps the measured proportion (long side
// 11 inches). Pixels: the paper's inches at `ppp`, or, with ppp 0, letter as 852 x 1103 and the
// others at 1103 / 11 pixels per inch. Nothing when the proportion is needed and the corners are
// not a convex quadrilateral.
struct FormaPagina {
    int ancho = 852, alto = 1103;                // pixels of the output
    double anchoPulgadas = 8.5, altoPulgadas = 11.0;
    bool apaisada = false;
    Papel papel = Papel::carta;                  // the size chosen (automatico: none was near)
    std::optional<double> proporcionMedida;       // long side over short side, when measured
    bool hojaCarta = false;  // the bilinear map's upright letter page at 852 x 1103: the run without
                             // arguments' own page
};
inline constexpr double kPppCarta = 1103.0 / 11.0;
inline constexpr double kToleranciaPapel = 0.04;
std::optional<FormaPagina> formaDePagina(int anchoFoto, int altoFoto, const std::array<Esquina, 4>& esquinas,
                                         const OpcionesPagina& opciones);

// The page between `esquinas` (photograph pixels, rows in file order; slots 0 bottom-left,
// 1 bottom-right, 2 top-right, 3 top-left of the sheet as the photo shows it), or nothing when the
// corners admit no map. Sized and oriented by formaDePagina; the perspective map fills the page with
// the sheet (its corners on the page's outer pixel edges); the bilinear map is the letter page's
// (points 1 pixel in, a 15-pixel frame repeating the pixels inside it): for an upright letter page
// at 852 x 1103 it is exactly that page, sampled as it is. Other pages are resampled at the photo's
// scale (remuestreo.hpp).
std::optional<PaginaEnderezada> enderezarPagina(const ImagenBmp& foto, const std::array<Esquina, 4>& esquinas,
                                                const OpcionesPagina& opciones);
// The same, for a shape formaDePagina has already given for these corners and this map; with
// `usar`, the page is handed to it, to be made as it reads it where the page allows (the
// perspective map's and the letter page's; see UsoDeImagen), else once it is made.
std::optional<PaginaEnderezada> enderezarPagina(const ImagenBmp& foto, const std::array<Esquina, 4>& esquinas,
                                                Mapa mapa, const FormaPagina& forma, const UsoDeImagen& usar = {});

// The same sheet as the page of this shape shows it, through the same map, but resampled from the
// photo at `ppp` pixels per inch whatever the page's own size, and in gray (red, green and blue
// weighed as the eye does): the picture text is recognised on. Rows in file order. Nothing when
// the corners admit no map.
std::optional<PlanoBytes> hojaEnGris(const ImagenBmp& foto, const std::array<Esquina, 4>& esquinas, Mapa mapa,
                                     const FormaPagina& forma, double ppp);

// A scanned look for a page: the lighting evened out (each plane divided by the paper's brightness,
// estimated at a coarse scale where the ink is closed over), paper to white and text to dark,
// colour kept (color), gray (gris) or black and white (bn: ink where the page is well under its
// neighbourhood's mean; a page of 1500 pixels or more a side is blurred lightly first, so that
// strokes keep smooth edges). Areas of colour or shading wider than about a line of text count as
// paper and go light. Nothing of it leans one way: a mirrored page gives the mirrored look.
// `ninguna` leaves the page as it is.
void mejorarPagina(ImagenBmp& pagina, Mejora mejora);
