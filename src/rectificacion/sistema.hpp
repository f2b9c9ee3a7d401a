#pragma once

#include <array>
#include <cstdio>
#include <optional>

// Eight equations in eight unknowns: columns 0 .. 7 are the coefficients, column 8 the right side.
using Sistema = std::array<std::array<double, 9>, 8>;
using Solucion = std::array<double, 8>;

// Prints the system to `salida`, then solves it in place by Gauss-Jordan elimination (a row is
// exchanged only for a pivot that is exactly 0). Returns nothing, after printing the failure
// message, when some pivot column has no non-zero entry left.
std::optional<Solucion> resolverSistema(Sistema& sistema, std::FILE* salida);
