// Scene sets: varied scenes of one kind, with their labels, for detector and rectifier tests.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "escena_interno.hpp"

namespace escena {

using namespace interno;

namespace {

const std::vector<std::string> kTipos = {"oscuro",   "claro",       "bajo-contraste", "textura",
                                         "desorden", "sombra",      "giro",           "perspectiva",
                                         "fuera",    "apaisada",    "a4",             "sin-hoja",
                                         "sombra-dura", "objetos-oscuros"};

double areaDe(const Cuadrilatero& e) {
    double area = 0.0;
    for (std::size_t i = 0; i < 4; ++i) area += e[i].x * e[(i + 1) % 4].y - e[(i + 1) % 4].x * e[i].y;
    return std::abs(0.5 * area);
}

// How far outside the photo a point is, as fractions of the photo's width and height (0 inside).
double fueraX(const Esquina& p, int ancho) { return std::max({-p.x, p.x - (ancho - 1.0), 0.0}) / ancho; }
double fueraY(const Esquina& p, int alto) { return std::max({-p.y, p.y - (alto - 1.0), 0.0}) / alto; }

int contarFuera(const Cuadrilatero& e, int ancho, int alto) {
    int n = 0;
    for (const Esquina& p : e) n += fueraX(p, ancho) > 0.0 || fueraY(p, alto) > 0.0;
    return n;
}

// The share of the segment from a to b that lies inside the photo (0 .. 1).
double parteDentro(const Esquina& a, const Esquina& b, int ancho, int alto) {
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
double ladoMenosVisible(const Cuadrilatero& e, int ancho, int alto) {
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
    double giroBase = 0.0;          // the turn's middle (180 = upside down, 90 or -90 = sideways)
    double giro = 15.0;             // |turn| up to, either way of giroBase
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
                 Cuadrilatero& esquinas) {
    const double lado = std::min(ancho, alto);
    const double margen = 0.02 * lado;
    const double areaFoto = static_cast<double>(ancho) * alto;
    for (int intento = 0; intento < 400; ++intento) {
        Camara c;
        c.rigida = true;
        c.proporcion = papel.ancho / papel.alto;
        c.giro = rangos.giroAmplio ? gen.real(0.0, 90.0) * (gen.si(0.5) ? 1.0 : -1.0) : gen.real(-rangos.giro, rangos.giro);
        if (rangos.giroBase != 0.0) c.giro += rangos.giroBase;
        const double inclinacion = gen.real(rangos.inclinacionMin, rangos.inclinacionMax);
        const double rumbo = gen.real(0.0, 360.0);
        c.inclinacion = inclinacion * cosenoGrados(rumbo);
        c.ladeo = inclinacion * senoGrados(rumbo);
        c.distancia = gen.real(rangos.distanciaMin, rangos.distanciaMax);
        const double cobertura = gen.real(rangos.coberturaMin, rangos.coberturaMax);
        c.altoHoja = std::sqrt(cobertura * areaFoto / c.proporcion);
        c.centro = {0.0, 0.0};
        const Cuadrilatero relativas = esquinasDeCamara(c);
        if (!esConvexo(relativas)) continue;
        const double real = areaDe(relativas) / areaFoto;
        if (real < rangos.coberturaMin || real > rangos.coberturaMax) continue;
        double xMin = relativas[0].x, xMax = xMin, yMin = relativas[0].y, yMax = yMin;
        for (const Esquina& p : relativas) {
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
        const Cuadrilatero e = esquinasDeCamara(c);
        if (!esConvexo(e)) continue;
        if (rangos.fuera > 0) {
            const int n = contarFuera(e, ancho, alto);
            if (n < 1 || n > 2) continue;
            bool lejos = false;
            for (const Esquina& p : e) lejos = lejos || fueraX(p, ancho) > 0.1 || fueraY(p, alto) > 0.1;
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
    } else if (tipo == "texto") {
        // A page of prose photographed with a phone: 8 or 12 megapixels, mostly portrait; tilted
        // up to 40 degrees; mostly upright, else upside down, sideways or at any angle.
        const bool doce = gen.si(0.5);
        const int largo = doce ? 4032 : 3264, corto = doce ? 3024 : 2448;
        const bool vertical = gen.si(0.7);
        e.ancho = vertical ? corto : largo;
        e.alto = vertical ? largo : corto;
        escritorioComun(gen, e);
        e.gradiente = gen.real(0.05, 0.25);
        e.puntosProsa = gen.real(10.0, 12.0);
        papel = gen.si(0.7) ? kCarta : kA4;
        const double giro = gen.real(0.0, 1.0);
        rangos.giro = 12.0;
        rangos.giroBase = giro < 0.45 ? 0.0 : giro < 0.6 ? 180.0 : giro < 0.75 ? 90.0 : giro < 0.9 ? -90.0 : 0.0;
        if (giro >= 0.9) rangos.giro = 180.0;
        rangos.inclinacionMax = 40.0;
        rangos.distanciaMin = 1.6;
        rangos.coberturaMin = 0.35;
        rangos.coberturaMax = 0.7;
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
        for (const Esquina& p : e.esquinas) centro = {centro.x + 0.25 * p.x, centro.y + 0.25 * p.y};
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
        for (const Esquina& p : e.esquinas) centro = {centro.x + 0.25 * p.x, centro.y + 0.25 * p.y};
        const double corrimiento = gen.real(0.0, 0.25) * std::sqrt(areaDe(e.esquinas));
        s.punto = {centro.x + cosenoGrados(s.direccion) * corrimiento, centro.y + senoGrados(s.direccion) * corrimiento};
    }
    return r;
}

}  // namespace

const std::vector<std::string>& tiposDeEscena() { return kTipos; }

const std::vector<std::string>& tiposAparte() {
    static const std::vector<std::string> aparte = {"lado-fuera", "texto"};
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
