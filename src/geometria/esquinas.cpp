#include "geometria/esquinas.hpp"

#include <cmath>

ListaEsquinas buscarEsquinas(const ListaRectas& rectas, int ancho, int alto) {
    int n = 0;
    while (n < kMaxRectas && !finDeLista(rectas[n])) ++n;

    // Each line as x / a + y / b = 1: a and b are where it crosses y = 0 and x = 0.
    double a[kMaxRectas];
    double b[kMaxRectas];
    for (int t = 0; t < n; ++t) {
        a[t] = 1000000.0;
        b[t] = 1000000.0;
        const double theta = rectas[t].orientacion * 3.1415926535 / 180.0;
        const double s = std::sin(theta);
        if (s != 0.0) b[t] = rectas[t].distancia / s;
        const double c = std::cos(theta);
        if (c != 0.0) a[t] = rectas[t].distancia / c;
    }

    const int w2 = ancho / 2;
    const int h2 = alto / 2;
    ListaEsquinas lista;
    for (int j = 0; j < n - 1; ++j) {
        for (int k = j + 1; k < n; ++k) {
            const double D = a[k] * b[j] - b[k] * a[j];
            const double x = (a[k] * (a[j] * b[j]) - (a[k] * b[k]) * a[j]) / D;
            const double y = ((a[k] * b[j]) * b[k] - (b[k] * a[j]) * b[j]) / D;
            // Strict bounds; a not-a-number fails every test.
            if (!(-w2 < x && x < w2 && -h2 < y && y < h2)) continue;
            if (lista.cuantas < kMaxEsquinas) lista.esquinas[lista.cuantas++] = Esquina{x, y};
        }
    }
    return lista;
}
