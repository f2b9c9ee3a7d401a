#include <algorithm>

#include "apoyo.hpp"
#include "rectificacion/hoja.hpp"
#include "rectificacion/ecuaciones.hpp"

namespace {

Sistema identidad() {
    Sistema A{};
    for (int r = 0; r < 8; ++r) A[r][r] = 1, A[r][8] = r + 1;
    return A;
}

TEST(Sistema, ResuelveEnSuLugarOFalla) {
    Sistema cambio = identidad(), sinColumna0 = identidad(), sinUltimo = identidad();
    std::swap(cambio[0], cambio[3]);  // column 0's first non-zero is in row 3
    cambio[5][0] = 2, cambio[5][8] += 2;
    sinColumna0[0][0] = 0;
    sinUltimo[7][7] = 0, sinUltimo[1][0] = 2, sinUltimo[1][8] = 4;
    const Sistema sistemas[] = {identidad(), cambio, sinColumna0, sinUltimo};
    for (int i = 0; i < 4; ++i) {
        Sistema A = sistemas[i];
        const auto s = resolverSistema(A);
        ASSERT_EQ(s.has_value(), i < 2);
        for (int r = 0; r < 8 && s; ++r) EXPECT_DOUBLE_EQ((*s)[r], r + 1);
        if (i < 3) continue;
        // Row 1 became 2 x row 0 minus itself; rows with 0 in every pivot column kept their sign.
        EXPECT_EQ(A[1], (std::array<double, 9>{0, -1, 0, 0, 0, 0, 0, 0, -2}));
        for (int r = 2; r < 8; ++r) EXPECT_EQ(A[r], sistemas[i][r]) << r;
    }
}

// The four corners at the output points (1,1), (850,1), (850,1100), (0,1100), moved by (dx, dy).
std::array<Esquina, 4> esquinasEn(double dx, double dy) {
    return {{{1 + dx, 1 + dy}, {850 + dx, 1 + dy}, {850 + dx, 1100 + dy}, {0 + dx, 1100 + dy}}};
}

TEST(Hoja, EsquinasEnLosDestinosCopianLaFotoYElMarcoRepiteElBorde) {
    const ImagenBmp foto = apoyo::imagenDe(
        860, 1110, [](int r, int c, int p) { return (7 * r + 3 * c + 50 * p) % 256; });
    const auto hoja = rectificarHoja(foto, esquinasEn(0, 0)).hoja;
    ASSERT_TRUE(hoja);
    ASSERT_TRUE(hoja->ancho() == 852 && hoja->alto() == 1103);
    const PlanoBytes* planos[3][2] = {{&hoja->plano0, &foto.plano0}, {&hoja->plano1, &foto.plano1},
                                      {&hoja->plano2, &foto.plano2}};
    // Inside, the photograph's byte or one less; in the frame, the nearest pixel inside.
    for (const auto& [h, f] : planos)
        for (int r = 0; r < 1103; ++r)
            for (int c = 0; c < 852; ++c) {
                const int ri = std::clamp(r, 15, 1087), ci = std::clamp(c, 15, 836);
                const bool dentro = r == ri && c == ci;
                const int v = (*h)[r][c], esperado = dentro ? (*f)[r][c] : (*h)[ri][ci];
                ASSERT_TRUE(v == esperado || (dentro && v == esperado - 1)) << r << "," << c;
            }
}

// Moved by (0.25, 0.5) on a 40 x 30 photograph: output (k, i) samples (k + 0.25, i + 0.5).
TEST(Hoja, InterpolaEntreVecinosYSujetaAlBorde) {
    const ImagenBmp foto = apoyo::imagenDe(40, 30, [](int r, int c, int p) {
        if (p == 0) return c <= 20 ? 0 : (c <= 38 ? 255 : 9);    // by column
        if (p == 1) return r <= 20 ? 100 : (r <= 28 ? 200 : 9);  // by row
        return r == 21 && c == 20 ? 255 : 0;
    });
    const auto hoja = rectificarHoja(foto, esquinasEn(0.25, 0.5)).hoja;
    ASSERT_TRUE(hoja);
    EXPECT_EQ(hoja->plano0[20][20], 63);   // 255 x 0.25
    EXPECT_EQ(hoja->plano1[20][20], 150);  // half way from 100 to 200
    EXPECT_EQ(hoja->plano2[20][20], 95);   // 255 x (1 - 0.25) x 0.5, from one row higher
    // Past the photograph: column 38 and row 28 alone; the last column and row weigh nothing.
    for (int k = 38; k < 852; ++k) EXPECT_EQ(hoja->plano0[500][k], 255) << k;
    for (int i = 28; i < 1103; ++i) EXPECT_EQ(hoja->plano1[i][400], 200) << i;
}

}  // namespace
