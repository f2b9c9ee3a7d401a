#include <algorithm>
#include <cmath>

#include "apoyo.hpp"
#include "geometria/contorno.hpp"

namespace {

TEST(Esquinas, InterseccionesEstrictamenteDentro) {
    const Recta r1{100, 0.5}, r2{100, 90.5}, x256{256, 0};
    const Recta tambien256{256 * std::cos(60 * 3.1415926535 / 180.0), 60};  // through (256, 0) too
    const struct { ListaRectas rectas; int ancho, alto; std::vector<Esquina> esquinas; } casos[] = {
        {{r1, r2}, 576, 432, {{99.124, 100.869}}},
        {{{{100, -179.5}, {100, -89.5}}}, 576, 432, {{-99.124, -100.869}}},
        {{r1, {0, 5}, r2}, 576, 432, {{99.124, 100.869}}},  // (0, 5) does not end the list
        {{Recta{}, r1, r2}, 576, 432, {}},
        {{r1, {50, 0.5}, r1}, 576, 432, {}},  // parallel and identical lines
        {{r1, r2}, 198, 432, {}}, {{r1, r2}, 576, 201, {}},
        {{x256, tambien256}, 512, 400, {}}, {{x256, tambien256}, 513, 400, {}},
        {{x256, tambien256}, 514, 400, {{256, 0}}}};
    for (const auto& [rectas, ancho, alto, esquinas] : casos) {
        const ListaEsquinas e = buscarEsquinas(rectas, ancho, alto);
        ASSERT_EQ(e.cuantas, static_cast<int>(esquinas.size())) << ancho << "x" << alto;
        for (int i = 0; i < e.cuantas; ++i) {
            EXPECT_NEAR(e.esquinas[i].x, esquinas[i].x, 1e-3);
            EXPECT_NEAR(e.esquinas[i].y, esquinas[i].y, 1e-3);
        }
    }
    ListaRectas malla{};  // 20 lines, 100 crossings: the first ten are line 0's with lines 10 .. 19
    for (int k = 0; k < 20; ++k) malla[k] = {10.0 + 10 * (k % 10), k < 10 ? 0.5 : 90.5};
    const ListaEsquinas e = buscarEsquinas(malla, 576, 432);
    EXPECT_EQ(e.cuantas, kMaxEsquinas);
    EXPECT_NEAR(e.esquinas[9].x, 9.12696, 1e-4);
    EXPECT_NEAR(e.esquinas[9].y, 100.0834, 1e-4);
}

using Pares = std::vector<std::pair<double, double>>;

// Slots 0 .. 3 after ordering the given corners; slots 4 .. 9 must stay as they were.
Pares ordenadas(std::initializer_list<Esquina> primeras) {
    std::array<Esquina, kMaxEsquinas> e;
    e.fill({7, 7});
    std::copy(primeras.begin(), primeras.end(), e.begin());
    ordenarEsquinas(e);
    Pares v;
    for (const Esquina& x : e) v.push_back({x.x, x.y});
    EXPECT_EQ(std::count(v.begin() + 4, v.end(), std::pair(7.0, 7.0)), 6);
    return {v.begin(), v.begin() + 4};
}

TEST(Contorno, OrdenPorCuadrantes) {
    const Esquina q[4] = {{-1, -2}, {3, -4}, {5, 6}, {-7, 8}}, q0b{-9, -1}, eje{0, 3};
    int o[4] = {0, 1, 2, 3};
    do {  // four quadrants, any order
        EXPECT_EQ(ordenadas({q[o[0]], q[o[1]], q[o[2]], q[o[3]]}),
                  (Pares{{-1, -2}, {3, -4}, {5, 6}, {-7, 8}})) << o[0] << o[1] << o[2] << o[3];
    } while (std::next_permutation(o, o + 4));
    // Otherwise a single pass of exchanges.
    EXPECT_EQ(ordenadas({q[0], q0b, q[2], q[3]}), (Pares{{-9, -1}, {-1, -2}, {5, 6}, {-7, 8}}));
    EXPECT_EQ(ordenadas({q[0], eje, q[2], q[3]}), (Pares{{-1, -2}, {0, 3}, {5, 6}, {-7, 8}}));
    EXPECT_EQ(ordenadas({q[0], eje, q[1], q[3]}), (Pares{{-1, -2}, {3, -4}, {0, 3}, {-7, 8}}));
    // A corner on either axis, or on the centre, has no quadrant: in any slot, with the other three
    // in their own quadrants' slots, nothing moves.
    for (const Esquina a : {Esquina{0, -3}, Esquina{4, 0}, Esquina{0, 3}, Esquina{-4, 0}, Esquina{0, 0}})
        for (int s = 0; s < 4; ++s) {
            Esquina e[4] = {q[0], q[1], q[2], q[3]};
            e[s] = a;
            Pares esperadas;
            for (const Esquina& x : e) esperadas.push_back({x.x, x.y});
            EXPECT_EQ(ordenadas({e[0], e[1], e[2], e[3]}), esperadas) << a.x << "," << a.y << " in slot " << s;
        }
}

TEST(Contorno, PixelesDelSegmento) {
    using Pixeles = std::vector<std::pair<int, int>>;  // (column, row)
    const std::pair<std::array<int, 4>, Pixeles> casos[] = {
        {{0, 0, 4, 1}, {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 1}}},
        {{0, 0, 1, 3}, {{0, 0}, {0, 1}, {0, 2}, {1, 3}}},
        {{3, 0, 0, 1}, {{0, 1}, {1, 0}, {2, 0}, {3, 0}}},
        {{5, 0, 0, 5}, {{0, 5}, {1, 4}, {2, 3}, {3, 2}, {4, 1}, {5, 0}}},
        {{2, 5, 2, 5}, {{2, 5}}},
        {{6, 5, 0, 0}, {{0, 0}, {1, 0}, {2, 1}, {3, 2}, {4, 3}, {5, 4}, {6, 5}}},
        {{7, 0, 0, 0}, {}}, {{0, 6, 0, 0}, {}}, {{-1, 0, 0, 0}, {}}, {{0, 0, 0, -1}, {}}};
    for (const auto& [p, pixeles] : casos)
        for (bool invertido : {false, true}) {  // either endpoint first, the same pixels
            ImagenBmp img = apoyo::imagenDe(7, 6, [](int, int, int plano) { return plano; });
            const bool trazado = invertido ? trazarSegmento(img, p[2], p[3], p[0], p[1])
                                           : trazarSegmento(img, p[0], p[1], p[2], p[3]);
            EXPECT_EQ(trazado, !pixeles.empty());
            Pixeles marcados;
            for (int x = 0; x < 7; ++x)
                for (int y = 0; y < 6; ++y)
                    if (img.plano1[y][x] == 255) marcados.push_back({x, y});
            EXPECT_EQ(marcados, pixeles) << p[0] << p[1] << p[2] << p[3];
            EXPECT_EQ(std::count(img.plano2.datos.begin(), img.plano2.datos.end(), 2), 42);
        }
}

}  // namespace
