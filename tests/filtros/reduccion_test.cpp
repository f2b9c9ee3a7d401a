// Shrinking (or enlarging) the photograph to the working image.
#include <cmath>

#include "apoyo.hpp"
#include "filtros/reduccion.hpp"

namespace {

constexpr PlanoBytes ImagenBmp::*kPlanos[] = {&ImagenBmp::plano0, &ImagenBmp::plano1, &ImagenBmp::plano2};

double factorDe(double ancho, double alto) { return std::sqrt(ancho * ancho + alto * alto) / 720.0; }

TEST(ReducirImagen, TamanoCabeceraYCopiaConFactorUno) {
    struct { int ancho, alto; double f; int anchoNuevo, altoNuevo; } casos[] = {
        {4, 2, 2.0, 2, 1}, {2048, 1536, factorDe(2048, 1536), 576, 432},
        {400, 300, factorDe(400, 300), 576, 432}, {1920, 1080, factorDe(1920, 1080), 627, 352}, {627, 5, 1.0, 627, 5}};
    for (const auto& k : casos) {
        SCOPED_TRACE(testing::Message() << k.ancho << "x" << k.alto);
        ImagenBmp foto = apoyo::imagenDe(k.ancho, k.alto, [](int r, int c, int p) { return 5 * r + 3 * c + p; });
        for (std::size_t i : {6, 9, 10, 14, 26, 30, 38, 46, 53}) foto.header[i] = std::uint8_t(i + 100);
        const ImagenBmp r = reducirImagen(foto, k.f);
        const int bytes = (3 * k.anchoNuevo + 3) / 4 * 4 * k.altoNuevo;
        HeaderBmp h = foto.header;  // the photo's, but for the four size fields
        for (auto [campo, v] : {std::pair{bmp::kAncho, k.anchoNuevo}, {bmp::kAlto, k.altoNuevo},
                                {bmp::kTamanoImagen, bytes}, {bmp::kTamanoArchivo, 54 + bytes}})
            fijarCampo32(h, campo, v);
        EXPECT_EQ(r.header, h);
        for (auto m : kPlanos) {
            ASSERT_EQ((r.*m).datos.size(), std::size_t(k.anchoNuevo) * k.altoNuevo);
            if (k.f == 1.0) { EXPECT_EQ((r.*m).datos, (foto.*m).datos); }
        }
    }
}

TEST(ReducirImagen, PromediosTruncadosDeBloquesDeLadoTruncado) {
    // f = 2: plane 0 holds a block 1, 2, 2, 2; plane 1 tells the blocks apart; plane 2 sums past a byte.
    const auto chica = reducirImagen(apoyo::imagenDe(4, 2, [](int r, int c, int p) {
        return p == 0 ? (r == 0 && c == 0 ? 1 : 2) : p == 1 ? 4 * r + c : 255; }), 2.0);
    EXPECT_EQ(apoyo::valores(chica.plano0), (apoyo::Bytes{1, 2}));
    EXPECT_EQ(apoyo::valores(chica.plano1), (apoyo::Bytes{2, 4}));
    EXPECT_EQ(apoyo::valores(chica.plano2), (apoyo::Bytes{255, 255}));
    // f = 3.55..: blocks of 3 spaced 3.55.. apart; plane 0 follows the column, plane 1 the row, and
    // column and row 6 (255) fall between blocks.
    const auto r = reducirImagen(apoyo::imagenDe(2048, 1536, [](int fila, int col, int p) {
        const int i = p == 0 ? col : fila;
        return i == 6 ? 255 : i % 200; }), factorDe(2048, 1536));
    for (auto [i, media] : {std::pair{0, 1}, {1, 4}, {2, 8}, {431, 133}}) {
        EXPECT_EQ(r.plano0[3][i], media) << "column " << i;
        EXPECT_EQ(r.plano1[i][7], media) << "row " << i;
    }
}

TEST(ReducirImagen, FactorMenorQueUnoAmpliaPorVecinoMasCercano) {
    const ImagenBmp foto = apoyo::imagenDe(400, 300, [](int r, int c, int p) { return 1 + (3 * r + c + p) % 250; });
    const ImagenBmp r = reducirImagen(foto, factorDe(400, 300));
    for (auto [x, y, c, f] : {std::array{0, 0, 0, 0}, {1, 1, 0, 0}, {2, 3, 1, 2}, {575, 431, 399, 299}})
        for (auto m : kPlanos) EXPECT_EQ((r.*m)[y][x], (foto.*m)[f][c]) << x << "," << y;
}

}  // namespace
