#include "hough/acumulador.hpp"

#include <array>
#include <cmath>

#include "sistema/comprobar.hpp"

#include "filtros/convolucion.hpp"

int filasConVotos(int ancho, int alto) {
    const int d = static_cast<int>(std::sqrt(static_cast<double>(ancho * ancho + alto * alto)));
    return -1 - static_cast<int>(-0.5 * d);
}

namespace {

// Votes go to orientation - 1 .. orientation + 1, orientations run -180 .. 180.
constexpr int kAnguloMinimo = -181;
constexpr int kAngulos = 363;  // -181 .. 181

struct TablaAngulos {
    std::array<double, kAngulos> seno;
    std::array<double, kAngulos> coseno;
};

// The same sine and cosine every vote would compute, worked out once per whole degree.
TablaAngulos tablaAngulos() {
    TablaAngulos t{};
    for (int i = 0; i < kAngulos; ++i) {
        const double theta = (kAnguloMinimo + i) * 3.1415926535 / 180;
        t.seno[i] = std::sin(theta);
        t.coseno[i] = std::cos(theta);
    }
    return t;
}

}  // namespace

PlanoReal votosHough(const MapaBordes& bordes, const MapaOrientacion& orientacion, int ancho,
                     int alto) {
    COMPROBAR_IGUAL(bordes.ancho, ancho);
    COMPROBAR_IGUAL(bordes.alto, alto);
    COMPROBAR_IGUAL(orientacion.ancho, ancho);
    COMPROBAR_IGUAL(orientacion.alto, alto);
    const int n = filasConVotos(ancho, alto);
    const int cx = ancho / 2;
    const int cy = alto / 2;
    static const TablaAngulos tabla = tablaAngulos();

    PlanoReal votos(kColumnasHough, kFilasHough, 0.0);
    for (int r = 3; r <= alto - 4; ++r) {
        const std::uint8_t* mapa = bordes[r];
        const std::int32_t* grados = orientacion[r];
        for (int c = 3; c <= ancho - 4; ++c) {
            if (mapa[c] == 0) continue;
            const int o = grados[c];
            for (int t = o - 1; t <= o + 1; ++t) {
                const int i = t - kAnguloMinimo;
                const double valor = (r - cy) * tabla.seno[i] + (c - cx) * tabla.coseno[i];
                int distancia = static_cast<int>(valor);
                int angulo;
                if (distancia < 0) {
                    // The same line seen from the opposite normal.
                    distancia = -distancia;
                    angulo = ((t + 360) % 360) - 180;
                } else {
                    // Angles just outside -180 .. 179 move by a whole turn.
                    angulo = t < -180 ? t + 360 : (t > 179 ? t - 360 : t);
                }
                if (distancia < n) votos[distancia][angulo + 180] += 1.0;
            }
        }
    }
    return votos;
}

PlanoReal acumuladorHough(const MapaBordes& bordes, const MapaOrientacion& orientacion, int ancho,
                          int alto) {
    return convolucionar(votosHough(bordes, orientacion, ancho, alto), nucleoGaussiano(2.0, 11));
}
