// The camera that places the sheet, its tilt, and the corners as labelled.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "app/escaner.hpp"
#include "escena.hpp"
#include "escena_test_apoyo.hpp"

namespace {

using namespace escena_prueba;

TEST(Camara, RectanguloGiroEInclinacion) {
    escena::Camara cam;
    cam.centro = {500.0, 400.0};
    cam.altoHoja = 440.0;
    Cuadrilatero r = escena::esquinasDeCamara(cam);
    EXPECT_DOUBLE_EQ(r[0].x, 330.0);
    EXPECT_DOUBLE_EQ(r[0].y, 180.0);
    EXPECT_DOUBLE_EQ(r[2].x, 670.0);
    EXPECT_DOUBLE_EQ(r[2].y, 620.0);
    EXPECT_DOUBLE_EQ(r[1].x, 670.0);
    EXPECT_DOUBLE_EQ(r[3].y, 620.0);

    cam.giro = 90.0;  // counter-clockwise: the page's foot ends up on the right
    r = escena::esquinasDeCamara(cam);
    EXPECT_NEAR(r[0].x, 720.0, 1e-9);
    EXPECT_NEAR(r[0].y, 230.0, 1e-9);
    EXPECT_NEAR(r[1].x, 720.0, 1e-9);
    EXPECT_NEAR(r[1].y, 570.0, 1e-9);

    cam.giro = 0.0;
    cam.inclinacion = 15.0;
    cam.ladeo = 10.0;
    r = escena::esquinasDeCamara(cam);
    EXPECT_LT(r[2].x - r[3].x, r[1].x - r[0].x);  // top edge shorter than the foot
    EXPECT_LT(r[2].y - r[1].y, r[3].y - r[0].y);  // right edge shorter than the left

    for (double g : {-725.0, -90.0, -30.0, 0.0, 12.5, 45.0, 89.0, 135.0, 200.0, 359.0, 1000.0}) {
        const double rad = g * 3.14159265358979323846 / 180.0;
        EXPECT_NEAR(escena::senoGrados(g), std::sin(rad), 1e-14) << g;
        EXPECT_NEAR(escena::cosenoGrados(g), std::cos(rad), 1e-14) << g;
    }
}

TEST(Camara, InclinacionFuerteYSuMedida) {
    // Tilts up to 50 degrees each way with a close camera stay convex, for every turn and
    // proportion, in both models.
    for (const bool rigida : {false, true})
        for (const double proporcion : {escena::kProporcionHoja, 11.0 / 8.5})
            for (const double distancia : {1.2, 2.5})
                for (double inclinacion = -50.0; inclinacion <= 50.0; inclinacion += 10.0)
                    for (double ladeo = -50.0; ladeo <= 50.0; ladeo += 10.0)
                        for (const double giro : {0.0, 33.0, 90.0, -145.0}) {
                            escena::Camara cam;
                            cam.centro = {600.0, 450.0};
                            cam.altoHoja = 500.0;
                            cam.giro = giro;
                            cam.inclinacion = inclinacion;
                            cam.ladeo = ladeo;
                            cam.distancia = distancia;
                            cam.proporcion = proporcion;
                            cam.rigida = rigida;
                            EXPECT_TRUE(convexo(escena::esquinasDeCamara(cam)))
                                << inclinacion << " " << ladeo << " " << giro << " " << distancia;
                        }

    // The tilt: one lean alone is itself; a true rotation by both has cos = cos i x cos l.
    escena::Camara cam;
    cam.inclinacion = -37.0;
    EXPECT_NEAR(escena::inclinacionDeCamara(cam), 37.0, 1e-9);
    cam.inclinacion = 0.0;
    cam.ladeo = 22.0;
    EXPECT_NEAR(escena::inclinacionDeCamara(cam), 22.0, 1e-9);
    cam.inclinacion = 30.0;
    cam.ladeo = 40.0;
    cam.giro = 70.0;
    cam.rigida = true;
    const double pi = 3.14159265358979323846;
    EXPECT_NEAR(escena::inclinacionDeCamara(cam),
                std::acos(std::cos(30.0 * pi / 180.0) * std::cos(40.0 * pi / 180.0)) * 180.0 / pi, 1e-9);
    cam.rigida = false;  // the sheared page of the old model leans a little less
    EXPECT_LT(escena::inclinacionDeCamara(cam), 48.0);
    EXPECT_GT(escena::inclinacionDeCamara(cam), 40.0);
    for (const double c : {-1.0, -0.5, 0.0, 0.3, 0.9, 0.999, 1.0})
        EXPECT_NEAR(escena::arcocosenoGrados(c), std::acos(c) * 180.0 / pi, 1e-10) << c;
    EXPECT_EQ(escena::arcocosenoGrados(2.0), 0.0);
    EXPECT_EQ(escena::arcocosenoGrados(-1.0), 180.0);
}

TEST(EtiquetaDeEsquinas, DeArribaALaIzquierdaEnElSentidoDelReloj) {
    // The corners as corners.csv labels them. An upright page in file rows (foot at the low rows):
    // in the viewer's frame (y down) its top edge is at the top. Its page order, the reverse order
    // or a page turned half a turn all give the same label.
    const Cuadrilatero derecha{{{100.0, 50.0}, {400.0, 50.0}, {400.0, 438.0}, {100.0, 438.0}}};
    const Cuadrilatero inversa{{derecha[0], derecha[3], derecha[2], derecha[1]}};
    const Cuadrilatero volteada{{derecha[2], derecha[3], derecha[0], derecha[1]}};
    for (const Cuadrilatero& e : {derecha, inversa, volteada}) {
        const auto v = aPantalla(ordenarCuadrilatero(e, 490), 490);
        EXPECT_EQ(v[0].x, 100.0);
        EXPECT_EQ(v[0].y, 51.0);
        EXPECT_EQ(v[1].x, 400.0);
        EXPECT_EQ(v[1].y, 51.0);
        EXPECT_EQ(v[2].x, 400.0);
        EXPECT_EQ(v[2].y, 439.0);
        EXPECT_EQ(v[3].x, 100.0);
        EXPECT_EQ(v[3].y, 439.0);
    }
}

}  // namespace
