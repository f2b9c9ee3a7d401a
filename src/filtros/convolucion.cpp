#include "filtros/convolucion.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "sistema/comprobar.hpp"
#include <vector>

#include "imagen/paralelo.hpp"

namespace {

// Convolutions of at least this many products are worked in two halves at once.
constexpr std::int64_t kProductosEnDosMitades = 4 * 1024 * 1024;

// Output columns j0 .. j0 + B - 1 of row r. The B sums stay in registers while every kernel cell
// is added to them; each one starts at 0.0 and adds kernel rows outer, kernel columns inner.
template <int B>
void sumarTramo(const PlanoReal& copia, const Nucleo& nucleo, int r, int j0, double* destino) {
    const int n = nucleo.ancho;
    double suma[B];
    for (int jj = 0; jj < B; ++jj) suma[jj] = 0.0;
    for (int k = 0; k < n; ++k) {
        const double* filaCopia = copia[r + k] + j0;
        const double* filaNucleo = nucleo[k];
        for (int l = 0; l < n; ++l) {
            const double peso = filaNucleo[l];
            const double* origen = filaCopia + l;
            for (int jj = 0; jj < B; ++jj) suma[jj] += origen[jj] * peso;
        }
    }
    for (int jj = 0; jj < B; ++jj) destino[j0 + jj] = suma[jj];
}

}  // namespace

PlanoReal convolucionar(const PlanoReal& plano, const Nucleo& nucleo) {
    return convolucionarBordeado(bordeado(plano, (nucleo.ancho - 1) / 2), nucleo);
}

PlanoReal bordeado(const PlanoReal& plano, int c) {
    // The sums over a bordered copy need no bounds tests.
    PlanoReal copia(plano.ancho + 2 * c, plano.alto + 2 * c, 0.0);
    for (int r = 0; r < plano.alto; ++r) {
        const double* origen = plano[r];
        double* destino = copia[r + c] + c;
        for (int j = 0; j < plano.ancho; ++j) destino[j] = origen[j];
    }
    return copia;
}

PlanoReal convolucionarBordeado(const PlanoReal& copia, const Nucleo& nucleo) {
    COMPROBAR_IGUAL(nucleo.alto, nucleo.ancho);
    COMPROBAR_IGUAL(nucleo.ancho % 2, 1);
    COMPROBAR_MAYOR_IGUAL(copia.ancho, nucleo.ancho);
    COMPROBAR_MAYOR_IGUAL(copia.alto, nucleo.alto);
    const int n = nucleo.ancho;
    const int columnas = copia.ancho - (n - 1);
    const int filas = copia.alto - (n - 1);

    PlanoReal resultado = PlanoReal::sinIniciar(columnas, filas);
    constexpr int kTramo = 32;
    const auto hacerFilas = [&](int desde, int hasta) {
        for (int r = desde; r < hasta; ++r) {
            double* destino = resultado[r];
            int j = 0;
            for (; j + kTramo <= columnas; j += kTramo) sumarTramo<kTramo>(copia, nucleo, r, j, destino);
            for (; j + 4 <= columnas; j += 4) sumarTramo<4>(copia, nucleo, r, j, destino);
            for (; j < columnas; ++j) sumarTramo<1>(copia, nucleo, r, j, destino);
        }
    };
    // Much work is done in two halves of the rows at once.
    enDosMitadesSiVale(static_cast<std::int64_t>(columnas) * filas * n * n >= kProductosEnDosMitades, filas,
                       hacerFilas);
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
