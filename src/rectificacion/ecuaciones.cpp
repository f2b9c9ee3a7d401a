#include "rectificacion/ecuaciones.hpp"

#include <utility>

std::optional<Solucion> resolverSistema(Sistema& A) {
    for (int c = 0; c < 8; ++c) {
        const int p = c;
        if (A[p][c] == 0.0) {
            int r = p + 1;
            while (r < 8 && A[r][c] == 0.0) ++r;
            if (r == 8) return std::nullopt;
            std::swap(A[p], A[r]);
        }
        for (int r = 0; r < 8; ++r) {
            if (r == p) continue;
            const double e = A[r][c];
            if (e == 0.0) continue;
            const double f = e / A[p][c];
            // The row becomes f times the pivot row minus itself.
            for (int col = 0; col < 9; ++col) A[r][col] = f * A[p][col] - A[r][col];
        }
    }

    for (int r = 0; r < 8; ++r) {
        const double d = A[r][r];
        for (int col = 0; col < 9; ++col) A[r][col] /= d;
    }

    Solucion s{};
    for (int r = 0; r < 8; ++r) s[r] = A[r][8];
    return s;
}
