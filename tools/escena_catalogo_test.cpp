// Scene sets and the escenas tool that writes them.
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

TEST(ConjuntoDeEscenas, CadaTipoConEtiquetasCiertas) {
    ASSERT_EQ(escena::tiposDeEscena().size(), 14u);
    // Pages of prose, on larger photos and tilted further, have a test of their own.
    std::vector<std::string> tipos = escena::tiposDeEscena();
    for (const std::string& t : escena::tiposAparte())
        if (t != "texto") tipos.push_back(t);
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
    EXPECT_EQ(correr("-n 1 -f gif '" + carpeta.string() + "'"), 2);
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
    // The flat pages come only when asked for (-p).
    for (const auto& e : std::filesystem::directory_iterator(carpeta))
        EXPECT_EQ(e.path().filename().string().find("-pagina"), std::string::npos) << e.path();

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
    ASSERT_TRUE(leida.ok());
    const auto foto = escena::renderizarEscena(fuera.escena);
    ASSERT_TRUE(foto);
    EXPECT_TRUE(iguales(leida->imagen, foto->imagen));
    EXPECT_EQ(lineas[1].rfind("sin-hoja-000.bmp,", 0), 0u);
    EXPECT_TRUE(std::filesystem::exists(carpeta / "sin-hoja-000.bmp"));
    std::filesystem::remove_all(carpeta);
}

}  // namespace
