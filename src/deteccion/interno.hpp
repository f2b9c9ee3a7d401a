#pragma once

// The pieces of the robust detector, shared by its files and its tests. Working-image frame: x the
// column, y the row in file order, pixel centres at whole numbers.

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <optional>
#include <vector>

#include "deteccion/deteccion.hpp"
#include "imagen/imagen_bmp.hpp"
#include "imagen/plano.hpp"
#include "sistema/comprobar.hpp"

namespace deteccion {

using PlanoFloat = Plano<float>;

// Working images of at least this many pixels are worked in two parts at once.
inline constexpr long long kPixelesTrabajoEnDos = 64 * 1024;

// Radians in a degree.
inline constexpr double kGrados = std::numbers::pi / 180.0;

// The angle between two line directions given in degrees, 0 .. 90. Directions already within
// 180 degrees of each other (all of the detector's) skip the remainder, which would leave them as
// they are.
inline double diferenciaAngular(double a, double b) {
    double d = std::fabs(a - b);
    if (!(d < 180.0)) d = std::fmod(d, 180.0);
    return std::min(d, 180.0 - d);
}

// std::lround, halves away from zero, worked here without a call for the pixel positions the
// detector rounds by the million.
inline long redondear(double x) {
    if (!(std::fabs(x) < 1e15)) return std::lround(x);
    const double entero = std::trunc(x);
    const double resto = x - entero;  // exact
    return static_cast<long>(entero) + (resto >= 0.5) - (resto <= -0.5);
}

// Stops the process unless each of the photo's three planes holds its width and height, as a photo
// from leerFoto does: everything here reads them up to the sides the header gives.
inline void comprobarPlanos(const ImagenBmp& foto) {
    for (const PlanoBytes* plano : {&foto.plano0, &foto.plano1, &foto.plano2}) {
        COMPROBAR_MAYOR_IGUAL(plano->ancho, foto.ancho());
        COMPROBAR_MAYOR_IGUAL(plano->alto, foto.alto());
    }
}

// What the working image shows: three smoothed planes (brightness and two opponent colours) and
// their joint gradient.
struct Rasgos {
    int ancho = 0;
    int alto = 0;
    PlanoFloat luz;      // (R + G + B) / 3
    PlanoFloat croma1;   // R - G
    PlanoFloat croma2;   // (R + G) / 2 - B
    PlanoFloat magnitud;  // strength of the colour gradient (gray levels per pixel, Sobel scale)
    PlanoFloat angulo;    // its direction, degrees 0 .. 180 (a line, not a sense); set only where the
                          // magnitude reaches the threshold inside the border (0 elsewhere)
    PlanoBytes borde;     // 1 where the gradient is a local maximum across the edge above the threshold
    float umbral = 0.0f;  // the threshold used
    int cuantosBordes = 0;
    // The light's colour cast over the photo: the median of each opponent colour over the
    // brightness among its brightest twentieth (0 for a neutral light; a warm lamp makes the second
    // clearly positive).
    double tinte1 = 0.0, tinte2 = 0.0;
};

// The features of `foto` (its planes as comprobarPlanos checks them) shrunk by `factor` (>= 1;
// checked): working pixel (x, y) is the mean of the photo's pixels in its cell, its centre at photo
// point ((x + 0.5) f - 0.5, (y + 0.5) f - 0.5) with f the photo's side over the working side.
Rasgos calcularRasgos(const ImagenBmp& foto, double factor);

// A line of the working image with the edges along it, as the Hough search finds it: the line, its
// unit normal's angle in degrees (0 .. 180), its votes, and which steps along it are edges.
struct LineaDeBordes {
    RectaNormal recta{1.0, 0.0, 0.0};
    double angulo = 0.0;
    double votos = 0.0;
    // Coverage along the line: acumulado[i] = edge hits among the first i unit steps from t0 on,
    // where the point at parameter t is (a c - b t, b c + a t); t from t0 to t0 + pasos.
    double t0 = 0.0;
    std::vector<int> acumulado;
};

std::vector<LineaDeBordes> buscarLineas(const Rasgos& r);

// Hits between parameters ta and tb (clipped to what was scanned), and the number of unit steps
// that lie inside the working image over the same span, along a line whose edges were counted
// (acumulado holds at least its first entry, as buscarLineas leaves it; checked).
struct Cobertura {
    double aciertos = 0.0;
    double dentro = 0.0;
};
Cobertura coberturaEntre(const LineaDeBordes& l, double ta, double tb);
// The same along the segment from a to b, whatever line was found there: the edge pixels near it
// whose direction is square to it, from 2 pixels past a to 2 pixels before b.
Cobertura coberturaDeSegmento(const Rasgos& r, const Esquina& a, const Esquina& b);
double parametroDe(const LineaDeBordes& l, double x, double y);

// A candidate quadrilateral: its lines (in order around) and its corners in the working image.
// Quadrilaterals here are in the working image's frame and in order around (either way), not yet
// in slots: the winner is put in slots on the photo, at the end.
struct Candidato {
    std::array<int, 4> lineas{};
    Cuadrilatero esquinas{};  // esquinas[i] = lineas[i] meets lineas[(i + 1) % 4]
    std::array<double, 4> cobertura{};  // per side, over its part inside the image
    double puntaje = 0.0;
    double area = 0.0;
};

// Every plausible quadrilateral among the lines, best first (at most `cuantos`, which is at least 0;
// checked).
std::vector<Candidato> buscarCandidatos(const Rasgos& r, const std::vector<LineaDeBordes>& lineas, int cuantos);
// The quadrilateral with these corners (working image, in order around) as a candidate, judged by
// the same shape and support as those of buscarCandidatos; nothing when it fails them. Its lines
// are unnamed (-1).
std::optional<Candidato> candidatoDeEsquinas(const Rasgos& r, const Cuadrilatero& esquinas);

// How much the inside of the quadrilateral looks like a sheet against its surroundings.
struct Region {
    double luzDentro = 0.0, luzFuera = 0.0;
    double cromaDentro = 0.0, cromaFuera = 0.0;
    double croma1Dentro = 0.0, croma2Dentro = 0.0;  // the two opponent colours inside (medians)
    double dispersionDentro = 0.0;  // spread of the brightness inside (robust, gray levels)
    double contraste = 0.0;         // difference inside vs outside, brightness and colour together
    double muestrasFuera = 0.0;     // fraction of the outside ring that lies in the image
    // Per side (side i from corner i to corner i + 1): the same difference against the ring just
    // outside that side alone; -1 where too little of it lies in the image to tell.
    std::array<double, 4> contrasteLado{-1.0, -1.0, -1.0, -1.0};
    // Per side: how far the strip just inside that side differs from the whole inside and from
    // the strip just outside it, the same way; -1 where too little of either lies in the image. A
    // side that runs past the sheet (along a line of the desk beyond a corner) has desk on both
    // hands.
    std::array<double, 4> interiorLado{-1.0, -1.0, -1.0, -1.0};
    std::array<double, 4> interiorFuera{-1.0, -1.0, -1.0, -1.0};
};
Region evaluarRegion(const Rasgos& r, const Cuadrilatero& esquinas);

// Points of a sheet's side found on the photo (see refinarLado; planes checked as there): where
// along the side (0 at `desde`, 1 at `hasta`) and how steep the change of colour is there.
struct PuntoDeLado {
    double x = 0.0, y = 0.0;
    double fraccion = 0.0;
    double fuerza = 0.0;
};
std::vector<PuntoDeLado> puntosDeLado(const ImagenBmp& foto, Esquina desde, Esquina hasta, Esquina interior,
                                      double radio);
// A line through the points between fractions `desde` and `hasta`, ignoring weak and stray ones.
std::optional<RectaNormal> ajustarLado(const std::vector<PuntoDeLado>& puntos, double desde, double hasta);

// The line through two distinct points, its normal turned a quarter counter-clockwise from the
// direction from a to b.
RectaNormal rectaPor(const Esquina& a, const Esquina& b);
// Where two lines meet; false when they are parallel or nearly so.
bool intersectar(const RectaNormal& p, const RectaNormal& q, Esquina& punto);

}  // namespace deteccion
