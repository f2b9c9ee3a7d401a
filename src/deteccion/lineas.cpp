// Lines of the working image: the Hough search among its edges, each line refitted to its edge
// pixels, the edges' coverage along a line, and where two lines meet.
#include <algorithm>
#include <cmath>
#include <vector>

#include "deteccion/interno.hpp"
#include "imagen/paralelo.hpp"

namespace deteccion {

namespace {

// Hough: one-degree by one-pixel cells; every edge pixel votes within kAbanico degrees of its own
// direction.
constexpr int kAngulos = 180;
constexpr int kAbanico = 2;
constexpr int kMaxLineas = 40;

// An edge pixel belongs to a line when it lies within these pixels of it and its direction is
// within kToleranciaAngulo degrees of the line's normal.
constexpr double kToleranciaAngulo = 14.0;
constexpr int kAnchoAjuste = 2;
// A line's coverage counts edge pixels this near it (a real sheet is seldom quite flat).
constexpr int kAnchoCobertura = 2;

// The parameter span of the line that lies inside [0, w-1] x [0, h-1]; false when none.
bool tramoDentro(const RectaNormal& recta, int w, int h, double& tmin, double& tmax) {
    // Point at t: (a c - b t, b c + a t).
    const double nx = recta.a, ny = recta.b, c = recta.c;
    tmin = -1e18;
    tmax = 1e18;
    const double px = nx * c, py = ny * c;
    const double dx = -ny, dy = nx;
    auto recortar = [&](double p, double d, double lo, double hi) {
        if (std::fabs(d) < 1e-12) return p >= lo && p <= hi;
        double a = (lo - p) / d, b = (hi - p) / d;
        if (a > b) std::swap(a, b);
        tmin = std::max(tmin, a);
        tmax = std::min(tmax, b);
        return true;
    };
    if (!recortar(px, dx, 0.0, w - 1.0) || !recortar(py, dy, 0.0, h - 1.0)) return false;
    return tmax > tmin;
}

bool esBorde(const Rasgos& r, int x, int y, double angulo) {
    if (x < 0 || y < 0 || x >= r.ancho || y >= r.alto) return false;
    if (!r.borde[y][x]) return false;
    return diferenciaAngular(r.angulo[y][x], angulo) <= kToleranciaAngulo;
}

// Refits the line to the edge pixels near it (least squares across the line); false when too few.
bool reajustar(const Rasgos& r, LineaDeBordes& l) {
    double tmin, tmax;
    if (!tramoDentro(l.recta, r.ancho, r.alto, tmin, tmax)) return false;
    double sw = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    for (double t = std::ceil(tmin); t <= tmax; t += 1.0) {
        const double px = l.recta.a * l.recta.c - l.recta.b * t, py = l.recta.b * l.recta.c + l.recta.a * t;
        for (int k = -kAnchoAjuste; k <= kAnchoAjuste; ++k) {
            const int x = static_cast<int>(redondear(px + k * l.recta.a));
            const int y = static_cast<int>(redondear(py + k * l.recta.b));
            if (!esBorde(r, x, y, l.angulo)) continue;
            sw += 1;
            sx += x;
            sy += y;
            sxx += double(x) * x;
            syy += double(y) * y;
            sxy += double(x) * y;
        }
    }
    if (sw < 8) return false;
    const double mx = sx / sw, my = sy / sw;
    const double cxx = sxx / sw - mx * mx, cyy = syy / sw - my * my, cxy = sxy / sw - mx * my;
    // The normal is the eigenvector of the smaller eigenvalue of the scatter matrix.
    const double direccion = 0.5 * std::atan2(2 * cxy, cxx - cyy);  // along the line
    double nx = -std::sin(direccion), ny = std::cos(direccion);
    if (nx * l.recta.a + ny * l.recta.b < 0) {
        nx = -nx;
        ny = -ny;
    }
    // Keep a small refit only: a big turn means the pixels belong to something else.
    if (nx * l.recta.a + ny * l.recta.b < std::cos(4.0 * kGrados)) return true;
    l.recta.a = nx;
    l.recta.b = ny;
    l.recta.c = nx * mx + ny * my;
    double a = std::atan2(ny, nx) / kGrados;
    if (a < 0) a += 180.0;
    if (a >= 180.0) a -= 180.0;
    l.angulo = a;
    return true;
}

void perfilar(const Rasgos& r, LineaDeBordes& l) {
    double tmin, tmax;
    l.acumulado.assign(1, 0);
    l.t0 = 0;
    if (!tramoDentro(l.recta, r.ancho, r.alto, tmin, tmax)) return;
    l.t0 = std::ceil(tmin);
    const int pasos = static_cast<int>(std::floor(tmax) - l.t0) + 1;
    l.acumulado.assign(static_cast<std::size_t>(std::max(pasos, 0)) + 1, 0);
    for (int i = 0; i < pasos; ++i) {
        const double t = l.t0 + i;
        const double px = l.recta.a * l.recta.c - l.recta.b * t, py = l.recta.b * l.recta.c + l.recta.a * t;
        bool acierto = false;
        for (int k = -kAnchoCobertura; k <= kAnchoCobertura && !acierto; ++k) {
            acierto = esBorde(r, static_cast<int>(redondear(px + k * l.recta.a)),
                              static_cast<int>(redondear(py + k * l.recta.b)), l.angulo);
        }
        l.acumulado[i + 1] = l.acumulado[i] + (acierto ? 1 : 0);
    }
}

}  // namespace

std::vector<LineaDeBordes> buscarLineas(const Rasgos& r) {
    const int w = r.ancho, h = r.alto;
    const double cx = 0.5 * (w - 1), cy = 0.5 * (h - 1);
    const int radio = static_cast<int>(std::ceil(0.5 * std::hypot(w, h))) + 2;
    const int filas = 2 * radio + 1;
    std::vector<double> coseno(kAngulos), seno(kAngulos);
    for (int a = 0; a < kAngulos; ++a) {
        coseno[a] = std::cos(a * kGrados);
        seno[a] = std::sin(a * kGrados);
    }
    // Accumulator: row = angle, column = distance + radio (centred frame). A large image's two
    // halves vote at once, each in its own; the counts are whole numbers, added exactly.
    const std::size_t celdas = static_cast<std::size_t>(kAngulos) * filas;
    std::vector<float> votos(celdas, 0.0f), votosAbajo;
    const auto votar = [&](int desde, int hasta) {
        std::vector<float>& v = desde == 0 ? votos : votosAbajo;
        if (desde > 0) v.assign(celdas, 0.0f);
        for (int y = desde; y < hasta; ++y) {
            for (int x = 0; x < w; ++x) {
                if (!r.borde[y][x]) continue;
                const int a0 = static_cast<int>(redondear(r.angulo[y][x]));
                for (int da = -kAbanico; da <= kAbanico; ++da) {
                    int a = a0 + da;
                    a = ((a % kAngulos) + kAngulos) % kAngulos;
                    const double rho = (x - cx) * coseno[a] + (y - cy) * seno[a];
                    const int fila = static_cast<int>(redondear(rho)) + radio;
                    v[static_cast<std::size_t>(a) * filas + fila] += 1.0f;
                }
            }
        }
    };
    enDosMitadesSiVale(static_cast<long long>(w) * h >= kPixelesTrabajoEnDos, h, votar);
    for (std::size_t i = 0; i < votosAbajo.size(); ++i) votos[i] += votosAbajo[i];
    // A light smoothing along the distance (the edge pixels of a line fall across two cells).
    std::vector<float> suave(votos.size(), 0.0f);
    for (int a = 0; a < kAngulos; ++a) {
        const float* v = &votos[static_cast<std::size_t>(a) * filas];
        float* s = &suave[static_cast<std::size_t>(a) * filas];
        for (int i = 1; i + 1 < filas; ++i) s[i] = 0.25f * v[i - 1] + 0.5f * v[i] + 0.25f * v[i + 1];
    }
    auto celda = [&](int a, int i) -> float {
        // Angles wrap with the distance reversed.
        if (a < 0) {
            a += kAngulos;
            i = filas - 1 - i;
        } else if (a >= kAngulos) {
            a -= kAngulos;
            i = filas - 1 - i;
        }
        if (i < 0 || i >= filas) return 0.0f;
        return suave[static_cast<std::size_t>(a) * filas + i];
    };
    const float minimo = static_cast<float>(std::max(10.0, 0.03 * std::min(w, h)));
    struct Pico {
        float votos;
        int a, i;
    };
    std::vector<Pico> picos;
    for (int a = 0; a < kAngulos; ++a) {
        for (int i = 1; i + 1 < filas; ++i) {
            const float v = suave[static_cast<std::size_t>(a) * filas + i];
            if (v < minimo) continue;
            bool maximo = true;
            for (int da = -3; da <= 3 && maximo; ++da) {
                for (int di = -4; di <= 4; ++di) {
                    if (da == 0 && di == 0) continue;
                    const float u = celda(a + da, i + di);
                    // Ties go to the first cell in scan order.
                    if (u > v || (u == v && (da < 0 || (da == 0 && di < 0)))) {
                        maximo = false;
                        break;
                    }
                }
            }
            if (maximo) picos.push_back({v, a, i});
        }
    }
    std::sort(picos.begin(), picos.end(), [](const Pico& p, const Pico& q) {
        if (p.votos != q.votos) return p.votos > q.votos;
        return p.a != q.a ? p.a < q.a : p.i < q.i;
    });
    if (picos.size() > 3 * kMaxLineas) picos.resize(3 * kMaxLineas);

    std::vector<LineaDeBordes> lineas;
    for (const Pico& p : picos) {
        LineaDeBordes l;
        l.angulo = p.a;
        l.recta.a = coseno[p.a];
        l.recta.b = seno[p.a];
        l.recta.c = (p.i - radio) + l.recta.a * cx + l.recta.b * cy;
        l.votos = p.votos;
        if (!reajustar(r, l)) continue;
        reajustar(r, l);
        // The same line twice (two peaks of one side): keep the stronger.
        bool repetida = false;
        for (const LineaDeBordes& q : lineas) {
            if (diferenciaAngular(q.angulo, l.angulo) > 3.0) continue;
            // Distance between the lines at the image centre.
            const double dq = q.recta.a * cx + q.recta.b * cy - q.recta.c;
            double dl = l.recta.a * cx + l.recta.b * cy - l.recta.c;
            if (q.recta.a * l.recta.a + q.recta.b * l.recta.b < 0) dl = -dl;
            if (std::fabs(dq - dl) < 3.0) {
                repetida = true;
                break;
            }
        }
        if (repetida) continue;
        perfilar(r, l);
        lineas.push_back(std::move(l));
        if (static_cast<int>(lineas.size()) >= kMaxLineas) break;
    }
    return lineas;
}

double parametroDe(const LineaDeBordes& l, double x, double y) { return -l.recta.b * x + l.recta.a * y; }

Cobertura coberturaEntre(const LineaDeBordes& l, double ta, double tb) {
    COMPROBAR_MAYOR_IGUAL(l.acumulado.size(), std::size_t{1});
    if (ta > tb) std::swap(ta, tb);
    const int pasos = static_cast<int>(l.acumulado.size()) - 1;
    const int ia = std::clamp(static_cast<int>(std::ceil(ta - l.t0)), 0, pasos);
    const int ib = std::clamp(static_cast<int>(std::floor(tb - l.t0)) + 1, 0, pasos);
    Cobertura c;
    if (ib <= ia) return c;
    c.aciertos = l.acumulado[ib] - l.acumulado[ia];
    c.dentro = ib - ia;
    return c;
}

Cobertura coberturaDeSegmento(const Rasgos& r, const Esquina& a, const Esquina& b) {
    const double largo = std::hypot(b.x - a.x, b.y - a.y);
    if (!(largo > 0)) return {};
    LineaDeBordes l;
    l.recta = rectaPor(a, b);
    l.angulo = std::atan2(l.recta.b, l.recta.a) / kGrados;
    if (l.angulo < 0) l.angulo += 180.0;
    if (l.angulo >= 180.0) l.angulo -= 180.0;
    perfilar(r, l);
    double ta = parametroDe(l, a.x, a.y), tb = parametroDe(l, b.x, b.y);
    if (ta > tb) std::swap(ta, tb);
    return coberturaEntre(l, ta + 2.0, tb - 2.0);
}

RectaNormal rectaPor(const Esquina& a, const Esquina& b) {
    const double largo = std::hypot(b.x - a.x, b.y - a.y);
    RectaNormal r;
    r.a = -(b.y - a.y) / largo;
    r.b = (b.x - a.x) / largo;
    r.c = r.a * a.x + r.b * a.y;
    return r;
}

bool intersectar(const RectaNormal& p, const RectaNormal& q, Esquina& punto) {
    const double det = p.a * q.b - p.b * q.a;
    if (std::fabs(det) < 1e-9) return false;
    punto.x = (p.c * q.b - p.b * q.c) / det;
    punto.y = (p.a * q.c - p.c * q.a) / det;
    return true;
}

}  // namespace deteccion
