// The desk, the light and what lies on the desk.
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

// Mean absolute difference of neighbouring gray levels along rows: the desk's fine texture.
double detalleFino(const ImagenBmp& img) {
    double suma = 0.0;
    for (int f = 0; f < img.alto(); ++f)
        for (int c = 1; c < img.ancho(); ++c) suma += std::abs(gris(img, f, c) - gris(img, f, c - 1));
    return suma / (img.alto() * (img.ancho() - 1.0));
}

TEST(Escritorios, CadaTipoConSuAspecto) {
    Escena e;
    e.ancho = 360;
    e.alto = 280;
    e.conHoja = false;
    e.ruido = 0;
    e.gradiente = 0.0;
    e.fondo = 120;
    e.semilla = 4;
    double detalle[4] = {};
    const escena::TipoEscritorio tipos[4] = {escena::TipoEscritorio::madera, escena::TipoEscritorio::liso,
                                             escena::TipoEscritorio::textura, escena::TipoEscritorio::desorden};
    std::optional<escena::FotoSintetica> fotos[4];
    for (int i = 0; i < 4; ++i) {
        e.escritorio = tipos[i];
        fotos[i] = escena::renderizarEscena(e);
        const auto otra = escena::renderizarEscena(e);
        ASSERT_TRUE(fotos[i] && otra) << i;
        EXPECT_TRUE(iguales(fotos[i]->imagen, otra->imagen)) << i;
        detalle[i] = detalleFino(fotos[i]->imagen);
    }
    // A plain table is smooth; fabric or stone is rougher than wood.
    EXPECT_LT(detalle[1], 1.0);
    EXPECT_GT(detalle[2], detalle[0]);
    EXPECT_GT(detalle[2], 4.0 * detalle[1]);
    // Things on the desk hide some of the wood and leave the rest as it was.
    int mismos = 0;
    for (int f = 0; f < e.alto; ++f)
        for (int c = 0; c < e.ancho; ++c)
            mismos += fotos[0]->imagen.plano1[f][c] == fotos[3]->imagen.plano1[f][c];
    EXPECT_GT(mismos, e.ancho * e.alto / 5);
    EXPECT_LT(mismos, e.ancho * e.alto);

    // Saturation: 0 makes the wood gray, 1 keeps its colour (red well above blue).
    auto medias = [](const ImagenBmp& img, double& b, double& r) {
        b = r = 0.0;
        for (int f = 0; f < img.alto(); ++f)
            for (int c = 0; c < img.ancho(); ++c) {
                b += img.plano0[f][c];
                r += img.plano2[f][c];
            }
    };
    double b = 0.0, r = 0.0;
    medias(fotos[0]->imagen, b, r);
    EXPECT_GT(r, 1.8 * b);
    e.escritorio = escena::TipoEscritorio::madera;
    e.saturacionEscritorio = 0.0;
    const auto gris0 = escena::renderizarEscena(e);
    ASSERT_TRUE(gris0);
    medias(gris0->imagen, b, r);
    EXPECT_NEAR(r / b, 1.0, 0.01);
    e.saturacionEscritorio = 3.5;
    EXPECT_FALSE(escena::renderizarEscena(e));
}

TEST(Escritorios, LoQueHaySobreLaMesaNoPareceUnaHoja) {
    // Cluttered desks without a sheet, under bright light: nothing as bright as paper.
    for (std::uint64_t semilla = 1; semilla <= 12; ++semilla) {
        Escena e;
        e.ancho = 400;
        e.alto = 300;
        e.conHoja = false;
        e.escritorio = escena::TipoEscritorio::desorden;
        e.fondo = 110;
        e.gradiente = 0.2;
        e.semilla = semilla;
        const auto foto = escena::renderizarEscena(e);
        ASSERT_TRUE(foto);
        int claros = 0;
        for (int f = 0; f < e.alto; ++f)
            for (int c = 0; c < e.ancho; ++c) claros += gris(foto->imagen, f, c) > 200.0;
        EXPECT_EQ(claros, 0) << semilla;
    }
}

TEST(Sombra, OscureceSoloSuLadoEscritorioYHojaPorIgual) {
    Escena e = hojaDerecha();
    e.fondo = 100;
    const auto sinSombra = escena::renderizarEscena(e);
    ASSERT_TRUE(sinSombra);

    // A half-plane: columns past 250, its edge fading over 20 pixels.
    e.sombra.fuerza = 0.5;
    e.sombra.punto = {250.0, 0.0};
    e.sombra.direccion = 0.0;
    e.sombra.suavidad = 20.0;
    const auto medio = escena::renderizarEscena(e);
    ASSERT_TRUE(medio);
    for (int f = 0; f < e.alto; f += 3) {
        for (int c = 0; c < 238; ++c)
            ASSERT_EQ(medio->imagen.plano1[f][c], sinSombra->imagen.plano1[f][c]) << f << "," << c;
        for (int c = 262; c < e.ancho; c += 5) {
            const double antes = gris(sinSombra->imagen, f, c);
            EXPECT_NEAR(gris(medio->imagen, f, c), 0.5 * antes, 1.0) << f << "," << c;
        }
    }
    // Paper (a margin) and desk alike.
    EXPECT_NEAR(gris(medio->imagen, 200, 390), 0.5 * gris(sinSombra->imagen, 200, 390), 1.0);
    EXPECT_NEAR(gris(medio->imagen, 200, 450), 0.5 * gris(sinSombra->imagen, 200, 450), 1.0);

    // A band with hard edges: rows 200 .. 300 only.
    e.sombra.direccion = 90.0;
    e.sombra.punto = {0.0, 200.0};
    e.sombra.ancho = 100.0;
    e.sombra.suavidad = 0.0;
    const auto banda = escena::renderizarEscena(e);
    ASSERT_TRUE(banda);
    for (int f = 0; f < e.alto; ++f) {
        const bool dentro = f >= 200 && f <= 300;
        for (int c = 0; c < e.ancho; c += 7) {
            const double antes = gris(sinSombra->imagen, f, c);
            EXPECT_NEAR(gris(banda->imagen, f, c), dentro ? 0.5 * antes : antes, 1.0) << f << "," << c;
        }
    }

    // The page as a scan shows it: the shadow is part of the light, not of the paper.
    const int ancho = 425, alto = 550;
    const Cuadrilatero toda = escena::esquinasDeImagen(ancho, alto);
    const auto lit = escena::paginaDeFrente(e, ancho, alto, toda, true);
    const auto plano = escena::paginaDeFrente(e, ancho, alto, toda, false);
    e.sombra = {};
    const auto litSinSombra = escena::paginaDeFrente(e, ancho, alto, toda, true);
    ASSERT_TRUE(lit && plano && litSinSombra);
    // Photo rows 200 .. 300 of the sheet's 50 .. 438 are page rows (from the foot) 150 .. 250 of 388.
    const int fila = static_cast<int>((250.0 - 50.0) / 388.0 * (alto - 1));
    EXPECT_NEAR(gris(*lit, fila, 20), 0.5 * gris(*litSinSombra, fila, 20), 1.0);
    EXPECT_NEAR(gris(*plano, fila, 20), gris(*litSinSombra, fila, 20), 4.0);  // no light gradient here

    e.sombra.fuerza = 0.95;
    EXPECT_FALSE(escena::renderizarEscena(e));
}

TEST(Escena, EsquinasRedondeadasYCosasOscuras) {
    // An upright sheet with corners rounded by an inch: just inside its corner lies the desk, while
    // the middle of its sides is paper as with square corners. Dark things on a white table.
    escena::Camara camara;
    camara.centro = {320, 240};
    camara.altoHoja = 330;
    Escena e = escena::escenaConCamara(640, 480, camara, 9);
    e.ruido = 0;
    const auto cuadrada = escena::renderizarEscena(e);
    e.radioEsquinas = 1.0;
    const auto redonda = escena::renderizarEscena(e);
    ASSERT_TRUE(cuadrada && redonda);
    const Esquina q = e.esquinas[0];
    const int x = static_cast<int>(q.x) + 4, y = static_cast<int>(q.y) + 4;
    EXPECT_GT(cuadrada->imagen.plano1[y][x], 150);
    EXPECT_LT(redonda->imagen.plano1[y][x], 120);
    const int xm = static_cast<int>(q.x) + 2, ym = 240;
    EXPECT_EQ(cuadrada->imagen.plano1[ym][xm], redonda->imagen.plano1[ym][xm]);
    e.radioEsquinas = 3.0;  // more than a third of the sheet's width
    EXPECT_FALSE(escena::renderizarEscena(e));

    Escena mesa = escena::escenaConCamara(640, 480, camara, 9);
    mesa.conHoja = false;
    mesa.escritorio = escena::TipoEscritorio::liso;
    mesa.fondo = 210;
    const auto vacia = escena::renderizarEscena(mesa);
    mesa.objetosOscuros = true;
    const auto conCosas = escena::renderizarEscena(mesa);
    ASSERT_TRUE(vacia && conCosas);
    int oscuras = 0;
    for (int f = 0; f < 480; ++f)
        for (int c = 0; c < 640; ++c) {
            EXPECT_GT(vacia->imagen.plano1[f][c], 120);
            oscuras += conCosas->imagen.plano1[f][c] < 70;
        }
    EXPECT_GT(oscuras, 640 * 480 / 50);
}

}  // namespace
