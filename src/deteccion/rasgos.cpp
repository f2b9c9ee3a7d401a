// Edges and lines of the working image.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>

#include "deteccion/interno.hpp"
#include "imagen/paralelo.hpp"

namespace deteccion {

namespace {

// Photos of at least this many pixels are reduced in two halves at once, and working images of
// kPixelesTrabajoEnDos worked in two parts.
constexpr long long kPixelesEnDosPartes = 1024 * 1024;
constexpr long long kPixelesTrabajoEnDos = 64 * 1024;

// Smoothing before the gradient: enough to calm paper grain and JPEG blocks on the working image
// without merging a sheet's side with a nearby one.
constexpr double kSigmaSuavizado = 1.2;
constexpr int kRadioSuavizado = 3;

// Gradient threshold: never under kUmbralMinimo (Sobel scale, about 4 gray levels of step), and
// above kVecesMediana times the median gradient of the photo, so that a busy desk keeps only its
// stronger edges.
constexpr float kUmbralMinimo = 10.0f;
constexpr float kVecesMediana = 1.6f;

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
// Pixels darker than this tell little of the light's colour.
constexpr float kLuzTinte = 16.0f;

PlanoFloat suavizar(const PlanoFloat& entrada) {
    const int w = entrada.ancho, h = entrada.alto;
    float nucleo[2 * kRadioSuavizado + 1];
    float suma = 0;
    for (int i = -kRadioSuavizado; i <= kRadioSuavizado; ++i) {
        nucleo[i + kRadioSuavizado] = static_cast<float>(std::exp(-0.5 * i * i / (kSigmaSuavizado * kSigmaSuavizado)));
        suma += nucleo[i + kRadioSuavizado];
    }
    for (float& v : nucleo) v /= suma;
    PlanoFloat temporal = PlanoFloat::sinIniciar(w, h);
    const int r = kRadioSuavizado;
    for (int y = 0; y < h; ++y) {
        const float* fila = entrada[y];
        float* destino = temporal[y];
        auto borde = [&](int x) {
            float s = 0;
            for (int i = -r; i <= r; ++i) s += nucleo[i + r] * fila[std::clamp(x + i, 0, w - 1)];
            destino[x] = s;
        };
        const int x0 = std::min(r, w), x1 = std::max(x0, w - r);
        for (int x = 0; x < x0; ++x) borde(x);
        // Away from the ends no clamp is needed; the same sum in the same order.
        for (int x = x0; x < x1; ++x) {
            float s = 0;
            for (int i = -r; i <= r; ++i) s += nucleo[i + r] * fila[x + i];
            destino[x] = s;
        }
        for (int x = x1; x < w; ++x) borde(x);
    }
    PlanoFloat salida = PlanoFloat::sinIniciar(w, h);
    for (int y = 0; y < h; ++y) {
        float* destino = salida[y];
        for (int x = 0; x < w; ++x) destino[x] = 0;
        for (int i = -kRadioSuavizado; i <= kRadioSuavizado; ++i) {
            const float* fila = temporal[std::clamp(y + i, 0, h - 1)];
            const float peso = nucleo[i + kRadioSuavizado];
            for (int x = 0; x < w; ++x) destino[x] += peso * fila[x];
        }
    }
    return salida;
}

// The parameter span of the line that lies inside [0, w-1] x [0, h-1]; false when none.
bool tramoDentro(double nx, double ny, double c, int w, int h, double& tmin, double& tmax) {
    // Point at t: (nx c - ny t, ny c + nx t).
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
bool reajustar(const Rasgos& r, Linea& l) {
    double tmin, tmax;
    if (!tramoDentro(l.nx, l.ny, l.c, r.ancho, r.alto, tmin, tmax)) return false;
    double sw = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    for (double t = std::ceil(tmin); t <= tmax; t += 1.0) {
        const double px = l.nx * l.c - l.ny * t, py = l.ny * l.c + l.nx * t;
        for (int k = -kAnchoAjuste; k <= kAnchoAjuste; ++k) {
            const int x = static_cast<int>(redondear(px + k * l.nx));
            const int y = static_cast<int>(redondear(py + k * l.ny));
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
    if (nx * l.nx + ny * l.ny < 0) {
        nx = -nx;
        ny = -ny;
    }
    // Keep a small refit only: a big turn means the pixels belong to something else.
    if (nx * l.nx + ny * l.ny < std::cos(4.0 * kGrados)) return true;
    l.nx = nx;
    l.ny = ny;
    l.c = nx * mx + ny * my;
    double a = std::atan2(ny, nx) / kGrados;
    if (a < 0) a += 180.0;
    if (a >= 180.0) a -= 180.0;
    l.angulo = a;
    return true;
}

void perfilar(const Rasgos& r, Linea& l) {
    double tmin, tmax;
    l.acumulado.assign(1, 0);
    l.t0 = 0;
    if (!tramoDentro(l.nx, l.ny, l.c, r.ancho, r.alto, tmin, tmax)) return;
    l.t0 = std::ceil(tmin);
    const int pasos = static_cast<int>(std::floor(tmax) - l.t0) + 1;
    l.acumulado.assign(static_cast<std::size_t>(std::max(pasos, 0)) + 1, 0);
    for (int i = 0; i < pasos; ++i) {
        const double t = l.t0 + i;
        const double px = l.nx * l.c - l.ny * t, py = l.ny * l.c + l.nx * t;
        bool acierto = false;
        for (int k = -kAnchoCobertura; k <= kAnchoCobertura && !acierto; ++k) {
            acierto = esBorde(r, static_cast<int>(redondear(px + k * l.nx)),
                              static_cast<int>(redondear(py + k * l.ny)), l.angulo);
        }
        l.acumulado[i + 1] = l.acumulado[i] + (acierto ? 1 : 0);
    }
}

// The means of the photo's cells (see calcularRasgos) as brightness and two opponent colours.
// Column sums of the cell's rows first, across the row (the loop runs over bytes side by side),
// in a type wide enough for the cell's rows; then the columns of each cell.
// Working rows [yDesde, yHasta) of h.
template <typename Suma>
void reducirCeldas(const ImagenBmp& foto, int w, int h, int yDesde, int yHasta, const std::vector<int>& inicio,
                   PlanoFloat& luz, PlanoFloat& c1, PlanoFloat& c2) {
    const int anchoFoto = foto.ancho(), altoFoto = foto.alto();
    std::vector<Suma> sumas(static_cast<std::size_t>(anchoFoto) * 3);
    Suma* sb = sumas.data();
    Suma* sg = sb + anchoFoto;
    Suma* sr = sg + anchoFoto;
    auto sumarFila = [anchoFoto](Suma* __restrict suma, const std::uint8_t* __restrict fila) {
        for (int c = 0; c < anchoFoto; ++c) suma[c] = static_cast<Suma>(suma[c] + fila[c]);
    };
    int fila = static_cast<int>(static_cast<long long>(yDesde) * altoFoto / h);
    for (int y = yDesde; y < yHasta; ++y) {
        const int hasta = y + 1 == h ? altoFoto : static_cast<int>(static_cast<long long>(y + 1) * altoFoto / h);
        std::fill(sumas.begin(), sumas.end(), Suma{0});
        const int desde = fila;
        for (; fila < hasta; ++fila) {
            sumarFila(sb, foto.plano0[fila]);
            sumarFila(sg, foto.plano1[fila]);
            sumarFila(sr, foto.plano2[fila]);
        }
        const float filas = static_cast<float>(std::max(1, hasta - desde));
        float* fl = luz[y];
        float* f1 = c1[y];
        float* f2 = c2[y];
        for (int x = 0; x < w; ++x) {
            std::uint32_t tb = 0, tg = 0, tr = 0;
            for (int c = inicio[x]; c < inicio[x + 1]; ++c) {
                tb += sb[c];
                tg += sg[c];
                tr += sr[c];
            }
            // Sums of bytes over a cell are exact in a float, as are the counts.
            const float n = filas * static_cast<float>(std::max(1, inicio[x + 1] - inicio[x]));
            const float b = static_cast<float>(tb) / n, g = static_cast<float>(tg) / n, rr = static_cast<float>(tr) / n;
            fl[x] = (rr + g + b) / 3.0f;
            f1[x] = rr - g;
            f2[x] = 0.5f * (rr + g) - b;
        }
    }
}

}  // namespace

Rasgos calcularRasgos(const ImagenBmp& foto, double factor) {
    Rasgos r;
    const int anchoFoto = foto.ancho(), altoFoto = foto.alto();
    const int w = std::max(1, static_cast<int>(anchoFoto / factor));
    const int h = std::max(1, static_cast<int>(altoFoto / factor));
    r.ancho = w;
    r.alto = h;
    // Every working pixel is the mean of the photo's pixels in its cell: cell x spans columns
    // trunc(x W / w) up to trunc((x + 1) W / w), so that every pixel counts once and a side never
    // turns into a staircase.
    std::vector<int> inicio(static_cast<std::size_t>(w) + 1, anchoFoto);
    for (int c = anchoFoto - 1; c >= 0; --c)
        inicio[std::min(w - 1, static_cast<int>(static_cast<long long>(c) * w / anchoFoto))] = c;
    PlanoFloat luz = PlanoFloat::sinIniciar(w, h), c1 = PlanoFloat::sinIniciar(w, h), c2 = PlanoFloat::sinIniciar(w, h);
    // A cell has at most this many rows; 16-bit column sums hold up to 257 rows of bytes.
    const int filasMax = (altoFoto + h - 1) / h + 1;
    const auto reducir = [&](int yDesde, int yHasta) {
        if (filasMax <= 257)
            reducirCeldas<std::uint16_t>(foto, w, h, yDesde, yHasta, inicio, luz, c1, c2);
        else
            reducirCeldas<std::uint32_t>(foto, w, h, yDesde, yHasta, inicio, luz, c1, c2);
    };
    // A large photo is read in two halves at once: the reading is most of the work here.
    enDosMitadesSiVale(static_cast<long long>(anchoFoto) * altoFoto >= kPixelesEnDosPartes, h, reducir);
    // A large working image is worked in two parts at once from here on: the brightness is
    // smoothed while the two colours are, and the rows are split in two halves.
    const bool enDos = static_cast<long long>(w) * h >= kPixelesTrabajoEnDos;
    const PlanoFloat* sinSuavizar[3] = {&luz, &c1, &c2};
    PlanoFloat* suavizados[3] = {&r.luz, &r.croma1, &r.croma2};
    enDosPartesSiVale(enDos, 3, 1, [&](int desde, int hasta) {
        for (int k = desde; k < hasta; ++k) *suavizados[k] = suavizar(*sinSuavizar[k]);
    });

    // The gradient of the three planes together (the largest eigenvalue of their summed structure
    // tensor); its direction is needed only where the gradient passes the threshold, so the
    // tensor is kept for later.
    r.magnitud = PlanoFloat::sinIniciar(w, h);
    r.angulo = PlanoFloat(w, h, 0.0f);
    PlanoFloat tensorXX = PlanoFloat::sinIniciar(w, h), tensorYY = PlanoFloat::sinIniciar(w, h),
               tensorXY = PlanoFloat::sinIniciar(w, h);
    const PlanoFloat* planos[3] = {&r.luz, &r.croma1, &r.croma2};
    enDosMitadesSiVale(enDos, h, [&](int desde, int hasta) {
        std::vector<float> gxx(static_cast<std::size_t>(w)), gyy(gxx.size()), gxy(gxx.size());
        for (int y = desde; y < hasta; ++y) {
            const int ya = std::max(y - 1, 0), yb = std::min(y + 1, h - 1);
            std::fill(gxx.begin(), gxx.end(), 0.0f);
            std::fill(gyy.begin(), gyy.end(), 0.0f);
            std::fill(gxy.begin(), gxy.end(), 0.0f);
            for (const PlanoFloat* p : planos) {
                const float* __restrict fa = (*p)[ya];
                const float* __restrict f = (*p)[y];
                const float* __restrict fb = (*p)[yb];
                float* __restrict sxx = gxx.data();
                float* __restrict syy = gyy.data();
                float* __restrict sxy = gxy.data();
                auto sumar = [&](int x, int xa, int xb) {
                    const float gx = (fa[xb] + 2 * f[xb] + fb[xb]) - (fa[xa] + 2 * f[xa] + fb[xa]);
                    const float gy = (fb[xa] + 2 * fb[x] + fb[xb]) - (fa[xa] + 2 * fa[x] + fa[xb]);
                    sxx[x] += gx * gx;
                    syy[x] += gy * gy;
                    sxy[x] += gx * gy;
                };
                sumar(0, 0, std::min(1, w - 1));
                for (int x = 1; x + 1 < w; ++x) sumar(x, x - 1, x + 1);
                if (w > 1) sumar(w - 1, w - 2, w - 1);
            }
            float* mag = r.magnitud[y];
            float* txx = tensorXX[y];
            float* tyy = tensorYY[y];
            float* txy = tensorXY[y];
            for (int x = 0; x < w; ++x) {
                const float traza = gxx[x] + gyy[x];
                const float d = gxx[x] - gyy[x];
                const float raiz = std::sqrt(d * d + 4 * gxy[x] * gxy[x]);
                mag[x] = std::sqrt(std::max(0.0f, 0.5f * (traza + raiz)));
                txx[x] = gxx[x];
                tyy[x] = gyy[x];
                txy[x] = gxy[x];
            }
        }
    });
    // The direction, degrees 0 .. 180, where the threshold may keep an edge.
    auto direccion = [&](int x, int y) {
        float a = static_cast<float>(0.5 * std::atan2(2.0 * tensorXY[y][x], double(tensorXX[y][x]) - tensorYY[y][x]) / kGrados);
        if (a < 0) a += 180.0f;
        if (a >= 180.0f) a -= 180.0f;
        return a;
    };

    // The threshold from the photo's own gradients: their median, from a histogram.
    std::vector<int> histograma(1024, 0);
    for (float m : r.magnitud.datos) ++histograma[std::min(1023, static_cast<int>(m))];
    const std::size_t mitad = r.magnitud.datos.size() / 2;
    std::size_t acumulado = 0;
    int mediana = 0;
    for (; mediana < 1023; ++mediana) {
        acumulado += histograma[mediana];
        if (acumulado > mitad) break;
    }
    r.umbral = std::max(kUmbralMinimo, kVecesMediana * static_cast<float>(mediana + 1));

    // Local maxima across the edge.
    r.borde = PlanoBytes(w, h, 0);
    std::atomic<int> bordes{0};
    enDosMitadesSiVale(enDos, std::max(0, h - 2), [&](int desde, int hasta) {
        int cuantos = 0;
        for (int y = 1 + desde; y < 1 + hasta; ++y) {
            for (int x = 1; x + 1 < w; ++x) {
                const float m = r.magnitud[y][x];
                if (m < r.umbral) continue;
                const float a = direccion(x, y);
                r.angulo[y][x] = a;
                int dx, dy;
                if (a < 22.5f || a >= 157.5f) {
                    dx = 1;
                    dy = 0;
                } else if (a < 67.5f) {
                    dx = 1;
                    dy = 1;
                } else if (a < 112.5f) {
                    dx = 0;
                    dy = 1;
                } else {
                    dx = -1;
                    dy = 1;
                }
                if (m >= r.magnitud[y + dy][x + dx] && m > r.magnitud[y - dy][x - dx]) {
                    r.borde[y][x] = 1;
                    ++cuantos;
                }
            }
        }
        bordes += cuantos;
    });
    r.cuantosBordes = bordes;

    // The light's colour cast: the medians of the opponent colours over the brightness among the
    // brightest pixels (every fourth of every fourth row), white paper or whatever is nearest it.
    std::vector<float> claras;
    for (int y = 0; y < h; y += 4)
        for (int x = 0; x < w; x += 4) claras.push_back(r.luz[y][x]);
    if (!claras.empty()) {
        const auto corte = static_cast<std::ptrdiff_t>(claras.size() * 19 / 20);
        std::nth_element(claras.begin(), claras.begin() + corte, claras.end());
        const float desde = std::max(kLuzTinte, claras[static_cast<std::size_t>(corte)]);
        std::vector<double> t1, t2;
        for (int y = 0; y < h; y += 4)
            for (int x = 0; x < w; x += 4)
                if (const float l = r.luz[y][x]; l >= desde) {
                    t1.push_back(r.croma1[y][x] / l);
                    t2.push_back(r.croma2[y][x] / l);
                }
        if (!t1.empty()) {
            const auto medio = static_cast<std::ptrdiff_t>(t1.size() / 2);
            std::nth_element(t1.begin(), t1.begin() + medio, t1.end());
            std::nth_element(t2.begin(), t2.begin() + medio, t2.end());
            r.tinte1 = t1[static_cast<std::size_t>(medio)];
            r.tinte2 = t2[static_cast<std::size_t>(medio)];
        }
    }
    return r;
}

std::vector<Linea> buscarLineas(const Rasgos& r) {
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

    std::vector<Linea> lineas;
    for (const Pico& p : picos) {
        Linea l;
        l.angulo = p.a;
        l.nx = coseno[p.a];
        l.ny = seno[p.a];
        l.c = (p.i - radio) + l.nx * cx + l.ny * cy;
        l.votos = p.votos;
        if (!reajustar(r, l)) continue;
        reajustar(r, l);
        // The same line twice (two peaks of one side): keep the stronger.
        bool repetida = false;
        for (const Linea& q : lineas) {
            if (diferenciaAngular(q.angulo, l.angulo) > 3.0) continue;
            // Distance between the lines at the image centre.
            const double dq = q.nx * cx + q.ny * cy - q.c;
            double dl = l.nx * cx + l.ny * cy - l.c;
            if (q.nx * l.nx + q.ny * l.ny < 0) dl = -dl;
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

double parametroDe(const Linea& l, double x, double y) { return -l.ny * x + l.nx * y; }

Cobertura coberturaEntre(const Linea& l, double ta, double tb) {
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
    Linea l;
    l.nx = -(b.y - a.y) / largo;
    l.ny = (b.x - a.x) / largo;
    l.c = l.nx * a.x + l.ny * a.y;
    l.angulo = std::atan2(l.ny, l.nx) / kGrados;
    if (l.angulo < 0) l.angulo += 180.0;
    if (l.angulo >= 180.0) l.angulo -= 180.0;
    perfilar(r, l);
    double ta = parametroDe(l, a.x, a.y), tb = parametroDe(l, b.x, b.y);
    if (ta > tb) std::swap(ta, tb);
    return coberturaEntre(l, ta + 2.0, tb - 2.0);
}

bool intersectar(const RectaNormal& p, const RectaNormal& q, Esquina& punto) {
    const double det = p.a * q.b - p.b * q.a;
    if (std::fabs(det) < 1e-9) return false;
    punto.x = (p.c * q.b - p.b * q.c) / det;
    punto.y = (p.a * q.c - p.c * q.a) / det;
    return true;
}

}  // namespace deteccion
