// The sheet's corners: one slot order whatever order they come in and however the sheet is turned,
// the display frame the JSON lines and the options use, and the check and text of corners given by
// hand.
#include <algorithm>
#include <cmath>
#include <limits>
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

TEST(Cuadrilatero, LasEsquinasDadasSeComprueban) {
    // A photo 400 x 300 as a viewer shows it; a quarter of its sides is 100 and 75 pixels.
    struct Caso {
        const char* nombre;
        Cuadrilatero c;
        const char* motivo;  // a part of the message, or nullptr when they are good
    };
    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    const Caso casos[] = {
        {"buenas", {{{50, 40}, {350, 30}, {360, 270}, {40, 260}}}, nullptr},
        {"la foto entera", {{{-0.5, -0.5}, {399.5, -0.5}, {399.5, 299.5}, {-0.5, 299.5}}}, nullptr},
        {"empezando por otra esquina", {{{350, 30}, {360, 270}, {40, 260}, {50, 40}}}, nullptr},
        {"hasta un cuarto fuera", {{{-100.5, -75.5}, {499.5, -75.5}, {499.5, 374.5}, {-100.5, 374.5}}}, nullptr},
        {"mas de un cuarto a la izquierda", {{{-101, 40}, {350, 30}, {360, 270}, {40, 260}}}, "arriba a la izquierda (-101.00, 40.00) queda fuera"},
        {"mas de un cuarto arriba", {{{50, 40}, {350, -76}, {360, 270}, {40, 260}}}, "arriba a la derecha"},
        {"mas de un cuarto a la derecha", {{{50, 40}, {350, 30}, {500, 270}, {40, 260}}}, "abajo a la derecha"},
        {"mas de un cuarto abajo", {{{50, 40}, {350, 30}, {360, 270}, {40, 375}}}, "abajo a la izquierda"},
        {"infinita", {{{50, 40}, {350, 30}, {inf, 270}, {40, 260}}}, "abajo a la derecha no es un par de numeros finitos"},
        {"no es numero", {{{50, 40}, {350, nan}, {360, 270}, {40, 260}}}, "arriba a la derecha no es un par"},
        {"cruzadas", {{{50, 40}, {350, 30}, {40, 260}, {360, 270}}}, "se cruzan"},
        {"al reves", {{{50, 40}, {40, 260}, {360, 270}, {350, 30}}}, "al reves"},
        {"una entra", {{{50, 40}, {350, 30}, {120, 100}, {40, 260}}}, "no es convexo"},
        {"tres en linea", {{{50, 40}, {200, 40}, {350, 40}, {200, 260}}}, "arriba a la derecha (200.00, 40.00) esta en linea"},
        {"todas en un punto", {{{50, 40}, {50, 40}, {50, 40}, {50, 40}}}, "en linea"},
        // At least a thousandth of the photo: 120 square pixels.
        {"pequena", {{{50, 40}, {60, 40}, {60, 51}, {50, 51}}}, "demasiado pequeno"},
        {"justa", {{{50, 40}, {60, 40}, {60, 52}, {50, 52}}}, nullptr},
    };
    for (const Caso& k : casos) {
        SCOPED_TRACE(k.nombre);
        const Hecho h = comprobarEsquinas(k.c, 400, 300);
        EXPECT_EQ(h.ok(), k.motivo == nullptr);
        if (!h.ok() && k.motivo) {
            EXPECT_NE(h.mensaje().find(k.motivo), std::string::npos) << h.mensaje();
            EXPECT_EQ(h.mensaje().find('\n'), std::string::npos);
        }
    }
    // A tiny photo still needs 16 square pixels.
    EXPECT_FALSE(comprobarEsquinas({{{1, 1}, {4, 1}, {4, 4}, {1, 4}}}, 20, 20).ok());
    EXPECT_TRUE(comprobarEsquinas({{{1, 1}, {5, 1}, {5, 5}, {1, 5}}}, 20, 20).ok());
}

TEST(Cuadrilatero, LasEsquinasSeLeenDeOchoNumerosSeparadosPorComas) {
    const Resultado<Cuadrilatero> r = leerEsquinasTexto("10,20.5, 30 ,-4e1,+50,60.25,\t70,80");
    ASSERT_TRUE(r.ok()) << r.mensaje();
    const Cuadrilatero esperado{{{10, 20.5}, {30, -40}, {50, 60.25}, {70, 80}}};
    EXPECT_TRUE(iguales(*r, esperado));
    // The decimals a JSON line prints read back as the very same numbers.
    const Resultado<Cuadrilatero> finas = leerEsquinasTexto("0.1,1193.79,2637.05,1177.18,0.3,4397.63,67.55,4449.6");
    ASSERT_TRUE(finas.ok());
    EXPECT_EQ((*finas)[0].x, 0.1);
    EXPECT_EQ((*finas)[1].y, 1177.18);
    EXPECT_EQ((*finas)[3].x, 67.55);

    const std::pair<const char*, const char*> malos[] = {
        {"", "hay 1 parte"},
        {"1,2,3,4,5,6,7", "hay 7 partes"},
        {"1,2,3,4,5,6,7,8,9", "hay 9 partes"},
        {"1,2,3,4,5,6,7,", "\"\" no es un numero"},
        {"1,2,3,x,5,6,7,8", "\"x\" no es un numero"},
        {"1,2,3,4 5,5,6,7,8", "\"4 5\" no es un numero"},
        {"1,2,3,4,5,6,7,8px", "\"8px\" no es un numero"},
        {"1,2,3,4,5,6,7,0x10", "\"0x10\" no es un numero"},
        {"1,2,nan,4,5,6,7,8", "\"nan\" no es un numero finito"},
        {"1,2,3,4,5,-inf,7,8", "\"-inf\" no es un numero finito"},
        {"1,2,3,4,5,6,1e999,8", "\"1e999\" esta fuera de rango"},
        {"1;2;3;4;5;6;7;8", "hay 1 parte"},
    };
    for (const auto& [texto, motivo] : malos) {
        SCOPED_TRACE(texto);
        const Resultado<Cuadrilatero> m = leerEsquinasTexto(texto);
        ASSERT_FALSE(m.ok());
        EXPECT_NE(m.mensaje().find(motivo), std::string::npos) << m.mensaje();
    }
}

}  // namespace
