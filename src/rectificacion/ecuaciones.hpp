#pragma once

#include <array>
#include <optional>

// Eight equations in eight unknowns: columns 0 .. 7 are the coefficients, column 8 the right side.
using Sistema = std::array<std::array<double, 9>, 8>;
using Solucion = std::array<double, 8>;

// Solves the system in place by Gauss-Jordan elimination (a row is exchanged only for a pivot that
// is exactly 0), leaving it in reduced form. Nothing when some pivot column has no non-zero entry
// left. Whoever shows the system shows it before the call, as it was given.
std::optional<Solucion> resolverSistema(Sistema& sistema);
