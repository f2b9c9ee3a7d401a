// The sheet's sides refitted on the full-resolution photo.
#include <algorithm>
#include <cmath>
#include <vector>

#include "deteccion/interno.hpp"

namespace {

// The colour of the photo at a point, bilinear; false outside the pixel centres.
bool colorEn(const ImagenBmp& foto, double x, double y, double rgb[3]) {
    const int w = foto.ancho(), h = foto.alto();
    if (!(x >= 0 && y >= 0 && x <= w - 1 && y <= h - 1)) return false;
    const int x0 = std::min(static_cast<int>(x), w - 2 < 0 ? 0 : w - 2);
    const int y0 = std::min(static_cast<int>(y), h - 2 < 0 ? 0 : h - 2);
    const int x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
    const double fx = x - x0, fy = y - y0;
    const PlanoBytes* planos[3] = {&foto.plano2, &foto.plano1, &foto.plano0};
    for (int p = 0; p < 3; ++p) {
        const PlanoBytes& q = *planos[p];
        const double arriba = q[y0][x0] + fx * (q[y0][x1] - q[y0][x0]);
        const double abajo = q[y1][x0] + fx * (q[y1][x1] - q[y1][x0]);
        rgb[p] = arriba + fy * (abajo - arriba);
    }
    return true;
}

double mediana(std::vector<double> v) {
    if (v.empty()) return 0.0;
    const auto medio = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), medio, v.end());
    return *medio;
}

struct Punto {
    double x, y;
};

// Total least squares over the points marked in `usar`.
bool ajustarRecta(const std::vector<Punto>& puntos, const std::vector<char>& usar, RectaNormal& recta) {
    double n = 0, mx = 0, my = 0;
    for (std::size_t i = 0; i < puntos.size(); ++i) {
        if (!usar[i]) continue;
        n += 1;
        mx += puntos[i].x;
        my += puntos[i].y;
    }
    if (n < 2) return false;
    mx /= n;
    my /= n;
    double cxx = 0, cyy = 0, cxy = 0;
    for (std::size_t i = 0; i < puntos.size(); ++i) {
        if (!usar[i]) continue;
        const double dx = puntos[i].x - mx, dy = puntos[i].y - my;
        cxx += dx * dx;
        cyy += dy * dy;
        cxy += dx * dy;
    }
    const double direccion = 0.5 * std::atan2(2 * cxy, cxx - cyy);
    recta.a = -std::sin(direccion);
    recta.b = std::cos(direccion);
    recta.c = recta.a * mx + recta.b * my;
    return true;
}

}  // namespace

namespace deteccion {

std::vector<PuntoDeLado> puntosDeLado(const ImagenBmp& foto, Esquina desde, Esquina hasta, Esquina interior,
                                      double radio) {
    comprobarPlanos(foto);
    std::vector<PuntoDeLado> puntos;
    const double largo = std::hypot(hasta.x - desde.x, hasta.y - desde.y);
    if (!(largo >= 8.0) || !(radio >= 1.0)) return puntos;
    const double dx = (hasta.x - desde.x) / largo, dy = (hasta.y - desde.y) / largo;
    double nx = dy, ny = -dx;
    const double mx = 0.5 * (desde.x + hasta.x), my = 0.5 * (desde.y + hasta.y);
    if (nx * (interior.x - mx) + ny * (interior.y - my) > 0) {
        nx = -nx;
        ny = -ny;
    }
    // Points along the side, away from the corners; the profile across the side at each.
    const int alcance = static_cast<int>(std::ceil(radio));
    const int cuantas = std::clamp(static_cast<int>(largo / 6), 12, 120);
    const int anchoPerfil = 2 * alcance + 1;
    const int tangente = 2;  // samples either side along the side, averaged
    std::vector<double> perfiles;  // cuantas x anchoPerfil x 3 colours
    std::vector<Punto> centros;
    std::vector<double> fracciones;
    std::vector<double> muestra(static_cast<std::size_t>(anchoPerfil) * 3);
    for (int i = 0; i < cuantas; ++i) {
        const double fraccion = 0.05 + 0.9 * (i + 0.5) / cuantas;
        const double s = largo * fraccion;
        const double px = desde.x + s * dx, py = desde.y + s * dy;
        bool completo = true;
        for (int k = -alcance; k <= alcance && completo; ++k) {
            double suma[3] = {0, 0, 0};
            for (int j = -tangente; j <= tangente && completo; ++j) {
                double rgb[3] = {0, 0, 0};
                completo = colorEn(foto, px + k * nx + j * dx, py + k * ny + j * dy, rgb);
                for (int p = 0; p < 3; ++p) suma[p] += rgb[p];
            }
            for (int p = 0; p < 3; ++p) muestra[static_cast<std::size_t>(k + alcance) * 3 + p] = suma[p];
        }
        if (!completo) continue;
        perfiles.insert(perfiles.end(), muestra.begin(), muestra.end());
        centros.push_back({px, py});
        fracciones.push_back(fraccion);
    }
    const int validas = static_cast<int>(centros.size());
    if (validas < 6) return puntos;

    // The colour direction that tells inside from outside best along this side.
    double peso[3] = {0, 0, 0};
    const int mitad = std::max(1, alcance / 2);
    for (int i = 0; i < validas; ++i) {
        const double* perfil = &perfiles[static_cast<std::size_t>(i) * anchoPerfil * 3];
        for (int k = 0; k < mitad; ++k)
            for (int p = 0; p < 3; ++p) peso[p] += perfil[k * 3 + p] - perfil[(anchoPerfil - 1 - k) * 3 + p];
    }
    const double norma = std::sqrt(peso[0] * peso[0] + peso[1] * peso[1] + peso[2] * peso[2]);
    if (norma < 1e-9) return puntos;
    for (double& p : peso) p /= norma;

    // At each point, the steepest fall of that projection going outward, to a fraction of a pixel.
    std::vector<double> proyeccion(static_cast<std::size_t>(anchoPerfil));
    for (int i = 0; i < validas; ++i) {
        const double* perfil = &perfiles[static_cast<std::size_t>(i) * anchoPerfil * 3];
        for (int k = 0; k < anchoPerfil; ++k)
            proyeccion[k] = peso[0] * perfil[k * 3] + peso[1] * perfil[k * 3 + 1] + peso[2] * perfil[k * 3 + 2];
        int mejor = -1;
        double caida = 0;
        for (int k = 1; k + 1 < anchoPerfil; ++k) {
            const double d = proyeccion[k - 1] - proyeccion[k + 1];
            if (d > caida) {
                caida = d;
                mejor = k;
            }
        }
        if (mejor < 2 || mejor > anchoPerfil - 3) continue;
        const double a = proyeccion[mejor - 2] - proyeccion[mejor];
        const double b = caida;
        const double c = proyeccion[mejor] - proyeccion[mejor + 2];
        const double denominador = a - 2 * b + c;
        double delta = denominador < 0 ? 0.5 * (a - c) / denominador : 0.0;
        delta = std::clamp(delta, -0.5, 0.5);
        const double desplazamiento = (mejor - alcance) + delta;
        puntos.push_back({centros[i].x + desplazamiento * nx, centros[i].y + desplazamiento * ny, fracciones[i], caida});
    }
    return puntos;
}

std::optional<RectaNormal> ajustarLado(const std::vector<PuntoDeLado>& todos, double desde, double hasta) {
    std::vector<Punto> puntos;
    std::vector<double> fuerzas;
    for (const PuntoDeLado& p : todos) {
        if (p.fraccion < desde || p.fraccion > hasta) continue;
        puntos.push_back({p.x, p.y});
        fuerzas.push_back(p.fuerza);
    }
    if (puntos.size() < 6) return std::nullopt;
    // Weak falls are texture or text, not the side.
    const double fuerzaTipica = mediana(fuerzas);
    std::vector<char> usar(puntos.size());
    for (std::size_t i = 0; i < puntos.size(); ++i) usar[i] = fuerzas[i] >= 0.35 * fuerzaTipica;

    RectaNormal recta;
    for (int vuelta = 0; vuelta < 3; ++vuelta) {
        if (!ajustarRecta(puntos, usar, recta)) return std::nullopt;
        std::vector<double> residuos;
        for (std::size_t i = 0; i < puntos.size(); ++i)
            if (usar[i]) residuos.push_back(std::fabs(recta.a * puntos[i].x + recta.b * puntos[i].y - recta.c));
        const double limite = std::max(1.0, 3.0 * 1.4826 * mediana(residuos));
        for (std::size_t i = 0; i < puntos.size(); ++i)
            usar[i] = fuerzas[i] >= 0.35 * fuerzaTipica &&
                      std::fabs(recta.a * puntos[i].x + recta.b * puntos[i].y - recta.c) <= limite;
    }
    // Most of the points must agree on the line.
    const auto usados = std::count(usar.begin(), usar.end(), 1);
    if (usados < std::max<std::ptrdiff_t>(6, static_cast<std::ptrdiff_t>(puntos.size() / 2))) return std::nullopt;
    if (!ajustarRecta(puntos, usar, recta)) return std::nullopt;
    return recta;
}

}  // namespace deteccion

std::optional<RectaNormal> refinarLado(const ImagenBmp& foto, Esquina desde, Esquina hasta, Esquina interior,
                                       double radio) {
    return deteccion::ajustarLado(deteccion::puntosDeLado(foto, desde, hasta, interior, radio), 0.0, 1.0);
}
