#include "escena.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

namespace escena {

namespace {

constexpr double kPi = 3.14159265358979323846;

// ---------------------------------------------------------------------------------------------
// Integer randomness

std::uint64_t mezclar(std::uint64_t z) {
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
double valorReticula(std::uint64_t semilla, std::int64_t i, std::int64_t j) {
    const std::uint64_t h = mezclar(semilla ^ mezclar(static_cast<std::uint64_t>(i) * 0x632BE59BD9B4E019ull ^
                                                      static_cast<std::uint64_t>(j)));
    return static_cast<double>(h >> 11) * (1.0 / 9007199254740992.0);
}

double suavizar(double t) { return t * t * (3.0 - 2.0 * t); }

// Smooth value noise in [0, 1): lattice values blended with a cubic fade.
double ruidoSuave(std::uint64_t semilla, double x, double y) {
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

// Texels of a side of `pulgadas` inches.
int texeles(double pulgadas) { return static_cast<int>(std::floor(pulgadas * kTexelesPorPulgada + 0.5)); }

void rellenar(Pagina& pagina, int x0, int y0, int x1, int y1, std::uint8_t valor) {
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, pagina.ancho);
    y1 = std::min(y1, pagina.alto);
    for (int f = y0; f < y1; ++f)
        for (int c = x0; c < x1; ++c) pagina.en(c, f) = valor;
}

// Letter shapes built from strokes, enough to give lines of text their look from a distance.
enum class Forma { o, n, u, e, l, i, t, d, b, p, g, m };

struct Tipo {
    int xAltura;   // rows of a short letter
    int trazo;     // stroke width
    int anchoMin;  // width range of a short letter
    int anchoMax;
    int hueco;     // space between letters
};

constexpr Tipo kCuerpo{7, 2, 5, 6, 2};
constexpr Tipo kTitulo{16, 4, 11, 14, 3};

struct Letra {
    Forma forma;
    int ancho;
};

std::vector<Letra> palabra(Generador& gen, int letras, const Tipo& tipo) {
    std::vector<Letra> r;
    for (int k = 0; k < letras; ++k) {
        const auto forma = static_cast<Forma>(gen.entre(0, 11));
        int ancho = gen.entre(tipo.anchoMin, tipo.anchoMax);
        if (forma == Forma::l || forma == Forma::i) ancho = tipo.trazo;
        else if (forma == Forma::t) ancho = tipo.trazo + 2 * (tipo.trazo / 2 + 1);
        else if (forma == Forma::m) ancho = ancho + ancho / 2 + tipo.trazo;
        r.push_back({forma, ancho});
    }
    return r;
}

int anchoDe(const std::vector<Letra>& letras, const Tipo& tipo) {
    int w = 0;
    for (const Letra& l : letras) w += l.ancho + tipo.hueco;
    return letras.empty() ? 0 : w - tipo.hueco;
}

// One letter whose left edge is at column x, standing on row `base` (page rows grow downward).
void letra(Pagina& pagina, const Letra& l, const Tipo& tipo, int x, int base, std::uint8_t tinta) {
    const int h = tipo.xAltura;
    const int s = tipo.trazo;
    const int sube = h / 2 + 1;      // ascender above the x-height
    const int baja = h / 3 + 1;      // descender below the baseline
    const int arriba = base - h;     // first row of a short letter
    const int der = x + l.ancho;     // one past the last column
    auto caja = [&](int x0, int y0, int x1, int y1) { rellenar(pagina, x0, y0, x1, y1, tinta); };
    auto tallos = [&](int y0, int y1) {
        caja(x, y0, x + s, y1);
        caja(der - s, y0, der, y1);
    };
    switch (l.forma) {
        case Forma::o:
            tallos(arriba, base);
            caja(x, arriba, der, arriba + s);
            caja(x, base - s, der, base);
            break;
        case Forma::n:
            tallos(arriba, base);
            caja(x, arriba, der, arriba + s);
            break;
        case Forma::u:
            tallos(arriba, base);
            caja(x, base - s, der, base);
            break;
        case Forma::e:
            caja(x, arriba, x + s, base);
            caja(x, arriba, der, arriba + s);
            caja(x, arriba + (h - s) / 2, der, arriba + (h - s) / 2 + s);
            caja(der - s, arriba, der, arriba + (h - s) / 2);
            caja(x, base - s, der, base);
            break;
        case Forma::l:
            caja(x, arriba - sube, der, base);
            break;
        case Forma::i:
            caja(x, arriba, der, base);
            caja(x, arriba - s - 2, der, arriba - 2);
            break;
        case Forma::t:
            caja(x + s / 2 + 1, arriba - sube / 2, x + s / 2 + 1 + s, base);
            caja(x, arriba, der, arriba + s);
            break;
        case Forma::d:
        case Forma::b:
        case Forma::p:
        case Forma::g:
            tallos(arriba, base);
            caja(x, arriba, der, arriba + s);
            caja(x, base - s, der, base);
            if (l.forma == Forma::d) caja(der - s, arriba - sube, der, arriba);
            if (l.forma == Forma::b) caja(x, arriba - sube, x + s, arriba);
            if (l.forma == Forma::p) caja(x, base, x + s, base + baja);
            if (l.forma == Forma::g) caja(der - s, base, der, base + baja);
            break;
        case Forma::m:
            tallos(arriba, base);
            caja(x + (l.ancho - s) / 2, arriba, x + (l.ancho - s) / 2 + s, base);
            caja(x, arriba, der, arriba + s);
            break;
    }
}

void escribir(Pagina& pagina, Generador& gen, const std::vector<Letra>& letras, const Tipo& tipo,
              int x, int base) {
    const auto tinta = static_cast<std::uint8_t>(gen.entre(38, 56));
    for (const Letra& l : letras) {
        letra(pagina, l, tipo, x, base, tinta);
        x += l.ancho + tipo.hueco;
    }
}

// A line of words from `izquierda` up to at most `derecha`.
void lineaDeTexto(Pagina& pagina, Generador& gen, int izquierda, int derecha, int base) {
    int x = izquierda;
    while (true) {
        const auto letras = palabra(gen, gen.entre(1, 9), kCuerpo);
        const int w = anchoDe(letras, kCuerpo);
        if (x + w > derecha) break;
        escribir(pagina, gen, letras, kCuerpo, x, base);
        x += w + gen.entre(7, 9);
    }
}

// The page of a sheet anchoPapel x altoPapel inches. The layout keeps its distances from the
// page's edges (one-inch side margins, the heading near the top, the page number near the foot), so
// that a letter page is drawn exactly as it always was and other sizes get the same look.
Pagina dibujarPagina(std::uint64_t semilla, double anchoPapel, double altoPapel) {
    Pagina pagina;
    pagina.ancho = texeles(anchoPapel);
    pagina.alto = texeles(altoPapel);
    const int kAnchoPagina = pagina.ancho;
    const int kAltoPagina = pagina.alto;
    pagina.reflejo.assign(static_cast<std::size_t>(kAnchoPagina) * static_cast<std::size_t>(kAltoPagina), 255);
    // Paper is not perfectly even.
    for (int f = 0; f < kAltoPagina; ++f)
        for (int c = 0; c < kAnchoPagina; ++c) {
            const double n = ruidoSuave(semilla ^ 0x5A5Aull, c / 13.0, f / 13.0);
            pagina.en(c, f) = static_cast<std::uint8_t>(250.0 + 5.0 * n);
        }

    Generador gen{semilla ^ 0xC0FFEEull};
    constexpr int kIzquierda = 100;  // one-inch margins
    const int kDerecha = kAnchoPagina - 100;

    // Heading: a few bold words, centred.
    std::vector<std::vector<Letra>> titulo;
    const int palabrasTitulo = gen.entre(2, 4);
    for (int k = 0; k < palabrasTitulo; ++k) titulo.push_back(palabra(gen, gen.entre(3, 7), kTitulo));
    int anchoTitulo = 0;
    for (const auto& p : titulo) anchoTitulo += anchoDe(p, kTitulo) + 20;
    anchoTitulo = std::min(anchoTitulo - 20, kDerecha - kIzquierda);
    int x = (kAnchoPagina - anchoTitulo) / 2;
    for (const auto& p : titulo) {
        if (x + anchoDe(p, kTitulo) > kDerecha) break;
        escribir(pagina, gen, p, kTitulo, x, 125);
        x += anchoDe(p, kTitulo) + 20;
    }

    // Date line, right-aligned, under the heading.
    {
        const auto fecha = palabra(gen, 12, kCuerpo);
        escribir(pagina, gen, fecha, kCuerpo, kDerecha - anchoDe(fecha, kCuerpo), 170);
    }

    // Body: paragraphs of full lines, the first indented, the last cut short.
    // (A letter page's last short lines end 120 .. 560 texels past the margin, of its 650.)
    int base = 220;
    constexpr int kPaso = 19;
    while (base < kAltoPagina - 170) {
        const int lineas = gen.entre(3, 7);
        for (int l = 0; l < lineas && base < kAltoPagina - 140; ++l) {
            const int sangria = l == 0 ? 36 : 0;
            const int fin = l + 1 == lineas ? kIzquierda + gen.entre(120, 560) * (kDerecha - kIzquierda) / 650
                                            : kDerecha;
            lineaDeTexto(pagina, gen, kIzquierda + sangria, fin, base);
            base += kPaso;
        }
        base += 12;
    }

    // Page number at the foot.
    {
        const auto numero = palabra(gen, 1, kCuerpo);
        escribir(pagina, gen, numero, kCuerpo, kAnchoPagina / 2 - 3, kAltoPagina - 60);
    }
    return pagina;
}

// Reflectance (0 .. 1) at page position (u, v), u from the left edge, v from the foot, both 0 .. 1.
double reflejoEn(const Pagina& pagina, double u, double v) {
    const int kAnchoPagina = pagina.ancho;
    const int kAltoPagina = pagina.alto;
    double tx = u * kAnchoPagina - 0.5;
    double ty = (1.0 - v) * kAltoPagina - 0.5;
    tx = std::clamp(tx, 0.0, kAnchoPagina - 1.0);
    ty = std::clamp(ty, 0.0, kAltoPagina - 1.0);
    const int c0 = std::min(static_cast<int>(tx), kAnchoPagina - 2);
    const int f0 = std::min(static_cast<int>(ty), kAltoPagina - 2);
    const double fx = tx - c0;
    const double fy = ty - f0;
    const double a = pagina.en(c0, f0);
    const double b = pagina.en(c0 + 1, f0);
    const double c = pagina.en(c0, f0 + 1);
    const double d = pagina.en(c0 + 1, f0 + 1);
    const double arriba = a + (b - a) * fx;
    const double abajo = c + (d - c) * fx;
    return (arriba + (abajo - arriba) * fy) * (1.0 / 255.0);
}

// ---------------------------------------------------------------------------------------------
// Perspective map from the page square (u, v) in [0, 1]^2 to the photo.

struct Homografia {
    double m[3][3];
};

// The map taking (0,0), (1,0), (1,1), (0,1) to the four corners, in that order.
std::optional<Homografia> homografiaDesdeCuadrado(const Esquinas& e) {
    const double sx = e[0].x - e[1].x + e[2].x - e[3].x;
    const double sy = e[0].y - e[1].y + e[2].y - e[3].y;
    const double dx1 = e[1].x - e[2].x;
    const double dx2 = e[3].x - e[2].x;
    const double dy1 = e[1].y - e[2].y;
    const double dy2 = e[3].y - e[2].y;
    const double den = dx1 * dy2 - dx2 * dy1;
    if (den == 0.0) return std::nullopt;
    const double g = (sx * dy2 - dx2 * sy) / den;
    const double h = (dx1 * sy - sx * dy1) / den;
    Homografia r{};
    r.m[0][0] = e[1].x - e[0].x + g * e[1].x;
    r.m[0][1] = e[3].x - e[0].x + h * e[3].x;
    r.m[0][2] = e[0].x;
    r.m[1][0] = e[1].y - e[0].y + g * e[1].y;
    r.m[1][1] = e[3].y - e[0].y + h * e[3].y;
    r.m[1][2] = e[0].y;
    r.m[2][0] = g;
    r.m[2][1] = h;
    r.m[2][2] = 1.0;
    return r;
}

// The adjugate: the inverse up to a scale, which the division by w cancels.
Homografia inversa(const Homografia& h) {
    const auto& m = h.m;
    Homografia r{};
    r.m[0][0] = m[1][1] * m[2][2] - m[1][2] * m[2][1];
    r.m[0][1] = m[0][2] * m[2][1] - m[0][1] * m[2][2];
    r.m[0][2] = m[0][1] * m[1][2] - m[0][2] * m[1][1];
    r.m[1][0] = m[1][2] * m[2][0] - m[1][0] * m[2][2];
    r.m[1][1] = m[0][0] * m[2][2] - m[0][2] * m[2][0];
    r.m[1][2] = m[0][2] * m[1][0] - m[0][0] * m[1][2];
    r.m[2][0] = m[1][0] * m[2][1] - m[1][1] * m[2][0];
    r.m[2][1] = m[0][1] * m[2][0] - m[0][0] * m[2][1];
    r.m[2][2] = m[0][0] * m[1][1] - m[0][1] * m[1][0];
    return r;
}

bool esConvexo(const Esquinas& e) {
    int positivos = 0;
    int negativos = 0;
    for (int i = 0; i < 4; ++i) {
        const Punto& a = e[static_cast<std::size_t>(i)];
        const Punto& b = e[static_cast<std::size_t>((i + 1) % 4)];
        const Punto& c = e[static_cast<std::size_t>((i + 2) % 4)];
        if (!std::isfinite(a.x) || !std::isfinite(a.y)) return false;
        const double cruz = (b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x);
        if (cruz > 0.0) ++positivos;
        else if (cruz < 0.0) ++negativos;
    }
    return positivos == 4 || negativos == 4;
}

// Distance from p to the convex quadrilateral e (0 inside it).
double distanciaAlCuadrilatero(const Esquinas& e, Punto p) {
    double minimo = -1.0;
    int positivos = 0;
    int negativos = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const Punto& a = e[i];
        const Punto& b = e[(i + 1) % 4];
        const double ex = b.x - a.x, ey = b.y - a.y;
        const double px = p.x - a.x, py = p.y - a.y;
        const double cruz = ex * py - ey * px;
        if (cruz > 0.0) ++positivos;
        else if (cruz < 0.0) ++negativos;
        const double t = std::clamp((px * ex + py * ey) / (ex * ex + ey * ey), 0.0, 1.0);
        const double qx = px - t * ex, qy = py - t * ey;
        const double d = std::sqrt(qx * qx + qy * qy);
        if (minimo < 0.0 || d < minimo) minimo = d;
    }
    return positivos == 0 || negativos == 0 ? 0.0 : minimo;
}

// ---------------------------------------------------------------------------------------------
// The desk: brown wooden boards with grain, fibres and blotches; a plain table; a woven or stone
// texture; or wood with things lying on it.

struct Color {
    double b, g, r;  // byte order of the file
};

// Today's wood: b 0.62, g 0.95, r 1.30 of the level.
constexpr Color kTinteMadera{0.62, 0.95, 1.30};

// A tint with its departure from gray scaled by `saturacion` (1 keeps it as it is).
Color saturar(const Color& tinte, double saturacion) {
    if (saturacion == 1.0) return tinte;
    return {1.0 + saturacion * (tinte.b - 1.0), 1.0 + saturacion * (tinte.g - 1.0), 1.0 + saturacion * (tinte.r - 1.0)};
}

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

constexpr double kAnchoTabla = 170.0;  // board width in pixels

Color colorMadera(const Escritorio& esc, double x, double y) {
    const double xp = x * esc.cosVeta + y * esc.senVeta;
    const double yp = y * esc.cosVeta - x * esc.senVeta;
    const double fTabla = std::floor(yp / kAnchoTabla);
    const auto tabla = static_cast<std::int64_t>(fTabla);
    const std::uint64_t sTabla = mezclar(esc.semilla ^ static_cast<std::uint64_t>(tabla));
    const double dentro = yp - fTabla * kAnchoTabla;
    const double corrimiento = (valorReticula(sTabla, 0, 0) - 0.5) * 0.16;

    // Seam between boards, about 1.5 pixels wide.
    const double borde = std::min(dentro, kAnchoTabla - dentro);
    const double junta = borde < 1.5 ? 1.0 - borde / 1.5 : 0.0;

    // Growth rings: bands that wander, with a darker narrow line in each; each board has its own
    // spacing.
    const double periodo = 7.0 + 9.0 * valorReticula(sTabla, 2, 0);
    const double t = yp / periodo + 3.0 * ruidoSuave(sTabla, xp / 300.0, yp / 70.0) +
                     0.8 * ruidoSuave(sTabla ^ 0x77ull, xp / 70.0, yp / 20.0) + valorReticula(sTabla, 1, 0);
    const double f = t - std::floor(t);
    const double banda = 4.0 * f * (1.0 - f);
    const double claro = 1.0 - banda;
    const double tardia = claro * claro * claro * claro * claro * claro;

    const double fibra = ruidoSuave(sTabla ^ 0x1234ull, xp / 40.0, yp / 1.8) - 0.5;
    const double veteado = ruidoSuave(sTabla ^ 0x4321ull, xp / 500.0, yp / 35.0) - 0.5;
    const double mancha = ruidoSuave(esc.semilla ^ 0x9876ull, x / 400.0, y / 300.0) - 0.5;

    const double w = 1.0 + corrimiento + 0.06 * (banda - 0.5) - 0.13 * tardia + 0.07 * fibra +
                     0.12 * veteado + 0.10 * mancha - 0.22 * junta;
    const double v = esc.base * w;
    return {esc.tinte.b * v, esc.tinte.g * v, esc.tinte.r * v};
}

// A plain table: its level drifts by a few percent over hundreds of pixels.
Color colorLiso(const Escritorio& esc, double x, double y) {
    const double lento = ruidoSuave(esc.semilla ^ 0x11ull, x / 650.0, y / 650.0) - 0.5;
    const double medio = ruidoSuave(esc.semilla ^ 0x22ull, x / 170.0, y / 170.0) - 0.5;
    const double fino = ruidoSuave(esc.semilla ^ 0x33ull, x / 9.0, y / 9.0) - 0.5;
    const double v = esc.base * (1.0 + 0.07 * lento + 0.025 * medio + 0.012 * fino);
    return {esc.tinte.b * v, esc.tinte.g * v, esc.tinte.r * v};
}

// Woven fabric (a plain weave of threads a few pixels apart, each thread of its own tone, with
// slubs) or stone (mottled at several scales with dark and light grains).
Color colorTextura(const Escritorio& esc, double x, double y) {
    double w;
    if (esc.tela) {
        const double xp = (x * esc.cosVeta + y * esc.senVeta) / esc.periodo;
        const double yp = (y * esc.cosVeta - x * esc.senVeta) / esc.periodo;
        const double fx = std::floor(xp);
        const double fy = std::floor(yp);
        const bool tramaArriba = ((static_cast<std::int64_t>(fx) + static_cast<std::int64_t>(fy)) & 1) == 0;
        // Across the thread on top: bright in its middle, dark where it dips under the other.
        const double t = tramaArriba ? yp - fy : xp - fx;
        const double perfil = 4.0 * t * (1.0 - t);
        const double hilo = tramaArriba ? valorReticula(esc.semilla ^ 0x44ull, 0, static_cast<std::int64_t>(fy))
                                        : valorReticula(esc.semilla ^ 0x55ull, static_cast<std::int64_t>(fx), 0);
        const double nudo = tramaArriba ? ruidoSuave(esc.semilla ^ 0x66ull, xp / 7.0, fy)
                                        : ruidoSuave(esc.semilla ^ 0x67ull, fx, yp / 7.0);
        const double lento = ruidoSuave(esc.semilla ^ 0x68ull, x / 300.0, y / 300.0) - 0.5;
        w = 1.0 + 0.22 * (perfil - 0.67) + 0.08 * (hilo - 0.5) + 0.07 * (nudo - 0.5) + 0.08 * lento;
    } else {
        const double n1 = ruidoSuave(esc.semilla ^ 0x71ull, x / 2.5, y / 2.5);
        const double n2 = ruidoSuave(esc.semilla ^ 0x72ull, x / 8.0, y / 8.0) - 0.5;
        const double n3 = ruidoSuave(esc.semilla ^ 0x73ull, x / 35.0, y / 35.0) - 0.5;
        const double n4 = ruidoSuave(esc.semilla ^ 0x74ull, x / 260.0, y / 260.0) - 0.5;
        const double grano = ruidoSuave(esc.semilla ^ 0x75ull, x / 3.5, y / 3.5);
        const double oscuro = grano > 0.78 ? (grano - 0.78) / 0.22 : 0.0;
        const double claro = grano < 0.18 ? (0.18 - grano) / 0.18 : 0.0;
        w = 1.0 + 0.12 * (n1 - 0.5) + 0.10 * n2 + 0.10 * n3 + 0.08 * n4 - 0.45 * oscuro + 0.25 * claro;
    }
    const double v = esc.base * w;
    return {esc.tinte.b * v, esc.tinte.g * v, esc.tinte.r * v};
}

// Signed distance from (a, b), in the object's own frame, to its rounded rectangle (< 0 inside).
double distanciaAlObjeto(const Objeto& o, double a, double b) {
    const double qa = std::abs(a) - o.medioLargo + o.radio;
    const double qb = std::abs(b) - o.medioAncho + o.radio;
    const double ma = std::max(qa, 0.0);
    const double mb = std::max(qb, 0.0);
    return std::sqrt(ma * ma + mb * mb) + std::min(std::max(qa, qb), 0.0) - o.radio;
}

// The colour of object `o` at its own point (a, b) (a along its long side from its centre).
Color colorDelObjeto(const Escritorio& esc, const Objeto& o, double a, double b) {
    switch (o.clase) {
        case ClaseObjeto::cuaderno: {
            // A cloth cover with a darker spine along one long side.
            const bool lomo = o.medioAncho - b < 0.09 * 2.0 * o.medioAncho;
            const double grano = 1.0 + 0.05 * (ruidoSuave(esc.semilla ^ 0x81ull, a / 3.0, b / 3.0) - 0.5);
            const Color& c = lomo ? o.detalle : o.color;
            return {c.b * grano, c.g * grano, c.r * grano};
        }
        case ClaseObjeto::telefono: {
            // A dark body around a black screen with a soft reflection across it.
            const double marco = 0.07 * 2.0 * o.medioAncho;
            if (std::abs(a) < o.medioLargo - 1.6 * marco && std::abs(b) < o.medioAncho - marco) {
                const double brillo = 1.0 + 0.6 * suavizar(std::clamp(0.5 + (a + b) / (2.0 * o.medioLargo), 0.0, 1.0));
                return {o.detalle.b * brillo, o.detalle.g * brillo, o.detalle.r * brillo};
            }
            return o.color;
        }
        case ClaseObjeto::boligrafo: {
            // A barrel with a cap of another colour at one end and a highlight along it.
            const Color& c = a > 0.45 * o.medioLargo ? o.detalle : o.color;
            const double realce = 1.0 + 0.35 * (1.0 - std::min(std::abs(b + 0.3 * o.medioAncho) / o.medioAncho, 1.0));
            return {c.b * realce, c.g * realce, c.r * realce};
        }
        case ClaseObjeto::teclado: {
            // Rows of near-black keys on a dark deck, each with a pale legend near its corner.
            const double paso = 2.0 * o.medioAncho / 5.6;
            const double ka = a + o.medioLargo - 0.3 * paso, kb = b + o.medioAncho - 0.3 * paso;
            if (ka < 0.0 || kb < 0.0) return o.color;
            const double fa = ka / paso - std::floor(ka / paso), fb = kb / paso - std::floor(kb / paso);
            if (ka > 2.0 * o.medioLargo - 0.6 * paso || kb > 2.0 * o.medioAncho - 0.6 * paso || fa > 0.84 || fb > 0.84)
                return o.color;
            if (fa > 0.15 && fa < 0.32 && fb > 0.55 && fb < 0.7) return {170.0, 170.0, 170.0};
            return o.detalle;
        }
        case ClaseObjeto::tableta: {
            // A black screen in a thin frame, with a faint reflection across it.
            const double marco = 0.05 * 2.0 * o.medioAncho;
            if (std::abs(a) < o.medioLargo - marco && std::abs(b) < o.medioAncho - marco) {
                const double brillo = 1.0 + 0.4 * suavizar(std::clamp(0.5 + (b - a) / (2.0 * o.medioLargo), 0.0, 1.0));
                return {o.detalle.b * brillo, o.detalle.g * brillo, o.detalle.r * brillo};
            }
            return o.color;
        }
        case ClaseObjeto::tarjeta:
            break;
    }
    return o.color;
}

// Things on the desk over the colour `fondo` of the desk at (x, y): their soft shadows first, then
// the things themselves, anti-aliased over about one pixel.
Color conObjetos(const Escritorio& esc, Color fondo, double x, double y) {
    double luz = 1.0;
    for (const Objeto& o : esc.objetos) {
        const double dx = x - esc.sombraObjetos.x - o.cx;
        const double dy = y - esc.sombraObjetos.y - o.cy;
        if (dx * dx + dy * dy > o.alcance2) continue;
        const double d = distanciaAlObjeto(o, dx * o.coseno + dy * o.seno, dy * o.coseno - dx * o.seno);
        if (d < esc.difusionObjetos) luz = std::min(luz, 0.62 + 0.38 * suavizar(std::max(d, 0.0) / esc.difusionObjetos));
    }
    Color c{fondo.b * luz, fondo.g * luz, fondo.r * luz};
    for (const Objeto& o : esc.objetos) {
        const double dx = x - o.cx;
        const double dy = y - o.cy;
        if (dx * dx + dy * dy > o.alcance2) continue;
        const double a = dx * o.coseno + dy * o.seno;
        const double b = dy * o.coseno - dx * o.seno;
        const double cubre = std::clamp(0.5 - distanciaAlObjeto(o, a, b), 0.0, 1.0);
        if (cubre <= 0.0) continue;
        const Color p = colorDelObjeto(esc, o, a, b);
        c = {c.b + (p.b - c.b) * cubre, c.g + (p.g - c.g) * cubre, c.r + (p.r - c.r) * cubre};
    }
    return c;
}

// Black leather: pebbles a few pixels across (the nearest of scattered points), dark creases
// where two pebbles meet, a slow sheen.
Color colorCuero(const Escritorio& esc, double x, double y) {
    const double xp = (x * esc.cosVeta + y * esc.senVeta) / esc.periodo;
    const double yp = (y * esc.cosVeta - x * esc.senVeta) / esc.periodo;
    const double fx = std::floor(xp), fy = std::floor(yp);
    double d1 = 9.0, d2 = 9.0;
    for (int j = -1; j <= 1; ++j) {
        for (int i = -1; i <= 1; ++i) {
            const auto ci = static_cast<std::int64_t>(fx) + i, cj = static_cast<std::int64_t>(fy) + j;
            const double px = static_cast<double>(ci) + valorReticula(esc.semilla ^ 0x91ull, ci, cj);
            const double py = static_cast<double>(cj) + valorReticula(esc.semilla ^ 0x92ull, ci, cj);
            const double d = (px - xp) * (px - xp) + (py - yp) * (py - yp);
            if (d < d1) {
                d2 = d1;
                d1 = d;
            } else if (d < d2) {
                d2 = d;
            }
        }
    }
    const double r1 = std::sqrt(d1), r2 = std::sqrt(d2);
    const double pliegue = std::clamp(1.0 - (r2 - r1) / 0.18, 0.0, 1.0);
    const double brillo = ruidoSuave(esc.semilla ^ 0x93ull, x / 220.0, y / 220.0) - 0.5;
    const double w = 1.0 + 0.4 * (0.5 - std::min(r1, 1.0)) - 0.6 * pliegue + 0.25 * brillo;
    const double v = esc.base * w;
    return {esc.tinte.b * v, esc.tinte.g * v, esc.tinte.r * v};
}

Color colorEscritorio(const Escritorio& esc, double x, double y) {
    Color base{};
    switch (esc.tipo) {
        case TipoEscritorio::liso: base = colorLiso(esc, x, y); break;
        case TipoEscritorio::textura: base = colorTextura(esc, x, y); break;
        case TipoEscritorio::cuero: base = colorCuero(esc, x, y); break;
        case TipoEscritorio::desorden:
        case TipoEscritorio::madera: base = colorMadera(esc, x, y); break;
    }
    return esc.objetos.empty() ? base : conObjetos(esc, base, x, y);
}

// Colours that are nowhere near white paper: strong hues or dark.
constexpr Color kCubiertas[] = {{110, 55, 28}, {38, 36, 140}, {55, 100, 35}, {30, 30, 33},
                                {105, 45, 85}, {30, 95, 170}, {80, 70, 60}, {120, 95, 40}};
constexpr Color kTintas[] = {{150, 55, 25}, {25, 25, 28}, {35, 30, 165}, {60, 120, 40}, {40, 150, 190}};
constexpr Color kTarjetas[] = {{45, 165, 200}, {140, 100, 205}, {40, 115, 210}, {85, 165, 95},
                               {185, 140, 65}, {60, 60, 175}};

// The things on a cluttered desk, fixed by the seed and the photo's size.
std::vector<Objeto> objetosSobreElEscritorio(std::uint64_t semilla, int ancho, int alto) {
    Generador gen{semilla ^ 0x0B7E705ull};
    const double lado = std::min(ancho, alto);
    std::vector<Objeto> r;
    auto agregar = [&](ClaseObjeto clase, double largo, double anchoObjeto, double radio, Color color, Color detalle) {
        Objeto o{};
        o.clase = clase;
        o.cx = gen.real(-0.08, 1.08) * ancho;
        o.cy = gen.real(-0.08, 1.08) * alto;
        const double giro = gen.real(0.0, 180.0);
        o.coseno = cosenoGrados(giro);
        o.seno = senoGrados(giro);
        o.medioLargo = 0.5 * largo;
        o.medioAncho = 0.5 * anchoObjeto;
        o.radio = std::min(radio, o.medioAncho);
        const double alcance = o.medioLargo + o.medioAncho + 0.03 * lado + 2.0;
        o.alcance2 = alcance * alcance;
        const double tono = gen.real(0.85, 1.1);
        o.color = {color.b * tono, color.g * tono, color.r * tono};
        o.detalle = detalle;
        r.push_back(o);
    };
    auto de = [&](const auto& paleta) {
        const auto n = static_cast<int>(std::size(paleta));
        return paleta[static_cast<std::size_t>(gen.entre(0, n - 1))];
    };
    const int cuadernos = gen.entre(0, 2);
    const int tarjetas = gen.entre(0, 2);
    const int telefonos = gen.entre(0, 1);
    const int boligrafos = std::max(gen.entre(1, 3), 3 - cuadernos - tarjetas - telefonos);
    for (int k = 0; k < cuadernos; ++k) {
        const double largo = gen.real(0.42, 0.7) * lado;
        const Color cubierta = de(kCubiertas);
        agregar(ClaseObjeto::cuaderno, largo, largo * gen.real(0.68, 0.78), 0.012 * lado, cubierta,
                {cubierta.b * 0.55, cubierta.g * 0.55, cubierta.r * 0.55});
    }
    for (int k = 0; k < tarjetas; ++k) {
        const double largo = gen.real(0.1, 0.2) * lado;
        agregar(ClaseObjeto::tarjeta, largo, largo * gen.real(0.6, 1.0), 0.004 * lado, de(kTarjetas), {});
    }
    for (int k = 0; k < telefonos; ++k) {
        const double largo = gen.real(0.18, 0.28) * lado;
        const double gris = gen.real(25.0, 60.0);
        agregar(ClaseObjeto::telefono, largo, largo * 0.48, 0.06 * largo, {gris * 1.05, gris, gris * 0.97},
                {24.0, 16.0, 12.0});
    }
    for (int k = 0; k < boligrafos; ++k) {
        const double largo = gen.real(0.18, 0.32) * lado;
        const double grueso = gen.real(0.012, 0.02) * lado;
        const Color tinta = de(kTintas);
        const bool capuchonIgual = gen.si(0.5);
        agregar(ClaseObjeto::boligrafo, largo, grueso, 0.5 * grueso, tinta,
                capuchonIgual ? Color{tinta.b * 0.7, tinta.g * 0.7, tinta.r * 0.7} : Color{30.0, 30.0, 30.0});
    }
    return r;
}

// Dark rectangular things on a desk, fixed by the seed and the photo's size: one to three of a
// black keyboard, a phone, a tablet and a dark book, large and well inside the photo.
std::vector<Objeto> objetosOscurosSobreElEscritorio(std::uint64_t semilla, int ancho, int alto) {
    Generador gen{semilla ^ 0xDA4Cull};
    const double lado = std::min(ancho, alto);
    std::vector<Objeto> r;
    auto agregar = [&](ClaseObjeto clase, double largo, double anchoObjeto, double radio, Color color, Color detalle) {
        Objeto o{};
        o.clase = clase;
        o.cx = gen.real(0.2, 0.8) * ancho;
        o.cy = gen.real(0.2, 0.8) * alto;
        const double giro = gen.real(-25.0, 25.0) + (gen.si(0.3) ? 90.0 : 0.0);
        o.coseno = cosenoGrados(giro);
        o.seno = senoGrados(giro);
        o.medioLargo = 0.5 * largo;
        o.medioAncho = 0.5 * anchoObjeto;
        o.radio = std::min(radio, o.medioAncho);
        const double alcance = o.medioLargo + o.medioAncho + 0.03 * lado + 2.0;
        o.alcance2 = alcance * alcance;
        o.color = color;
        o.detalle = detalle;
        r.push_back(o);
    };
    const int cuantos = gen.entre(1, 3);
    for (int k = 0; k < cuantos; ++k) {
        const double gris = gen.real(18.0, 55.0);
        const Color cuerpo{gris * 1.03, gris, gris * 0.98};
        switch (gen.entre(0, 3)) {
            case 0: {
                const double largo = gen.real(0.7, 1.3) * lado;
                agregar(ClaseObjeto::teclado, largo, largo * gen.real(0.3, 0.4), 0.02 * largo, cuerpo,
                        {gris * 0.5, gris * 0.5, gris * 0.5});
                break;
            }
            case 1: {
                const double largo = gen.real(0.25, 0.45) * lado;
                agregar(ClaseObjeto::telefono, largo, largo * 0.48, 0.06 * largo, cuerpo, {22.0, 16.0, 12.0});
                break;
            }
            case 2: {
                const double largo = gen.real(0.4, 0.7) * lado;
                agregar(ClaseObjeto::tableta, largo, largo * gen.real(0.68, 0.76), 0.04 * largo, cuerpo,
                        {20.0, 17.0, 15.0});
                break;
            }
            default: {
                const double largo = gen.real(0.35, 0.65) * lado;
                const Color tapa{gris * gen.real(0.8, 1.4), gris * gen.real(0.8, 1.2), gris * gen.real(0.8, 1.4)};
                agregar(ClaseObjeto::cuaderno, largo, largo * gen.real(0.68, 0.78), 0.01 * lado, tapa,
                        {tapa.b * 0.55, tapa.g * 0.55, tapa.r * 0.55});
                break;
            }
        }
    }
    return r;
}

// Seed-picked mild tints for plain tables, and colours for fabric and stone.
constexpr Color kTintesLisos[] = {{0.97, 1.0, 1.02}, {1.03, 1.0, 0.97}, {0.9, 0.99, 1.06}, {0.95, 1.0, 1.0},
                                  {0.86, 0.98, 1.1}};
constexpr Color kTintesTela[] = {{1.35, 1.0, 0.72}, {0.8, 1.12, 0.78}, {0.72, 0.82, 1.45}, {1.0, 1.0, 1.0},
                                 {0.7, 0.95, 1.25}, {1.15, 0.95, 1.05}};
constexpr Color kTintesPiedra[] = {{1.0, 1.0, 1.0}, {0.9, 1.0, 1.08}, {1.02, 1.04, 0.94}, {0.82, 0.97, 1.15}};

// The desk of a scene. Wood keeps the same numbers it always had.
Escritorio escritorioDe(const Escena& escena, double luzX, double luzY) {
    Escritorio esc;
    esc.semilla = mezclar(escena.semilla ^ 0xDE5Cull);
    esc.base = static_cast<double>(escena.fondo);
    esc.cosVeta = cosenoGrados(static_cast<double>(escena.semilla % 13) - 6.0);
    esc.senVeta = senoGrados(static_cast<double>(escena.semilla % 13) - 6.0);
    esc.tipo = escena.escritorio;
    Generador gen{esc.semilla ^ 0x7E57ull};
    Color tinte = kTinteMadera;
    switch (escena.escritorio) {
        case TipoEscritorio::madera:
        case TipoEscritorio::desorden:
            break;
        case TipoEscritorio::cuero:
            esc.periodo = gen.real(4.0, 10.0);
            tinte = {0.95, 1.0, 1.08};
            break;
        case TipoEscritorio::liso:
            tinte = kTintesLisos[static_cast<std::size_t>(gen.entre(0, 4))];
            break;
        case TipoEscritorio::textura: {
            esc.tela = gen.si(0.5);
            esc.periodo = gen.real(3.0, 6.0);
            const double giro = gen.real(-45.0, 45.0);
            esc.cosVeta = cosenoGrados(giro);
            esc.senVeta = senoGrados(giro);
            tinte = esc.tela ? kTintesTela[static_cast<std::size_t>(gen.entre(0, 5))]
                             : kTintesPiedra[static_cast<std::size_t>(gen.entre(0, 3))];
            break;
        }
    }
    esc.tinte = saturar(tinte, escena.saturacionEscritorio);
    if (escena.escritorio == TipoEscritorio::desorden) {
        esc.objetos = objetosSobreElEscritorio(esc.semilla, escena.ancho, escena.alto);
        const double diagonal = std::sqrt(static_cast<double>(escena.ancho) * escena.ancho +
                                          static_cast<double>(escena.alto) * escena.alto);
        esc.sombraObjetos = {-luzX * 0.006 * diagonal, -luzY * 0.006 * diagonal};
        esc.difusionObjetos = 0.012 * diagonal;
    }
    if (escena.objetosOscuros) {
        const std::vector<Objeto> oscuros = objetosOscurosSobreElEscritorio(esc.semilla, escena.ancho, escena.alto);
        esc.objetos.insert(esc.objetos.end(), oscuros.begin(), oscuros.end());
        const double diagonal = std::sqrt(static_cast<double>(escena.ancho) * escena.ancho +
                                          static_cast<double>(escena.alto) * escena.alto);
        esc.sombraObjetos = {-luzX * 0.006 * diagonal, -luzY * 0.006 * diagonal};
        esc.difusionObjetos = 0.012 * diagonal;
    }
    return esc;
}

const Color kPapel{226.0, 233.0, 236.0};  // white paper under full light

// The factors of a warm lamp on blue and green (red is kept).
Color tonoDeLuz(const Escena& escena) { return {1.0 - 0.45 * escena.calidez, 1.0 - 0.15 * escena.calidez, 1.0}; }

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

}  // namespace

// ---------------------------------------------------------------------------------------------

double senoGrados(double grados) {
    // Reduce to r in [-45, 45] and a quarter turn k, then a short Taylor series.
    const double d = std::fmod(grados, 360.0);
    const double k = std::floor(d / 90.0 + 0.5);
    const double r = (d - 90.0 * k) * (kPi / 180.0);
    const double r2 = r * r;
    const double s = r * (1.0 - r2 / 6.0 * (1.0 - r2 / 20.0 * (1.0 - r2 / 42.0 * (1.0 - r2 / 72.0 *
                     (1.0 - r2 / 110.0 * (1.0 - r2 / 156.0 * (1.0 - r2 / 210.0)))))));
    const double c = 1.0 - r2 / 2.0 * (1.0 - r2 / 12.0 * (1.0 - r2 / 30.0 * (1.0 - r2 / 56.0 *
                     (1.0 - r2 / 90.0 * (1.0 - r2 / 132.0 * (1.0 - r2 / 182.0 * (1.0 - r2 / 240.0)))))));
    auto cuarto = static_cast<int>(k) % 4;
    if (cuarto < 0) cuarto += 4;
    switch (cuarto) {
        case 0: return s;
        case 1: return c;
        case 2: return -s;
        default: return -c;
    }
}

double cosenoGrados(double grados) { return senoGrados(grados + 90.0); }

Esquinas esquinasDeCamara(const Camara& camara) {
    const double alto = camara.altoHoja;
    const double ancho = alto * camara.proporcion;
    const std::array<Punto, 4> pagina{{{-ancho / 2, -alto / 2},
                                       {ancho / 2, -alto / 2},
                                       {ancho / 2, alto / 2},
                                       {-ancho / 2, alto / 2}}};
    const double ci = cosenoGrados(camara.inclinacion), si = senoGrados(camara.inclinacion);
    const double cl = cosenoGrados(camara.ladeo), sl = senoGrados(camara.ladeo);
    const double cg = cosenoGrados(camara.giro), sg = senoGrados(camara.giro);
    const double d = camara.distancia * alto;

    Esquinas r{};
    for (std::size_t i = 0; i < 4; ++i) {
        // Lean the top edge away (about the page's horizontal axis) ...
        const double x1 = pagina[i].x;
        const double y1 = pagina[i].y * ci;
        const double z1 = pagina[i].y * si;
        // ... then the right edge (about its vertical axis; the rigid turn keeps the cross term) ...
        const double x2 = camara.rigida ? x1 * cl - z1 * sl : x1 * cl;
        const double z2 = z1 * cl + x1 * sl;
        const double y2 = y1;
        // ... turn it in the picture and project.
        const double x3 = x2 * cg - y2 * sg;
        const double y3 = x2 * sg + y2 * cg;
        const double escala = d / (d + z2);
        r[i] = {camara.centro.x + x3 * escala, camara.centro.y + y3 * escala};
    }
    return r;
}

double inclinacionDeCamara(const Camara& camara) {
    // The page's axes in space after the two leans (the turn in the picture does not change the
    // angle with the line of sight, which runs along z through the sheet's centre).
    const double ci = cosenoGrados(camara.inclinacion), si = senoGrados(camara.inclinacion);
    const double cl = cosenoGrados(camara.ladeo), sl = senoGrados(camara.ladeo);
    const double ex[3] = {cl, 0.0, sl};
    const double ey[3] = {camara.rigida ? -si * sl : 0.0, ci, si * cl};
    const double n[3] = {ex[1] * ey[2] - ex[2] * ey[1], ex[2] * ey[0] - ex[0] * ey[2], ex[0] * ey[1] - ex[1] * ey[0]};
    const double largo = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (!(largo > 0.0)) return 90.0;
    return arcocosenoGrados(std::abs(n[2]) / largo);
}

double arcocosenoGrados(double coseno) {
    if (std::isnan(coseno)) return coseno;
    if (coseno >= 1.0) return 0.0;
    if (coseno <= -1.0) return 180.0;
    double desde = 0.0, hasta = 180.0;  // cosenoGrados falls over [0, 180]
    for (int i = 0; i < 64; ++i) {
        const double medio = 0.5 * (desde + hasta);
        if (cosenoGrados(medio) > coseno) desde = medio;
        else hasta = medio;
    }
    return 0.5 * (desde + hasta);
}

Escena escenaConCamara(int ancho, int alto, const Camara& camara, std::uint64_t semilla) {
    Escena e;
    e.ancho = ancho;
    e.alto = alto;
    e.esquinas = esquinasDeCamara(camara);
    e.semilla = semilla;
    return e;
}

Escena escenaConCamara(int ancho, int alto, Camara camara, std::uint64_t semilla, const Papel& papel) {
    camara.proporcion = papel.ancho / papel.alto;
    Escena e = escenaConCamara(ancho, alto, camara, semilla);
    e.anchoPapel = papel.ancho;
    e.altoPapel = papel.alto;
    return e;
}

Escena escenaEjemplo() {
    Camara camara;
    camara.centro = {642.0, 474.0};
    camara.altoHoja = 610.0;
    camara.giro = 6.5;
    camara.inclinacion = 12.0;
    camara.ladeo = -5.0;
    camara.distancia = 2.5;
    Escena e = escenaConCamara(1280, 960, camara, 2024);
    e.fondo = 72;
    e.gradiente = 0.22;
    e.direccionLuz = 35.0;
    e.ruido = 5;
    return e;
}

namespace {

bool parametrosValidos(const Escena& escena) {
    if (escena.ancho < kLadoMinimo || escena.ancho > kLadoMaximo || escena.alto < kLadoMinimo ||
        escena.alto > kLadoMaximo)
        return false;
    if (escena.fondo < 0 || escena.fondo > 255 || escena.ruido < 0 || escena.ruido > 64) return false;
    if (!(escena.gradiente >= 0.0 && escena.gradiente <= 1.0 && std::isfinite(escena.direccionLuz))) return false;
    if (!(escena.anchoPapel >= kPapelMinimo && escena.anchoPapel <= kPapelMaximo &&
          escena.altoPapel >= kPapelMinimo && escena.altoPapel <= kPapelMaximo))
        return false;
    switch (escena.escritorio) {
        case TipoEscritorio::madera:
        case TipoEscritorio::liso:
        case TipoEscritorio::textura:
        case TipoEscritorio::desorden:
        case TipoEscritorio::cuero:
            break;
        default:
            return false;
    }
    if (!(escena.calidez >= 0.0 && escena.calidez <= 1.0)) return false;
    if (!(escena.radioEsquinas >= 0.0 &&
          escena.radioEsquinas <= std::min(escena.anchoPapel, escena.altoPapel) / 3.0))
        return false;
    if (!(escena.saturacionEscritorio >= 0.0 && escena.saturacionEscritorio <= 3.0)) return false;
    if (!(escena.brilloPapel >= 0.2 && escena.brilloPapel <= 1.5)) return false;
    const Sombra& s = escena.sombra;
    return s.fuerza >= 0.0 && s.fuerza <= 0.9 && std::isfinite(s.punto.x) && std::isfinite(s.punto.y) &&
           std::isfinite(s.direccion) && s.suavidad >= 0.0 && std::isfinite(s.suavidad) && s.ancho >= 0.0 &&
           std::isfinite(s.ancho);
}

// The map from the page square to the photo, when the corners form a convex quadrilateral.
std::optional<Homografia> mapaDeLaHoja(const Escena& escena) {
    if (!esConvexo(escena.esquinas)) return std::nullopt;
    return homografiaDesdeCuadrado(escena.esquinas);
}

}  // namespace

std::optional<FotoSintetica> renderizarEscena(const Escena& escena) {
    if (!parametrosValidos(escena)) return std::nullopt;

    std::optional<Homografia> directa;
    if (escena.conHoja) {
        directa = mapaDeLaHoja(escena);
        if (!directa) return std::nullopt;
    }

    const int ancho = escena.ancho;
    const int alto = escena.alto;
    FotoSintetica foto;
    foto.esquinas = escena.esquinas;
    foto.imagen = imagenNueva(ancho, alto);

    const double diagonal = std::sqrt(static_cast<double>(ancho) * ancho + static_cast<double>(alto) * alto);
    const double luzX = cosenoGrados(escena.direccionLuz);
    const double luzY = senoGrados(escena.direccionLuz);
    // The sheet casts a soft shadow away from the light.
    const Punto sombra{-luzX * 0.004 * diagonal, -luzY * 0.004 * diagonal};
    const double difusion = 0.008 * diagonal;

    // Pixels that the sheet or its shadow may touch.
    int cMin = 0, cMax = -1, fMin = 0, fMax = -1;
    Homografia inv{};
    Pagina pagina;
    if (directa) {
        inv = inversa(*directa);
        pagina = dibujarPagina(escena.semilla, escena.anchoPapel, escena.altoPapel);
        double xMin = escena.esquinas[0].x, xMax = xMin, yMin = escena.esquinas[0].y, yMax = yMin;
        for (const Punto& p : escena.esquinas) {
            xMin = std::min(xMin, p.x);
            xMax = std::max(xMax, p.x);
            yMin = std::min(yMin, p.y);
            yMax = std::max(yMax, p.y);
        }
        const double margen = 0.004 * diagonal + difusion + 2.0;
        cMin = static_cast<int>(std::clamp(std::floor(xMin - margen), 0.0, ancho - 1.0));
        cMax = static_cast<int>(std::clamp(std::ceil(xMax + margen), -1.0, ancho - 1.0));
        fMin = static_cast<int>(std::clamp(std::floor(yMin - margen), 0.0, alto - 1.0));
        fMax = static_cast<int>(std::clamp(std::ceil(yMax + margen), -1.0, alto - 1.0));
    }

    const Escritorio escritorio = escritorioDe(escena, luzX, luzY);
    const Color papel{kPapel.b * escena.brilloPapel, kPapel.g * escena.brilloPapel, kPapel.r * escena.brilloPapel};

    const Iluminacion iluminacion(escena);
    const Color tono = tonoDeLuz(escena);

    // Page points past a rounded corner (u across the page, v up it, both 0 .. 1).
    const double radio = escena.radioEsquinas;
    const auto fueraDeLaPunta = [&](double u, double v) {
        if (radio <= 0.0) return false;
        const double du = radio - std::min(u, 1.0 - u) * escena.anchoPapel;
        const double dv = radio - std::min(v, 1.0 - v) * escena.altoPapel;
        return du > 0.0 && dv > 0.0 && du * du + dv * dv > radio * radio;
    };

    Generador ruido{escena.semilla ^ 0xA11CEull};
    const auto amplitud = static_cast<std::uint64_t>(escena.ruido) + 1;

    for (int f = 0; f < alto; ++f) {
        for (int c = 0; c < ancho; ++c) {
            const double x = c;
            const double y = f;
            const double luz = iluminacion.conSombra(x, y);

            Color color = colorEscritorio(escritorio, x, y);
            if (directa && c >= cMin && c <= cMax && f >= fMin && f <= fMax) {
                const double d = distanciaAlCuadrilatero(escena.esquinas, {x - sombra.x, y - sombra.y});
                const double cerca = d < difusion ? 1.0 - suavizar(d / difusion) : 0.0;
                const double oscuro = 1.0 - 0.3 * cerca;
                color = {color.b * oscuro, color.g * oscuro, color.r * oscuro};
                int cubiertas = 0;
                double reflejo = 0.0;
                for (int i = 0; i < 4; ++i) {
                    const double sy = y + (i + 0.5) / 4.0 - 0.5;
                    for (int j = 0; j < 4; ++j) {
                        const double sx = x + (j + 0.5) / 4.0 - 0.5;
                        const double w = inv.m[2][0] * sx + inv.m[2][1] * sy + inv.m[2][2];
                        const double u = (inv.m[0][0] * sx + inv.m[0][1] * sy + inv.m[0][2]) / w;
                        const double v = (inv.m[1][0] * sx + inv.m[1][1] * sy + inv.m[1][2]) / w;
                        if (u >= 0.0 && u <= 1.0 && v >= 0.0 && v <= 1.0 && !fueraDeLaPunta(u, v)) {
                            ++cubiertas;
                            reflejo += reflejoEn(pagina, u, v);
                        }
                    }
                }
                const double resto = (16 - cubiertas) / 16.0;
                const double r = reflejo / 16.0;
                color = {papel.b * r + color.b * resto, papel.g * r + color.g * resto,
                         papel.r * r + color.r * resto};
            }

            double canales[3] = {color.b * luz * tono.b, color.g * luz * tono.g, color.r * luz};
            PlanoBytes* planos[3] = {&foto.imagen.plano0, &foto.imagen.plano1, &foto.imagen.plano2};
            const std::uint64_t azar = ruido.siguiente();
            for (int k = 0; k < 3; ++k) {
                // Triangular noise: the sum of two uniform draws, centred.
                const auto a = static_cast<int>(((azar >> (20 * k)) & 0x3FF) % amplitud);
                const auto b = static_cast<int>(((azar >> (20 * k + 10)) & 0x3FF) % amplitud);
                const double valor = canales[k] + static_cast<double>(a + b - escena.ruido);
                const double limitado = std::clamp(valor + 0.5, 0.0, 255.0);
                (*planos[k])[f][c] = static_cast<std::uint8_t>(limitado);
            }
        }
    }
    return foto;
}

std::optional<ImagenBmp> hojaDeFrente(const Escena& escena) {
    if (!escena.conHoja || !parametrosValidos(escena)) return std::nullopt;
    const std::optional<Homografia> directa = mapaDeLaHoja(escena);
    if (!directa) return std::nullopt;
    const Homografia& m = *directa;
    const Pagina pagina = dibujarPagina(escena.semilla, escena.anchoPapel, escena.altoPapel);
    const Iluminacion iluminacion(escena);
    const Color tono = tonoDeLuz(escena);
    const Color papel{kPapel.b * escena.brilloPapel, kPapel.g * escena.brilloPapel, kPapel.r * escena.brilloPapel};

    // Page coordinates u = a0 + a1 X + a2 Y + a3 X Y (and v alike) through the four points, by
    // elimination on the 4 x 4 system with both sides at once.
    const double puntoX[4] = {1.0, 850.0, 850.0, 0.0};
    const double puntoY[4] = {1.0, 1.0, 1100.0, 1100.0};
    const double paginaU[4] = {0.0, 1.0, 1.0, 0.0};
    const double paginaV[4] = {0.0, 0.0, 1.0, 1.0};
    double a[4][6];
    for (int i = 0; i < 4; ++i) {
        const double fila[6] = {1.0, puntoX[i], puntoY[i], puntoX[i] * puntoY[i], paginaU[i], paginaV[i]};
        std::copy(fila, fila + 6, a[i]);
    }
    for (int c = 0; c < 4; ++c) {
        int pivote = c;
        for (int f = c + 1; f < 4; ++f)
            if (std::abs(a[f][c]) > std::abs(a[pivote][c])) pivote = f;
        std::swap(a[c], a[pivote]);
        for (int f = 0; f < 4; ++f) {
            if (f == c) continue;
            const double factor = a[f][c] / a[c][c];
            for (int k = c; k < 6; ++k) a[f][k] -= factor * a[c][k];
        }
    }
    double cu[4], cv[4];
    for (int i = 0; i < 4; ++i) {
        cu[i] = a[i][4] / a[i][i];
        cv[i] = a[i][5] / a[i][i];
    }

    constexpr int kAncho = 852;
    constexpr int kAlto = 1103;
    ImagenBmp hoja = imagenNueva(kAncho, kAlto);
    PlanoBytes* planos[3] = {&hoja.plano0, &hoja.plano1, &hoja.plano2};
    for (int f = 0; f < kAlto; ++f) {
        for (int c = 0; c < kAncho; ++c) {
            const double u = cu[0] + cu[1] * c + cu[2] * f + cu[3] * c * f;
            const double v = cv[0] + cv[1] * c + cv[2] * f + cv[3] * c * f;
            // Where the photo shows this page point, for the light there.
            const double w = m.m[2][0] * u + m.m[2][1] * v + m.m[2][2];
            const double x = (m.m[0][0] * u + m.m[0][1] * v + m.m[0][2]) / w;
            const double y = (m.m[1][0] * u + m.m[1][1] * v + m.m[1][2]) / w;
            const double factor = reflejoEn(pagina, u, v) * iluminacion.conSombra(x, y);
            const double canales[3] = {papel.b * factor * tono.b, papel.g * factor * tono.g, papel.r * factor};
            for (int k = 0; k < 3; ++k)
                (*planos[k])[f][c] = static_cast<std::uint8_t>(std::clamp(canales[k] + 0.5, 0.0, 255.0));
        }
    }
    return hoja;
}

}  // namespace escena

namespace escena {

Esquinas esquinasDeImagen(int ancho, int alto) {
    const double x = ancho - 1.0;
    const double y = alto - 1.0;
    return {{{0.0, 0.0}, {x, 0.0}, {x, y}, {0.0, y}}};
}

std::optional<ImagenBmp> paginaDeFrente(const Escena& escena, int ancho, int alto, const Esquinas& puntos,
                                        bool conLuz) {
    if (!escena.conHoja || !parametrosValidos(escena)) return std::nullopt;
    if (ancho < kLadoMinimo || ancho > kLadoMaximo || alto < kLadoMinimo || alto > kLadoMaximo) return std::nullopt;
    const std::optional<Homografia> directa = mapaDeLaHoja(escena);
    if (!directa || !esConvexo(puntos)) return std::nullopt;
    const std::optional<Homografia> salida = homografiaDesdeCuadrado(puntos);
    if (!salida) return std::nullopt;
    const Homografia inv = inversa(*salida);
    const Homografia& m = *directa;
    const Pagina pagina = dibujarPagina(escena.semilla, escena.anchoPapel, escena.altoPapel);
    const Iluminacion iluminacion(escena);
    const Color tono = tonoDeLuz(escena);
    const Color papel{kPapel.b * escena.brilloPapel, kPapel.g * escena.brilloPapel, kPapel.r * escena.brilloPapel};

    // Samples per output pixel and side: one while a pixel covers up to about 1.5 x 1.5 texels,
    // more as it covers more, so that it averages them (from the areas of the page and of its
    // image); at most 4.
    double area = 0.0;
    for (std::size_t i = 0; i < 4; ++i)
        area += puntos[i].x * puntos[(i + 1) % 4].y - puntos[(i + 1) % 4].x * puntos[i].y;
    area = std::abs(0.5 * area);
    const double texelesPorPixel = static_cast<double>(pagina.ancho) * pagina.alto / std::max(area, 1.0);
    const int n = static_cast<int>(std::clamp(std::floor(std::sqrt(texelesPorPixel) + 0.5), 1.0, 4.0));

    ImagenBmp hoja = imagenNueva(ancho, alto);
    PlanoBytes* planos[3] = {&hoja.plano0, &hoja.plano1, &hoja.plano2};
    for (int f = 0; f < alto; ++f) {
        for (int c = 0; c < ancho; ++c) {
            double suma = 0.0;
            for (int i = 0; i < n; ++i) {
                const double sy = f + (i + 0.5) / n - 0.5;
                for (int j = 0; j < n; ++j) {
                    const double sx = c + (j + 0.5) / n - 0.5;
                    const double w = inv.m[2][0] * sx + inv.m[2][1] * sy + inv.m[2][2];
                    double u = (inv.m[0][0] * sx + inv.m[0][1] * sy + inv.m[0][2]) / w;
                    double v = (inv.m[1][0] * sx + inv.m[1][1] * sy + inv.m[1][2]) / w;
                    // Past the page's edge (or, for a point beyond the horizon, anywhere) the edge
                    // repeats.
                    if (!std::isfinite(u) || !std::isfinite(v)) u = v = 0.5;
                    u = std::clamp(u, 0.0, 1.0);
                    v = std::clamp(v, 0.0, 1.0);
                    double factor = reflejoEn(pagina, u, v);
                    if (conLuz) {
                        const double wf = m.m[2][0] * u + m.m[2][1] * v + m.m[2][2];
                        const double x = (m.m[0][0] * u + m.m[0][1] * v + m.m[0][2]) / wf;
                        const double y = (m.m[1][0] * u + m.m[1][1] * v + m.m[1][2]) / wf;
                        factor *= iluminacion.conSombra(x, y);
                    }
                    suma += factor;
                }
            }
            const double factor = suma / (n * n);
            const Color luzDe = conLuz ? tono : Color{1.0, 1.0, 1.0};
            const double canales[3] = {papel.b * factor * luzDe.b, papel.g * factor * luzDe.g, papel.r * factor};
            for (int k = 0; k < 3; ++k)
                (*planos[k])[f][c] = static_cast<std::uint8_t>(std::clamp(canales[k] + 0.5, 0.0, 255.0));
        }
    }
    return hoja;
}

std::array<Punto, 4> esquinasComoSeVen(const Esquinas& esquinas, int alto) {
    std::array<Punto, 4> p{};
    for (std::size_t i = 0; i < 4; ++i) p[i] = {esquinas[i].x, alto - 1.0 - esquinas[i].y};
    // Clockwise on screen (y down) means a positive signed area there; the page order may run
    // either way.
    double area = 0.0;
    for (std::size_t i = 0; i < 4; ++i) area += p[i].x * p[(i + 1) % 4].y - p[(i + 1) % 4].x * p[i].y;
    if (area < 0.0) std::swap(p[1], p[3]);
    std::size_t primera = 0;
    for (std::size_t i = 1; i < 4; ++i)
        if (p[i].x + p[i].y < p[primera].x + p[primera].y) primera = i;
    std::array<Punto, 4> r{};
    for (std::size_t i = 0; i < 4; ++i) r[i] = p[(primera + i) % 4];
    return r;
}

// ---------------------------------------------------------------------------------------------
// Scene sets

namespace {

const std::vector<std::string> kTipos = {"oscuro",   "claro",       "bajo-contraste", "textura",
                                         "desorden", "sombra",      "giro",           "perspectiva",
                                         "fuera",    "apaisada",    "a4",             "sin-hoja",
                                         "sombra-dura", "objetos-oscuros"};

double areaDe(const Esquinas& e) {
    double area = 0.0;
    for (std::size_t i = 0; i < 4; ++i) area += e[i].x * e[(i + 1) % 4].y - e[(i + 1) % 4].x * e[i].y;
    return std::abs(0.5 * area);
}

// How far outside the photo a point is, as fractions of the photo's width and height (0 inside).
double fueraX(const Punto& p, int ancho) { return std::max({-p.x, p.x - (ancho - 1.0), 0.0}) / ancho; }
double fueraY(const Punto& p, int alto) { return std::max({-p.y, p.y - (alto - 1.0), 0.0}) / alto; }

int contarFuera(const Esquinas& e, int ancho, int alto) {
    int n = 0;
    for (const Punto& p : e) n += fueraX(p, ancho) > 0.0 || fueraY(p, alto) > 0.0;
    return n;
}

// The share of the segment from a to b that lies inside the photo (0 .. 1).
double parteDentro(const Punto& a, const Punto& b, int ancho, int alto) {
    double t0 = 0.0, t1 = 1.0;
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.x, ancho - 1.0 - a.x, a.y, alto - 1.0 - a.y};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0) return 0.0;
        } else if (p[i] < 0.0) {
            t0 = std::max(t0, q[i] / p[i]);
        } else {
            t1 = std::min(t1, q[i] / p[i]);
        }
    }
    return std::max(0.0, t1 - t0);
}

// The smallest share of a side of the sheet inside the photo.
double ladoMenosVisible(const Esquinas& e, int ancho, int alto) {
    double menor = 1.0;
    for (int i = 0; i < 4; ++i) menor = std::min(menor, parteDentro(e[i], e[(i + 1) % 4], ancho, alto));
    return menor;
}

// Photo sizes from about 800 x 600 to 2000 x 1500: mostly 4:3, some 3:2 and 16:9, landscape or
// portrait.
void tamanoDeFoto(Generador& gen, int& ancho, int& alto) {
    const double largo = std::floor(gen.real(800.0, 2000.0));
    const double eleccion = gen.real(0.0, 1.0);
    double razon = eleccion < 0.65 ? 4.0 / 3.0 : eleccion < 0.85 ? 1.5 : 16.0 / 9.0;
    if (largo / razon < 600.0) razon = 4.0 / 3.0;  // the short side at least 600
    const auto corto = static_cast<int>(std::floor(largo / razon + 0.5));
    const auto l = static_cast<int>(largo);
    if (gen.si(0.6)) {
        ancho = l;
        alto = corto;
    } else {
        ancho = corto;
        alto = l;
    }
}

Papel papelComun(Generador& gen) {
    const double p = gen.real(0.0, 1.0);
    return p < 0.75 ? kCarta : p < 0.95 ? kA4 : kOficio;
}

// The desks of the kinds that are about the sheet's shape: mostly dark wood, some plain or textured
// desks of middling level.
void escritorioComun(Generador& gen, Escena& e) {
    const double p = gen.real(0.0, 1.0);
    if (p < 0.6) {
        e.escritorio = TipoEscritorio::madera;
        e.fondo = gen.entre(40, 115);
    } else if (p < 0.8) {
        e.escritorio = TipoEscritorio::liso;
        e.fondo = gen.entre(35, 130);
        e.saturacionEscritorio = gen.real(0.5, 2.5);
    } else {
        e.escritorio = TipoEscritorio::textura;
        e.fondo = gen.entre(45, 125);
    }
}

struct Rangos {
    double giro = 15.0;             // |turn| up to
    bool giroAmplio = false;        // turn 0 .. 90 either way instead
    double inclinacionMin = 0.0;    // camera tilt range
    double inclinacionMax = 20.0;
    double distanciaMin = 1.8;
    double distanciaMax = 3.5;
    int fuera = 0;                  // corners to put outside the photo (0, or 1 .. 2)
    // With corners outside: every side still shows at least a third of its length (a corner or
    // two cut off), or else one side lies wholly outside the photo.
    bool ladoFuera = false;
    double coberturaMin = 0.2;      // the sheet's share of the photo
    double coberturaMax = 0.8;
};

// The share of its length every side of a sheet with a corner cut off shows at least.
constexpr double kLadoVisibleMinimo = 1.0 / 3.0;

// Places a sheet of `papel` on an ancho x alto photo with a camera drawn from `rangos`. False when
// no placement satisfied the kind's bounds within the tries.
bool colocarHoja(Generador& gen, const Rangos& rangos, int ancho, int alto, const Papel& papel, Camara& camara,
                 Esquinas& esquinas) {
    const double lado = std::min(ancho, alto);
    const double margen = 0.02 * lado;
    const double areaFoto = static_cast<double>(ancho) * alto;
    for (int intento = 0; intento < 400; ++intento) {
        Camara c;
        c.rigida = true;
        c.proporcion = papel.ancho / papel.alto;
        c.giro = rangos.giroAmplio ? gen.real(0.0, 90.0) * (gen.si(0.5) ? 1.0 : -1.0) : gen.real(-rangos.giro, rangos.giro);
        const double inclinacion = gen.real(rangos.inclinacionMin, rangos.inclinacionMax);
        const double rumbo = gen.real(0.0, 360.0);
        c.inclinacion = inclinacion * cosenoGrados(rumbo);
        c.ladeo = inclinacion * senoGrados(rumbo);
        c.distancia = gen.real(rangos.distanciaMin, rangos.distanciaMax);
        const double cobertura = gen.real(rangos.coberturaMin, rangos.coberturaMax);
        c.altoHoja = std::sqrt(cobertura * areaFoto / c.proporcion);
        c.centro = {0.0, 0.0};
        const Esquinas relativas = esquinasDeCamara(c);
        if (!esConvexo(relativas)) continue;
        const double real = areaDe(relativas) / areaFoto;
        if (real < rangos.coberturaMin || real > rangos.coberturaMax) continue;
        double xMin = relativas[0].x, xMax = xMin, yMin = relativas[0].y, yMax = yMin;
        for (const Punto& p : relativas) {
            xMin = std::min(xMin, p.x);
            xMax = std::max(xMax, p.x);
            yMin = std::min(yMin, p.y);
            yMax = std::max(yMax, p.y);
        }
        if (rangos.fuera == 0) {
            // Every corner at least `margen` inside.
            const double x0 = margen - xMin, x1 = ancho - 1.0 - margen - xMax;
            const double y0 = margen - yMin, y1 = alto - 1.0 - margen - yMax;
            if (x0 > x1 || y0 > y1) continue;
            c.centro = {gen.real(x0, x1), gen.real(y0, y1)};
        } else {
            // Past one side of the photo by 2 .. 10 % of that side; the other way anywhere that
            // keeps it inside, or (for a cut corner, one time in three) past the neighbouring side
            // as well.
            const int borde = gen.entre(0, 3);
            const bool horizontal = borde < 2;
            const double exceso = gen.real(0.02, 0.1) * (horizontal ? ancho : alto);
            const bool rincon = !rangos.ladoFuera && gen.si(1.0 / 3.0);
            const double excesoOtro = gen.real(0.02, 0.1) * (horizontal ? alto : ancho);
            const bool antes = gen.si(0.5);
            double cx = 0.0, cy = 0.0;
            if (horizontal) {
                cx = borde == 0 ? -exceso - xMin : ancho - 1.0 + exceso - xMax;
                const double y0 = margen - yMin, y1 = alto - 1.0 - margen - yMax;
                if (y0 > y1) continue;
                cy = rincon ? (antes ? -excesoOtro - yMin : alto - 1.0 + excesoOtro - yMax) : gen.real(y0, y1);
            } else {
                cy = borde == 2 ? -exceso - yMin : alto - 1.0 + exceso - yMax;
                const double x0 = margen - xMin, x1 = ancho - 1.0 - margen - xMax;
                if (x0 > x1) continue;
                cx = rincon ? (antes ? -excesoOtro - xMin : ancho - 1.0 + excesoOtro - xMax) : gen.real(x0, x1);
            }
            c.centro = {cx, cy};
        }
        const Esquinas e = esquinasDeCamara(c);
        if (!esConvexo(e)) continue;
        if (rangos.fuera > 0) {
            const int n = contarFuera(e, ancho, alto);
            if (n < 1 || n > 2) continue;
            bool lejos = false;
            for (const Punto& p : e) lejos = lejos || fueraX(p, ancho) > 0.1 || fueraY(p, alto) > 0.1;
            if (lejos) continue;
            const double visible = ladoMenosVisible(e, ancho, alto);
            if (rangos.ladoFuera ? visible > 0.0 : visible < kLadoVisibleMinimo) continue;
        }
        camara = c;
        esquinas = e;
        return true;
    }
    return false;
}

EscenaEtiquetada escenaDelTipo(const std::string& tipo, std::uint64_t semilla) {
    Generador gen{semilla};
    EscenaEtiquetada r;
    r.tipo = tipo;
    Escena& e = r.escena;
    e.semilla = gen.siguiente() >> 1;
    tamanoDeFoto(gen, e.ancho, e.alto);
    e.gradiente = gen.real(0.05, 0.32);
    e.direccionLuz = gen.real(0.0, 360.0);
    e.ruido = gen.entre(2, 7);

    Rangos rangos;
    Papel papel = papelComun(gen);
    if (tipo == "oscuro") {
        papel = kCarta;
        e.escritorio = TipoEscritorio::madera;
        e.fondo = gen.entre(40, 110);
        e.saturacionEscritorio = gen.real(0.8, 1.2);
    } else if (tipo == "claro") {
        if (gen.si(0.5)) {
            // Pale wood: about as bright as the paper in places, set apart mostly by its colour.
            e.escritorio = TipoEscritorio::madera;
            e.fondo = gen.entre(135, 185);
            e.saturacionEscritorio = gen.real(0.35, 0.9);
        } else {
            // White or pale plain tables.
            e.escritorio = TipoEscritorio::liso;
            e.fondo = gen.entre(165, 222);
            e.saturacionEscritorio = gen.real(0.0, 1.5);
        }
    } else if (tipo == "bajo-contraste") {
        // Grayish paper on a desk only a little darker than it.
        e.brilloPapel = gen.real(0.76, 0.93);
        e.escritorio = gen.si(0.5) ? TipoEscritorio::liso : TipoEscritorio::madera;
        const double nivel = 233.0 * e.brilloPapel * gen.real(0.74, 0.9);
        e.fondo = static_cast<int>(std::floor(nivel / (e.escritorio == TipoEscritorio::madera ? 0.95 : 1.0) + 0.5));
        e.saturacionEscritorio = gen.real(0.1, 0.6);
        e.gradiente = gen.real(0.15, 0.4);
    } else if (tipo == "textura") {
        e.escritorio = TipoEscritorio::textura;
        e.fondo = gen.entre(50, 170);
        e.saturacionEscritorio = gen.real(0.4, 1.4);
    } else if (tipo == "desorden") {
        e.escritorio = TipoEscritorio::desorden;
        e.fondo = gen.entre(45, 125);
        e.saturacionEscritorio = gen.real(0.7, 1.2);
    } else if (tipo == "sombra") {
        escritorioComun(gen, e);
    } else if (tipo == "giro") {
        escritorioComun(gen, e);
        rangos.giroAmplio = true;
    } else if (tipo == "perspectiva") {
        escritorioComun(gen, e);
        rangos.inclinacionMin = 25.0;
        rangos.inclinacionMax = 50.0;
        rangos.distanciaMin = 1.2;
        rangos.distanciaMax = 2.2;
    } else if (tipo == "fuera" || tipo == "lado-fuera") {
        escritorioComun(gen, e);
        rangos.fuera = 1;
        rangos.giro = 25.0;
        rangos.ladoFuera = tipo == "lado-fuera";
    } else if (tipo == "apaisada") {
        escritorioComun(gen, e);
        papel = gen.si(0.6) ? kCartaApaisada : kA4Apaisada;
    } else if (tipo == "a4") {
        escritorioComun(gen, e);
        papel = kA4;
    } else if (tipo == "sombra-dura") {
        // A small sheet on black leather, a hard shadow across it (placed below).
        e.escritorio = TipoEscritorio::cuero;
        e.fondo = gen.entre(18, 40);
        e.radioEsquinas = gen.real(0.1, 0.35);
        e.calidez = gen.real(0.0, 0.8);  // a lamp's light, white to warm
        rangos.giro = 18.0;
        rangos.inclinacionMin = 3.0;
        rangos.inclinacionMax = 12.0;
        rangos.coberturaMin = 0.1;
        rangos.coberturaMax = 0.22;
    } else if (tipo == "objetos-oscuros") {
        // No sheet: dark things on a white table or pale wood.
        if (gen.si(0.6)) {
            e.escritorio = TipoEscritorio::liso;
            e.fondo = gen.entre(175, 225);
            e.saturacionEscritorio = gen.real(0.0, 1.2);
        } else {
            e.escritorio = TipoEscritorio::madera;
            e.fondo = gen.entre(140, 190);
            e.saturacionEscritorio = gen.real(0.3, 0.8);
        }
        e.objetosOscuros = true;
        e.conHoja = false;
        r.conHoja = false;
        r.papel = {0.0, 0.0};
        e.esquinas = {};
        return r;
    } else {  // "sin-hoja"
        const double p = gen.real(0.0, 1.0);
        if (p < 0.3) {
            e.escritorio = TipoEscritorio::liso;
            e.fondo = gen.entre(40, 215);
            e.saturacionEscritorio = gen.real(0.0, 2.0);
        } else if (p < 0.55) {
            e.escritorio = TipoEscritorio::madera;
            e.fondo = gen.entre(40, 185);
            e.saturacionEscritorio = gen.real(0.4, 1.2);
        } else if (p < 0.85) {
            e.escritorio = TipoEscritorio::desorden;
            e.fondo = gen.entre(45, 150);
        } else {
            e.escritorio = TipoEscritorio::textura;
            e.fondo = gen.entre(50, 180);
        }
        e.conHoja = false;
        r.conHoja = false;
        r.papel = {0.0, 0.0};
        e.esquinas = {};
        return r;
    }

    e.anchoPapel = papel.ancho;
    e.altoPapel = papel.alto;
    r.papel = papel;
    // A placement always exists for these bounds; should the tries run out, the photo takes the
    // shape of a quiet default framing instead (never seen with the kinds above).
    if (!colocarHoja(gen, rangos, e.ancho, e.alto, papel, r.camara, e.esquinas)) {
        Camara c;
        c.rigida = true;
        c.proporcion = papel.ancho / papel.alto;
        c.centro = {0.5 * (e.ancho - 1), 0.5 * (e.alto - 1)};
        c.altoHoja = 0.6 * e.alto;
        if (c.altoHoja * c.proporcion > 0.9 * e.ancho) c.altoHoja = 0.9 * e.ancho / c.proporcion;
        r.camara = c;
        e.esquinas = esquinasDeCamara(c);
    }
    r.inclinacion = inclinacionDeCamara(r.camara);
    r.giro = r.camara.giro;
    r.cobertura = areaDe(e.esquinas) / (static_cast<double>(e.ancho) * e.alto);
    r.esquinasFuera = contarFuera(e.esquinas, e.ancho, e.alto);

    if (tipo == "sombra") {
        // A hand's or a phone's shadow whose edge crosses the sheet.
        Sombra& s = e.sombra;
        s.fuerza = gen.real(0.3, 0.7);
        s.direccion = gen.real(0.0, 360.0);
        const double diagonal = std::sqrt(static_cast<double>(e.ancho) * e.ancho + static_cast<double>(e.alto) * e.alto);
        s.suavidad = gen.real(0.015, 0.08) * diagonal;
        Punto centro{0.0, 0.0};
        for (const Punto& p : e.esquinas) centro = {centro.x + 0.25 * p.x, centro.y + 0.25 * p.y};
        const double tamano = std::sqrt(areaDe(e.esquinas));
        const double corrimiento = gen.real(-0.3, 0.3) * tamano;
        const double nx = cosenoGrados(s.direccion), ny = senoGrados(s.direccion);
        if (gen.si(0.5)) {
            s.ancho = gen.real(0.15, 0.4) * std::min(e.ancho, e.alto);
            // The band's middle near the sheet's centre.
            s.punto = {centro.x + nx * (corrimiento - 0.5 * s.ancho), centro.y + ny * (corrimiento - 0.5 * s.ancho)};
        } else {
            s.punto = {centro.x + nx * corrimiento, centro.y + ny * corrimiento};
        }
    } else if (tipo == "sombra-dura") {
        // A phone's shadow: a sharp edge across the sheet, darkening a fifth to a half of it.
        Sombra& s = e.sombra;
        s.fuerza = gen.real(0.45, 0.8);
        s.direccion = gen.real(0.0, 360.0);
        const double diagonal = std::sqrt(static_cast<double>(e.ancho) * e.ancho + static_cast<double>(e.alto) * e.alto);
        s.suavidad = gen.real(0.0, 0.006) * diagonal;
        Punto centro{0.0, 0.0};
        for (const Punto& p : e.esquinas) centro = {centro.x + 0.25 * p.x, centro.y + 0.25 * p.y};
        const double corrimiento = gen.real(0.0, 0.25) * std::sqrt(areaDe(e.esquinas));
        s.punto = {centro.x + cosenoGrados(s.direccion) * corrimiento, centro.y + senoGrados(s.direccion) * corrimiento};
    }
    return r;
}

}  // namespace

const std::vector<std::string>& tiposDeEscena() { return kTipos; }

const std::vector<std::string>& tiposAparte() {
    static const std::vector<std::string> aparte = {"lado-fuera"};
    return aparte;
}

std::vector<EscenaEtiquetada> conjuntoDeEscenas(const std::string& tipo, int cuantas, std::uint64_t semilla) {
    std::vector<EscenaEtiquetada> r;
    const bool todos = tipo == "todos";
    if (!todos && std::find(kTipos.begin(), kTipos.end(), tipo) == kTipos.end() &&
        std::find(tiposAparte().begin(), tiposAparte().end(), tipo) == tiposAparte().end())
        return r;
    std::uint64_t semillaTipo = 0xE5CE7Aull;
    for (const char ch : tipo) semillaTipo = mezclar(semillaTipo ^ static_cast<unsigned char>(ch));
    for (int k = 0; k < cuantas; ++k) {
        const std::string& suyo = todos ? kTipos[static_cast<std::size_t>(k) % kTipos.size()] : tipo;
        r.push_back(escenaDelTipo(suyo, mezclar(semilla ^ mezclar(semillaTipo + static_cast<std::uint64_t>(k)))));
    }
    return r;
}

}  // namespace escena
