// The desk: brown wooden boards with grain, fibres and blotches; a plain table; a woven or stone
// texture; black leather; or wood with things lying on it.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "escena_interno.hpp"

namespace escena::interno {

namespace {

// A tint with its departure from gray scaled by `saturacion` (1 keeps it as it is).
Color saturar(const Color& tinte, double saturacion) {
    if (saturacion == 1.0) return tinte;
    return {1.0 + saturacion * (tinte.b - 1.0), 1.0 + saturacion * (tinte.g - 1.0), 1.0 + saturacion * (tinte.r - 1.0)};
}

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

}  // namespace

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

namespace {

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

}  // namespace

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

}  // namespace escena::interno
