#include "rectificacion/hoja.hpp"

#include <cstdint>

#include "rectificacion/sistema.hpp"

namespace {

// Output points that the corners in slots 0 .. 3 are carried to (column, row).
constexpr double kDestinoX[4] = {1, 850, 850, 0};
constexpr double kDestinoY[4] = {1, 1, 1100, 1100};

// Copies the pixels just inside the frame over the 15-pixel frame: sides first, then top and bottom.
void rellenarMarco(PlanoBytes& p) {
    const int ultimaColumna = kAnchoHoja - 1 - kMarcoHoja;  // 836
    const int ultimaFila = kAltoHoja - 1 - kMarcoHoja;       // 1087
    for (int r = kMarcoHoja; r <= ultimaFila; ++r) {
        std::uint8_t* fila = p[r];
        for (int c = 0; c < kMarcoHoja; ++c) fila[c] = fila[kMarcoHoja];
        for (int c = ultimaColumna + 1; c < kAnchoHoja; ++c) fila[c] = fila[ultimaColumna];
    }
    for (int r = 0; r < kMarcoHoja; ++r) {
        const std::uint8_t* origen = p[kMarcoHoja];
        std::uint8_t* destino = p[r];
        for (int c = 0; c < kAnchoHoja; ++c) destino[c] = origen[c];
    }
    for (int r = ultimaFila + 1; r < kAltoHoja; ++r) {
        const std::uint8_t* origen = p[ultimaFila];
        std::uint8_t* destino = p[r];
        for (int c = 0; c < kAnchoHoja; ++c) destino[c] = origen[c];
    }
}

}  // namespace

std::optional<ImagenBmp> rectificarHoja(const ImagenBmp& foto,
                                        const std::array<Esquina, kMaxEsquinas>& esquinas,
                                        std::FILE* salida) {
    Sistema sistema{};
    for (int n = 0; n < 4; ++n) {
        const double X = kDestinoX[n];
        const double Y = kDestinoY[n];
        sistema[2 * n] = {1, X, Y, X * Y, 0, 0, 0, 0, esquinas[n].x};
        sistema[2 * n + 1] = {0, 0, 0, 0, 1, X, Y, X * Y, esquinas[n].y};
    }
    const std::optional<Solucion> solucion = resolverSistema(sistema, salida);
    if (!solucion) return std::nullopt;
    const Solucion& s = *solucion;
    std::fprintf(salida, "\nSoluciOn al sistema de ecuaciones: \n");
    for (double v : s) std::fprintf(salida, " %g", v);

    ImagenBmp hoja;
    hoja.header = headerNuevo(kAnchoHoja, kAltoHoja);
    hoja.plano0 = PlanoBytes(kAnchoHoja, kAltoHoja);
    hoja.plano1 = PlanoBytes(kAnchoHoja, kAltoHoja);
    hoja.plano2 = PlanoBytes(kAnchoHoja, kAltoHoja);

    const double xmax = foto.ancho() - 2;
    const double ymax = foto.alto() - 2;
    for (int i = 0; i < kAltoHoja; ++i) {
        const double terminoX = s[2] * i;
        const double terminoY = s[6] * i;
        std::uint8_t* destino0 = hoja.plano0[i];
        std::uint8_t* destino1 = hoja.plano1[i];
        std::uint8_t* destino2 = hoja.plano2[i];
        for (int k = 0; k < kAnchoHoja; ++k) {
            double x = ((s[1] * k + s[0]) + terminoX) + s[3] * k * i;
            double y = ((s[5] * k + s[4]) + terminoY) + s[7] * k * i;
            // Written so that a position that is not a number clamps to 0 as well.
            if (!(x >= 0.0)) x = 0.0;
            if (x > xmax) x = xmax;
            if (!(y >= 0.0)) y = 0.0;
            if (y > ymax) y = ymax;
            const int c0 = static_cast<int>(x);
            const int r0 = static_cast<int>(y);
            const double fx = x - c0;
            const double fy = y - r0;
            const double w11 = fx * fy;
            const double w10 = (1 - fx) * fy;
            const double w01 = fx * (1 - fy);
            const double w00 = (1 - fx) * (1 - fy);
            const PlanoBytes* planos[3] = {&foto.plano0, &foto.plano1, &foto.plano2};
            std::uint8_t* destinos[3] = {destino0, destino1, destino2};
            for (int p = 0; p < 3; ++p) {
                const std::uint8_t* f0 = (*planos[p])[r0];
                const std::uint8_t* f1 = (*planos[p])[r0 + 1];
                const double v = w11 * f1[c0 + 1] + w10 * f1[c0] + w01 * f0[c0 + 1] + w00 * f0[c0];
                destinos[p][k] = static_cast<std::uint8_t>(v);
            }
        }
    }
    rellenarMarco(hoja.plano0);
    rellenarMarco(hoja.plano1);
    rellenarMarco(hoja.plano2);
    return hoja;
}
