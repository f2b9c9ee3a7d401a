// Features of the working image: the photo shrunk to brightness and two opponent colours,
// smoothed, their joint gradient, its edges and the light's colour cast.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>

#include "deteccion/interno.hpp"
#include "imagen/paralelo.hpp"

namespace deteccion {

namespace {

// Photos of at least this many pixels are reduced in two halves at once.
constexpr long long kPixelesEnDosPartes = 1024 * 1024;

// Smoothing before the gradient: enough to calm paper grain and JPEG blocks on the working image
// without merging a sheet's side with a nearby one.
constexpr double kSigmaSuavizado = 1.2;
constexpr int kRadioSuavizado = 3;

// Gradient threshold: never under kUmbralMinimo (Sobel scale, about 4 gray levels of step), and
// above kVecesMediana times the median gradient of the photo, so that a busy desk keeps only its
// stronger edges.
constexpr float kUmbralMinimo = 10.0f;
constexpr float kVecesMediana = 1.6f;

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
    COMPROBAR_MAYOR_IGUAL(factor, 1.0);
    comprobarPlanos(foto);
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

}  // namespace deteccion
