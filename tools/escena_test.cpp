#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/escaner.hpp"
#include "escena.hpp"

namespace {

using escena::Escena;
using escena::Esquinas;

// Gray level as the scanner weighs the planes.
double gris(const ImagenBmp& img, int fila, int columna) {
    return 0.299 * img.plano0[fila][columna] + 0.587 * img.plano1[fila][columna] +
           0.114 * img.plano2[fila][columna];
}

// An upright sheet spanning columns 100 .. 400 and rows 50 .. 438 (pixel centres), no noise or light.
Escena hojaDerecha() {
    Escena e;
    e.ancho = 500;
    e.alto = 490;
    e.esquinas = {{{100.0, 50.0}, {400.0, 50.0}, {400.0, 438.0}, {100.0, 438.0}}};
    e.ruido = 0;
    e.gradiente = 0.0;
    return e;
}

// A name under the temporary folder that no other running test process uses.
std::filesystem::path temporal(const std::string& nombre) {
    return std::filesystem::temp_directory_path() / (nombre + "-" + std::to_string(::getpid()));
}

std::vector<char> bytesDe(const std::filesystem::path& ruta) {
    std::ifstream f(ruta, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

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
    if (!std::filesystem::exists(guardado)) GTEST_SKIP() << guardado;
    const auto foto = escena::renderizarEscena(escena::escenaEjemplo());
    ASSERT_TRUE(foto);
    const auto archivo = temporal("escena-ejemplo.bmp");
    ASSERT_FALSE(grabarImagen(foto->imagen, archivo));
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

TEST(Camara, RectanguloGiroEInclinacion) {
    escena::Camara cam;
    cam.centro = {500.0, 400.0};
    cam.altoHoja = 440.0;
    Esquinas r = escena::esquinasDeCamara(cam);
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

// The bundled example is found by the scanner close to where it was drawn.
TEST(Escena, ElEscanerEncuentraLaHojaDelEjemplo) {
    const auto foto = escena::renderizarEscena(escena::escenaEjemplo());
    ASSERT_TRUE(foto);
    const auto carpeta = temporal("escena-escaner");
    std::filesystem::remove_all(carpeta);
    std::filesystem::create_directories(carpeta);
    ASSERT_FALSE(grabarImagen(foto->imagen, carpeta / "imagenDocumento.bmp"));

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

}  // namespace
