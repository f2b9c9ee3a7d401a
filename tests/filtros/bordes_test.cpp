#include <algorithm>

#include "apoyo.hpp"
#include "filtros/bordes.hpp"
#include "hough/acumulador.hpp"

namespace {

Bordes bordesDe(int ancho, int alto, int dentro, int fuera) {  // a centred rectangle on a ground
    return detectarBordes(apoyo::imagenDe(ancho, alto, [=](int r, int c, int) {
        const int dr = std::abs(2 * r + 1 - alto), dc = std::abs(2 * c + 1 - ancho);
        return dr < alto / 2 && dc < ancho / 2 ? dentro : fuera;
    }));
}

// The zero border darkens a constant image toward its sides: a frame of edges facing the centre.
TEST(Bordes, ImagenConstanteDaMarcoHaciaElCentro) {
    const Bordes b = bordesDe(40, 30, 200, 200), negro = bordesDe(40, 30, 0, 0);
    for (int r = 0; r < 30; ++r)
        for (int c = 0; c < 40; ++c) {
            const int dr = std::min(r, 29 - r), dc = std::min(c, 39 - c);
            const bool marco = dr <= 3 || dc <= 3 || (dr == 4 && dc == 4);  // 500 pixels
            EXPECT_EQ(b.mapa[r][c], marco ? 255 : 0) << r << "," << c;
            EXPECT_TRUE(negro.mapa[r][c] == 0 && negro.orientacion[r][c] == 0);  // gx = gy = 0
        }
    const MapaBordes gris = bordesDe(40, 30, 100, 100).mapa;
    EXPECT_EQ(std::count(gris.datos.begin(), gris.datos.end(), 255), 268);
    // Middles of the column-0, last-column, row-0 and last-row sides; the corner [0][0].
    const int grados[][3] = {{15, 0, 0}, {15, 39, 180}, {0, 20, 90}, {29, 20, -91}, {0, 0, 45}};
    for (const auto& [r, c, g] : grados) EXPECT_EQ(b.orientacion[r][c], g) << r << "," << c;
}

// A bright rectangle keeps an 8-pixel band on its outline; dark on bright it loses it all.
TEST(Bordes, SoloBordesConElLadoClaroHaciaElCentro) {
    const Bordes claro = bordesDe(80, 60, 200, 30), oscuro = bordesDe(80, 60, 30, 200);
    for (int d = -5; d <= 4; ++d) {
        const int marcas = claro.mapa[30][20 + d] + claro.mapa[30][60 + d] + claro.mapa[15 + d][40];
        EXPECT_EQ(marcas, d > -5 && d < 4 ? 3 * 255 : 0) << d;
    }
    for (int r = 8; r < 52; ++r)
        for (int c = 8; c < 72; ++c) ASSERT_EQ(oscuro.mapa[r][c], 0) << r << "," << c;
    EXPECT_EQ(oscuro.mapa[30][0], 255);
}

// A step through the centre pixel, bright from the centre column on: along the row through the
// centre the step's band keeps the pixels up to the centre itself, which neither faces the bright
// side nor turns away from it, and loses those past it (up to the frame of the image's own border).
TEST(Bordes, ElCentroSobreUnBordeSigueSiendoBorde) {
    const Bordes b = detectarBordes(apoyo::imagenDe(80, 60, [](int, int c, int) { return c >= 40 ? 200 : 30; }));
    EXPECT_EQ(b.mapa[30][40], 255);
    EXPECT_EQ(b.mapa[30][39], 255);
    for (int c = 41; c < 70; ++c) EXPECT_EQ(b.mapa[30][c], 0) << c;
}

// Directions for the edge pixels alone: the same map, the same direction on every pixel whose
// gradient passes the threshold (every edge pixel among them), 0 on the others; so the same votes.
TEST(Bordes, LasDireccionesDeLosBordesSolosDanLosMismosVotos) {
    // A tilted bright quadrilateral with some texture, on a darker ground.
    const ImagenBmp imagen = apoyo::imagenDe(160, 120, [](int r, int c, int p) {
        const bool dentro = 3 * c + r > 120 && 3 * c + r < 400 && c - 2 * r < 60 && c - 2 * r > -150;
        return (dentro ? 190 : 40) + (r * 7 + c * 13 + p * 5) % 23;
    });
    const Bordes todas = detectarBordes(imagen), deBordes = detectarBordes(imagen, Orientaciones::deBordes);
    EXPECT_EQ(deBordes.mapa.datos, todas.mapa.datos);
    int bordes = 0, ceros = 0;
    for (int r = 0; r < 120; ++r)
        for (int c = 0; c < 160; ++c) {
            const std::int32_t o = deBordes.orientacion[r][c];
            if (todas.mapa[r][c] != 0) {
                ++bordes;
                EXPECT_EQ(o, todas.orientacion[r][c]) << r << "," << c;
            } else if (o != todas.orientacion[r][c]) {
                ++ceros;
                EXPECT_EQ(o, 0) << r << "," << c;
            }
        }
    EXPECT_GT(bordes, 300);
    EXPECT_GT(ceros, 1000);
    EXPECT_EQ(votosHough(deBordes.mapa, deBordes.orientacion, 160, 120).datos,
              votosHough(todas.mapa, todas.orientacion, 160, 120).datos);
}

}  // namespace
