#include "rectificacion/hoja.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "imagen/paralelo.hpp"
#include "sistema/comprobar.hpp"

namespace {

// Output points that the corners in slots 0 .. 3 are carried to (column, row).
constexpr double kDestinoX[4] = {1, 850, 850, 0};
constexpr double kDestinoY[4] = {1, 1, 1100, 1100};

// The frame of 15 pixels takes the pixels just inside it: on rows [desde, hasta), its sides. (Its
// rows below and above the inside are those of the inside's first and last rows.)
void rellenarLados(PlanoBytes& p, int desde, int hasta) {
    const int ultimaColumna = kAnchoHoja - 1 - kMarcoHoja;  // 836
    for (int r = desde; r < hasta; ++r) {
        std::uint8_t* fila = p[r];
        for (int c = 0; c < kMarcoHoja; ++c) fila[c] = fila[kMarcoHoja];
        for (int c = ultimaColumna + 1; c < kAnchoHoja; ++c) fila[c] = fila[ultimaColumna];
    }
}

}  // namespace

Sistema sistemaDeHoja(const std::array<Esquina, 4>& esquinas) {
    Sistema sistema{};
    for (int n = 0; n < 4; ++n) {
        const double X = kDestinoX[n];
        const double Y = kDestinoY[n];
        sistema[2 * n] = {1, X, Y, X * Y, 0, 0, 0, 0, esquinas[n].x};
        sistema[2 * n + 1] = {0, 0, 0, 0, 1, X, Y, X * Y, esquinas[n].y};
    }
    return sistema;
}

HojaRectificada rectificarHoja(const ImagenBmp& foto, const std::array<Esquina, 4>& esquinas,
                               const UsoDeImagen& usar) {
    COMPROBAR_MAYOR_IGUAL(foto.ancho(), 2);
    COMPROBAR_MAYOR_IGUAL(foto.alto(), 2);
    HojaRectificada r;
    r.sistema = sistemaDeHoja(esquinas);
    Sistema reducido = r.sistema;
    r.solucion = resolverSistema(reducido);
    if (!r.solucion) return r;
    const Solucion& s = *r.solucion;

    ImagenBmp hoja = imagenSinIniciar(kAnchoHoja, kAltoHoja);

    // The pixels inside the frame are sampled; the frame repeats those just inside it.
    const int primeraFila = kMarcoHoja;
    const int ultimaFila = kAltoHoja - 1 - kMarcoHoja;
    const int primeraColumna = kMarcoHoja;
    const int columnas = kAnchoHoja - 2 * kMarcoHoja;

    const double xmax = foto.ancho() - 2;
    const double ymax = foto.alto() - 2;
    const std::ptrdiff_t ancho = foto.ancho();
    const double s0 = s[0], s1 = s[1], s2 = s[2], s3 = s[3];
    const double s4 = s[4], s5 = s[5], s6 = s[6], s7 = s[7];
    // Per output row, in loops that vectorise: where each pixel samples the photograph and its
    // four weights, worked out once and shared by the three planes; then, per plane, the four
    // neighbours are fetched one by one and weighed all together.
    const PlanoBytes* planos[3] = {&foto.plano0, &foto.plano1, &foto.plano2};
    PlanoBytes* destinos[3] = {&hoja.plano0, &hoja.plano1, &hoja.plano2};
    // Rows [desde, hasta), each with its own scratch rows. A row of the frame below or above the
    // inside is the inside's first or last row, sampled again rather than copied, so that any rows
    // can be made apart from the others.
    const auto filas = [&](int desde, int hasta) {
        std::array<std::ptrdiff_t, kAnchoHoja> indice{};
        std::array<double, kAnchoHoja> w11{}, w10{}, w01{}, w00{};
        std::array<std::uint8_t, kAnchoHoja> p00{}, p01{}, p10{}, p11{};
        for (int fila = desde; fila < hasta; ++fila) {
            const int i = std::clamp(fila, primeraFila, ultimaFila);
            const double terminoX = s2 * i;
            const double terminoY = s6 * i;
            for (int j = 0; j < columnas; ++j) {
                const int k = primeraColumna + j;
                double x = ((s1 * k + s0) + terminoX) + s3 * k * i;
                double y = ((s5 * k + s4) + terminoY) + s7 * k * i;
                // Clamped into the photograph; a position that is not a number clamps to 0 too (and a
                // -0.0 becomes 0.0, which samples the same pixels with the same weights).
                x = 0.0 < x ? x : 0.0;
                x = xmax < x ? xmax : x;
                y = 0.0 < y ? y : 0.0;
                y = ymax < y ? ymax : y;
                const int c0 = static_cast<int>(x);
                const int r0 = static_cast<int>(y);
                const double fx = x - c0;
                const double fy = y - r0;
                w11[j] = fx * fy;
                w10[j] = (1 - fx) * fy;
                w01[j] = fx * (1 - fy);
                w00[j] = (1 - fx) * (1 - fy);
                indice[j] = r0 * ancho + c0;
            }
            for (int p = 0; p < 3; ++p) {
                const std::uint8_t* origen = planos[p]->datos.data();
                for (int j = 0; j < columnas; ++j) {
                    const std::uint8_t* q = origen + indice[j];
                    p00[j] = q[0];
                    p01[j] = q[1];
                    p10[j] = q[ancho];
                    p11[j] = q[ancho + 1];
                }
                std::uint8_t* destino = (*destinos[p])[fila] + primeraColumna;
                for (int j = 0; j < columnas; ++j) {
                    const double v = w11[j] * p11[j] + w10[j] * p10[j] + w01[j] * p01[j] + w00[j] * p00[j];
                    destino[j] = static_cast<std::uint8_t>(static_cast<int>(v));
                }
            }
        }
        for (PlanoBytes* p : destinos) rellenarLados(*p, desde, hasta);
    };
    if (usar) {
        usar(hoja, [&](int desde, int hasta) { filas(kAltoHoja - hasta, kAltoHoja - desde); });
    } else {
        enDosMitades(kAltoHoja, filas);
    }
    r.hoja = std::move(hoja);
    return r;
}
