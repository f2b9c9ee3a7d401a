// The page raster: its layout on each paper, and the sheet front-on.
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

// Ink of a front-on page (puntos = the whole image): per row from the page's top and per column.
struct Tinta {
    std::vector<int> filas, columnas;
};
Tinta tintaDe(const ImagenBmp& pagina) {
    Tinta t;
    t.filas.assign(static_cast<std::size_t>(pagina.alto()), 0);
    t.columnas.assign(static_cast<std::size_t>(pagina.ancho()), 0);
    for (int f = 0; f < pagina.alto(); ++f)
        for (int c = 0; c < pagina.ancho(); ++c)
            if (gris(pagina, f, c) < 150.0) {
                ++t.filas[static_cast<std::size_t>(pagina.alto() - 1 - f)];
                ++t.columnas[static_cast<std::size_t>(c)];
            }
    return t;
}

TEST(Papel, TamanosYOrientacionDeLaHoja) {
    // The camera draws a sheet of the proportion asked for.
    escena::Camara cam;
    cam.centro = {500.0, 400.0};
    cam.altoHoja = 400.0;
    for (const escena::Papel papel : {escena::kCarta, escena::kA4, escena::kOficio, escena::kCartaApaisada}) {
        cam.proporcion = papel.ancho / papel.alto;
        const Cuadrilatero e = escena::esquinasDeCamara(cam);
        EXPECT_NEAR((e[1].x - e[0].x) / (e[3].y - e[0].y), papel.ancho / papel.alto, 1e-12);
        EXPECT_NEAR(e[3].y - e[0].y, 400.0, 1e-9);
        const Escena conPapel = escena::escenaConCamara(1000, 800, cam, 3, papel);
        EXPECT_EQ(conPapel.anchoPapel, papel.ancho);
        EXPECT_EQ(conPapel.altoPapel, papel.alto);
        EXPECT_NEAR(conPapel.esquinas[1].x - conPapel.esquinas[0].x, 400.0 * papel.ancho / papel.alto, 1e-9);
    }

    // The page's layout follows its size: one-inch side margins, the text running to the right
    // margin along the long side of a landscape sheet, the page number near the foot.
    for (const escena::Papel papel : {escena::kCarta, escena::kA4, escena::kOficio, escena::kCartaApaisada}) {
        SCOPED_TRACE(std::to_string(papel.ancho) + " x " + std::to_string(papel.alto));
        Escena e = hojaDerecha();
        e.anchoPapel = papel.ancho;
        e.altoPapel = papel.alto;
        const int ancho = static_cast<int>(papel.ancho * 100 + 0.5), alto = static_cast<int>(papel.alto * 100 + 0.5);
        const auto pagina = escena::paginaDeFrente(e, ancho, alto, escena::esquinasDeImagen(ancho, alto), false);
        ASSERT_TRUE(pagina);
        const Tinta t = tintaDe(*pagina);
        int primera = -1, ultima = -1;
        for (int c = 0; c < ancho; ++c)
            if (t.columnas[static_cast<std::size_t>(c)] > 0) {
                if (primera < 0) primera = c;
                ultima = c;
            }
        EXPECT_GE(primera, 98);
        EXPECT_LE(ultima, ancho - 98);
        EXPECT_GT(ultima, ancho - 150);
        int pie = 0, bajoElPie = 0, cuerpo = 0;
        for (int f = alto - 80; f < alto - 50; ++f) pie += t.filas[static_cast<std::size_t>(f)];
        for (int f = alto - 45; f < alto; ++f) bajoElPie += t.filas[static_cast<std::size_t>(f)];
        for (int f = 250; f < alto - 200; ++f) cuerpo += t.filas[static_cast<std::size_t>(f)] > 0;
        EXPECT_GT(pie, 0);
        EXPECT_EQ(bajoElPie, 0);
        EXPECT_GT(cuerpo, (alto - 450) / 3);  // lines of text all down the body
    }

    // Sizes out of range are refused.
    Escena e = hojaDerecha();
    e.anchoPapel = 1.0;
    EXPECT_FALSE(escena::renderizarEscena(e));
    e = hojaDerecha();
    e.altoPapel = 50.0;
    EXPECT_FALSE(escena::renderizarEscena(e));
}

// Mean absolute difference of the gray means of 8 x 8 blocks whose pixels all satisfy `usar`.
template <class Usar>
double diferenciaPorBloques(const ImagenBmp& a, const ImagenBmp& b, Usar usar, int& bloques) {
    double suma = 0.0;
    bloques = 0;
    for (int f0 = 0; f0 + 8 <= a.alto(); f0 += 8)
        for (int c0 = 0; c0 + 8 <= a.ancho(); c0 += 8) {
            bool todo = true;
            double da = 0.0, db = 0.0;
            for (int f = f0; f < f0 + 8 && todo; ++f)
                for (int c = c0; c < c0 + 8 && todo; ++c) {
                    todo = usar(f, c);
                    da += gris(a, f, c);
                    db += gris(b, f, c);
                }
            if (!todo) continue;
            ++bloques;
            suma += std::abs(da - db) / 64.0;
        }
    return bloques ? suma / bloques : 0.0;
}

TEST(PaginaDeFrente, ComoHojaDeFrenteSinInclinacionYComoLaFotoConElla) {
    // Untilted, the page through the scanner's own four points agrees with hojaDeFrente: the same
    // paper and light everywhere, and the same text but for edges, which move by up to a third of a
    // pixel because those points are not quite a rectangle (the left side leans by a pixel), so a
    // bilinear and a perspective map through them part a little in the middle.
    escena::Camara cam;
    cam.centro = {510.0, 390.0};
    cam.altoHoja = 640.0;
    cam.giro = 7.0;
    Escena e = escena::escenaConCamara(1000, 800, cam, 21);
    e.gradiente = 0.3;
    const auto hoja = escena::hojaDeFrente(e);
    const Cuadrilatero puntos{{{1.0, 1.0}, {850.0, 1.0}, {850.0, 1100.0}, {0.0, 1100.0}}};
    const auto pagina = escena::paginaDeFrente(e, 852, 1103, puntos, true);
    ASSERT_TRUE(hoja && pagina);
    double suma = 0.0;
    for (int f = 0; f < 1103; ++f)
        for (int c = 0; c < 852; ++c) suma += std::abs(gris(*hoja, f, c) - gris(*pagina, f, c));
    EXPECT_LT(suma / (852.0 * 1103.0), 2.5);
    for (int f = 15; f < 1088; ++f)
        for (int c = 15; c < 90; ++c) ASSERT_NEAR(gris(*hoja, f, c), gris(*pagina, f, c), 1.0) << f << "," << c;

    // Without light the paper is even: the same level at both side margins, whatever the gradient;
    // with it, the side toward the light is brighter.
    const auto plano = escena::paginaDeFrente(e, 852, 1103, puntos, false);
    ASSERT_TRUE(plano);
    double izquierda = 0.0, derecha = 0.0, izquierdaLuz = 0.0, derechaLuz = 0.0;
    for (int f = 300; f < 800; ++f) {
        izquierda += gris(*plano, f, 40) / 500.0;
        derecha += gris(*plano, f, 810) / 500.0;
        izquierdaLuz += gris(*pagina, f, 40) / 500.0;
        derechaLuz += gris(*pagina, f, 810) / 500.0;
    }
    EXPECT_NEAR(izquierda, derecha, 3.0);
    EXPECT_GT(derechaLuz, izquierdaLuz + 10.0);  // the light grows toward higher columns (35 degrees)

    // Tilted 35 degrees: the page drawn through the photo's own corners lands on the photo's sheet
    // (perspective and light), as an ideal scan would read it back.
    escena::Camara inclinada;
    inclinada.centro = {500.0, 380.0};
    inclinada.altoHoja = 560.0;
    inclinada.giro = -12.0;
    inclinada.inclinacion = 30.0;
    inclinada.ladeo = -18.0;
    inclinada.distancia = 1.3;
    inclinada.rigida = true;
    Escena t = escena::escenaConCamara(1000, 780, inclinada, 8, escena::kA4);
    t.ruido = 0;
    t.gradiente = 0.3;
    t.sombra = {0.4, {500.0, 380.0}, 60.0, 50.0, 0.0};
    const auto foto = escena::renderizarEscena(t);
    const auto enLaFoto = escena::paginaDeFrente(t, 1000, 780, t.esquinas, true);
    ASSERT_TRUE(foto && enLaFoto);
    // Pixels well inside the sheet (3 pixels from every side).
    auto adentro = [&](int f, int c) {
        for (std::size_t i = 0; i < 4; ++i) {
            const auto& a = t.esquinas[i];
            const auto& b = t.esquinas[(i + 1) % 4];
            const double largo = std::hypot(b.x - a.x, b.y - a.y);
            if (((b.x - a.x) * (f - a.y) - (b.y - a.y) * (c - a.x)) / largo < 3.0) return false;
        }
        return true;
    };
    int bloques = 0;
    EXPECT_LT(diferenciaPorBloques(foto->imagen, *enLaFoto, adentro, bloques), 0.5);  // 2 pixels off: 4
    EXPECT_GT(bloques, 2000);
    // A page drawn smaller than the image: its edge repeats out to the image's border.
    const auto chica = escena::paginaDeFrente(e, 400, 400, {{{100, 50}, {300, 50}, {300, 350}, {100, 350}}}, false);
    ASSERT_TRUE(chica);
    for (int f = 0; f < 400; f += 9) {
        EXPECT_GT(gris(*chica, f, 0), 200.0) << f;
        EXPECT_GT(gris(*chica, f, 399), 200.0) << f;
    }

    // What cannot be drawn.
    Escena sinHoja = e;
    sinHoja.conHoja = false;
    EXPECT_FALSE(escena::paginaDeFrente(sinHoja, 100, 100, escena::esquinasDeImagen(100, 100), false));
    EXPECT_FALSE(escena::paginaDeFrente(e, 1, 100, escena::esquinasDeImagen(1, 100), false));
    EXPECT_FALSE(escena::paginaDeFrente(e, 100, 100, {{{0, 0}, {99, 99}, {99, 0}, {0, 99}}}, false));
}

}  // namespace
