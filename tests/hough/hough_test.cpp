#include <set>

#include "apoyo.hpp"
#include "hough/acumulador.hpp"
#include "hough/imagen_hough.hpp"
#include "hough/rectas.hpp"

namespace {

using Celdas = std::multiset<std::pair<int, int>>;

// The raw (row, column) votes of one edge pixel of a 576 x 432 working image.
Celdas votosDe(int fila, int columna, int grados) {
    MapaBordes bordes(576, 432, 0);
    bordes[fila][columna] = 255;
    const PlanoReal votos = votosHough(bordes, MapaOrientacion(576, 432, grados), 576, 432);
    Celdas celdas;
    for (int r = 0; r < kFilasHough; ++r)
        for (int c = 0; c < kColumnasHough; ++c)
            for (int v = 0; v < votos[r][c]; ++v) celdas.insert({r, c});
    return celdas;
}

TEST(Acumulador, CeldasDeLosVotos) {
    const struct { int fila, columna, grados; Celdas celdas; } casos[] = {
        {216, 100, 0, {{187, 359}, {188, 0}, {187, 1}}},
        {216, 476, -180, {{187, 179}, {188, 180}, {187, 181}}},
        {216, 476, 179, {{187, 178}, {187, 179}, {188, 180}}},
        {216, 100, -180, {{187, 359}, {188, 0}, {187, 1}}},
        {100, 288, 90, {{115, 89}, {116, 90}, {115, 91}}},
        {216, 288, 45, {{0, 224}, {0, 225}, {0, 226}}},
        {100, 288, 180, {{2, 179}, {0, 0}, {2, 1}}},  // t = 181 with distance 2 lands at -179
        {3, 3, 0, {{281, 359}, {285, 0}, {288, 1}}},  // the outermost pixels that vote
        {428, 572, 0, {{280, 179}, {284, 180}, {287, 181}}},
        {2, 300, 0, {}}, {429, 300, 0, {}}, {200, 2, 0, {}}, {200, 573, 0, {}}};
    for (const auto& [r, c, grados, celdas] : casos)
        EXPECT_EQ(votosDe(r, c, grados), celdas) << r << ' ' << c << ' ' << grados;
}

// A 599 x 399 image votes at distance 355 at most; the smoothing still covers all 359 rows.
TEST(Acumulador, SuavizaLasTrescientasCincuentaYNueveFilas) {
    MapaBordes bordes(599, 399, 0);
    bordes[3][3] = 255;
    const PlanoReal a = acumuladorHough(bordes, MapaOrientacion(599, 399, -147), 599, 399);
    ASSERT_EQ(a.datos.size(), 359u * 360u);
    EXPECT_TRUE(a[355][33] > a[358][33] && a[358][33] > 0.0 && a[355][33] < 0.1);
}

using Lineas = std::vector<std::pair<double, double>>;

// Peaks found in an accumulator with these cells, then the 20 slots checked against `esperadas`.
PlanoReal buscarEn(std::vector<std::tuple<int, int, double>> celdas, Lineas esperadas) {
    PlanoReal a(kColumnasHough, kFilasHough, 0.0);
    for (const auto& [r, c, v] : celdas) a[r][c] = v;
    const ListaRectas rectas = buscarRectas(a);
    esperadas.resize(kMaxRectas, {0.0, 0.0});
    for (int i = 0; i < kMaxRectas; ++i)
        EXPECT_EQ(std::pair(rectas[i].distancia, rectas[i].orientacion), esperadas[i]) << i;
    return a;
}

TEST(Rectas, UmbralYPicos) {
    EXPECT_EQ(apoyo::valores(buscarEn({}, {})), std::vector<double>(359 * 360, 0.0));
    const PlanoReal a =
        buscarEn({{50, 50, 100}, {100, 100, 24.9}, {200, 200, 25}}, {{50, -129.5}, {200, 20.5}});
    EXPECT_EQ(a[100][100], 0.0);
    // Rows 0 and 358 only neighbour; columns 0 and 359 are neighbours; equal neighbours both lose.
    buscarEn({{0, 10, 5}, {358, 20, 5}, {1, 30, 5}, {357, 40, 5}, {100, 0, 5}, {101, 359, 6},
              {200, 0, 6}, {199, 359, 5}, {150, 100, 7}, {150, 101, 7}, {250, 180, 5}},
             {{1, -149.5}, {101, 179.5}, {200, -179.5}, {250, 0.5}, {357, -139.5}});
    for (int picos : {19, 20, 25}) {  // past the 19th, each peak replaces slot 19
        std::vector<std::tuple<int, int, double>> celdas;
        Lineas esperadas;
        for (int k = 0; k < picos; ++k) {
            celdas.push_back({5 + 10 * k, 100 + k, 1.0});
            if (k < kMaxRectas - 1 || k == picos - 1) esperadas.push_back({5 + 10 * k, k - 79.5});
        }
        buscarEn(celdas, esperadas);
    }
}

TEST(ImagenHough, MaximoA250YArchivoFijo) {
    PlanoReal a(kColumnasHough, kFilasHough, 0.0);
    const ImagenBmp negra = imagenEspacioHough(a);
    EXPECT_EQ(apoyo::valores(negra.plano0), std::vector<std::uint8_t>(360 * 359, 0));
    a[10][200] = 500, a[20][30] = 499, a[30][40] = 1, a[358][359] = 100;
    const ImagenBmp img = imagenEspacioHough(a);
    for (const PlanoBytes* p : {&img.plano0, &img.plano1, &img.plano2})
        EXPECT_TRUE((*p)[10][200] == 250 && (*p)[20][30] == 249 && (*p)[30][40] == 0 &&
                    (*p)[358][359] == 50);
    apoyo::CarpetaTemporal carpeta;
    ASSERT_TRUE(grabarImagen(img, carpeta / "h.bmp").ok());
    const apoyo::Bytes archivo = apoyo::leerArchivo(carpeta / "h.bmp");
    ASSERT_EQ(archivo.size(), 387774u);
    EXPECT_EQ(archivo[54 + 10 * 1080 + 200 * 3 + 2], 250);
}

}  // namespace
