#pragma once

// A synthetic photograph of a sheet of paper lying on a desk, for the example input and for tests
// that need to know where the sheet really is and what a perfect scan of it shows.
//
// Frame used throughout: photo pixel coordinates with x = column and y = row, rows in BMP file
// order (row 0 is the first row stored in the file, which a viewer shows at the bottom of the
// picture). The centre of pixel (column c, row r) is the point (c, r); the pixel covers
// [c - 0.5, c + 0.5] x [r - 0.5, r + 0.5]. This is the frame of the corners that the scanner itself
// reports once they are scaled to the photograph.
//
// The sheet is letter size, 8.5 x 11 inches, unless the scene names another size (A4, legal, a
// landscape sheet). Its own corners are named as the page reads: inferior izquierda, inferior
// derecha, superior derecha, superior izquierda. Because rows grow upward in file order, a page that
// stands upright in the picture has its bottom edge at the lower rows.
//
// Everything is deterministic: noise comes from a 64-bit integer generator and no library
// transcendental function is used, so a given Escena gives the same bytes with any compiler or
// standard library (built with -ffp-contract=off, as the project is).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "geometria/cuadrilatero.hpp"
#include "imagen/imagen_bmp.hpp"

namespace escena {

// A point of the photo other than a sheet's corner (a camera's centre, a shadow's edge).
struct Punto {
    double x = 0.0;  // column
    double y = 0.0;  // row, file order
};

// A sheet's corners travel as a Cuadrilatero (geometria/cuadrilatero.hpp), in this frame and in the
// order of the page: [0] bottom-left, [1] bottom-right, [2] top-right, [3] top-left (bottom = the
// page's foot, where the text ends). For an upright sheet this is the scanner's own slot order; a
// turned sheet keeps the page's order, and ordenarCuadrilatero gives the slots as the photo shows
// them.

inline constexpr double kProporcionHoja = 8.5 / 11.0;  // width / height of a letter-size sheet

// Paper sizes in inches, width x height as the page reads (a landscape sheet is wider than high).
struct Papel {
    double ancho = 8.5;
    double alto = 11.0;
};
inline constexpr Papel kCarta{8.5, 11.0};
inline constexpr Papel kA4{8.27, 11.69};
inline constexpr Papel kOficio{8.5, 14.0};  // legal
inline constexpr Papel kCartaApaisada{11.0, 8.5};
inline constexpr Papel kA4Apaisada{11.69, 8.27};
inline constexpr double kPapelMinimo = 2.0;   // inches, each side
inline constexpr double kPapelMaximo = 40.0;

// What the sheet lies on.
enum class TipoEscritorio {
    madera,    // brown wooden boards with grain, fibres and blotches
    liso,      // one flat colour with gentle low-frequency variation (white and pale tables)
    textura,   // a fine, high-frequency texture: woven fabric or speckled stone, by the seed
    desorden,  // wood with things lying on it under and around the sheet: notebooks, a phone, pens,
               // coloured cards at random angles; never anything white or paper-like
    cuero,     // black grained leather: small pebbles parted by dark creases, a faint sheen
};

// A straight shadow across the whole photo (a hand or a phone between the light and the desk): it
// darkens desk and sheet alike. The edge is the line through `punto` square to `direccion`; the
// shadow lies on the side `direccion` points to. With ancho = 0 it covers that whole half-plane;
// with ancho > 0 it is a band of that width (pixels, measured from the edge along `direccion`).
// Both edges fade over `suavidad` pixels (centred on the edge). fuerza 0 = no shadow, at most 0.9:
// the fraction of light taken away inside it.
struct Sombra {
    double fuerza = 0.0;
    Punto punto{};
    double direccion = 0.0;  // degrees, as direccionLuz (0 = toward higher columns, 90 = higher rows)
    double suavidad = 40.0;  // pixels, >= 0
    double ancho = 0.0;      // pixels, >= 0; 0 = a half-plane
};

struct Escena {
    int ancho = 1280;  // photo width in pixels, 2 .. 30000
    int alto = 960;    // photo height in pixels, 2 .. 30000
    Cuadrilatero esquinas{};      // where the sheet lies; ignored when conHoja is false
    std::uint64_t semilla = 1;  // picks the desk texture, the text and the noise
    int fondo = 75;        // mean gray level of the desk before lighting, 0 .. 255 (40 .. 110 looks right)
    double gradiente = 0.2;  // lighting change across the photo's diagonal, as a fraction (0 = flat)
    double direccionLuz = 35.0;  // degrees, direction in which the light grows (0 = toward higher
                                 // columns, 90 = toward higher rows)
    int ruido = 5;         // per-channel noise amplitude in gray levels (triangular, -ruido .. ruido)
    bool conHoja = true;   // false renders the empty desk

    // Added knobs; their defaults render today's scenes byte for byte.
    double anchoPapel = 8.5;   // the sheet's size in inches, kPapelMinimo .. kPapelMaximo; the page
    double altoPapel = 11.0;   // content is laid out on it (landscape when wider than high)
    TipoEscritorio escritorio = TipoEscritorio::madera;
    double saturacionEscritorio = 1.0;  // 0 .. 3: how far the desk's colour departs from gray (0 =
                                        // neutral gray, 1 = the desk's own colour: wood is b 0.62,
                                        // g 0.95, r 1.30 of the level; plain and textured desks
                                        // have a mild tint of their own picked by the seed)
    double brilloPapel = 1.0;  // 0.2 .. 1.5: factor on the paper's colour (below 1 = grayish paper)
    Sombra sombra{};           // none by default
    double radioEsquinas = 0.0;  // inches, 0 .. a third of the sheet's shorter side: its corners
                                 // rounded off with this radius (0 = square corners)
    double calidez = 0.0;  // 0 .. 1: a warm lamp's colour on all it lights (blue down by 45 % and
                           // green by 15 % at 1; 0 = white light)
    bool objetosOscuros = false;  // dark rectangular things on the desk, whatever the desk: a
                                  // black keyboard, a phone, a tablet, a dark book (fixed by the seed)
    double puntosProsa = 0.0;  // 0: the page of drawn words; 6 .. 24: a page of Spanish prose set
                               // in DejaVu Serif at this size in points (10 .. 12 is a letter's),
                               // picked by the seed, at kTexelesProsa texels per inch
};

// Page raster: 100 texels per inch, so a letter page is 850 x 1100 texels. The layout (one-inch
// margins, heading, date line, body, page number at the foot) follows the page's size.
inline constexpr int kTexelesPorPulgada = 100;

// A page of prose is set at 300 texels per inch, as fine as a reader of its text needs, with the
// fonts of Debian's fonts-dejavu-core (the one-inch margins and the page's look are the same).
inline constexpr int kTexelesProsa = 300;
inline constexpr char kFuenteProsa[] = "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf";
inline constexpr char kFuenteProsaNegrita[] = "/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf";

struct FotoSintetica {
    ImagenBmp imagen;   // 24-bit, planes in B, G, R order, header from headerNuevo
    Cuadrilatero esquinas;  // the sheet's corners as rendered (those of the Escena)
};

// Renders the scene. The sheet's content (heading, lines of words, margins) is drawn onto a page of
// anchoPapel x altoPapel inches and carried into the photo by the perspective map that takes the
// page's corners to `esquinas` (which may lie outside the photo); each photo pixel near the sheet
// averages 4 x 4 samples, so the sheet's sides are anti-aliased. The sheet casts a narrow soft
// shadow on the desk; the Sombra, the light and the noise lie over desk and sheet alike. Returns
// nothing when the size is out of range, a parameter is out of range, or the corners do not form a
// convex quadrilateral (in either turning direction).
std::optional<FotoSintetica> renderizarEscena(const Escena& escena);

// The sheet of `escena` front-on, as a scan of its photo should show it: 852 x 1103, in the frame
// of the scanner's output. Output pixel (column X, row Y in file order) shows the page point to
// which the bilinear map taking (1,1), (850,1), (850,1100) and (0,1100) to the page's bottom-left,
// bottom-right, top-right and top-left corners sends it: the scanner's own map, with the page in
// place of the photo. For a sheet seen without tilt (photo corners that are an affine image of the
// page) a scan samples exactly there; a tilted sheet's perspective is not undone by that map (see
// paginaDeFrente). Each pixel samples the page once, lit as the photo is lit where that page point
// lies (gradient and Sombra); no noise, desk or the sheet's own cast shadow. A sheet of another
// size than letter is still stretched over the whole 850 x 1100 area. Page points past the edge
// (in the 15-pixel frame) repeat the edge. Returns nothing when the scene has no sheet or could not
// be rendered.
std::optional<ImagenBmp> hojaDeFrente(const Escena& escena);

// The words on the sheet of a scene with a page of prose, as they were set: the heading, a blank
// line, each line of the page on a line of its own with a blank line after each paragraph, and the
// page number; UTF-8. Nothing when the scene has no sheet or no prose, is out of range, or a font
// cannot be read (the photo cannot be rendered then either).
std::optional<std::string> textoDeLaPagina(const Escena& escena);

// The sheet's page front-on at any size, as an ideal perspective-correct scan shows it: an ancho x
// alto image (each 2 .. 30000) in which the page's bottom-left, bottom-right, top-right and top-left
// corners lie at `puntos` (output pixel coordinates, rows in file order as everywhere here; the
// quadrilateral must be convex). Each output pixel is carried to the page by the perspective map
// (homography) through those four points; an output pixel that spans several page texels averages
// a few samples. Points outside the page repeat its edge.
//   conLuz = false: paper colour x brilloPapel x the page's reflectance only; no light gradient, no
//                   shadow: what an "even out the lighting" enhancement should give.
//   conLuz = true:  lit as the photo is lit where that page point lies (gradient and Sombra), no
//                   noise: what a perfect rectification of the photo should give.
// Example: puntos {(0,0), (W-1,0), (W-1,H-1), (0,H-1)} fills the whole image with the page upright
// (its foot on the file's first rows, as the scanner's output has it). Returns nothing when the
// scene has no sheet, the scene cannot be rendered, the size is out of range or `puntos` is not
// convex.
std::optional<ImagenBmp> paginaDeFrente(const Escena& escena, int ancho, int alto, const Cuadrilatero& puntos,
                                        bool conLuz);

// The corners {(0,0), (ancho-1,0), (ancho-1,alto-1), (0,alto-1)}: the page filling the image.
Cuadrilatero esquinasDeImagen(int ancho, int alto);

// A simple camera looking at a sheet on a table.
struct Camara {
    Punto centro;              // where the sheet's centre lands in the photo
    double altoHoja = 600.0;   // height of the sheet in pixels when seen straight on
    double giro = 0.0;         // degrees; positive turns the sheet counter-clockwise as displayed
    double inclinacion = 0.0;  // degrees the page's top edge leans away from the camera (a
                               // positive value makes the top edge shorter than the bottom one)
    double ladeo = 0.0;        // degrees the page's right edge leans away (right edge shorter)
    double distancia = 2.5;    // camera distance in sheet heights; smaller = stronger perspective
    // Added fields; the defaults give today's corners.
    double proporcion = kProporcionHoja;  // the sheet's width / height as the page reads (A4: 8.27 /
                                          // 11.69, a landscape sheet above 1)
    bool rigida = false;  // false: today's model, which leans the page by inclinacion and then by
                          // ladeo leaving out one cross term, so that with both non-zero the page is
                          // slightly sheared (by sin(inclinacion) x sin(ladeo)). true: a true
                          // rotation, the sheet staying a rectangle in space (what scene sets use).
};

// The photo corners of the sheet seen by `camara`: the page is turned by `giro` in its own plane,
// tilted by `inclinacion` and `ladeo`, and projected with a pinhole whose scale is 1 at the sheet's
// centre. With no tilt the result is the upright or turned rectangle of height `altoHoja` and width
// altoHoja x proporcion centred on `centro`. The pinhole's centre is `centro` and its focal length
// distancia x altoHoja pixels. Tilts up to 50 degrees each (up to about 60 together) with distancia
// down to 1.2 give a convex quadrilateral.
Cuadrilatero esquinasDeCamara(const Camara& camara);

// The camera's tilt in degrees: the angle between the sheet's normal and the line of sight to the
// sheet's centre (0 = seen straight from above; inclinacion alone gives |inclinacion|, ladeo alone
// |ladeo|). Computed without library transcendental functions.
double inclinacionDeCamara(const Camara& camara);

// Convenience: the scene of a sheet seen by `camara` on a `ancho` x `alto` photo, other knobs at
// their defaults.
Escena escenaConCamara(int ancho, int alto, const Camara& camara, std::uint64_t semilla);
// The same for a sheet of size `papel`: the camera's proporcion is set from it, and so are the
// scene's anchoPapel and altoPapel.
Escena escenaConCamara(int ancho, int alto, Camara camara, std::uint64_t semilla, const Papel& papel);

// The scene of the bundled example photograph (examples/imagenDocumento.bmp): 1280 x 960, the sheet
// about 63 % of the photo's height near its centre, turned 6.5 degrees counter-clockwise, its top
// edge leaning 12 degrees away and its left edge 5 degrees, on a dark wooden desk.
Escena escenaEjemplo();

// Sine and cosine of an angle in degrees, from plain arithmetic so that every build agrees.
double senoGrados(double grados);
double cosenoGrados(double grados);
// The angle in [0, 180] degrees whose cosine is `coseno` (clamped to -1 .. 1), by bisection on
// cosenoGrados; within 1e-12 degrees.
double arcocosenoGrados(double coseno);

// ---------------------------------------------------------------------------------------------
// Scene sets: varied scenes of one kind, with their labels, for detector and rectifier tests.

// A rendered-to-be scene and what is known about it.
struct EscenaEtiquetada {
    std::string tipo;       // the kind it was made for (one of tiposDeEscena())
    Escena escena;          // render with renderizarEscena; escena.esquinas are the sheet's corners
    bool conHoja = true;    // false for "sin-hoja" (then the fields below are zero)
    Camara camara;          // the camera that gave the corners (rigida = true)
    double inclinacion = 0.0;  // inclinacionDeCamara(camara), degrees
    double giro = 0.0;         // camara.giro, degrees
    Papel papel;               // the sheet's size in inches (as escena.anchoPapel x altoPapel)
    double cobertura = 0.0;    // the sheet's area in the photo / the photo's area (part outside
                               // the photo counted too)
    int esquinasFuera = 0;     // corners outside the photo (pixel centres 0 .. ancho-1, 0 .. alto-1)
};

// The kinds, in this order: "oscuro" (today's kind: dark wood), "claro" (pale wood and white
// tables), "bajo-contraste" (grayish paper on a pale desk), "textura" (fabric or stone), "desorden"
// (wood with things on it), "sombra" (a hand's or phone's shadow across the photo), "giro" (turned 0
// to 90 degrees either way), "perspectiva" (tilt 25 to 50 degrees, close camera), "fuera" (one or
// two corners cut off: outside the photo by up to about 10 % of its side, every side of the sheet
// still showing at least a third of its length), "apaisada" (landscape letter or A4 sheets), "a4"
// (A4 sheets), "sin-hoja" (no sheet: plain, wooden, textured or cluttered desks), "sombra-dura" (a
// small sheet, about a third of the photo wide, with rounded corners on black grained leather,
// turned up to 18 degrees with a slight tilt, a hard-edged shadow over a fifth to a half of it),
// "objetos-oscuros" (no sheet: dark rectangular things, a keyboard, a phone, a tablet or a dark book,
// on a white or pale desk).
const std::vector<std::string>& tiposDeEscena();

// Kinds measured apart, not among the ones above nor in "todos": "lado-fuera" (like "fuera", but one
// side of the sheet lies wholly outside the photo, so the photo does not show where the sheet ends);
// "texto" (a page of Spanish prose, letter or A4, set at 10 to 12 points: see puntosProsa and
// textoDeLaPagina; on 8 or 12 megapixel photos, mostly portrait, the sheet covering 35 to 70 % of
// the photo, tilted 0 to 40 degrees, turned near 0, 180, 90 or -90 degrees or at any angle).
const std::vector<std::string>& tiposAparte();

// `cuantas` scenes of kind `tipo` ("todos" cycles through the kinds of tiposDeEscena in order), the same
// for the same arguments on every build. Photos from about 800 x 600 to 2000 x 1500, landscape or
// portrait (and a few 16:9 or 3:2); the sheet covers 20 to 80 % of the photo; turn, tilt, light,
// noise, desk and paper vary within the kind's range. Outside "fuera" every corner lies at least 2 %
// of the photo's smaller side inside it; every sheet is convex. An unknown kind gives an empty list.
std::vector<EscenaEtiquetada> conjuntoDeEscenas(const std::string& tipo, int cuantas, std::uint64_t semilla);

}  // namespace escena
