#include "pagina/forma.hpp"

#include <cmath>
#include <utility>

namespace {

struct Vector3 {
    double x, y, z;
};

Vector3 cruz(const Vector3& p, const Vector3& q) {
    return {p.y * q.z - p.z * q.y, p.z * q.x - p.x * q.z, p.x * q.y - p.y * q.x};
}
double punto(const Vector3& p, const Vector3& q) { return p.x * q.x + p.y * q.y + p.z * q.z; }

// Convex, in either turning direction, with no three corners on a line.
bool esConvexo(const std::array<Esquina, 4>& e) {
    int positivos = 0, negativos = 0;
    for (int i = 0; i < 4; ++i) {
        const Esquina& p = e[i];
        const Esquina& q = e[(i + 1) % 4];
        const Esquina& r = e[(i + 2) % 4];
        const double giro = (q.x - p.x) * (r.y - q.y) - (q.y - p.y) * (r.x - q.x);
        if (giro > 0) ++positivos;
        if (giro < 0) ++negativos;
    }
    return positivos == 4 || negativos == 4;
}

// Solves the 4 x 4 system m z = v by elimination with partial pivoting.
std::optional<std::array<double, 4>> resolver4(std::array<std::array<double, 5>, 4> m) {
    for (int col = 0; col < 4; ++col) {
        int mejor = col;
        for (int r = col + 1; r < 4; ++r)
            if (std::abs(m[r][col]) > std::abs(m[mejor][col])) mejor = r;
        if (!(std::abs(m[mejor][col]) > 1e-12)) return std::nullopt;
        std::swap(m[col], m[mejor]);
        for (int r = 0; r < 4; ++r) {
            if (r == col) continue;
            const double k = m[r][col] / m[col][col];
            for (int c = col; c < 5; ++c) m[r][c] -= k * m[col][c];
        }
    }
    std::array<double, 4> z{};
    for (int r = 0; r < 4; ++r) z[r] = m[r][4] / m[r][r];
    return z;
}

}  // namespace

std::optional<Homografia> homografiaDePagina(const std::array<Esquina, 4>& esquinas, int ancho, int alto) {
    if (ancho < 1 || alto < 1 || !esConvexo(esquinas)) return std::nullopt;
    // The unit square's corners (0,0), (1,0), (1,1), (0,1) to slots 0 .. 3.
    const double x0 = esquinas[0].x, y0 = esquinas[0].y, x1 = esquinas[1].x, y1 = esquinas[1].y;
    const double x2 = esquinas[2].x, y2 = esquinas[2].y, x3 = esquinas[3].x, y3 = esquinas[3].y;
    const double dx1 = x1 - x2, dx2 = x3 - x2, dx3 = x0 - x1 + x2 - x3;
    const double dy1 = y1 - y2, dy2 = y3 - y2, dy3 = y0 - y1 + y2 - y3;
    const double den = dx1 * dy2 - dx2 * dy1;
    if (!(std::abs(den) > 0)) return std::nullopt;
    const double g = (dx3 * dy2 - dx2 * dy3) / den;
    const double h = (dx1 * dy3 - dx3 * dy1) / den;
    const double a = x1 - x0 + g * x1, b = x3 - x0 + h * x3, c = x0;
    const double d = y1 - y0 + g * y1, e = y3 - y0 + h * y3, f = y0;
    // Then the output pixel (X, Y) to the square: u = (X + 0.5) / ancho, v = (Y + 0.5) / alto.
    const double su = 1.0 / ancho, sv = 1.0 / alto, tu = 0.5 / ancho, tv = 0.5 / alto;
    Homografia m;
    const double w0 = g * tu + h * tv + 1;
    m.a = a * su / w0;
    m.b = b * sv / w0;
    m.c = (a * tu + b * tv + c) / w0;
    m.d = d * su / w0;
    m.e = e * sv / w0;
    m.f = (d * tu + e * tv + f) / w0;
    m.g = g * su / w0;
    m.h = h * sv / w0;
    if (!std::isfinite(m.a + m.b + m.c + m.d + m.e + m.f + m.g + m.h)) return std::nullopt;
    return m;
}

std::optional<Bilineal> bilinealDePagina(const std::array<Esquina, 4>& esquinas, int ancho, int alto) {
    const double X[4] = {1.0, ancho - 2.0, ancho - 2.0, 0.0};
    const double Y[4] = {1.0, 1.0, alto - 3.0, alto - 3.0};
    std::array<std::array<double, 5>, 4> mx{}, my{};
    for (int n = 0; n < 4; ++n) {
        mx[n] = {1, X[n], Y[n], X[n] * Y[n], esquinas[n].x};
        my[n] = {1, X[n], Y[n], X[n] * Y[n], esquinas[n].y};
    }
    const auto sx = resolver4(mx);
    const auto sy = resolver4(my);
    if (!sx || !sy) return std::nullopt;
    return Bilineal{(*sx)[0], (*sx)[1], (*sx)[2], (*sx)[3], (*sy)[0], (*sy)[1], (*sy)[2], (*sy)[3]};
}

double focalEnPixeles(double focal35mm, int ancho, int alto) {
    // The 35 mm frame's diagonal, 43.27 mm, spans the photo's diagonal.
    return focal35mm * std::hypot(ancho, alto) / std::hypot(36.0, 24.0);
}

std::optional<Proporcion> medirProporcion(const std::array<Esquina, 4>& esquinas, const Esquina& principal,
                                         std::optional<double> focalConocida, double focalPorOmision) {
    if (!esConvexo(esquinas)) return std::nullopt;
    const double cx = principal.x, cy = principal.y;
    if (!std::isfinite(cx) || !std::isfinite(cy)) return std::nullopt;
    // The rectangle's corners (0,0), (w,0), (0,h), (w,h) are slots 0, 1, 3, 2; in pixels around the
    // principal point, scaled by the quadrilateral's size so that the numbers stay near 1.
    double escala = 0;
    for (const Esquina& q : esquinas) escala = std::max(escala, std::hypot(q.x - cx, q.y - cy));
    if (!(escala > 0)) return std::nullopt;
    const auto vector = [&](const Esquina& q) { return Vector3{(q.x - cx) / escala, (q.y - cy) / escala, 1}; };
    const Vector3 m1 = vector(esquinas[0]), m2 = vector(esquinas[1]), m3 = vector(esquinas[3]), m4 = vector(esquinas[2]);
    const double k2 = punto(cruz(m1, m4), m3) / punto(cruz(m2, m4), m3);
    const double k3 = punto(cruz(m1, m4), m2) / punto(cruz(m3, m4), m2);
    if (!std::isfinite(k2) || !std::isfinite(k3)) return std::nullopt;
    // The sides' directions in space, up to the focal length: n = (n.x, n.y, f n.z).
    const Vector3 n2{k2 * m2.x - m1.x, k2 * m2.y - m1.y, k2 - 1};
    const Vector3 n3{k3 * m3.x - m1.x, k3 * m3.y - m1.y, k3 - 1};

    Proporcion r;
    double f = 0;  // in units of `escala`
    if (focalConocida && *focalConocida > 0) {
        f = *focalConocida / escala;
    } else {
        // Square sides: n2 . n3 = 0 gives f. It is told only when both pairs of sides converge
        // (each vanishing point within some fifty sheet sizes) and comes out plausible.
        const double f2 = -(n2.x * n3.x + n2.y * n3.y) / (n2.z * n3.z);
        const bool convergen = std::abs(n2.z) > 0.02 && std::abs(n3.z) > 0.02;
        if (convergen && std::isfinite(f2) && f2 > 0.09 && f2 < 400.0) {
            f = std::sqrt(f2);
            r.focalMedida = true;
        } else {
            f = focalPorOmision / escala;
        }
    }
    const double ancho2 = n2.x * n2.x + n2.y * n2.y + f * f * n2.z * n2.z;
    const double alto2 = n3.x * n3.x + n3.y * n3.y + f * f * n3.z * n3.z;
    if (!(ancho2 > 0) || !(alto2 > 0)) return std::nullopt;
    r.valor = std::sqrt(ancho2 / alto2);
    r.focal = f * escala;
    if (!std::isfinite(r.valor)) return std::nullopt;
    return r;
}
