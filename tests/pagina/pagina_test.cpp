// The page: its maps against the page drawn front-on, its size and orientation, the measured paper,
// the sampling of fine detail, and the scanned look.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "escena.hpp"
#include "imagen/paralelo.hpp"
#include "medida_pagina.hpp"
#include "pagina/forma.hpp"
#include "pagina/pagina.hpp"
#include "pagina/remuestreo.hpp"
#include "rectificacion/hoja.hpp"

namespace {

using medida::esquinasDe;

escena::Escena escenaDeCamara(double inclinacion, double ladeo, escena::Papel papel, std::uint64_t semilla,
                              int ancho = 900, int alto = 700) {
    escena::Camara c;
    c.rigida = true;
    c.proporcion = papel.ancho / papel.alto;
    c.centro = {ancho / 2.0 + 10, alto / 2.0 - 6};
    c.altoHoja = (c.proporcion > 1 ? 0.5 : 0.62) * alto;
    c.inclinacion = inclinacion;
    c.ladeo = ladeo;
    c.giro = 3.0;
    c.distancia = 1.6;
    escena::Escena e = escena::escenaConCamara(ancho, alto, c, semilla);
    e.anchoPapel = papel.ancho;
    e.altoPapel = papel.alto;
    return e;
}

ImagenBmp imagenLisa(int ancho, int alto) {
    return imagenNueva(ancho, alto);
}

TEST(Mapas, LaPerspectivaDevuelveLaPaginaDeFrenteDondeLaBilinealLaDobla) {
    // A sheet tilted 40 degrees toward its top and 15 to a side, close to the camera.
    const escena::Escena e = escenaDeCamara(36, 15, escena::kCarta, 5);
    const auto foto = escena::renderizarEscena(e);
    ASSERT_TRUE(foto);
    double diferencia[2] = {0, 0};
    for (int mapa = 0; mapa < 2; ++mapa) {
        OpcionesPagina o;
        o.mapa = mapa == 0 ? Mapa::bilineal : Mapa::perspectiva;
        const auto p = enderezarPagina(foto->imagen, esquinasDe(e), o);
        ASSERT_TRUE(p);
        const int w = p->imagen.ancho(), h = p->imagen.alto();
        const auto ref = escena::paginaDeFrente(e, w, h, mapa ? medida::bordesDePagina(w, h) : medida::puntosBilineales(w, h), true);
        ASSERT_TRUE(ref);
        diferencia[mapa] = medida::diferenciaBloques(p->imagen, *ref);
    }
    EXPECT_LT(diferencia[1], 1.5);
    EXPECT_LT(diferencia[1], diferencia[0] / 3) << "bilinear " << diferencia[0];

    // The homography puts the page's outer corners on the sheet's corners, exactly, at any size
    // down to a single row or column.
    for (const auto& [ancho, alto] : {std::pair{852, 1103}, std::pair{1, 5}, std::pair{5, 1}}) {
        const auto h = homografiaDePagina(esquinasDe(e), ancho, alto);
        ASSERT_TRUE(h) << ancho << " x " << alto;
        const double X[4] = {-0.5, ancho - 0.5, ancho - 0.5, -0.5}, Y[4] = {-0.5, -0.5, alto - 0.5, alto - 0.5};
        for (int n = 0; n < 4; ++n) {
            const double w = h->g * X[n] + h->h * Y[n] + 1;
            EXPECT_NEAR((h->a * X[n] + h->b * Y[n] + h->c) / w, e.esquinas[n].x, 1e-8);
            EXPECT_NEAR((h->d * X[n] + h->e * Y[n] + h->f) / w, e.esquinas[n].y, 1e-8);
        }
    }
}

TEST(Mapas, EsquinasSinMapaNoDanPagina) {
    const ImagenBmp foto = imagenLisa(200, 100);
    OpcionesPagina o;
    // Three corners on a line, and a crossed (bow-tie) quadrilateral.
    const std::array<Esquina, 4> enLinea{{{10, 10}, {50, 10}, {90, 10}, {10, 80}}};
    const std::array<Esquina, 4> cruzado{{{10, 10}, {150, 80}, {150, 10}, {10, 80}}};
    EXPECT_FALSE(enderezarPagina(foto, enLinea, o));
    EXPECT_FALSE(enderezarPagina(foto, cruzado, o));
    // Far outside the photo: the page repeats its edge rather than reading past it.
    const std::array<Esquina, 4> fuera{{{-3000, -5000}, {8000, -5000}, {8000, 9000}, {-3000, 9000}}};
    const auto p = enderezarPagina(foto, fuera, o);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->imagen.ancho(), 852);
}

TEST(Forma, LaHojaApaisadaSaleApaisadaYLaDerechaDerecha) {
    for (const escena::Papel papel : {escena::kCartaApaisada, escena::kA4Apaisada}) {
        const escena::Escena e = escenaDeCamara(25, -10, papel, 9, 1000, 700);
        const auto foto = escena::renderizarEscena(e);
        ASSERT_TRUE(foto);
        for (const Mapa mapa : {Mapa::bilineal, Mapa::perspectiva}) {
            OpcionesPagina o;
            o.mapa = mapa;
            const auto p = enderezarPagina(foto->imagen, esquinasDe(e), o);
            ASSERT_TRUE(p);
            EXPECT_EQ(p->imagen.ancho(), 1103);
            EXPECT_EQ(p->imagen.alto(), 852);
            EXPECT_EQ(p->anchoPulgadas, 11.0);
            EXPECT_EQ(p->altoPulgadas, 8.5);
        }
    }
    // An upright letter sheet through the bilinear map is the letter page itself, byte for byte.
    const escena::Escena e = escenaDeCamara(8, 0, escena::kCarta, 4, 800, 600);
    const auto foto = escena::renderizarEscena(e);
    ASSERT_TRUE(foto);
    OpcionesPagina o;
    o.mapa = Mapa::bilineal;
    const auto p = enderezarPagina(foto->imagen, esquinasDe(e), o);
    const auto hoja = rectificarHoja(foto->imagen, esquinasDe(e)).hoja;
    ASSERT_TRUE(p && hoja);
    EXPECT_EQ(p->imagen.plano0.datos, hoja->plano0.datos);
    EXPECT_EQ(p->imagen.plano2.datos, hoja->plano2.datos);
    EXPECT_TRUE(formaDePagina(800, 600, esquinasDe(e), o)->hojaCarta);
}

TEST(Forma, LaHojaEnGrisParaElTextoEsLaMismaHojaTomadaDeLaFotoA300PorPulgada) {
    for (const escena::Papel papel : {escena::kCarta, escena::kCartaApaisada}) {
        const escena::Escena e = escenaDeCamara(20, 5, papel, 3, 1000, 800);
        const auto foto = escena::renderizarEscena(e);
        ASSERT_TRUE(foto);
        for (const Mapa mapa : {Mapa::bilineal, Mapa::perspectiva}) {
            // The page itself at its usual 100 or so pixels per inch (the letter page of the
            // bilinear map among them), and the gray sheet beside it at 300 from the photo.
            OpcionesPagina o;
            o.mapa = mapa;
            const auto forma = formaDePagina(foto->imagen.ancho(), foto->imagen.alto(), esquinasDe(e), o);
            ASSERT_TRUE(forma);
            const auto gris = hojaEnGris(foto->imagen, esquinasDe(e), mapa, *forma, 300.0);
            ASSERT_TRUE(gris);
            const bool apaisada = papel.ancho > papel.alto;
            EXPECT_EQ(gris->ancho, apaisada ? 3300 : 2550);
            EXPECT_EQ(gris->alto, apaisada ? 2550 : 3300);
            o.ppp = 300;
            const auto color = enderezarPagina(foto->imagen, esquinasDe(e), o);
            ASSERT_TRUE(color);
            ASSERT_EQ(color->imagen.ancho(), gris->ancho);
            int peor = 0;
            for (int f = 0; f < gris->alto; f += 7)
                for (int c = 0; c < gris->ancho; c += 5) {
                    const double y = 0.299 * color->imagen.plano2[f][c] + 0.587 * color->imagen.plano1[f][c] +
                                     0.114 * color->imagen.plano0[f][c];
                    peor = std::max(peor, static_cast<int>(std::abs(y - (*gris)[f][c]) + 0.5));
                }
            EXPECT_LE(peor, 1);
        }
    }
    // A4 at 300 pixels per inch; corners that admit no map give no sheet.
    const std::array<Esquina, 4> recto{{{100, 100}, {525, 100}, {525, 700}, {100, 700}}};
    OpcionesPagina a4;
    a4.papel = Papel::a4;
    const ImagenBmp lisa = imagenLisa(800, 800);
    const auto forma = formaDePagina(800, 800, recto, a4);
    const auto gris = hojaEnGris(lisa, recto, Mapa::perspectiva, *forma, 300.0);
    ASSERT_TRUE(gris);
    EXPECT_EQ(gris->ancho, 2480);
    EXPECT_EQ(gris->alto, 3508);
    const std::array<Esquina, 4> enLinea{{{10, 10}, {50, 10}, {90, 10}, {10, 80}}};
    EXPECT_FALSE(hojaEnGris(lisa, enLinea, Mapa::perspectiva, *forma, 300.0));
}

TEST(Forma, TamanosDePapelYPixelesPorPulgada) {
    // An upright rectangle of letter proportions.
    const std::array<Esquina, 4> e{{{100, 100}, {525, 100}, {525, 650}, {100, 650}}};
    struct Caso {
        Papel papel;
        double ppp;
        int ancho, alto;
        double anchoPulgadas, altoPulgadas;
    };
    const Caso casos[] = {
        {Papel::carta, 0, 852, 1103, 8.5, 11.0},
        {Papel::a4, 0, 829, 1172, 210 / 25.4, 297 / 25.4},
        {Papel::oficio, 0, 852, 1404, 8.5, 14.0},
        {Papel::carta, 200, 1700, 2200, 8.5, 11.0},
        {Papel::a4, 300, 2480, 3508, 210 / 25.4, 297 / 25.4},
        // Both sides rounded: 793.7 x 1122.5 pixels.
        {Papel::a4, 96, 794, 1123, 210 / 25.4, 297 / 25.4},
    };
    for (const Caso& k : casos) {
        OpcionesPagina o;
        o.papel = k.papel;
        o.ppp = k.ppp;
        const auto forma = formaDePagina(1000, 800, e, o);
        ASSERT_TRUE(forma);
        EXPECT_EQ(forma->ancho, k.ancho);
        EXPECT_EQ(forma->alto, k.alto);
        EXPECT_DOUBLE_EQ(forma->anchoPulgadas, k.anchoPulgadas);
        EXPECT_DOUBLE_EQ(forma->altoPulgadas, k.altoPulgadas);
        const ImagenBmp foto = imagenLisa(1000, 800);
        const auto p = enderezarPagina(foto, e, o);
        ASSERT_TRUE(p);
        EXPECT_EQ(p->imagen.ancho(), k.ancho);
        EXPECT_EQ(p->imagen.alto(), k.alto);
    }
}

TEST(Forma, PapelAutomaticoDistingueA4DeCarta) {
    // Corners of cameras tilted up to 40 degrees, in all directions, letter and A4 either way up.
    // With the camera's focal length (as EXIF gives it) every one is told within 2 %; without it
    // the focal length is measured from the sheet, except where one pair of sides stays parallel
    // and a phone's usual one stands in: nearly all.
    int bien[2] = {0, 0};
    const int cuantas = 24;
    for (int i = 0; i < cuantas; ++i) {
        const escena::Papel papeles[] = {escena::kCarta, escena::kA4, escena::kCartaApaisada, escena::kA4Apaisada};
        const escena::Papel papel = papeles[i % 4];
        const auto ei = medida::escenaInclinada(300 + i, 0, 40, papel);
        ASSERT_TRUE(ei);
        const bool a4 = papel.ancho == escena::kA4.ancho || papel.alto == escena::kA4.ancho;
        const double verdad = std::max(papel.ancho, papel.alto) / std::min(papel.ancho, papel.alto);
        for (const bool exif : {false, true}) {
            OpcionesPagina o;
            o.papel = Papel::automatico;
            if (exif) o.focal35mm = medida::focal35mmDe(ei->camara, ei->escena.ancho, ei->escena.alto);
            const auto forma = formaDePagina(ei->escena.ancho, ei->escena.alto, esquinasDe(ei->escena), o);
            ASSERT_TRUE(forma && forma->proporcionMedida);
            const bool acierta = forma->papel == (a4 ? Papel::a4 : Papel::carta) &&
                                 std::abs(*forma->proporcionMedida / verdad - 1) <= 0.02;
            EXPECT_TRUE(acierta || !exif) << "scene " << i << " tilt " << ei->inclinacion;
            bien[exif] += acierta;
            EXPECT_EQ(forma->apaisada, papel.ancho > papel.alto);
        }
    }
    EXPECT_EQ(bien[1], cuantas);
    EXPECT_GE(bien[0], cuantas - 2);

    // Seen straight on, nothing tells the focal length, and nothing needs it.
    const std::array<Esquina, 4> a4DeFrente{{{100, 100}, {100 + 413.5, 100}, {100 + 413.5, 684.5}, {100, 684.5}}};
    OpcionesPagina o;
    o.papel = Papel::automatico;
    auto forma = formaDePagina(1000, 800, a4DeFrente, o);
    ASSERT_TRUE(forma);
    EXPECT_EQ(forma->papel, Papel::a4);
    EXPECT_EQ(forma->ancho, 829);
    // A square card is no standard paper: its proportion is kept, 11 inches a side.
    const std::array<Esquina, 4> cuadrado{{{100, 100}, {500, 100}, {500, 500}, {100, 500}}};
    forma = formaDePagina(1000, 800, cuadrado, o);
    ASSERT_TRUE(forma);
    EXPECT_EQ(forma->papel, Papel::automatico);
    EXPECT_DOUBLE_EQ(forma->anchoPulgadas, 11.0);
    EXPECT_DOUBLE_EQ(forma->altoPulgadas, 11.0);
    EXPECT_EQ(forma->ancho, forma->alto);
    // Made a letter page, a sheet as wide as high stays upright.
    o.papel = Papel::carta;
    forma = formaDePagina(1000, 800, cuadrado, o);
    ASSERT_TRUE(forma);
    EXPECT_FALSE(forma->apaisada);
    EXPECT_EQ(forma->ancho, 852);
    EXPECT_EQ(forma->alto, 1103);
}

TEST(Forma, ElMarcoDeLaPaginaBilinealRepiteLoDeDentro) {
    // The bilinear map's 15-pixel frame repeats the pixels just inside it, down to a page with a
    // single pixel inside (a square card at 31 / 11 pixels per inch: 31 x 31).
    ImagenBmp foto = imagenLisa(200, 200);
    for (int f = 0; f < 200; ++f)
        for (int c = 0; c < 200; ++c) foto.plano0[f][c] = foto.plano1[f][c] = foto.plano2[f][c] = static_cast<std::uint8_t>(c + f / 2);
    const std::array<Esquina, 4> cuadrado{{{20, 20}, {180, 20}, {180, 180}, {20, 180}}};
    OpcionesPagina o;
    o.mapa = Mapa::bilineal;
    o.papel = Papel::automatico;
    o.ppp = 31.0 / 11.0;
    const auto p = enderezarPagina(foto, cuadrado, o);
    ASSERT_TRUE(p);
    const PlanoBytes& g = p->imagen.plano1;
    ASSERT_EQ(g.ancho, 31);
    ASSERT_EQ(g.alto, 31);
    for (int f = 0; f < 31; ++f)
        for (int c = 0; c < 31; ++c) EXPECT_EQ(g[f][c], g[15][15]) << f << " " << c;
}

TEST(Forma, UnCuadrilateroNoConvexoSoloConElMapaBilineal) {
    // Corners with one bent inward: no perspective tells its proportion, but the bilinear map of
    // the run without arguments still makes a page of a given paper, upright unless its sides in
    // the photo are wider than high (a tie stays upright, as the letter page does).
    const std::array<Esquina, 4> empate{{{0, 0}, {400, 0}, {150, 150}, {0, 400}}};
    const std::array<Esquina, 4> ancha{{{0, 0}, {800, 0}, {300, 150}, {0, 400}}};
    OpcionesPagina o;
    EXPECT_FALSE(formaDePagina(1000, 800, empate, o));
    o.papel = Papel::automatico;
    o.mapa = Mapa::bilineal;
    EXPECT_FALSE(formaDePagina(1000, 800, empate, o));
    o.papel = Papel::carta;
    auto forma = formaDePagina(1000, 800, empate, o);
    ASSERT_TRUE(forma);
    EXPECT_FALSE(forma->apaisada);
    EXPECT_TRUE(forma->hojaCarta);
    EXPECT_FALSE(forma->proporcionMedida);
    forma = formaDePagina(1000, 800, ancha, o);
    ASSERT_TRUE(forma);
    EXPECT_TRUE(forma->apaisada);
    EXPECT_EQ(forma->ancho, 1103);
    EXPECT_EQ(forma->alto, 852);
}

TEST(Forma, LaHojaLejosDelCentroSeMideDesdeElCentroDeLaFoto) {
    // Letter and A4 sheets, either way up, tilted 30 to 40 degrees in eight directions, photographed
    // by a phone's 26 mm camera aimed well beside them: each sheet's centre lies a fifth of the
    // photo's width and height away from its centre, toward one of its corners, and each corner is
    // found within a pixel. With the focal length from EXIF and without it (then measured from the
    // sheet, or the phone's usual one where a pair of sides stays parallel), the proportion is told
    // within 1 % (3 % without EXIF: a pixel off moves the measured focal length) and the paper right.
    const int ancho = 4032, alto = 3024;
    const double focal = focalEnPixeles(kFocalTelefono35mm, ancho, alto);
    const escena::Papel papeles[] = {escena::kCarta, escena::kA4, escena::kCartaApaisada, escena::kA4Apaisada};
    medida::Azar azar{77};
    int casos = 0;
    for (int n = 0; n < 96; ++n) {
        const escena::Papel papel = papeles[n % 4];
        escena::Camara c;
        c.rigida = true;
        c.proporcion = papel.ancho / papel.alto;
        const double inclinacion = 30.0 + 5.0 * (n / 4 % 3);
        const double direccion = 45.0 * (n / 12) + 10.0;
        c.inclinacion = inclinacion * escena::cosenoGrados(direccion);
        c.ladeo = inclinacion * escena::senoGrados(direccion);
        c.giro = azar.real(-10.0, 10.0);
        c.centro = {(ancho - 1) / 2.0, (alto - 1) / 2.0};
        c.altoHoja = 0.3 * alto / std::max(1.0, c.proporcion);
        c.distancia = focal / c.altoHoja;
        const double dx = (n % 2 ? 0.2 : -0.2) * ancho, dy = (n / 2 % 2 ? 0.2 : -0.2) * alto;
        const auto vista = medida::girarCamara(escena::esquinasDeCamara(c), c.centro, focal, dx, dy);
        ASSERT_TRUE(vista);
        std::array<Esquina, 4> e{};
        for (int i = 0; i < 4; ++i) {
            e[i] = {(*vista)[i].x + azar.real(-1.0, 1.0), (*vista)[i].y + azar.real(-1.0, 1.0)};
            ASSERT_TRUE(e[i].x > 0 && e[i].x < ancho - 1 && e[i].y > 0 && e[i].y < alto - 1) << "scene " << n;
        }
        const bool a4 = papel.ancho == escena::kA4.ancho || papel.alto == escena::kA4.ancho;
        const double verdad = std::max(papel.ancho, papel.alto) / std::min(papel.ancho, papel.alto);
        for (const bool exif : {false, true}) {
            OpcionesPagina o;
            o.papel = Papel::automatico;
            if (exif) o.focal35mm = kFocalTelefono35mm;
            const auto forma = formaDePagina(ancho, alto, e, o);
            ASSERT_TRUE(forma && forma->proporcionMedida);
            const double error = std::abs(*forma->proporcionMedida / verdad - 1);
            EXPECT_LE(error, exif ? 0.01 : 0.03) << "scene " << n << (exif ? " with" : " without") << " EXIF, tilt " << inclinacion
                                   << " toward " << direccion << ": " << *forma->proporcionMedida;
            EXPECT_EQ(forma->papel, a4 ? Papel::a4 : Papel::carta) << "scene " << n;
            EXPECT_EQ(forma->apaisada, papel.ancho > papel.alto) << "scene " << n;
        }
        ++casos;
    }
    EXPECT_EQ(casos, 96);
}

TEST(Forma, UnaHojaApenasInclinadaUsaLaFocalDelTelefono) {
    // Tilted 0.5 to 2 degrees both ways and found within a pixel, a sheet's sides hardly converge:
    // a focal length measured from them would follow the pixel's error, so the phone's usual one
    // stands in, and the proportion comes out right within 1 %.
    const double porOmision = focalEnPixeles(kFocalTelefono35mm, 1280, 960);
    medida::Azar azar{5};
    for (const double inclinacion : {0.5, 1.0, 1.5, 2.0})
        for (const double direccion : {45.0, 135.0, 200.0, 290.0}) {
            escena::Camara c;
            c.rigida = true;
            c.centro = {639.5, 479.5};
            c.altoHoja = 700;
            c.distancia = 1.5;
            c.giro = 5;
            c.inclinacion = inclinacion * escena::cosenoGrados(direccion);
            c.ladeo = inclinacion * escena::senoGrados(direccion);
            const Cuadrilatero v = escena::esquinasDeCamara(c);
            std::array<Esquina, 4> e{};
            for (int i = 0; i < 4; ++i) e[i] = {v[i].x + azar.real(-1.0, 1.0), v[i].y + azar.real(-1.0, 1.0)};
            const auto p = medirProporcion(e, principalDeFoto(1280, 960), std::nullopt, porOmision);
            ASSERT_TRUE(p);
            EXPECT_FALSE(p->focalMedida) << inclinacion << " toward " << direccion << ": " << p->focal;
            EXPECT_NEAR(p->focal, porOmision, 1e-6);
            EXPECT_NEAR(p->valor / escena::kProporcionHoja, 1.0, 0.01) << inclinacion << " toward " << direccion;
        }
}

TEST(Muestreo, LaLetraFinaSePromediaEnVezDeSolaparse) {
    // Stripes one pixel wide (0 and 240) across a photo reduced 2.6 times: every output pixel
    // covers a few of them and should show their mean, 120; picking 4 pixels gives bands.
    ImagenBmp foto = imagenLisa(2400, 3000);
    for (int f = 0; f < 3000; ++f)
        for (int c = 0; c < 2400; ++c) {
            const std::uint8_t v = (c + f / 3) % 2 ? 240 : 0;
            foto.plano0[f][c] = foto.plano1[f][c] = foto.plano2[f][c] = v;
        }
    const std::array<Esquina, 4> e{{{50, 60}, {2250, 60}, {2250, 2900}, {50, 2900}}};
    const auto varianza = [](const ImagenBmp& m) {
        double s = 0, s2 = 0;
        int n = 0;
        for (int f = 20; f < m.alto() - 20; ++f)
            for (int c = 20; c < m.ancho() - 20; ++c, ++n) {
                s += m.plano1[f][c];
                s2 += m.plano1[f][c] * double(m.plano1[f][c]);
            }
        return std::pair{s / n, s2 / n - (s / n) * (s / n)};
    };
    OpcionesPagina o;
    const auto nueva = enderezarPagina(foto, e, o);
    ASSERT_TRUE(nueva);
    const auto [media, varianzaNueva] = varianza(nueva->imagen);
    EXPECT_NEAR(media, 120.0, 2.0);
    // A box of 2.6 pixels over stripes of 1 still wavers by a fraction of a stripe: about 15.
    EXPECT_LT(std::sqrt(varianzaNueva), 20.0);
    const auto hoy = rectificarHoja(foto, e).hoja;
    ASSERT_TRUE(hoy);
    EXPECT_GT(std::sqrt(varianza(*hoy).second), 3 * std::sqrt(varianzaNueva));
    // Reduced 5 and 10 times (the coarser box levels): the mean, and steadier still.
    for (const double ppp : {50.0, 25.0}) {
        o.ppp = ppp;
        const auto menor = enderezarPagina(foto, e, o);
        ASSERT_TRUE(menor);
        const auto [m, v] = varianza(menor->imagen);
        EXPECT_NEAR(m, 120.0, 2.0) << ppp;
        EXPECT_LT(std::sqrt(v), 10.0) << ppp;
    }
}

TEST(Muestreo, UnaRampaQuedaEnSuSitioACualquierEscala) {
    // Box means and their blends keep a straight ramp where it is: a level off by a pixel shows.
    ImagenBmp foto = imagenLisa(2000, 2600);
    for (int f = 0; f < 2600; ++f)
        for (int c = 0; c < 2000; ++c) foto.plano0[f][c] = foto.plano1[f][c] = foto.plano2[f][c] = static_cast<std::uint8_t>(c / 10);
    const std::array<Esquina, 4> e{{{-0.5, -0.5}, {1999.5, -0.5}, {1999.5, 2599.5}, {-0.5, 2599.5}}};
    for (const double ppp : {0.0, 90.0, 50.0, 25.0, 12.0}) {
        OpcionesPagina o;
        o.ppp = ppp;
        const auto p = enderezarPagina(foto, e, o);
        ASSERT_TRUE(p);
        const int ancho = p->imagen.ancho();
        for (int c = ancho / 10; c < ancho * 9 / 10; c += ancho / 13) {
            const double x = (c + 0.5) * 2000.0 / ancho - 0.5;  // the photo column it shows
            EXPECT_NEAR(p->imagen.plano1[p->imagen.alto() / 2][c], x / 10 - 0.45, 0.7) << "ppp " << ppp << " column " << c;
        }
    }
}

TEST(Muestreo, UnaFotoSimetricaDaUnaPaginaSimetrica) {
    // Sharp bars, the same mirrored left to right and top to bottom, over the whole photo, reduced
    // 2 to 16 times: every level and blend must stay centred on the photo points it stands for, or
    // the bars' edges move one way on one half of the page and the other way on the other.
    const int ancho = 2048, alto = 2560;  // each level's pixels lie as symmetrically as the photo's
    ImagenBmp foto = imagenLisa(ancho, alto);
    for (int f = 0; f < alto; ++f)
        for (int c = 0; c < ancho; ++c) {
            const int dc = std::abs(2 * c - (ancho - 1)), df = std::abs(2 * f - (alto - 1));
            const std::uint8_t v = ((dc % 74 < 18) != (df % 106 < 26)) ? 230 : 20;
            foto.plano0[f][c] = foto.plano1[f][c] = foto.plano2[f][c] = v;
        }
    const std::array<Esquina, 4> e{{{-0.5, -0.5}, {ancho - 0.5, -0.5}, {ancho - 0.5, alto - 0.5}, {-0.5, alto - 0.5}}};
    for (const double ppp : {120.0, 60.0, 30.0, 15.0}) {
        OpcionesPagina o;
        o.ppp = ppp;
        const auto p = enderezarPagina(foto, e, o);
        ASSERT_TRUE(p);
        const PlanoBytes& g = p->imagen.plano1;
        int columnas = 0, filas = 0;
        for (int f = 0; f < g.alto; ++f)
            for (int c = 0; c < g.ancho; ++c) {
                columnas = std::max(columnas, std::abs(g[f][c] - g[f][g.ancho - 1 - c]));
                filas = std::max(filas, std::abs(g[f][c] - g[g.alto - 1 - f][c]));
            }
        EXPECT_LE(columnas, 2) << "ppp " << ppp;
        EXPECT_LE(filas, 2) << "ppp " << ppp;
    }
}

TEST(Muestreo, AmpliadaInterpolaEntreLosPixeles) {
    // A photo smaller than the page: a ramp along the columns is interpolated, not averaged away.
    ImagenBmp foto = imagenLisa(100, 120);
    for (int f = 0; f < 120; ++f)
        for (int c = 0; c < 100; ++c) foto.plano0[f][c] = foto.plano1[f][c] = foto.plano2[f][c] = static_cast<std::uint8_t>(2 * c + 20);
    MapaDePagina m;
    m.homografia = *homografiaDePagina({{{-0.5, -0.5}, {99.5, -0.5}, {99.5, 119.5}, {-0.5, 119.5}}}, 400, 480);
    const ImagenBmp p = remuestrearPagina(foto, m, 400, 480);
    for (int c = 10; c < 390; c += 37) {
        const double x = (c + 0.5) / 4 - 0.5;  // the photo column it shows
        EXPECT_NEAR(p.plano1[240][c], 2 * x + 20, 1.0) << "column " << c;
    }
}

TEST(Muestreo, LaPaginaHechaMientrasSeUsaEsLaMismaPorPartesYEnCualquierOrden) {
    // A page handed to its user to be made: made in two parts on two threads, or in bands of 7
    // rows from the bottom up, it is the page made all at once; with the perspective map and the
    // letter sheet of the run without arguments (both made as they are used; the sheet's frame
    // rows too), and the bilinear map at another size (made first, then handed over).
    const escena::Escena e = escenaDeCamara(20, 10, escena::kCarta, 3, 1600, 1200);
    const auto foto = escena::renderizarEscena(e);
    ASSERT_TRUE(foto);
    const struct { Mapa mapa; double ppp; const char* nombre; } casos[] = {
        {Mapa::perspectiva, 120, "perspectiva"}, {Mapa::bilineal, 0, "hoja carta"}, {Mapa::bilineal, 120, "bilineal"}};
    for (const auto& k : casos) {
        SCOPED_TRACE(k.nombre);
        const Mapa mapa = k.mapa;
        OpcionesPagina o;
        o.mapa = mapa;
        o.ppp = k.ppp;
        const auto forma = formaDePagina(foto->imagen.ancho(), foto->imagen.alto(), esquinasDe(e), o);
        ASSERT_TRUE(forma);
        EXPECT_EQ(forma->hojaCarta, k.ppp == 0);
        const auto entera = enderezarPagina(foto->imagen, esquinasDe(e), mapa, *forma);
        ASSERT_TRUE(entera);
        const ImagenBmp& p = entera->imagen;
        const auto igual = [&](const ImagenBmp& q) {
            return q.plano0.datos == p.plano0.datos && q.plano1.datos == p.plano1.datos && q.plano2.datos == p.plano2.datos;
        };
        int usos = 0;
        const auto enPartes = enderezarPagina(foto->imagen, esquinasDe(e), mapa, *forma,
                                              [&](const ImagenBmp& q, const HacerFilas& hacer) {
                                                  ++usos;
                                                  enDosMitades(q.alto(), hacer);
                                              });
        ASSERT_TRUE(enPartes);
        EXPECT_TRUE(igual(enPartes->imagen));
        const auto alReves = enderezarPagina(foto->imagen, esquinasDe(e), mapa, *forma,
                                             [&](const ImagenBmp& q, const HacerFilas& hacer) {
                                                 ++usos;
                                                 for (int hasta = q.alto(); hasta > 0; hasta -= 7) hacer(std::max(0, hasta - 7), hasta);
                                             });
        ASSERT_TRUE(alReves);
        EXPECT_TRUE(igual(alReves->imagen));
        EXPECT_EQ(usos, 2);
    }
}

TEST(Mejora, LaSombraSeAplanaYElTextoQuedaOscuro) {
    // A shadow over half the sheet taking 45 % of the light.
    escena::Escena e = escenaDeCamara(10, 5, escena::kCarta, 12, 900, 700);
    e.sombra.fuerza = 0.45;
    e.sombra.punto = {450, 350};
    e.sombra.direccion = 70;
    const auto foto = escena::renderizarEscena(e);
    ASSERT_TRUE(foto);
    OpcionesPagina o;
    const auto p = enderezarPagina(foto->imagen, esquinasDe(e), o);
    ASSERT_TRUE(p);
    const auto sinLuz = escena::paginaDeFrente(e, p->imagen.ancho(), p->imagen.alto(),
                                               medida::bordesDePagina(p->imagen.ancho(), p->imagen.alto()), false);
    ASSERT_TRUE(sinLuz);
    const medida::Papel antes = medida::papelDeLaPagina(p->imagen, *sinLuz);
    EXPECT_GT(antes.mayor - antes.menor, 60.0);

    ImagenBmp igual = p->imagen;
    mejorarPagina(igual, Mejora::ninguna);
    EXPECT_EQ(igual.plano1.datos, p->imagen.plano1.datos);
    for (const Mejora m : {Mejora::color, Mejora::gris, Mejora::bn}) {
        ImagenBmp pagina = p->imagen;
        mejorarPagina(pagina, m);
        const medida::Papel despues = medida::papelDeLaPagina(pagina, *sinLuz);
        SCOPED_TRACE(static_cast<int>(m));
        EXPECT_GT(despues.bloques, 200);
        EXPECT_LE(despues.mayor - despues.menor, 8.0);
        EXPECT_GE(despues.menor, 240.0);
        // The ink (blurred by the photo's resolution) darker than before, though the paper is white.
        EXPECT_LT(despues.tinta, antes.tinta) << "paper " << despues.menor;
        EXPECT_LT(despues.tinta, m == Mejora::bn ? 40.0 : 100.0);
        if (m != Mejora::color) {
            EXPECT_EQ(pagina.plano0.datos, pagina.plano2.datos);
        }
        if (m == Mejora::bn) {
            for (std::uint8_t v : pagina.plano1.datos) ASSERT_TRUE(v == 0 || v == 255);
        }
    }
}

TEST(Mejora, GrisConSusPesosYEnBlancoYNegroSoloLaTinta) {
    // Paper at 240 with small marks, narrower than a line of text: a dark stroke (reflectance 0.3),
    // a faint gray mark (0.82), a red and a blue one (their own plane at 230, the others at 60).
    ImagenBmp pagina = imagenNueva(600, 800, 240);
    const auto marca = [&](int c0, int f0, int ancho, int alto, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
        for (int f = f0; f < f0 + alto; ++f)
            for (int c = c0; c < c0 + ancho; ++c) {
                pagina.plano0[f][c] = b;
                pagina.plano1[f][c] = g;
                pagina.plano2[f][c] = r;
            }
    };
    marca(100, 100, 40, 3, 72, 72, 72);
    marca(300, 100, 6, 6, 197, 197, 197);
    marca(100, 400, 8, 8, 60, 60, 230);
    marca(300, 400, 8, 8, 230, 60, 60);

    // Gray weighs red 0.299, green 0.587 and blue 0.114: the red mark is 0.46 of the paper, a dark
    // gray (tone 25), the blue one 0.33, under the ink's level (black).
    ImagenBmp gris = pagina;
    mejorarPagina(gris, Mejora::gris);
    EXPECT_NEAR(gris.plano1[404][104], 25, 3);
    EXPECT_EQ(gris.plano1[404][304], 0);
    EXPECT_EQ(gris.plano1[101][120], 0);
    EXPECT_EQ(gris.plano1[250][250], 255);

    // Black and white: the stroke and both coloured marks are ink; the faint mark, though well
    // under its neighbourhood, is lighter than ink ever is and stays white, as the paper does.
    ImagenBmp bn = pagina;
    mejorarPagina(bn, Mejora::bn);
    EXPECT_EQ(bn.plano1[101][120], 0);
    EXPECT_EQ(bn.plano1[404][104], 0);
    EXPECT_EQ(bn.plano1[404][304], 0);
    for (int f = 100; f < 106; ++f)
        for (int c = 300; c < 306; ++c) EXPECT_EQ(bn.plano1[f][c], 255) << f << " " << c;
    EXPECT_EQ(bn.plano1[250][250], 255);
}

}  // namespace

TEST(Mejora, EnUnaPaginaFinaLosBordesDeLosTrazosQuedanLisosYLosTrazosFinosEnteros) {
    // A page of 1600 x 2000 pixels (about 190 ppi on a letter page) made from a coarser photo: each
    // stroke's edges are ramps 6 pixels wide, and every pixel carries the photo's noise (up to 48
    // levels either way). Wide strokes and thin ones, 3 pixels of full ink.
    const int ancho = 1600, alto = 2000;
    ImagenBmp pagina = imagenNueva(ancho, alto, 235);
    std::uint32_t semilla = 12345;
    const auto ruido = [&semilla] {
        semilla = semilla * 1664525u + 1013904223u;
        return static_cast<int>(semilla >> 16) % 97 - 48;
    };
    // The ink's share at column c for a stroke from c0 with `nucleo` columns of full ink.
    const auto tinta = [](int c, int c0, int nucleo) {
        const double rampa = 6.0;
        const double d = c < c0 ? c0 - c : (c >= c0 + nucleo ? c - (c0 + nucleo - 1) : 0);
        return std::clamp(1.0 - d / rampa, 0.0, 1.0);
    };
    std::vector<std::pair<int, int>> trazos;  // first column of full ink, and how many
    for (int k = 0; k < 20; ++k) trazos.push_back({200 + 60 * k, k % 2 == 0 ? 12 : 3});
    for (int f = 200; f < 1800; ++f)
        for (int c = 0; c < ancho; ++c) {
            double t = 0;
            for (const auto& [c0, nucleo] : trazos) t = std::max(t, tinta(c, c0, nucleo));
            const int v = std::clamp(static_cast<int>(std::lround(235 - t * (235 - 50))) + ruido(), 0, 255);
            pagina.plano0[f][c] = pagina.plano1[f][c] = pagina.plano2[f][c] = static_cast<std::uint8_t>(v);
        }
    mejorarPagina(pagina, Mejora::bn);
    // Along each row, every stroke is one run of ink: two changes per stroke, a few more where the
    // noise still reaches, and never a stroke broken or missing.
    long cambios = 0, filas = 0;
    for (int f = 220; f < 1780; ++f, ++filas) {
        for (int c = 150; c < 1450; ++c) cambios += pagina.plano1[f][c] != pagina.plano1[f][c + 1];
        for (const auto& [c0, nucleo] : trazos)
            for (int c = c0; c < c0 + nucleo; ++c) ASSERT_EQ(pagina.plano1[f][c], 0) << f << " " << c;
    }
    EXPECT_LT(static_cast<double>(cambios) / filas, 2 * 20 * 1.1);
}

TEST(Mejora, LaPaginaVistaEnUnEspejoDaElMismoAspectoEnElEspejo) {
    // Nothing of the scanned look leans one way: a page whose light falls off to one corner, with
    // strokes strewn over it and a shadow's edge, made over after being mirrored (left for right,
    // top for bottom) is the mirror of the page made over.
    const int ancho = 800, alto = 1000;
    ImagenBmp pagina = imagenNueva(ancho, alto);
    std::uint32_t semilla = 777;
    const auto azar = [&semilla](int n) {
        semilla = semilla * 1664525u + 1013904223u;
        return static_cast<int>((semilla >> 8) % static_cast<std::uint32_t>(n));
    };
    for (int f = 0; f < alto; ++f)
        for (int c = 0; c < ancho; ++c) {
            const double luz = 230 - 0.06 * c - 0.05 * f - (c + 2 * f > 1500 ? 50 : 0);
            pagina.plano0[f][c] = static_cast<std::uint8_t>(luz * 0.92);
            pagina.plano1[f][c] = static_cast<std::uint8_t>(luz);
            pagina.plano2[f][c] = static_cast<std::uint8_t>(luz * 0.97);
        }
    for (int k = 0; k < 300; ++k) {
        const int c0 = azar(ancho - 40), f0 = azar(alto - 12), largo = 5 + azar(30), grueso = 2 + azar(4);
        for (int f = f0; f < f0 + grueso; ++f)
            for (int c = c0; c < c0 + largo; ++c) {
                pagina.plano0[f][c] = static_cast<std::uint8_t>(pagina.plano0[f][c] / 4);
                pagina.plano1[f][c] = static_cast<std::uint8_t>(pagina.plano1[f][c] / (k % 3 == 0 ? 1 : 4));
                pagina.plano2[f][c] = static_cast<std::uint8_t>(pagina.plano2[f][c] / 4);
            }
    }
    const auto espejo = [&](const ImagenBmp& p) {
        ImagenBmp r = p;
        for (const auto& [de, a] : {std::pair{&p.plano0, &r.plano0}, std::pair{&p.plano1, &r.plano1},
                                    std::pair{&p.plano2, &r.plano2}})
            for (int f = 0; f < alto; ++f)
                for (int c = 0; c < ancho; ++c) (*a)[f][c] = (*de)[alto - 1 - f][ancho - 1 - c];
        return r;
    };
    for (const Mejora m : {Mejora::color, Mejora::gris, Mejora::bn}) {
        SCOPED_TRACE(static_cast<int>(m));
        ImagenBmp directa = pagina, reflejada = espejo(pagina);
        mejorarPagina(directa, m);
        mejorarPagina(reflejada, m);
        const ImagenBmp vuelta = espejo(reflejada);
        EXPECT_TRUE(directa.plano0.datos == vuelta.plano0.datos);
        EXPECT_TRUE(directa.plano1.datos == vuelta.plano1.datos);
        EXPECT_TRUE(directa.plano2.datos == vuelta.plano2.datos);
    }
}
