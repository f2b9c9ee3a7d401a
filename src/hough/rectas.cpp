#include "hough/rectas.hpp"

#include "hough/acumulador.hpp"
#include "sistema/comprobar.hpp"

ListaRectas buscarRectas(PlanoReal& acumulador) {
    COMPROBAR_IGUAL(acumulador.alto, kFilasHough);
    COMPROBAR_IGUAL(acumulador.ancho, kColumnasHough);
    double maximo = 0.0;
    for (double v : acumulador.datos)
        if (v > maximo) maximo = v;

    const double umbral = 0.25 * maximo;
    for (double& v : acumulador.datos)
        if (v < umbral) v = 0.0;

    ListaRectas rectas{};
    int encontradas = 0;
    for (int i = 1; i <= kFilasHough - 2; ++i) {
        for (int j = 0; j < kColumnasHough; ++j) {
            const double valor = acumulador[i][j];
            double vecino = 0.0;
            for (int di = -1; di <= 1; ++di) {
                const double* fila = acumulador[i + di];
                for (int dj = -1; dj <= 1; ++dj) {
                    if (di == 0 && dj == 0) continue;
                    const double v = fila[(j + dj + kColumnasHough) % kColumnasHough];
                    if (v > vecino) vecino = v;
                }
            }
            if (!(valor > vecino)) continue;
            // Past the 19th, every peak lands in the last slot.
            const int slot = encontradas < kMaxRectas - 1 ? encontradas : kMaxRectas - 1;
            rectas[slot] = Recta{static_cast<double>(i), (j - 180) + 0.5};
            ++encontradas;
        }
    }
    return rectas;
}
