// The sheet's corners: one slot order whatever order they come in and however the sheet is turned,
// and the display frame the JSON lines and the options use.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "apoyo.hpp"
#include "geometria/cuadrilatero.hpp"

namespace {

constexpr int kAlto = 600;

// A 300 x 200 rectangle (as a viewer sees it) turned by `grados` about (400, 300), stored-row frame:
// slots bottom-left, bottom-right, top-right, top-left before the turn.
Cuadrilatero rectanguloGirado(double grados) {
    const double a = grados * std::numbers::pi / 180.0;
    const double pantalla[4][2] = {{-150, 100}, {150, 100}, {150, -100}, {-150, -100}};  // y down
    Cuadrilatero c{};
    for (int i = 0; i < 4; ++i) {
        const double x = pantalla[i][0] * std::cos(a) - pantalla[i][1] * std::sin(a);
        const double y = pantalla[i][0] * std::sin(a) + pantalla[i][1] * std::cos(a);
        c[i] = {400 + x, (kAlto - 1) - (300 + y)};
    }
    return c;
}

bool iguales(const Cuadrilatero& a, const Cuadrilatero& b) {
    for (int i = 0; i < 4; ++i)
        if (a[i].x != b[i].x || a[i].y != b[i].y) return false;
    return true;
}

TEST(Cuadrilatero, CualquierOrdenDaElMismoYArrancaDeLaEsquinaMasArribaALaIzquierda) {
    for (double grados = -175; grados < 180; grados += 12.5) {
        const Cuadrilatero verdad = rectanguloGirado(grados);
        Cuadrilatero revuelto = verdad;
        std::sort(revuelto.begin(), revuelto.end(), [](const Esquina& a, const Esquina& b) { return a.x < b.x; });
        const Cuadrilatero o = ordenarCuadrilatero(revuelto, kAlto);
        do {
            EXPECT_TRUE(iguales(ordenarCuadrilatero(revuelto, kAlto), o)) << grados;
        } while (std::next_permutation(revuelto.begin(), revuelto.end(),
                                       [](const Esquina& a, const Esquina& b) { return a.x < b.x; }));
        // Slot 3 is the one nearest the top-left as seen, and the order runs counter-clockwise on
        // screen: positive signed area with rows growing upward.
        for (const Esquina& e : verdad) EXPECT_LE(o[3].x + (kAlto - 1 - o[3].y), e.x + (kAlto - 1 - e.y));
        double area = 0;
        for (int i = 0; i < 4; ++i) area += o[i].x * o[(i + 1) % 4].y - o[(i + 1) % 4].x * o[i].y;
        EXPECT_NEAR(area / 2, 300.0 * 200.0, 1e-6) << grados;
        // Turned less than 45 degrees either way, the slots are the sheet's own.
        if (std::abs(grados) < 45) {
            EXPECT_TRUE(iguales(o, verdad)) << grados;
        }
    }
}

TEST(Cuadrilatero, LaPantallaVaConYHaciaAbajoDesdeArribaALaIzquierdaEnElSentidoDelReloj) {
    const Cuadrilatero c{{{10, 20}, {110, 25}, {105, 95}, {12, 90}}};  // stored rows: 0 is the bottom
    const Cuadrilatero p = aPantalla(c, 100);
    const Cuadrilatero esperado{{{12, 9}, {105, 4}, {110, 74}, {10, 79}}};
    EXPECT_TRUE(iguales(p, esperado));
    EXPECT_TRUE(iguales(desdePantalla(p, 100), c));
    // Whatever order they were found in, on screen the first is the top-left and the rest follow
    // clockwise.
    for (double grados : {-30.0, 0.0, 20.0, 44.0}) {
        const Cuadrilatero enPantalla = aPantalla(ordenarCuadrilatero(rectanguloGirado(grados), kAlto), kAlto);
        for (int i = 1; i < 4; ++i) EXPECT_LT(enPantalla[0].x + enPantalla[0].y, enPantalla[i].x + enPantalla[i].y);
        double area = 0;  // clockwise with y down: positive
        for (int i = 0; i < 4; ++i)
            area += enPantalla[i].x * enPantalla[(i + 1) % 4].y - enPantalla[(i + 1) % 4].x * enPantalla[i].y;
        EXPECT_GT(area, 0) << grados;
    }
}

}  // namespace
