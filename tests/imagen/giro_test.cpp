#include "imagen/giro.hpp"

#include <gtest/gtest.h>

namespace {

// A 3 x 2 plane whose pixels are told apart, as seen (top row first): 1 2 3 / 4 5 6.
PlanoBytes tresPorDos() {
    PlanoBytes p(3, 2);
    const std::uint8_t vistos[2][3] = {{1, 2, 3}, {4, 5, 6}};
    for (int f = 0; f < 2; ++f)
        for (int c = 0; c < 3; ++c) p[1 - f][c] = vistos[f][c];  // rows in file order: the top row last
    return p;
}

// The plane's pixels as seen, top row first.
std::vector<std::vector<int>> vistos(const PlanoBytes& p) {
    std::vector<std::vector<int>> r;
    for (int f = p.alto - 1; f >= 0; --f) r.emplace_back(p[f], p[f] + p.ancho);
    return r;
}

}  // namespace

TEST(Giro, CadaCuartoDeVueltaEnElSentidoDelRelojComoSeVe) {
    const PlanoBytes p = tresPorDos();
    using V = std::vector<std::vector<int>>;
    EXPECT_EQ(vistos(girarPlano(p, 0)), (V{{1, 2, 3}, {4, 5, 6}}));
    // Clockwise: the left column, read upward, becomes the top row.
    EXPECT_EQ(vistos(girarPlano(p, 90)), (V{{4, 1}, {5, 2}, {6, 3}}));
    EXPECT_EQ(vistos(girarPlano(p, 180)), (V{{6, 5, 4}, {3, 2, 1}}));
    EXPECT_EQ(vistos(girarPlano(p, 270)), (V{{3, 6}, {2, 5}, {1, 4}}));
    // Turns add up, and four of them are none.
    EXPECT_EQ(vistos(girarPlano(girarPlano(p, 90), 90)), vistos(girarPlano(p, 180)));
    EXPECT_EQ(vistos(girarPlano(girarPlano(p, 90), 270)), vistos(p));
    EXPECT_EQ(vistos(girarPlano(girarPlano(p, 180), 180)), vistos(p));
}

TEST(Giro, UnaImagenGiraSusTresPlanosYSuCabecera) {
    ImagenBmp img = imagenNueva(3, 2);
    img.plano0 = tresPorDos();
    img.plano2 = girarPlano(girarPlano(tresPorDos(), 90), 90);  // a 3 x 2 plane too, other pixels
    const ImagenBmp g = girarImagen(img, 90);
    EXPECT_EQ(g.ancho(), 2);
    EXPECT_EQ(g.alto(), 3);
    EXPECT_EQ(vistos(g.plano0), vistos(girarPlano(img.plano0, 90)));
    EXPECT_EQ(vistos(g.plano1), vistos(PlanoBytes(2, 3, 0)));
    EXPECT_EQ(vistos(g.plano2), vistos(girarPlano(img.plano2, 90)));
    EXPECT_EQ(g.header, headerNuevo(2, 3));
}

TEST(GiroDeathTest, SoloCuartosDeVuelta) {
    EXPECT_DEATH(girarPlano(tresPorDos(), 45), "grados");
}
