// The camera that places a sheet in the photo, the perspective map from the page square, and the
// arithmetic sine and cosine that every build agrees on.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "escena_interno.hpp"

namespace escena {

namespace interno {

std::optional<Homografia> homografiaDesdeCuadrado(const Cuadrilatero& e) {
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

bool esConvexo(const Cuadrilatero& e) {
    int positivos = 0;
    int negativos = 0;
    for (int i = 0; i < 4; ++i) {
        const Esquina& a = e[static_cast<std::size_t>(i)];
        const Esquina& b = e[static_cast<std::size_t>((i + 1) % 4)];
        const Esquina& c = e[static_cast<std::size_t>((i + 2) % 4)];
        if (!std::isfinite(a.x) || !std::isfinite(a.y)) return false;
        const double cruz = (b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x);
        if (cruz > 0.0) ++positivos;
        else if (cruz < 0.0) ++negativos;
    }
    return positivos == 4 || negativos == 4;
}

double distanciaAlCuadrilatero(const Cuadrilatero& e, Punto p) {
    double minimo = -1.0;
    int positivos = 0;
    int negativos = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const Esquina& a = e[i];
        const Esquina& b = e[(i + 1) % 4];
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

}  // namespace interno

namespace {

constexpr double kPi = 3.14159265358979323846;

}  // namespace

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

Cuadrilatero esquinasDeCamara(const Camara& camara) {
    const double alto = camara.altoHoja;
    const double ancho = alto * camara.proporcion;
    const Cuadrilatero pagina{{{-ancho / 2, -alto / 2},
                                       {ancho / 2, -alto / 2},
                                       {ancho / 2, alto / 2},
                                       {-ancho / 2, alto / 2}}};
    const double ci = cosenoGrados(camara.inclinacion), si = senoGrados(camara.inclinacion);
    const double cl = cosenoGrados(camara.ladeo), sl = senoGrados(camara.ladeo);
    const double cg = cosenoGrados(camara.giro), sg = senoGrados(camara.giro);
    const double d = camara.distancia * alto;

    Cuadrilatero r{};
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

Cuadrilatero esquinasDeImagen(int ancho, int alto) {
    const double x = ancho - 1.0;
    const double y = alto - 1.0;
    return {{{0.0, 0.0}, {x, 0.0}, {x, y}, {0.0, y}}};
}

}  // namespace escena
