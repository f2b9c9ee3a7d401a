#pragma once

#include "imagen/plano.hpp"

// A square n x n kernel, n odd; element [k][l] is kernel row k, column l.
using Nucleo = Plano<double>;

// Correlates `plano` with the unmirrored kernel, counting everything outside the plane as 0:
// result[r][j] = sum over k, l of nucleo[k][l] * plano[r + k - c][j + l - c], c = (n - 1) / 2, each
// sum starting at 0.0 and adding kernel rows outer, kernel columns inner. Same size as `plano`.
PlanoReal convolucionar(const PlanoReal& plano, const Nucleo& nucleo);

// The same in two steps, for several kernels of one size on one plane: the plane with `borde`
// cells of 0.0 on every side, then the correlation of such a bordered plane with an n x n kernel,
// n = 2 borde + 1 (the result as large as the plane inside the border).
PlanoReal bordeado(const PlanoReal& plano, int borde);
PlanoReal convolucionarBordeado(const PlanoReal& copia, const Nucleo& nucleo);

// A normalised n x n Gaussian of standard deviation `sigma` cells, centred at ((n - 1) / 2, same).
Nucleo nucleoGaussiano(double sigma, int n);
