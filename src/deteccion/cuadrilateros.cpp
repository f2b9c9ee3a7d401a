// Quadrilaterals from the lines of the working image, and how sheet-like their inside is.
#include <algorithm>
#include <cmath>

#include "deteccion/interno.hpp"

namespace deteccion {

namespace {

// Shape: opposite sides within kMaxAbiertos degrees of each other, adjacent ones at least
// kMinCruce apart; interior angles between kAnguloMinimo and 180 - kAnguloMinimo; area at least
// kAreaMinima of the photo; corners at most kMargen of the photo's side outside it. A sheet
// photographed to be scanned takes a sizeable share of the photo (a letter sheet at 5 % is under a
// quarter of the photo's width, its page a fifth of the photo's sharpness); smaller quadrilaterals
// are keys, phones, cards, labels and blocks of text.
constexpr double kMaxAbiertos = 50.0;
constexpr double kMinCruce = 30.0;
constexpr double kAnguloMinimo = 30.0;
constexpr double kAreaMinima = 0.05;
constexpr double kAreaMaxima = 1.6;
constexpr double kMargen = 0.22;
// Support: each side's part inside the photo is at least this share of it, and its edges cover at
// least kCoberturaMinima of that part.
constexpr double kDentroMinimo = 0.25;
constexpr double kCoberturaMinima = 0.35;

double cruz(const Esquina& o, const Esquina& a, const Esquina& b) {
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

double mediana(std::vector<double>& v) {
    if (v.empty()) return 0.0;
    const auto medio = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), medio, v.end());
    return *medio;
}

float muestra(const PlanoFloat& p, double x, double y) {
    const int xi = std::clamp(static_cast<int>(redondear(x)), 0, p.ancho - 1);
    const int yi = std::clamp(static_cast<int>(redondear(y)), 0, p.alto - 1);
    return p[yi][xi];
}

// Corners within the margin, convex in either turning direction, a plausible area and plausible
// angles; `area` is the quadrilateral's.
bool formaPlausible(const Cuadrilatero& esquinas, double w, double h, double& area) {
    for (const Esquina& e : esquinas)
        if (e.x < -kMargen * w || e.x > (w - 1) + kMargen * w || e.y < -kMargen * h || e.y > (h - 1) + kMargen * h)
            return false;
    double signo = 0;
    for (int s = 0; s < 4; ++s) {
        const double z = cruz(esquinas[s], esquinas[(s + 1) % 4], esquinas[(s + 2) % 4]);
        if (signo == 0) signo = z > 0 ? 1 : -1;
        if (z * signo <= 0) return false;
    }
    area = 0;
    for (int s = 0; s < 4; ++s) {
        const Esquina& a = esquinas[s];
        const Esquina& b = esquinas[(s + 1) % 4];
        area += a.x * b.y - a.y * b.x;
    }
    area = 0.5 * std::fabs(area);
    if (area < kAreaMinima * w * h || area > kAreaMaxima * w * h) return false;
    for (int s = 0; s < 4; ++s) {
        const Esquina& o = esquinas[s];
        const Esquina& a = esquinas[(s + 3) % 4];
        const Esquina& b = esquinas[(s + 1) % 4];
        const double ux = a.x - o.x, uy = a.y - o.y, vx = b.x - o.x, vy = b.y - o.y;
        const double coseno = (ux * vx + uy * vy) / (std::hypot(ux, uy) * std::hypot(vx, vy));
        const double angulo = std::acos(std::clamp(coseno, -1.0, 1.0)) / kGrados;
        if (angulo < kAnguloMinimo || angulo > 180.0 - kAnguloMinimo) return false;
    }
    return true;
}

}  // namespace

std::vector<Candidato> buscarCandidatos(const Rasgos& r, const std::vector<LineaDeBordes>& lineas, int cuantos) {
    COMPROBAR_MAYOR_IGUAL(cuantos, 0);
    const int n = static_cast<int>(lineas.size());
    const double w = r.ancho, h = r.alto;
    const double diagonal = std::hypot(w, h);
    // Pairs of roughly opposite lines.
    std::vector<std::array<int, 2>> pares;
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            if (diferenciaAngular(lineas[i].angulo, lineas[j].angulo) <= kMaxAbiertos) pares.push_back({i, j});

    std::vector<Candidato> candidatos;
    for (std::size_t p = 0; p < pares.size(); ++p) {
        for (std::size_t q = p + 1; q < pares.size(); ++q) {
            const auto [i, j] = pares[p];
            const auto [k, l] = pares[q];
            if (k == i || k == j || l == i || l == j) continue;
            bool cruzan = true;
            for (int a : {i, j})
                for (int b : {k, l})
                    if (diferenciaAngular(lineas[a].angulo, lineas[b].angulo) < kMinCruce) cruzan = false;
            if (!cruzan) continue;
            Candidato c;
            c.lineas = {i, k, j, l};
            bool bien = true;
            for (int s = 0; s < 4 && bien; ++s)
                bien = intersectar(lineas[c.lineas[s]].recta, lineas[c.lineas[(s + 1) % 4]].recta, c.esquinas[s]);
            if (!bien) continue;
            double area = 0;
            if (!formaPlausible(c.esquinas, w, h, area)) continue;
            // Support along every side: side s lies on line lineas[s], between corners s - 1 and s.
            double soportado = 0, minima = 1;
            for (int s = 0; s < 4 && bien; ++s) {
                const LineaDeBordes& linea = lineas[c.lineas[s]];
                const Esquina& a = c.esquinas[(s + 3) % 4];
                const Esquina& b = c.esquinas[s];
                const double largo = std::hypot(b.x - a.x, b.y - a.y);
                if (largo < 0.05 * diagonal) {
                    bien = false;
                    break;
                }
                double ta = parametroDe(linea, a.x, a.y), tb = parametroDe(linea, b.x, b.y);
                if (ta > tb) std::swap(ta, tb);
                // The corners themselves are rounded by the smoothing.
                const Cobertura cob = coberturaEntre(linea, ta + 2.0, tb - 2.0);
                if (cob.dentro < std::max(10.0, kDentroMinimo * largo)) {
                    bien = false;
                    break;
                }
                const double fraccion = cob.aciertos / cob.dentro;
                c.cobertura[s] = fraccion;
                minima = std::min(minima, fraccion);
                soportado += cob.aciertos;
            }
            if (!bien || minima < kCoberturaMinima) continue;
            c.area = area;
            // Supported length, discounted by the worst side and the mean: a quadrilateral that
            // runs past the sheet's corners pays for the bare stretches.
            const double media = (c.cobertura[0] + c.cobertura[1] + c.cobertura[2] + c.cobertura[3]) / 4;
            c.puntaje = soportado * minima * media;
            candidatos.push_back(c);
        }
    }
    std::sort(candidatos.begin(), candidatos.end(),
              [](const Candidato& a, const Candidato& b) { return a.puntaje > b.puntaje; });
    if (static_cast<int>(candidatos.size()) > cuantos) candidatos.resize(cuantos);
    return candidatos;
}

std::optional<Candidato> candidatoDeEsquinas(const Rasgos& r, const Cuadrilatero& esquinas) {
    const double w = r.ancho, h = r.alto;
    Candidato c;
    c.lineas = {-1, -1, -1, -1};
    c.esquinas = esquinas;
    double area = 0;
    if (!formaPlausible(c.esquinas, w, h, area)) return std::nullopt;
    double soportado = 0, minima = 1;
    for (int s = 0; s < 4; ++s) {
        const Esquina& a = c.esquinas[(s + 3) % 4];
        const Esquina& b = c.esquinas[s];
        const double largo = std::hypot(b.x - a.x, b.y - a.y);
        if (largo < 0.05 * std::hypot(w, h)) return std::nullopt;
        const Cobertura cob = coberturaDeSegmento(r, a, b);
        if (cob.dentro < std::max(10.0, kDentroMinimo * largo)) return std::nullopt;
        c.cobertura[s] = cob.aciertos / cob.dentro;
        minima = std::min(minima, c.cobertura[s]);
        soportado += cob.aciertos;
    }
    if (minima < kCoberturaMinima) return std::nullopt;
    c.area = area;
    const double media = (c.cobertura[0] + c.cobertura[1] + c.cobertura[2] + c.cobertura[3]) / 4;
    c.puntaje = soportado * minima * media;
    return c;
}

Region evaluarRegion(const Rasgos& r, const Cuadrilatero& e) {
    Region region;
    std::vector<double> luz, c1, c2;
    const int lado = 12;
    for (int i = 0; i < lado; ++i) {
        for (int j = 0; j < lado; ++j) {
            const double u = 0.08 + 0.84 * i / (lado - 1), v = 0.08 + 0.84 * j / (lado - 1);
            const double x = (1 - u) * (1 - v) * e[0].x + u * (1 - v) * e[1].x + u * v * e[2].x + (1 - u) * v * e[3].x;
            const double y = (1 - u) * (1 - v) * e[0].y + u * (1 - v) * e[1].y + u * v * e[2].y + (1 - u) * v * e[3].y;
            if (x < 0 || y < 0 || x > r.ancho - 1 || y > r.alto - 1) continue;
            luz.push_back(muestra(r.luz, x, y));
            c1.push_back(muestra(r.croma1, x, y));
            c2.push_back(muestra(r.croma2, x, y));
        }
    }
    if (luz.size() < 8) return region;
    region.luzDentro = mediana(luz);
    const double m1 = mediana(c1), m2 = mediana(c2);
    region.cromaDentro = std::hypot(m1, m2);
    region.croma1Dentro = m1;
    region.croma2Dentro = m2;
    std::vector<double> desvio;
    for (double l : luz) desvio.push_back(std::fabs(l - region.luzDentro));
    region.dispersionDentro = 1.4826 * mediana(desvio);

    // A ring just outside the sides.
    double cx = 0, cy = 0;
    for (const Esquina& q : e) {
        cx += q.x / 4;
        cy += q.y / 4;
    }
    double perimetro = 0;
    for (int s = 0; s < 4; ++s) perimetro += std::hypot(e[(s + 1) % 4].x - e[s].x, e[(s + 1) % 4].y - e[s].y);
    const double separacion = std::max(3.0, 0.03 * perimetro / 4);
    std::vector<double> fl, f1, f2;
    int total = 0;
    for (int s = 0; s < 4; ++s) {
        const Esquina& a = e[s];
        const Esquina& b = e[(s + 1) % 4];
        const double largo = std::hypot(b.x - a.x, b.y - a.y);
        if (largo <= 0) continue;
        double nx = (b.y - a.y) / largo, ny = -(b.x - a.x) / largo;
        const double mx = 0.5 * (a.x + b.x), my = 0.5 * (a.y + b.y);
        if (nx * (mx - cx) + ny * (my - cy) < 0) {
            nx = -nx;
            ny = -ny;
        }
        // The strip along the side `desplazamiento` outward (inward when negative): the samples
        // that lie in the image, appended to tl, t1 and t2.
        const auto tira = [&](double desplazamiento, std::vector<double>& tl, std::vector<double>& t1,
                              std::vector<double>& t2) {
            for (int i = 0; i < 16; ++i) {
                const double t = 0.08 + 0.84 * i / 15;
                const double x = a.x + t * (b.x - a.x) + desplazamiento * nx;
                const double y = a.y + t * (b.y - a.y) + desplazamiento * ny;
                if (x < 0 || y < 0 || x > r.ancho - 1 || y > r.alto - 1) continue;
                tl.push_back(muestra(r.luz, x, y));
                t1.push_back(muestra(r.croma1, x, y));
                t2.push_back(muestra(r.croma2, x, y));
            }
        };
        const std::size_t antes = fl.size();
        tira(separacion, fl, f1, f2);
        total += 16;
        // The medians of the strip just outside this side, where enough of it lies in the image.
        const bool ladoFuera = fl.size() - antes >= 6;
        double fuera0 = 0, fuera1 = 0, fuera2 = 0;
        if (ladoFuera) {
            std::vector<double> ll(fl.begin() + static_cast<std::ptrdiff_t>(antes), fl.end());
            std::vector<double> l1(f1.begin() + static_cast<std::ptrdiff_t>(antes), f1.end());
            std::vector<double> l2(f2.begin() + static_cast<std::ptrdiff_t>(antes), f2.end());
            fuera0 = mediana(ll);
            fuera1 = mediana(l1);
            fuera2 = mediana(l2);
            const double dl = region.luzDentro - fuera0, d1 = m1 - fuera1, d2 = m2 - fuera2;
            region.contrasteLado[s] = std::sqrt(dl * dl + d1 * d1 + d2 * d2);
        }
        // The strip just inside the same side.
        std::vector<double> il, i1, i2;
        tira(-separacion, il, i1, i2);
        if (il.size() >= 6 && ladoFuera) {
            const double ml = mediana(il), mi1 = mediana(i1), mi2 = mediana(i2);
            region.interiorLado[s] = std::hypot(region.luzDentro - ml, m1 - mi1, m2 - mi2);
            region.interiorFuera[s] = std::hypot(fuera0 - ml, fuera1 - mi1, fuera2 - mi2);
        }
    }
    region.muestrasFuera = total ? static_cast<double>(fl.size()) / total : 0.0;
    if (fl.size() < 6) {
        // Nothing around it to compare with: the sheet fills the photo.
        region.luzFuera = region.luzDentro;
        region.cromaFuera = region.cromaDentro;
        region.contraste = 0;
        return region;
    }
    region.luzFuera = mediana(fl);
    const double n1 = mediana(f1), n2 = mediana(f2);
    region.cromaFuera = std::hypot(n1, n2);
    region.contraste = std::sqrt((region.luzDentro - region.luzFuera) * (region.luzDentro - region.luzFuera) +
                                 (m1 - n1) * (m1 - n1) + (m2 - n2) * (m2 - n2));
    return region;
}

}  // namespace deteccion
