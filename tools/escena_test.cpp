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

namespace {

using escena::Escena;

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
    if (!std::filesystem::exists(guardado)) GTEST_SKIP() << "no saved example photo " << guardado;
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


// ---------------------------------------------------------------------------------------------
// What the added knobs must leave alone, and what they do.

std::uint64_t huella(const ImagenBmp& img) {
    std::uint64_t h = 1469598103934665603ull;
    const PlanoBytes* planos[3] = {&img.plano0, &img.plano1, &img.plano2};
    for (const PlanoBytes* p : planos)
        for (int f = 0; f < img.alto(); ++f)
            for (int c = 0; c < img.ancho(); ++c) {
                h ^= (*p)[f][c];
                h *= 1099511628211ull;
            }
    return h;
}

bool iguales(const ImagenBmp& a, const ImagenBmp& b) {
    return a.header == b.header && a.plano0.datos == b.plano0.datos && a.plano1.datos == b.plano1.datos &&
           a.plano2.datos == b.plano2.datos;
}

bool convexo(const Cuadrilatero& e) {
    int positivos = 0, negativos = 0;
    for (int i = 0; i < 4; ++i) {
        const auto& a = e[static_cast<std::size_t>(i)];
        const auto& b = e[static_cast<std::size_t>((i + 1) % 4)];
        const auto& c = e[static_cast<std::size_t>((i + 2) % 4)];
        const double cruz = (b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x);
        positivos += cruz > 0.0;
        negativos += cruz < 0.0;
    }
    return positivos == 4 || negativos == 4;
}

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

// ---------------------------------------------------------------------------------------------
// Scene sets

// The smallest share of a side's length inside the photo, from points along each side.
double ladoMenosVisto(const Cuadrilatero& e, int ancho, int alto) {
    constexpr int kPuntos = 400;
    double menor = 1.0;
    for (std::size_t i = 0; i < 4; ++i) {
        const auto& a = e[i];
        const auto& b = e[(i + 1) % 4];
        int dentro = 0;
        for (int k = 0; k < kPuntos; ++k) {
            const double t = (k + 0.5) / kPuntos;
            const double x = a.x + t * (b.x - a.x), y = a.y + t * (b.y - a.y);
            dentro += x >= 0.0 && x <= ancho - 1.0 && y >= 0.0 && y <= alto - 1.0;
        }
        menor = std::min(menor, static_cast<double>(dentro) / kPuntos);
    }
    return menor;
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

TEST(ConjuntoDeEscenas, CadaTipoConEtiquetasCiertas) {
    ASSERT_EQ(escena::tiposDeEscena().size(), 14u);
    std::vector<std::string> tipos = escena::tiposDeEscena();
    tipos.insert(tipos.end(), escena::tiposAparte().begin(), escena::tiposAparte().end());
    bool apaisadas = false, verticales = false;
    for (const std::string& tipo : tipos) {
        SCOPED_TRACE(tipo);
        const auto conjunto = escena::conjuntoDeEscenas(tipo, 10, 5);
        const auto otra = escena::conjuntoDeEscenas(tipo, 10, 5);
        const auto distinta = escena::conjuntoDeEscenas(tipo, 10, 6);
        ASSERT_EQ(conjunto.size(), 10u);
        EXPECT_NE(conjunto[0].escena.semilla, distinta[0].escena.semilla);
        for (std::size_t k = 0; k < conjunto.size(); ++k) {
            const escena::EscenaEtiquetada& et = conjunto[k];
            const Escena& e = et.escena;
            SCOPED_TRACE(k);
            EXPECT_EQ(et.tipo, tipo);
            EXPECT_EQ(e.semilla, otra[k].escena.semilla);
            EXPECT_EQ(e.ancho, otra[k].escena.ancho);
            EXPECT_EQ(e.esquinas[2].x, otra[k].escena.esquinas[2].x);
            EXPECT_GE(std::min(e.ancho, e.alto), 600);
            EXPECT_LE(std::max(e.ancho, e.alto), 2000);
            apaisadas = apaisadas || e.ancho > e.alto;
            verticales = verticales || e.ancho < e.alto;
            EXPECT_EQ(et.conHoja, e.conHoja);
            if (tipo == "sin-hoja" || tipo == "objetos-oscuros") {
                EXPECT_FALSE(e.conHoja);
                EXPECT_EQ(e.objetosOscuros, tipo == "objetos-oscuros");
                continue;
            }
            ASSERT_TRUE(e.conHoja);
            EXPECT_TRUE(convexo(e.esquinas));
            // The labels describe the scene.
            const Cuadrilatero deCamara = escena::esquinasDeCamara(et.camara);
            for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(deCamara[i].x, e.esquinas[i].x);
            EXPECT_EQ(et.inclinacion, escena::inclinacionDeCamara(et.camara));
            EXPECT_EQ(et.papel.ancho, e.anchoPapel);
            EXPECT_EQ(et.papel.alto, e.altoPapel);
            EXPECT_NEAR(et.camara.proporcion, e.anchoPapel / e.altoPapel, 1e-12);
            double area = 0.0;
            for (std::size_t i = 0; i < 4; ++i)
                area += e.esquinas[i].x * e.esquinas[(i + 1) % 4].y - e.esquinas[(i + 1) % 4].x * e.esquinas[i].y;
            EXPECT_NEAR(std::abs(area) / 2.0 / (double(e.ancho) * e.alto), et.cobertura, 1e-9);
            // A small sheet in the hard shadow's kind.
            EXPECT_GE(et.cobertura, tipo == "sombra-dura" ? 0.1 : 0.2);
            EXPECT_LE(et.cobertura, tipo == "sombra-dura" ? 0.22 : 0.8);
            if (tipo == "sombra-dura") {
                EXPECT_EQ(e.escritorio, escena::TipoEscritorio::cuero);
                EXPECT_GT(e.radioEsquinas, 0.0);
                EXPECT_GE(e.sombra.fuerza, 0.45);
                EXPECT_LE(e.sombra.suavidad, 0.006 * std::hypot(e.ancho, e.alto));
            }
            // Corners: inside by 2 % of the smaller side, or for "fuera" one or two outside by at
            // most 10 % of the photo's side.
            int fuera = 0;
            const double margen = 0.02 * std::min(e.ancho, e.alto) - 1e-6;
            for (const auto& p : e.esquinas) {
                const double dx = std::max({-p.x, p.x - (e.ancho - 1.0), 0.0});
                const double dy = std::max({-p.y, p.y - (e.alto - 1.0), 0.0});
                fuera += dx > 0.0 || dy > 0.0;
                EXPECT_LE(dx, 0.1 * e.ancho + 1e-6);
                EXPECT_LE(dy, 0.1 * e.alto + 1e-6);
                if (tipo != "fuera" && tipo != "lado-fuera") {
                    EXPECT_GE(std::min({p.x, e.ancho - 1.0 - p.x}), margen);
                    EXPECT_GE(std::min({p.y, e.alto - 1.0 - p.y}), margen);
                }
            }
            EXPECT_EQ(fuera, et.esquinasFuera);
            if (tipo == "fuera" || tipo == "lado-fuera") {
                EXPECT_GE(fuera, 1);
                EXPECT_LE(fuera, 2);
            }
            // A cut corner leaves a stretch of every side in the photo; "lado-fuera" a side with none.
            if (tipo == "fuera") {
                EXPECT_GE(ladoMenosVisto(e.esquinas, e.ancho, e.alto), 1.0 / 3.0 - 0.01);
            }
            if (tipo == "lado-fuera") {
                EXPECT_EQ(fuera, 2);
                EXPECT_EQ(ladoMenosVisto(e.esquinas, e.ancho, e.alto), 0.0);
            }
            // The kind's ranges.
            if (tipo == "perspectiva") {
                EXPECT_GE(et.inclinacion, 24.0);
                EXPECT_LE(et.inclinacion, 50.5);
            } else {
                EXPECT_LE(et.inclinacion, 20.5);
            }
            EXPECT_LE(std::abs(et.giro), tipo == "giro" ? 90.0 : tipo == "fuera" ? 25.0 : tipo == "sombra-dura" ? 18.0 : 15.0);
            EXPECT_EQ(e.sombra.fuerza > 0.0, tipo == "sombra" || tipo == "sombra-dura");
            if (tipo == "apaisada") {
                EXPECT_GT(e.anchoPapel, e.altoPapel);
            } else {
                EXPECT_LT(e.anchoPapel, e.altoPapel);
            }
            if (tipo == "a4") { EXPECT_EQ(e.anchoPapel, escena::kA4.ancho); }
            if (tipo == "oscuro") {
                EXPECT_EQ(e.escritorio, escena::TipoEscritorio::madera);
                EXPECT_LE(e.fondo, 110);
            }
            if (tipo == "claro") { EXPECT_GE(e.fondo, 135); }
            if (tipo == "bajo-contraste") { EXPECT_LT(e.brilloPapel, 0.95); }
            if (tipo == "textura") { EXPECT_EQ(e.escritorio, escena::TipoEscritorio::textura); }
            if (tipo == "desorden") { EXPECT_EQ(e.escritorio, escena::TipoEscritorio::desorden); }
        }
        // One scene of the kind renders (at a third of its size, to keep the test quick).
        Escena chica = conjunto[0].escena;
        chica.ancho /= 3;
        chica.alto /= 3;
        for (auto& p : chica.esquinas) p = {p.x / 3.0, p.y / 3.0};
        EXPECT_TRUE(escena::renderizarEscena(chica));
    }
    EXPECT_TRUE(apaisadas && verticales);
    // Turns in the "giro" set reach well past the others'.
    double giroMaximo = 0.0;
    for (const auto& et : escena::conjuntoDeEscenas("giro", 30, 1)) giroMaximo = std::max(giroMaximo, std::abs(et.giro));
    EXPECT_GT(giroMaximo, 60.0);

    // "todos" takes the kinds in turn; an unknown kind gives nothing.
    const auto todos = escena::conjuntoDeEscenas("todos", 13, 2);
    ASSERT_EQ(todos.size(), 13u);
    const auto& enTodos = escena::tiposDeEscena();
    for (std::size_t k = 0; k < todos.size(); ++k) EXPECT_EQ(todos[k].tipo, enTodos[k % enTodos.size()]);
    EXPECT_TRUE(escena::conjuntoDeEscenas("marciano", 3, 1).empty());
}

TEST(HerramientaEscenas, CarpetaConCornersCsv) {
    const std::string binario = ESCENAS_BINARIO;
    const auto carpeta = temporal("escenas-carpeta");
    std::filesystem::remove_all(carpeta);
    auto correr = [&](const std::string& argumentos) {
        const std::string orden = "'" + binario + "' " + argumentos + " >/dev/null 2>&1";
        const int estado = std::system(orden.c_str());
        return WIFEXITED(estado) ? WEXITSTATUS(estado) : -1;
    };
    EXPECT_EQ(correr("--help"), 0);
    EXPECT_EQ(correr("--no-such-option '" + carpeta.string() + "'"), 2);
    EXPECT_EQ(correr("-t marciano '" + carpeta.string() + "'"), 2);
    EXPECT_EQ(correr("-n diez '" + carpeta.string() + "'"), 2);
    // A negative count or seed is refused, not wrapped around to a huge number.
    EXPECT_EQ(correr("-n 0 -s -1 '" + carpeta.string() + "'"), 2);
    EXPECT_EQ(correr("-n -1 '" + carpeta.string() + "'"), 2);
    EXPECT_EQ(correr("-n 1 -f jpg '" + carpeta.string() + "'"), 2);
    EXPECT_EQ(correr("-n 1 '" + carpeta.string() + "' otra"), 2);
    EXPECT_EQ(correr(""), 2);
    EXPECT_FALSE(std::filesystem::exists(carpeta));

    ASSERT_EQ(correr("-t fuera,sin-hoja -n 1 -s 3 -f bmp '" + carpeta.string() + "'"), 0);
    std::ifstream csv(carpeta / "corners.csv");
    std::string linea;
    std::getline(csv, linea);
    EXPECT_EQ(linea.rfind("file,width,height,tl_x,tl_y,tr_x,tr_y,br_x,br_y,bl_x,bl_y,kind,tilt,paper", 0), 0u);
    std::vector<std::string> lineas;
    while (std::getline(csv, linea)) lineas.push_back(linea);
    ASSERT_EQ(lineas.size(), 2u);

    const auto fuera = escena::conjuntoDeEscenas("fuera", 1, 3)[0];
    const auto vistas = aPantalla(ordenarCuadrilatero(fuera.escena.esquinas, fuera.escena.alto), fuera.escena.alto);
    std::replace(lineas[0].begin(), lineas[0].end(), ',', ' ');
    std::istringstream campos(lineas[0]);
    std::string archivo, tipo;
    int ancho = 0, alto = 0;
    double v[8] = {};
    campos >> archivo >> ancho >> alto;
    for (double& x : v) campos >> x;
    campos >> tipo;
    EXPECT_EQ(archivo, "fuera-000.bmp");
    EXPECT_EQ(tipo, "fuera");
    EXPECT_EQ(ancho, fuera.escena.ancho);
    EXPECT_EQ(alto, fuera.escena.alto);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_NEAR(v[2 * i], vistas[i].x, 0.006);
        EXPECT_NEAR(v[2 * i + 1], vistas[i].y, 0.006);
    }
    const auto leida = leerImagen(carpeta / archivo);
    ASSERT_TRUE(leida.imagen);
    const auto foto = escena::renderizarEscena(fuera.escena);
    ASSERT_TRUE(foto);
    EXPECT_TRUE(iguales(*leida.imagen, foto->imagen));
    EXPECT_EQ(lineas[1].rfind("sin-hoja-000.bmp,", 0), 0u);
    EXPECT_TRUE(std::filesystem::exists(carpeta / "sin-hoja-000.bmp"));
    std::filesystem::remove_all(carpeta);
}

}  // namespace
