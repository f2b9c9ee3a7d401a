// The rendered photo: where the sheet lies, what it shows, what the knobs leave alone.
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

TEST(Escena, LaHojaQuedaDondeDicenSusEsquinasYSinVoltear) {
    const auto foto = escena::renderizarEscena(hojaDerecha());
    ASSERT_TRUE(foto);
    const ImagenBmp& img = foto->imagen;
    ASSERT_EQ(img.ancho(), 500);
    ASSERT_EQ(img.alto(), 490);

    // Left margin of the page is bare paper; a few pixels outside any side is desk.
    for (int f = 60; f < 430; f += 7) EXPECT_GT(gris(img, f, 115), 200.0) << f;
    for (int f = 60; f < 430; f += 7) {
        EXPECT_LT(gris(img, f, 95), 120.0) << f;
        EXPECT_LT(gris(img, f, 405), 120.0) << f;
    }
    for (int c = 110; c < 390; c += 7) {
        EXPECT_LT(gris(img, 45, c), 120.0) << c;
        EXPECT_LT(gris(img, 443, c), 120.0) << c;
    }

    // The side on pixel centres is half covered: the pixel there lies between desk and paper.
    for (int f = 100; f < 400; f += 25) {
        EXPECT_GT(gris(img, f, 100), gris(img, f, 99) + 40.0) << f;
        EXPECT_LT(gris(img, f, 100), gris(img, f, 101) - 40.0) << f;
    }

    // The bold heading lies about 11 % of the height below the page's top edge (the high rows);
    // the same distance above the foot is bare paper.
    auto tinta = [&](int desde, int hasta) {
        int n = 0;
        for (int f = desde; f < hasta; ++f)
            for (int c = 130; c < 370; ++c) n += gris(img, f, c) < 150.0;
        return n;
    };
    EXPECT_GT(tinta(390, 404), 100);
    EXPECT_EQ(tinta(84, 98), 0);
}

TEST(Escena, PerspectivaLlevaLasEsquinasALaFoto) {
    // A strongly foreshortened sheet: just inside each corner is paper, just outside is desk.
    Escena e = hojaDerecha();
    e.esquinas = {{{60.0, 40.0}, {450.0, 70.0}, {330.0, 420.0}, {150.0, 400.0}}};
    const auto foto = escena::renderizarEscena(e);
    ASSERT_TRUE(foto);
    double cx = 0.0, cy = 0.0;
    for (const auto& p : e.esquinas) {
        cx += p.x / 4;
        cy += p.y / 4;
    }
    for (const auto& p : e.esquinas) {
        const double dx = (cx - p.x) / std::hypot(cx - p.x, cy - p.y);
        const double dy = (cy - p.y) / std::hypot(cx - p.x, cy - p.y);
        const auto dentro = gris(foto->imagen, static_cast<int>(p.y + 6 * dy + 0.5), static_cast<int>(p.x + 6 * dx + 0.5));
        const auto fuera = gris(foto->imagen, static_cast<int>(p.y - 6 * dy + 0.5), static_cast<int>(p.x - 6 * dx + 0.5));
        EXPECT_GT(dentro, 190.0) << p.x << "," << p.y;
        EXPECT_LT(fuera, 120.0) << p.x << "," << p.y;
    }
}

TEST(Escena, DeterministaYSegunLaSemilla) {
    Escena e = hojaDerecha();
    e.ruido = 5;
    e.gradiente = 0.2;
    const auto a = escena::renderizarEscena(e);
    const auto b = escena::renderizarEscena(e);
    e.semilla = 2;
    const auto c = escena::renderizarEscena(e);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(a->imagen.header, b->imagen.header);
    EXPECT_EQ(a->imagen.plano0.datos, b->imagen.plano0.datos);
    EXPECT_EQ(a->imagen.plano1.datos, b->imagen.plano1.datos);
    EXPECT_EQ(a->imagen.plano2.datos, b->imagen.plano2.datos);
    EXPECT_NE(a->imagen.plano1.datos, c->imagen.plano1.datos);
}

TEST(Escena, ElEjemploGuardadoEsElQueSaleDelGenerador) {
    // Also the check that every compiler renders the same bytes.
    const std::filesystem::path guardado = ESCENA_DIR_EJEMPLOS "/imagenDocumento.bmp";
    if (!std::filesystem::exists(guardado)) GTEST_SKIP() << "no saved example photo " << guardado;
    const auto foto = escena::renderizarEscena(escena::escenaEjemplo());
    ASSERT_TRUE(foto);
    const auto archivo = temporal("escena-ejemplo.bmp");
    ASSERT_TRUE(grabarImagen(foto->imagen, archivo).ok());
    EXPECT_TRUE(bytesDe(archivo) == bytesDe(guardado));
    std::filesystem::remove(archivo);
}

TEST(Escena, EscritorioSoloYLuz) {
    Escena e;
    e.ancho = 400;
    e.alto = 300;
    e.conHoja = false;
    e.esquinas = {};  // not looked at
    e.gradiente = 0.4;
    e.direccionLuz = 0.0;  // brighter toward higher columns
    const auto foto = escena::renderizarEscena(e);
    ASSERT_TRUE(foto);
    double izquierda = 0.0, derecha = 0.0, maximo = 0.0;
    for (int f = 0; f < 300; ++f)
        for (int c = 0; c < 400; ++c) {
            const double g = gris(foto->imagen, f, c);
            maximo = std::max(maximo, g);
            if (c < 100) izquierda += g;
            if (c >= 300) derecha += g;
        }
    EXPECT_LT(maximo, 150.0);
    EXPECT_GT(derecha, izquierda * 1.2);
}

TEST(Escena, RechazaLoQueNoSePuedeDibujar) {
    Escena e = hojaDerecha();
    std::swap(e.esquinas[1], e.esquinas[2]);  // a bow tie
    EXPECT_FALSE(escena::renderizarEscena(e));
    e = hojaDerecha();
    e.esquinas[2] = e.esquinas[1];  // a triangle
    EXPECT_FALSE(escena::renderizarEscena(e));
    e = hojaDerecha();
    e.ancho = 1;
    EXPECT_FALSE(escena::renderizarEscena(e));
    e = hojaDerecha();
    e.fondo = 300;
    EXPECT_FALSE(escena::renderizarEscena(e));
    e = hojaDerecha();
    std::swap(e.esquinas[1], e.esquinas[3]);  // the other turning direction: a mirrored page
    EXPECT_TRUE(escena::renderizarEscena(e));
}

// The bundled example is found by the scanner close to where it was drawn.
TEST(Escena, ElEscanerEncuentraLaHojaDelEjemplo) {
    const auto foto = escena::renderizarEscena(escena::escenaEjemplo());
    ASSERT_TRUE(foto);
    const auto carpeta = temporal("escena-escaner");
    std::filesystem::remove_all(carpeta);
    std::filesystem::create_directories(carpeta);
    ASSERT_TRUE(grabarImagen(foto->imagen, carpeta / "imagenDocumento.bmp").ok());

    std::FILE* salida = std::tmpfile();
    std::FILE* errores = std::tmpfile();
    ASSERT_TRUE(salida && errores);
    EXPECT_EQ(ejecutarEscaner(carpeta, salida, errores, [] {}), kSalidaExito);
    std::string texto;
    std::rewind(salida);
    for (int ch = std::fgetc(salida); ch != EOF; ch = std::fgetc(salida)) texto.push_back(static_cast<char>(ch));
    std::fclose(salida);
    std::fclose(errores);
    std::filesystem::remove_all(carpeta);

    // Corners are printed relative to the centre of the 576 x 432 working image.
    const std::string marca = "para obtener las esquinas: ";
    auto pos = texto.find(marca);
    ASSERT_NE(pos, std::string::npos);
    pos += marca.size();
    const double factor = std::sqrt(1280.0 * 1280.0 + 960.0 * 960.0) / 720.0;
    for (const auto& esperada : foto->esquinas) {
        double x = 0.0, y = 0.0;
        ASSERT_EQ(std::sscanf(texto.c_str() + pos, "\n(%lf,%lf)", &x, &y), 2);
        pos = texto.find(')', pos) + 1;
        EXPECT_NEAR((x + 288.0) * factor, esperada.x, 8.0);
        EXPECT_NEAR((y + 216.0) * factor, esperada.y, 8.0);
    }
}

// ---------------------------------------------------------------------------------------------
// What the added knobs must leave alone, and what they do.

TEST(EscenaDeSiempre, LasEscenasDeAntesDanLosMismosBytes) {
    // Scenes that could be made before the paper, desk, paper brightness and shadow knobs existed,
    // with the hashes of their bytes as rendered then: the new knobs' defaults must not move a bit.
    Escena escenas[5];
    escenas[0] = escena::escenaEjemplo();
    escena::Camara cam;
    cam.centro = {400, 560};
    cam.altoHoja = 700;
    cam.giro = -23;
    cam.inclinacion = 8;
    cam.ladeo = 3;
    cam.distancia = 1.8;
    escenas[1] = escena::escenaConCamara(800, 1100, cam, 77);
    escenas[1].fondo = 95;
    escenas[1].gradiente = 0.35;
    escenas[1].direccionLuz = 200;
    escenas[2].ancho = 640;
    escenas[2].alto = 480;
    escenas[2].conHoja = false;
    escenas[2].semilla = 9;
    escena::Camara c3;
    c3.centro = {100, 300};
    c3.altoHoja = 500;
    c3.giro = 40;
    escenas[3] = escena::escenaConCamara(700, 500, c3, 5);
    escenas[3].ruido = 0;
    escenas[4] = escena::escenaEjemplo();
    escenas[4].semilla = 31337;
    escenas[4].fondo = 40;
    const std::uint64_t fotos[5] = {0x09553ebd3abd6f70ull, 0x93b0341bcc4e5e28ull, 0x5bc9e0a0ebd7d333ull,
                                    0x4e043751dccc4dadull, 0x9318db21fc1c6aeeull};
    for (int i = 0; i < 5; ++i) {
        const auto foto = escena::renderizarEscena(escenas[i]);
        ASSERT_TRUE(foto) << i;
        EXPECT_EQ(huella(foto->imagen), fotos[i]) << "scene " << i;
    }
    const int conHoja[3] = {0, 1, 3};
    const std::uint64_t hojas[3] = {0x3f9c669b50e9b872ull, 0xf2bd286acfaba7f9ull, 0x7fa017908e31dad8ull};
    for (int i = 0; i < 3; ++i) {
        const auto hoja = escena::hojaDeFrente(escenas[conHoja[i]]);
        ASSERT_TRUE(hoja) << i;
        EXPECT_EQ(huella(*hoja), hojas[i]) << "sheet of scene " << conHoja[i];
    }
    // A camera with the added fields at their defaults gives the same corners as always.
    escena::Camara rigida = cam;
    rigida.rigida = true;
    rigida.ladeo = 0.0;
    cam.ladeo = 0.0;
    const Cuadrilatero a = escena::esquinasDeCamara(cam), b = escena::esquinasDeCamara(rigida);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(a[i].x, b[i].x);
        EXPECT_EQ(a[i].y, b[i].y);
    }
}

TEST(Escena, BrilloDelPapel) {
    Escena e = hojaDerecha();
    const auto blanca = escena::renderizarEscena(e);
    e.brilloPapel = 0.8;
    const auto gris80 = escena::renderizarEscena(e);
    ASSERT_TRUE(blanca && gris80);
    for (int f = 80; f < 420; f += 20) {
        EXPECT_NEAR(gris(gris80->imagen, f, 110), 0.8 * gris(blanca->imagen, f, 110), 1.0) << f;
        EXPECT_EQ(gris(gris80->imagen, f, 50), gris(blanca->imagen, f, 50)) << f;  // desk unchanged
    }
    e.brilloPapel = 0.1;
    EXPECT_FALSE(escena::renderizarEscena(e));
}

TEST(Escena, EsquinasFueraDeLaFoto) {
    // Two corners past the left side by 40 pixels, one past the top, all four (the sheet filling
    // the photo), none in the photo at all: each renders, paper where the sheet is.
    auto dentroDe = [](const Cuadrilatero& e, double x, double y) {
        int positivos = 0, negativos = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            const auto& a = e[i];
            const auto& b = e[(i + 1) % 4];
            const double cruz = (b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x);
            positivos += cruz > 0.0;
            negativos += cruz < 0.0;
        }
        return positivos == 0 || negativos == 0;
    };
    Escena e = hojaDerecha();
    e.esquinas = {{{-40.0, 60.0}, {250.0, 60.0}, {250.0, 430.0}, {-40.0, 430.0}}};
    auto foto = escena::renderizarEscena(e);
    ASSERT_TRUE(foto);
    for (int f = 70; f < 420; f += 10) EXPECT_GT(gris(foto->imagen, f, 260), gris(foto->imagen, f, 240) - 200.0);
    double papel = 0.0;
    for (int f = 70; f < 420; ++f) papel += gris(foto->imagen, f, 0) / 350.0;
    EXPECT_GT(papel, 170.0);
    for (int f = 10; f < 50; ++f) EXPECT_LT(gris(foto->imagen, f, 0), 130.0) << f;
    for (int f = 440; f < 490; ++f) EXPECT_LT(gris(foto->imagen, f, 0), 130.0) << f;

    // One corner past the top row: near it, inside the sheet (its bare margin) is paper.
    e.esquinas = {{{100.0, 80.0}, {400.0, 50.0}, {430.0, 470.0}, {130.0, 510.0}}};
    foto = escena::renderizarEscena(e);
    ASSERT_TRUE(foto);
    int vistos = 0;
    for (int f = 470; f < e.alto; ++f)
        for (int c = 100; c < 200; ++c) {
            // Four pixels inside both sides that meet at the corner outside.
            bool adentro = true;
            for (const double dx : {-4.0, 4.0})
                for (const double dy : {-4.0, 4.0}) adentro = adentro && dentroDe(e.esquinas, c + dx, f + dy);
            if (!adentro) continue;
            ++vistos;
            EXPECT_GT(gris(foto->imagen, f, c), 180.0) << f << "," << c;
        }
    EXPECT_GT(vistos, 100);

    // The sheet over the whole photo, and past it.
    e.esquinas = {{{-100.0, -120.0}, {650.0, -90.0}, {620.0, 600.0}, {-80.0, 640.0}}};
    foto = escena::renderizarEscena(e);
    ASSERT_TRUE(foto);
    double media = 0.0;
    for (int f = 0; f < e.alto; ++f)
        for (int c = 0; c < e.ancho; ++c) media += gris(foto->imagen, f, c) / (e.alto * e.ancho);
    EXPECT_GT(media, 190.0);
    e.esquinas = {{{-900.0, -900.0}, {-600.0, -900.0}, {-600.0, -500.0}, {-900.0, -500.0}}};
    foto = escena::renderizarEscena(e);
    ASSERT_TRUE(foto);
    Escena escritorio = e;
    escritorio.conHoja = false;
    const auto soloEscritorio = escena::renderizarEscena(escritorio);
    ASSERT_TRUE(soloEscritorio);
    EXPECT_TRUE(iguales(foto->imagen, soloEscritorio->imagen));
}

}  // namespace
