#pragma once

// The renderer's pieces shared by its files: integer randomness and smooth noise, the page raster,
// the perspective map from the page square, the desk and the light. Same frame as escena.hpp.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "escena.hpp"

namespace escena::interno {

// ---------------------------------------------------------------------------------------------
// Integer randomness

inline std::uint64_t mezclar(std::uint64_t z) {
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// splitmix64: a sequence of 64-bit values from a seed.
struct Generador {
    std::uint64_t estado;

    std::uint64_t siguiente() {
        estado += 0x9E3779B97F4A7C15ull;
        return mezclar(estado);
    }
    // Whole number in [desde, hasta].
    int entre(int desde, int hasta) {
        const auto rango = static_cast<std::uint64_t>(hasta - desde + 1);
        return desde + static_cast<int>(siguiente() % rango);
    }
    // A value in [desde, hasta).
    double real(double desde, double hasta) {
        return desde + (hasta - desde) * (static_cast<double>(siguiente() >> 11) * (1.0 / 9007199254740992.0));
    }
    // True with probability p.
    bool si(double p) { return real(0.0, 1.0) < p; }
};

// A value in [0, 1) fixed by a lattice point and a seed.
inline double valorReticula(std::uint64_t semilla, std::int64_t i, std::int64_t j) {
    const std::uint64_t h = mezclar(semilla ^ mezclar(static_cast<std::uint64_t>(i) * 0x632BE59BD9B4E019ull ^
                                                      static_cast<std::uint64_t>(j)));
    return static_cast<double>(h >> 11) * (1.0 / 9007199254740992.0);
}

inline double suavizar(double t) { return t * t * (3.0 - 2.0 * t); }

// Smooth value noise in [0, 1): lattice values blended with a cubic fade.
inline double ruidoSuave(std::uint64_t semilla, double x, double y) {
    const double fx = std::floor(x);
    const double fy = std::floor(y);
    const auto i = static_cast<std::int64_t>(fx);
    const auto j = static_cast<std::int64_t>(fy);
    const double tx = suavizar(x - fx);
    const double ty = suavizar(y - fy);
    const double a = valorReticula(semilla, i, j);
    const double b = valorReticula(semilla, i + 1, j);
    const double c = valorReticula(semilla, i, j + 1);
    const double d = valorReticula(semilla, i + 1, j + 1);
    const double abajo = a + (b - a) * tx;
    const double arriba = c + (d - c) * tx;
    return abajo + (arriba - abajo) * ty;
}

// ---------------------------------------------------------------------------------------------
// The page: a raster at 100 texels per inch (850 x 1100 for letter) holding the reflectance of
// paper and ink.

struct Pagina {
    int ancho = 0;
    int alto = 0;
    std::vector<std::uint8_t> reflejo;  // row 0 is the page's top edge (reading order)

    std::uint8_t& en(int columna, int fila) {
        return reflejo[static_cast<std::size_t>(fila) * static_cast<std::size_t>(ancho) +
                       static_cast<std::size_t>(columna)];
    }
    std::uint8_t en(int columna, int fila) const {
        return reflejo[static_cast<std::size_t>(fila) * static_cast<std::size_t>(ancho) +
                       static_cast<std::size_t>(columna)];
    }
};

// The page of a sheet anchoPapel x altoPapel inches: heading, date line, lines of words and the page
// number, the same for the same seed.
Pagina dibujarPagina(std::uint64_t semilla, double anchoPapel, double altoPapel);

// Reflectance (0 .. 1) at page position (u, v), u from the left edge, v from the foot, both 0 .. 1.
double reflejoEn(const Pagina& pagina, double u, double v);

// ---------------------------------------------------------------------------------------------
// Perspective map from the page square (u, v) in [0, 1]^2 to the photo.

struct Homografia {
    double m[3][3];
};

// The map taking (0,0), (1,0), (1,1), (0,1) to the four corners, in that order.
std::optional<Homografia> homografiaDesdeCuadrado(const Cuadrilatero& e);

// The adjugate: the inverse up to a scale, which the division by w cancels.
Homografia inversa(const Homografia& h);

// Whether the four corners are finite and form a convex quadrilateral, turning either way.
bool esConvexo(const Cuadrilatero& e);

// Distance from p to the convex quadrilateral e (0 inside it).
double distanciaAlCuadrilatero(const Cuadrilatero& e, Punto p);

// ---------------------------------------------------------------------------------------------
// The desk: brown wooden boards with grain, fibres and blotches; a plain table; a woven or stone
// texture; or wood with things lying on it.

struct Color {
    double b, g, r;  // byte order of the file
};

// Today's wood: b 0.62, g 0.95, r 1.30 of the level.
inline constexpr Color kTinteMadera{0.62, 0.95, 1.30};


// A thing lying on a cluttered desk: a rounded rectangle in photo pixels.
enum class ClaseObjeto { cuaderno, telefono, boligrafo, tarjeta, teclado, tableta };

struct Objeto {
    ClaseObjeto clase;
    double cx, cy;             // centre
    double coseno, seno;       // of its turn: its long side runs along (coseno, seno)
    double medioLargo, medioAncho, radio;
    double alcance2;           // squared distance from the centre beyond which it casts nothing
    Color color;               // body, cover
    Color detalle;             // binding, screen, cap
};

struct Escritorio {
    std::uint64_t semilla = 0;
    double base = 0.0;
    double cosVeta = 1.0, senVeta = 0.0;  // direction of the grain
    TipoEscritorio tipo = TipoEscritorio::madera;
    Color tinte = kTinteMadera;
    bool tela = true;          // textured: woven fabric, or else speckled stone
    double periodo = 4.0;      // thread spacing of the fabric, pixels
    std::vector<Objeto> objetos;
    Punto sombraObjetos{};     // where the things' shadows fall, relative to them
    double difusionObjetos = 1.0;
};

// The desk of a scene. Wood keeps the same numbers it always had.
Escritorio escritorioDe(const Escena& escena, double luzX, double luzY);

// The desk's colour at photo point (x, y), before the light.
Color colorEscritorio(const Escritorio& esc, double x, double y);

inline constexpr Color kPapel{226.0, 233.0, 236.0};  // white paper under full light

// The factors of a warm lamp on blue and green (red is kept).
inline Color tonoDeLuz(const Escena& escena) {
    return {1.0 - 0.45 * escena.calidez, 1.0 - 0.15 * escena.calidez, 1.0};
}

// A straight soft shadow across the photo (Sombra).
struct SombraRecta {
    bool activa = false;
    double fuerza = 0.0, px = 0.0, py = 0.0, nx = 0.0, ny = 0.0, suavidad = 0.0, ancho = 0.0;

    explicit SombraRecta(const Sombra& s)
        : activa(s.fuerza > 0.0),
          fuerza(s.fuerza),
          px(s.punto.x),
          py(s.punto.y),
          nx(cosenoGrados(s.direccion)),
          ny(senoGrados(s.direccion)),
          suavidad(s.suavidad),
          ancho(s.ancho) {}

    // 0 outside the shadow, 1 well inside it, smooth across an edge.
    double rampa(double s) const {
        if (suavidad <= 0.0) return s >= 0.0 ? 1.0 : 0.0;
        return suavizar(std::clamp(s / suavidad + 0.5, 0.0, 1.0));
    }
    // The factor on the light at (x, y).
    double en(double x, double y) const {
        const double s = (x - px) * nx + (y - py) * ny;
        double dentro = rampa(s);
        if (ancho > 0.0) dentro = std::min(dentro, rampa(ancho - s));
        return 1.0 - fuerza * dentro;
    }
};

// The light over the photo: it grows along one direction and falls off a little toward the corners.
struct Iluminacion {
    double gradiente, luzX, luzY, diagonal, cx, cy, semi2;
    SombraRecta sombra;

    explicit Iluminacion(const Escena& escena)
        : gradiente(escena.gradiente),
          luzX(cosenoGrados(escena.direccionLuz)),
          luzY(senoGrados(escena.direccionLuz)),
          diagonal(std::sqrt(static_cast<double>(escena.ancho) * escena.ancho +
                             static_cast<double>(escena.alto) * escena.alto)),
          cx(0.5 * (escena.ancho - 1)),
          cy(0.5 * (escena.alto - 1)),
          semi2(0.25 * diagonal * diagonal),
          sombra(escena.sombra) {}

    // The factor on the colours at photo point (x, y), without the Sombra.
    double en(double x, double y) const {
        const double dx = x - cx;
        const double dy = y - cy;
        return 1.0 + gradiente * ((dx * luzX + dy * luzY) / diagonal) -
               0.5 * gradiente * ((dx * dx + dy * dy) / semi2);
    }
    // ... and with it.
    double conSombra(double x, double y) const {
        const double luz = en(x, y);
        return sombra.activa ? luz * sombra.en(x, y) : luz;
    }
};

}  // namespace escena::interno
