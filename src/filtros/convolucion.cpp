#include "filtros/convolucion.hpp"

#include <cmath>
#include <cstddef>
#include <vector>

PlanoReal convolucionar(const PlanoReal& plano, const Nucleo& nucleo) {
    const int columnas = plano.ancho;
    const int filas = plano.alto;
    const int n = nucleo.ancho;
    const int c = (n - 1) / 2;

    // Bordered copy: c cells of 0.0 on every side, so the sums need no bounds tests.
    PlanoReal copia(columnas + 2 * c, filas + 2 * c, 0.0);
    for (int r = 0; r < filas; ++r) {
        const double* origen = plano[r];
        double* destino = copia[r + c] + c;
        for (int j = 0; j < columnas; ++j) destino[j] = origen[j];
    }

    PlanoReal resultado(columnas, filas, 0.0);
    for (int r = 0; r < filas; ++r) {
        // Each pixel's sum starts at 0.0 and adds kernel rows outer, kernel columns inner; the
        // innermost loop runs across the output row so that it vectorises.
        double* suma = resultado[r];
        for (int k = 0; k < n; ++k) {
            const double* filaCopia = copia[r + k];
            const double* filaNucleo = nucleo[k];
            for (int l = 0; l < n; ++l) {
                const double peso = filaNucleo[l];
                const double* origen = filaCopia + l;
                for (int j = 0; j < columnas; ++j) suma[j] += origen[j] * peso;
            }
        }
    }
    return resultado;
}

Nucleo nucleoGaussiano(double sigma, int n) {
    const double D = sigma * (sigma + sigma);
    const double a = 1.0 / (D * 3.1415926535);
    const int c = (n - 1) / 2;
    Nucleo nucleo(n, n, 0.0);
    double suma = 0.0;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            const double valor =
                a * std::exp(-(static_cast<double>((j - c) * (j - c) + (i - c) * (i - c)) / D));
            nucleo[i][j] = valor;
            suma += valor;
        }
    }
    for (double& v : nucleo.datos) v /= suma;
    return nucleo;
}
