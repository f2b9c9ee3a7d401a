#include "pagina/remuestreo.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imagen/paralelo.hpp"
#include "sistema/comprobar.hpp"

namespace {

// Pages of at least this many pixels are worked in two halves at once.
constexpr std::int64_t kPixelesEnDosPartes = 256 * 1024;
constexpr int kMaxNiveles = 8;  // the photo and its box means over 2, 4, ... 128 pixels
// The box aimed at is 0.87 times the footprint's larger side (0.75 of its square): the levels'
// tent tails soften a little more than a box of the same variance, and the page's letters come out
// as crisp as a single sample gives them without its aliasing (measured on rendered fine print).
constexpr double kAfilado = 0.75;

// The photo and its box means over the part the page maps into. Level k >= 1 holds the means of
// 2^k x 2^k photo pixels taken every 2^(k-1) pixels: its pixel (column j, row i) averages the block
// from (x0 + 2^(k-1) j, y0 + 2^(k-1) i), whose centre is the photo point
// (x0 + 2^(k-1) j + (2^k - 1) / 2, ...). Level 0 is the photo itself.
//
// Interpolated bilinearly, level k blurs like a box of 2^k pixels under a tent of 2^(k-1) each way:
// a variance of 4^k / 8 square pixels, which is a box mean over 2^k sqrt(2/3) pixels (12 variance
// = that width squared). Level 0 blurs like a tent alone: 1/6, a box of sqrt(2). An output pixel
// whose square spans L photo pixels should average a box of L: it blends the two levels whose boxes
// bracket L, so that the blend's variance is that box's.
struct Piramide {
    int niveles = 1;
    std::array<int, kMaxNiveles> ancho{}, alto{};
    std::array<double, kMaxNiveles> origenX{}, origenY{}, paso{};
    std::array<double, kMaxNiveles> caja2{};  // squared width of the box each level equals
    std::vector<PlanoBytes> planos[3];        // levels 1 .. niveles - 1 of each plane
    std::array<const std::uint8_t*, kMaxNiveles> base[3]{};
};

double caja2DelNivel(int k) { return k == 0 ? 2.0 : 1.5 * static_cast<double>(1 << (2 * k)); }

// Means of 2 x 2 blocks, rounded: every `salto` pixels (1 or 2) from `origen`, ancho x alto of them.
void mediasDeCuatro(const std::uint8_t* origen, std::ptrdiff_t paso, int salto, int ancho, int alto,
                    PlanoBytes& destino) {
    for (int i = 0; i < alto; ++i) {
        const std::uint8_t* a = origen + salto * i * paso;
        const std::uint8_t* b = a + paso;
        std::uint8_t* d = destino[i];
        // A mean halfway between two levels goes up and down in a checkerboard, so that levels of
        // levels do not drift upward.
        const int impar = i & 1;
        if (salto == 1) {
            for (int j = 0; j < ancho; ++j) {
                const int suma = a[j] + a[j + 1] + b[j] + b[j + 1];
                d[j] = static_cast<std::uint8_t>((suma + 1 + ((j ^ impar) & 1)) >> 2);
            }
        } else {
            for (int j = 0; j < ancho; ++j) {
                const int suma = a[2 * j] + a[2 * j + 1] + b[2 * j] + b[2 * j + 1];
                d[j] = static_cast<std::uint8_t>((suma + 1 + ((j ^ impar) & 1)) >> 2);
            }
        }
    }
}

// Whether the blend of levels 0 and 1 is worked from a 3 x 3 window of the photo (which level 1's
// pixels are means of) rather than from level 1 itself.
bool ventanaDeTres(const ImagenBmp& foto) { return foto.ancho() >= 4 && foto.alto() >= 4; }

Piramide construir(const ImagenBmp& foto, double xmin, double xmax, double ymin, double ymax, int niveles) {
    Piramide p;
    const PlanoBytes* fuentes[3] = {&foto.plano0, &foto.plano1, &foto.plano2};
    p.ancho[0] = foto.ancho();
    p.alto[0] = foto.alto();
    p.paso[0] = 1.0;
    p.caja2[0] = caja2DelNivel(0);
    for (int k = 0; k < 3; ++k) p.base[k][0] = fuentes[k]->datos.data();
    // The part of the photo the page can reach, with room for the widest box around it.
    const int margen = 1 << niveles;
    const int x0 = std::clamp(static_cast<int>(std::floor(xmin)) - margen, 0, p.ancho[0]);
    const int y0 = std::clamp(static_cast<int>(std::floor(ymin)) - margen, 0, p.alto[0]);
    const int x1 = std::clamp(static_cast<int>(std::ceil(xmax)) + margen, 0, p.ancho[0]);
    const int y1 = std::clamp(static_cast<int>(std::ceil(ymax)) + margen, 0, p.alto[0]);
    // Level k comes from the 2^(k-1) means taken every 2^(k-1) pixels (the photo for k = 1), which
    // the next one halves in turn.
    PlanoBytes mitades[3];
    const std::uint8_t* debajo[3];
    std::ptrdiff_t pasoDebajo = p.ancho[0];
    int anchoDebajo = x1 - x0, altoDebajo = y1 - y0;
    for (int k = 0; k < 3; ++k) debajo[k] = (*fuentes[k])[y0] + x0;
    for (int n = 1; n < niveles; ++n) {
        const int w = anchoDebajo - 1, h = altoDebajo - 1;
        if (w < 2 || h < 2) break;
        const double lado = static_cast<double>(1 << n);
        p.ancho[n] = w;
        p.alto[n] = h;
        p.paso[n] = lado / 2;
        p.caja2[n] = caja2DelNivel(n);
        p.origenX[n] = x0 + (lado - 1) / 2;
        p.origenY[n] = y0 + (lado - 1) / 2;
        const bool otra = n + 1 < niveles && anchoDebajo / 2 >= 3 && altoDebajo / 2 >= 3;
        // Level 1 is only read when level 2 is there too (see ventanaDeTres).
        const bool hacer = n > 1 || otra || !ventanaDeTres(foto);
        for (int k = 0; k < 3; ++k) {
            if (hacer) {
                p.planos[k].push_back(PlanoBytes::sinIniciar(w, h));
                mediasDeCuatro(debajo[k], pasoDebajo, 1, w, h, p.planos[k].back());
                p.base[k][n] = p.planos[k].back().datos.data();
            }
            if (otra) {
                PlanoBytes siguiente = PlanoBytes::sinIniciar(anchoDebajo / 2, altoDebajo / 2);
                mediasDeCuatro(debajo[k], pasoDebajo, 2, anchoDebajo / 2, altoDebajo / 2, siguiente);
                mitades[k] = std::move(siguiente);
                debajo[k] = mitades[k].datos.data();
            }
        }
        p.niveles = n + 1;
        if (!otra) break;
        anchoDebajo /= 2;
        altoDebajo /= 2;
        pasoDebajo = anchoDebajo;
    }
    return p;
}

// Where the map sends an output pixel, and the larger and smaller squared sides of the output
// pixel's square in the photo.
struct Lugar {
    double x, y, lado2Mayor, lado2Menor;
};

// The pixel at q and its right-hand neighbour.
std::uint16_t par(const std::uint8_t* q) { return static_cast<std::uint16_t>(q[0] | (q[1] << 8)); }

// A level as the sampling reads it: where its pixel (0, 0) lies in the photo, its pixels per photo
// pixel, its last pixel's position, and its row length.
struct Escala {
    double origenX, origenY, porPixel, xmax, ymax;
    int paso;
};

Escala escalaDe(const Piramide& p, int n) {
    return {p.origenX[n], p.origenY[n], 1.0 / p.paso[n], p.ancho[n] - 1.0, p.alto[n] - 1.0, p.ancho[n]};
}

// The photo point (x, y) in level `l`: its bottom-left neighbour's index and the fractions of the
// way to the right-hand and upper ones (a point on the last column or row is read from the pair
// before it, all the way along). Points outside the level take its edge.
void ubicar(const Escala& l, double x, double y, float& fx, float& fy, int& indice) {
    x = (x - l.origenX) * l.porPixel;
    y = (y - l.origenY) * l.porPixel;
    x = 0.0 < x ? x : 0.0;
    x = l.xmax < x ? l.xmax : x;
    y = 0.0 < y ? y : 0.0;
    y = l.ymax < y ? l.ymax : y;
    int c = static_cast<int>(x), r = static_cast<int>(y);
    c = c < l.xmax ? c : c - 1;
    r = r < l.ymax ? r : r - 1;
    fx = static_cast<float>(x - c);
    fy = static_cast<float>(y - r);
    indice = r * l.paso + c;
}

// The two rows of neighbour pairs of `cuantos` points of a level's plane.
void pares(const std::uint8_t* base, const int* indice, int paso, int cuantos, std::uint16_t* abajo,
           std::uint16_t* arriba) {
    for (int j = 0; j < cuantos; ++j) {
        const std::uint8_t* q = base + indice[j];
        abajo[j] = par(q);
        arriba[j] = par(q + paso);
    }
}

Lugar lugarDe(const MapaDePagina& m, double X, double Y) {
    double x, y, xX, xY, yX, yY;
    if (m.perspectiva) {
        const Homografia& h = m.homografia;
        const double w = h.g * X + h.h * Y + 1;
        x = (h.a * X + h.b * Y + h.c) / w;
        y = (h.d * X + h.e * Y + h.f) / w;
        xX = (h.a - h.g * x) / w;
        xY = (h.b - h.h * x) / w;
        yX = (h.d - h.g * y) / w;
        yY = (h.e - h.h * y) / w;
    } else {
        const Bilineal& s = m.bilineal;
        x = s[0] + s[1] * X + s[2] * Y + s[3] * X * Y;
        y = s[4] + s[5] * X + s[6] * Y + s[7] * X * Y;
        xX = s[1] + s[3] * Y;
        xY = s[2] + s[3] * X;
        yX = s[5] + s[7] * Y;
        yY = s[6] + s[7] * X;
    }
    const double a = xX * xX + yX * yX, b = xY * xY + yY * yY;
    return {x, y, std::max(a, b), std::min(a, b)};
}

}  // namespace

ImagenBmp remuestrearPagina(const ImagenBmp& foto, const MapaDePagina& mapa, int ancho, int alto) {
    return remuestrearPagina(foto, mapa, ancho, alto, UsoDeImagen{});
}

ImagenBmp remuestrearPagina(const ImagenBmp& foto, const MapaDePagina& mapa, int ancho, int alto,
                            const UsoDeImagen& usar) {
    COMPROBAR_MAYOR_IGUAL(foto.ancho(), 2);
    COMPROBAR_MAYOR_IGUAL(foto.alto(), 2);
    ImagenBmp pagina = imagenSinIniciar(ancho, alto);

    // The photo area the page covers and the largest footprint, from the page's corners and centre.
    double xmin = 1e300, xmax = -1e300, ymin = 1e300, ymax = -1e300, lado2 = 0;
    const double puntos[5][2] = {{0, 0}, {ancho - 1.0, 0}, {ancho - 1.0, alto - 1.0}, {0, alto - 1.0},
                                 {(ancho - 1) / 2.0, (alto - 1) / 2.0}};
    for (const auto& q : puntos) {
        const Lugar l = lugarDe(mapa, q[0], q[1]);
        xmin = std::min(xmin, l.x);
        xmax = std::max(xmax, l.x);
        ymin = std::min(ymin, l.y);
        ymax = std::max(ymax, l.y);
        lado2 = std::max(lado2, l.lado2Mayor);
    }
    int niveles = 1;
    while (niveles < kMaxNiveles && lado2 * kAfilado > caja2DelNivel(niveles - 1)) ++niveles;
    const Piramide p = construir(foto, xmin, xmax, ymin, ymax, niveles);
    const int ultimo = p.niveles - 1;

    // Per output row: where each pixel maps and its footprint, in a loop over the columns. Then per
    // run of kTramo columns, the two levels that bracket the run's smallest footprint (a run's
    // footprints differ by little), and in loops over its columns the blend of the two levels, the
    // four neighbours' index and weights in each; then per plane the eight values are fetched one by
    // one and weighed all together. Levels 0 and 1 (the footprints of most photos) are read as one
    // 3 x 3 window of the photo instead.
    constexpr int kTramo = 32;
    PlanoBytes* destinos[3] = {&pagina.plano0, &pagina.plano1, &pagina.plano2};
    const bool perspectiva = mapa.perspectiva;
    const Homografia& h = mapa.homografia;
    const Bilineal& s = mapa.bilineal;
    // The 3 x 3 window (read 4 bytes a row) stays inside the photo.
    const bool tres = ventanaDeTres(foto);
    const int anchoFoto = foto.ancho();
    const double uTope = foto.ancho() - 4, vTope = foto.alto() - 3;

    // Rows [desde, hasta); each pixel is worked the same whichever part it falls in.
    const auto filas = [&](int desde, int hasta) {
        std::vector<double> px(ancho), py(ancho), l2(ancho);
        std::array<int, kTramo> indiceA{}, indiceB{};
        std::array<float, kTramo> fxA{}, fyA{}, fxB{}, fyB{}, mezcla{};
        // Two neighbours side by side in one 16-bit value: the left one in the low byte.
        std::array<std::uint16_t, kTramo> abajoA{}, arribaA{}, abajoB{}, arribaB{};
        std::array<float, kTramo> wx0{}, wx1{}, wx2{}, wy0{}, wy1{}, wy2{};
        std::array<std::uint32_t, kTramo> fila0{}, fila1{}, fila2{};
        for (int i = desde; i < hasta; ++i) {
            const double Y = i;
            if (perspectiva) {
                const double wY = h.h * Y + 1, xY0 = h.b * Y + h.c, yY0 = h.e * Y + h.f;
                for (int j = 0; j < ancho; ++j) {
                    const double X = j;
                    const double w = 1.0 / (h.g * X + wY);
                    const double x = (h.a * X + xY0) * w;
                    const double y = (h.d * X + yY0) * w;
                    const double xX = (h.a - h.g * x) * w, xY = (h.b - h.h * x) * w;
                    const double yX = (h.d - h.g * y) * w, yY = (h.e - h.h * y) * w;
                    const double a = xX * xX + yX * yX, b = xY * xY + yY * yY;
                    px[j] = x;
                    py[j] = y;
                    l2[j] = (a < b ? b : a) * kAfilado;
                }
            } else {
                const double x0 = s[0] + s[2] * Y, x1 = s[1] + s[3] * Y, y0 = s[4] + s[6] * Y, y1 = s[5] + s[7] * Y;
                for (int j = 0; j < ancho; ++j) {
                    const double X = j;
                    const double xY = s[2] + s[3] * X, yY = s[6] + s[7] * X;
                    const double a = x1 * x1 + y1 * y1, b = xY * xY + yY * yY;
                    px[j] = x0 + x1 * X;
                    py[j] = y0 + y1 * X;
                    l2[j] = (a < b ? b : a) * kAfilado;
                }
            }
            for (int j0 = 0; j0 < ancho; j0 += kTramo) {
                const int cuantos = std::min(kTramo, ancho - j0);
                double menor = l2[j0];
                for (int j = 1; j < cuantos; ++j) menor = l2[j0 + j] < menor ? l2[j0 + j] : menor;
                int n = 0;
                while (n < ultimo && menor >= p.caja2[n + 1]) ++n;
                const int m = n < ultimo ? n + 1 : n;
                const double desde = p.caja2[n], inversa = n < ultimo ? 1.0 / (p.caja2[m] - p.caja2[n]) : 0.0;
                if (n == 0 && m == 1 && tres) {
                    // Levels 0 and 1 from the photo's 3 x 3 pixels from (s, r), per axis: level 0
                    // weighs two of them by the position, level 1 (means of pairs, centred half a pixel
                    // on) all three; the blend's weights are those mixed.
                    for (int j = 0; j < cuantos; ++j) {
                        double t = (l2[j0 + j] - desde) * inversa;
                        t = 0.0 < t ? t : 0.0;
                        t = 1.0 < t ? 1.0 : t;
                        double u = px[j0 + j] - 0.5, v = py[j0 + j] - 0.5;
                        u = 0.0 < u ? u : 0.0;
                        u = uTope < u ? uTope : u;
                        v = 0.0 < v ? v : 0.0;
                        v = vTope < v ? vTope : v;
                        const int c = static_cast<int>(u), r = static_cast<int>(v);
                        const float tf = static_cast<float>(t);
                        const float f = static_cast<float>(u - c), g = static_cast<float>(v - r);
                        const float x0 = std::max(0.0f, 0.5f - f), x2 = std::max(0.0f, f - 0.5f), x1 = 1.0f - x0 - x2;
                        const float y0 = std::max(0.0f, 0.5f - g), y2 = std::max(0.0f, g - 0.5f), y1 = 1.0f - y0 - y2;
                        wx0[j] = x0 + tf * ((1.0f - f) * 0.5f - x0);
                        wx1[j] = x1 + tf * (0.5f - x1);
                        wx2[j] = x2 + tf * (f * 0.5f - x2);
                        wy0[j] = y0 + tf * ((1.0f - g) * 0.5f - y0);
                        wy1[j] = y1 + tf * (0.5f - y1);
                        wy2[j] = y2 + tf * (g * 0.5f - y2);
                        indiceA[j] = r * anchoFoto + c;
                    }
                    for (int k = 0; k < 3; ++k) {
                        const std::uint8_t* base = p.base[k][0];
                        for (int j = 0; j < cuantos; ++j) {
                            const std::uint8_t* q = base + indiceA[j];
                            std::memcpy(&fila0[j], q, 4);
                            std::memcpy(&fila1[j], q + anchoFoto, 4);
                            std::memcpy(&fila2[j], q + 2 * anchoFoto, 4);
                        }
                        std::uint8_t* destino = (*destinos[k])[i] + j0;
                        for (int j = 0; j < cuantos; ++j) {
                            const auto fila = [&](std::uint32_t b) {
                                return wx0[j] * static_cast<float>(b & 0xFF) + wx1[j] * static_cast<float>((b >> 8) & 0xFF) +
                                       wx2[j] * static_cast<float>((b >> 16) & 0xFF);
                            };
                            const float valor = wy0[j] * fila(fila0[j]) + wy1[j] * fila(fila1[j]) + wy2[j] * fila(fila2[j]) + 0.5f;
                            destino[j] = static_cast<std::uint8_t>(static_cast<int>(valor));
                        }
                    }
                    continue;
                }
                const Escala a = escalaDe(p, n), b = escalaDe(p, m);
                for (int j = 0; j < cuantos; ++j) {
                    double t = (l2[j0 + j] - desde) * inversa;
                    t = 0.0 < t ? t : 0.0;
                    t = 1.0 < t ? 1.0 : t;
                    mezcla[j] = static_cast<float>(t);
                    ubicar(a, px[j0 + j], py[j0 + j], fxA[j], fyA[j], indiceA[j]);
                    ubicar(b, px[j0 + j], py[j0 + j], fxB[j], fyB[j], indiceB[j]);
                }
                for (int k = 0; k < 3; ++k) {
                    pares(p.base[k][n], indiceA.data(), a.paso, cuantos, abajoA.data(), arribaA.data());
                    pares(p.base[k][m], indiceB.data(), b.paso, cuantos, abajoB.data(), arribaB.data());
                    std::uint8_t* destino = (*destinos[k])[i] + j0;
                    for (int j = 0; j < cuantos; ++j) {
                        const float a00 = abajoA[j] & 0xFF, a01 = abajoA[j] >> 8;
                        const float a10 = arribaA[j] & 0xFF, a11 = arribaA[j] >> 8;
                        const float b00 = abajoB[j] & 0xFF, b01 = abajoB[j] >> 8;
                        const float b10 = arribaB[j] & 0xFF, b11 = arribaB[j] >> 8;
                        const float bajoA = a00 + fxA[j] * (a01 - a00);
                        const float altoA = a10 + fxA[j] * (a11 - a10);
                        const float va = bajoA + fyA[j] * (altoA - bajoA);
                        const float bajoB = b00 + fxB[j] * (b01 - b00);
                        const float altoB = b10 + fxB[j] * (b11 - b10);
                        const float vb = bajoB + fyB[j] * (altoB - bajoB);
                        const float v = va + mezcla[j] * (vb - va) + 0.5f;
                        destino[j] = static_cast<std::uint8_t>(static_cast<int>(v));
                    }
                }
            }
        }
    };
    if (usar) {
        usar(pagina, [&](int desde, int hasta) { filas(alto - hasta, alto - desde); });
    } else {
        // A large page is made in two halves at once; the photo and its levels are only read.
        enDosMitadesSiVale(static_cast<std::int64_t>(ancho) * alto >= kPixelesEnDosPartes, alto, filas);
    }
    return pagina;
}
