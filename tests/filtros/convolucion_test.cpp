#include <gtest/gtest.h>

#include <array>

#include "filtros/convolucion.hpp"

namespace {

// A lone 1 at [k][l] copies the plane moved by (c - k, c - l): unmirrored, zero outside.
TEST(Convolucion, PesoUnicoDesplazaSinEspejoConBordeCero) {
    PlanoReal plano(7, 5);
    for (int i = 0; i < 35; ++i) plano.datos[i] = i + 1;
    for (auto [n, k, l] : {std::array{1, 0, 0}, {3, 1, 1}, {3, 0, 0}, {3, 2, 1}, {5, 1, 4}}) {
        Nucleo nucleo(n, n, 0.0);
        nucleo[k][l] = 1.0;
        const PlanoReal res = convolucionar(plano, nucleo);
        ASSERT_EQ(res.datos.size(), 35u);
        for (int r = 0; r < 5; ++r)
            for (int j = 0; j < 7; ++j) {
                const int rr = r + k - (n - 1) / 2, jj = j + l - (n - 1) / 2;
                const bool dentro = rr >= 0 && rr < 5 && jj >= 0 && jj < 7;
                EXPECT_EQ(res[r][j], dentro ? plano[rr][jj] : 0.0) << n << k << l << " " << r << j;
            }
    }
}

TEST(Convolucion, GaussianosValoresYSimetria) {
    const struct { double sigma; int n; double centro, esquina, medioFila0; } casos[] = {
        {3.0, 15, 0.0181167, 0.0000783, 0.0011908}, {2.0, 11, 0.0402265, 0.0000777, 0.0017674}};
    for (const auto& [sigma, n, centro, esquina, medioFila0] : casos) {
        const Nucleo g = nucleoGaussiano(sigma, n);
        const int c = (n - 1) / 2;
        EXPECT_NEAR(g[c][c], centro, 5e-8);
        EXPECT_NEAR(g[0][0], esquina, 5e-8);
        EXPECT_NEAR(g[0][c], medioFila0, 5e-8);
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
                EXPECT_TRUE(g[i][j] == g[j][i] && g[i][j] == g[n - 1 - i][n - 1 - j]) << i << j;
    }
    const Nucleo uno = nucleoGaussiano(0.7, 1);
    EXPECT_EQ(uno.datos.size(), 1u);
    EXPECT_EQ(uno[0][0], 1.0);
}

}  // namespace
