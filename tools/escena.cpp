#include "escena.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
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
// The page: an 8.5 x 11 raster at 100 texels per inch holding the reflectance of paper and ink.

constexpr int kAnchoPagina = 850;
constexpr int kAltoPagina = 1100;

struct Pagina {
    std::vector<std::uint8_t> reflejo;  // row 0 is the page's top edge (reading order)

    std::uint8_t& en(int columna, int fila) {
        return reflejo[static_cast<std::size_t>(fila) * kAnchoPagina + static_cast<std::size_t>(columna)];
    }
    std::uint8_t en(int columna, int fila) const {
        return reflejo[static_cast<std::size_t>(fila) * kAnchoPagina + static_cast<std::size_t>(columna)];
    }
};

void rellenar(Pagina& pagina, int x0, int y0, int x1, int y1, std::uint8_t valor) {
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, kAnchoPagina);
    y1 = std::min(y1, kAltoPagina);
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

Pagina dibujarPagina(std::uint64_t semilla) {
    Pagina pagina;
    pagina.reflejo.assign(static_cast<std::size_t>(kAnchoPagina) * kAltoPagina, 255);
    // Paper is not perfectly even.
    for (int f = 0; f < kAltoPagina; ++f)
        for (int c = 0; c < kAnchoPagina; ++c) {
            const double n = ruidoSuave(semilla ^ 0x5A5Aull, c / 13.0, f / 13.0);
            pagina.en(c, f) = static_cast<std::uint8_t>(250.0 + 5.0 * n);
        }

    Generador gen{semilla ^ 0xC0FFEEull};
    constexpr int kIzquierda = 100;  // one-inch margins
    constexpr int kDerecha = 750;

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
    int base = 220;
    constexpr int kPaso = 19;
    while (base < 930) {
        const int lineas = gen.entre(3, 7);
        for (int l = 0; l < lineas && base < 960; ++l) {
            const int sangria = l == 0 ? 36 : 0;
            const int fin = l + 1 == lineas ? kIzquierda + gen.entre(120, 560) : kDerecha;
            lineaDeTexto(pagina, gen, kIzquierda + sangria, fin, base);
            base += kPaso;
        }
        base += 12;
    }

    // Page number at the foot.
    {
        const auto numero = palabra(gen, 1, kCuerpo);
        escribir(pagina, gen, numero, kCuerpo, kAnchoPagina / 2 - 3, 1040);
    }
    return pagina;
}

// Reflectance (0 .. 1) at page position (u, v), u from the left edge, v from the foot, both 0 .. 1.
double reflejoEn(const Pagina& pagina, double u, double v) {
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
// The desk: brown wooden boards with grain, fibres and blotches.

struct Color {
    double b, g, r;  // byte order of the file
};

struct Escritorio {
    std::uint64_t semilla;
    double base;
    double cosVeta, senVeta;  // direction of the grain
};

constexpr double kAnchoTabla = 170.0;  // board width in pixels

Color colorEscritorio(const Escritorio& esc, double x, double y) {
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
    return {0.62 * v, 0.95 * v, 1.30 * v};
}

const Color kPapel{226.0, 233.0, 236.0};  // white paper under full light

// The light over the photo: it grows along one direction and falls off a little toward the corners.
struct Iluminacion {
    double gradiente, luzX, luzY, diagonal, cx, cy, semi2;

    explicit Iluminacion(const Escena& escena)
        : gradiente(escena.gradiente),
          luzX(cosenoGrados(escena.direccionLuz)),
          luzY(senoGrados(escena.direccionLuz)),
          diagonal(std::sqrt(static_cast<double>(escena.ancho) * escena.ancho +
                             static_cast<double>(escena.alto) * escena.alto)),
          cx(0.5 * (escena.ancho - 1)),
          cy(0.5 * (escena.alto - 1)),
          semi2(0.25 * diagonal * diagonal) {}

    // The factor on the colours at photo point (x, y).
    double en(double x, double y) const {
        const double dx = x - cx;
        const double dy = y - cy;
        return 1.0 + gradiente * ((dx * luzX + dy * luzY) / diagonal) -
               0.5 * gradiente * ((dx * dx + dy * dy) / semi2);
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
    const double ancho = alto * kProporcionHoja;
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
        // ... then the right edge (about its vertical axis) ...
        const double x2 = x1 * cl;
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

Escena escenaConCamara(int ancho, int alto, const Camara& camara, std::uint64_t semilla) {
    Escena e;
    e.ancho = ancho;
    e.alto = alto;
    e.esquinas = esquinasDeCamara(camara);
    e.semilla = semilla;
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
    return escena.gradiente >= 0.0 && escena.gradiente <= 1.0 && std::isfinite(escena.direccionLuz);
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
    foto.imagen.header = headerNuevo(ancho, alto);
    foto.imagen.plano0 = PlanoBytes(ancho, alto);
    foto.imagen.plano1 = PlanoBytes(ancho, alto);
    foto.imagen.plano2 = PlanoBytes(ancho, alto);

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
        pagina = dibujarPagina(escena.semilla);
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

    const Escritorio escritorio{mezclar(escena.semilla ^ 0xDE5Cull), static_cast<double>(escena.fondo),
                                cosenoGrados(static_cast<double>(escena.semilla % 13) - 6.0),
                                senoGrados(static_cast<double>(escena.semilla % 13) - 6.0)};
    const Color papel = kPapel;

    const Iluminacion iluminacion(escena);

    Generador ruido{escena.semilla ^ 0xA11CEull};
    const auto amplitud = static_cast<std::uint64_t>(escena.ruido) + 1;

    for (int f = 0; f < alto; ++f) {
        for (int c = 0; c < ancho; ++c) {
            const double x = c;
            const double y = f;
            const double luz = iluminacion.en(x, y);

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
                        if (u >= 0.0 && u <= 1.0 && v >= 0.0 && v <= 1.0) {
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

            double canales[3] = {color.b * luz, color.g * luz, color.r * luz};
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
    const Pagina pagina = dibujarPagina(escena.semilla);
    const Iluminacion iluminacion(escena);

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
    ImagenBmp hoja;
    hoja.header = headerNuevo(kAncho, kAlto);
    PlanoBytes* planos[3] = {&hoja.plano0, &hoja.plano1, &hoja.plano2};
    for (PlanoBytes* p : planos) *p = PlanoBytes(kAncho, kAlto);
    for (int f = 0; f < kAlto; ++f) {
        for (int c = 0; c < kAncho; ++c) {
            const double u = cu[0] + cu[1] * c + cu[2] * f + cu[3] * c * f;
            const double v = cv[0] + cv[1] * c + cv[2] * f + cv[3] * c * f;
            // Where the photo shows this page point, for the light there.
            const double w = m.m[2][0] * u + m.m[2][1] * v + m.m[2][2];
            const double x = (m.m[0][0] * u + m.m[0][1] * v + m.m[0][2]) / w;
            const double y = (m.m[1][0] * u + m.m[1][1] * v + m.m[1][2]) / w;
            const double factor = reflejoEn(pagina, u, v) * iluminacion.en(x, y);
            const double canales[3] = {kPapel.b * factor, kPapel.g * factor, kPapel.r * factor};
            for (int k = 0; k < 3; ++k)
                (*planos[k])[f][c] = static_cast<std::uint8_t>(std::clamp(canales[k] + 0.5, 0.0, 255.0));
        }
    }
    return hoja;
}

}  // namespace escena
