// Pages of prose: the words kept are the words set, every line set shows on the page, and the
// scene kind that photographs them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "escena.hpp"
#include "escena_prosa.hpp"
#include "escena_test_apoyo.hpp"
#include "formatos/formatos.hpp"
#include "palabras.hpp"

namespace {

using namespace escena_prueba;

// A letter page of prose at 11 points, upright, on a small photo.
Escena conProsa(std::uint64_t semilla) {
    Escena e = hojaDerecha();
    e.puntosProsa = 11.0;
    e.semilla = semilla;
    return e;
}

std::vector<std::string> lineasDe(const std::string& texto) {
    std::vector<std::string> r;
    std::istringstream entrada(texto);
    std::string linea;
    while (std::getline(entrada, linea)) r.push_back(linea);
    return r;
}

// The front-on page at the prose's own resolution, paper and ink only.
ImagenBmp paginaEntera(const Escena& e) {
    const int ancho = static_cast<int>(e.anchoPapel * escena::kTexelesProsa + 0.5);
    const int alto = static_cast<int>(e.altoPapel * escena::kTexelesProsa + 0.5);
    auto pagina = escena::paginaDeFrente(e, ancho, alto, escena::esquinasDeImagen(ancho, alto), false);
    EXPECT_TRUE(pagina);
    return pagina ? std::move(*pagina) : ImagenBmp{};
}

TEST(PaginaDeProsa, ElTextoGuardadoEsElCompuesto) {
    const auto& titulos = escena::interno::titulosDeProsa();
    const auto& parrafos = escena::interno::parrafosDeProsa();
    std::set<std::string> titulosVistos;
    for (std::uint64_t semilla = 1; semilla <= 4; ++semilla) {
        SCOPED_TRACE(semilla);
        const auto texto = escena::textoDeLaPagina(conProsa(semilla));
        ASSERT_TRUE(texto);
        EXPECT_EQ(escena::textoDeLaPagina(conProsa(semilla)), texto);
        const std::vector<std::string> lineas = lineasDe(*texto);
        ASSERT_GT(lineas.size(), 10u);
        // The heading, a blank line, paragraphs parted by blank lines, the page number.
        EXPECT_NE(std::find(titulos.begin(), titulos.end(), lineas[0]), titulos.end());
        titulosVistos.insert(lineas[0]);
        EXPECT_EQ(lineas[1], "");
        const int numero = std::atoi(lineas.back().c_str());
        EXPECT_TRUE(numero >= 1 && numero <= 40) << lineas.back();
        std::vector<std::string> bloques{""};
        for (std::size_t i = 2; i + 1 < lineas.size(); ++i) {
            if (lineas[i].empty()) {
                bloques.emplace_back();
                continue;
            }
            EXPECT_EQ(lineas[i].front() == ' ' || lineas[i].back() == ' ', false) << lineas[i];
            bloques.back() += (bloques.back().empty() ? "" : " ") + lineas[i];
        }
        ASSERT_TRUE(bloques.back().empty());
        bloques.pop_back();
        // Whole paragraphs, each once, but for the last, which may stop at a line's end.
        ASSERT_GE(bloques.size(), 3u);
        std::set<std::string> usados;
        for (std::size_t b = 0; b < bloques.size(); ++b) {
            const bool ultimo = b + 1 == bloques.size();
            const auto suyo = std::find_if(parrafos.begin(), parrafos.end(), [&](const std::string& p) {
                return ultimo ? p.rfind(bloques[b], 0) == 0 : p == bloques[b];
            });
            ASSERT_NE(suyo, parrafos.end()) << bloques[b];
            EXPECT_TRUE(usados.insert(*suyo).second);
        }
        // A letter page at 11 points holds some 500 words.
        const std::size_t palabras = palabras::cuantas(palabras::bolsaDePalabras(*texto));
        EXPECT_GT(palabras, 400u);
        EXPECT_LT(palabras, 700u);
    }
    EXPECT_GT(titulosVistos.size(), 1u);

    // Whatever the seed, size and paper, paragraphs are parted by one blank line, never two (a
    // paragraph none of whose lines fit leaves nothing), the last of them before the page number.
    for (std::uint64_t semilla = 1; semilla <= 40; ++semilla) {
        Escena e = conProsa(semilla);
        e.puntosProsa = 10.0 + 0.05 * static_cast<double>(semilla);
        if (semilla % 3 == 0) {
            e.anchoPapel = escena::kA4.ancho;
            e.altoPapel = escena::kA4.alto;
        }
        const auto texto = escena::textoDeLaPagina(e);
        ASSERT_TRUE(texto);
        EXPECT_EQ(texto->find("\n\n\n"), std::string::npos) << semilla;
        const std::vector<std::string> lineas = lineasDe(*texto);
        ASSERT_GE(lineas.size(), 4u);
        EXPECT_TRUE(lineas[lineas.size() - 2].empty() && !lineas[lineas.size() - 3].empty()) << semilla;
    }

    // A sheet larger than all the prose holds every paragraph once, whole, and stops there.
    {
        Escena todo = conProsa(2);
        todo.anchoPapel = 17.0;
        todo.altoPapel = 22.0;
        todo.puntosProsa = 6.0;
        const auto texto = escena::textoDeLaPagina(todo);
        ASSERT_TRUE(texto);
        const std::vector<std::string> lineas = lineasDe(*texto);
        std::size_t esperadas = palabras::cuantas(palabras::bolsaDePalabras(lineas[0])) + 1;
        for (const std::string& p : parrafos) {
            esperadas += palabras::cuantas(palabras::bolsaDePalabras(p));
            std::string unaLinea = *texto;
            std::replace(unaLinea.begin(), unaLinea.end(), '\n', ' ');
            EXPECT_NE(unaLinea.find(p), std::string::npos) << p;
        }
        EXPECT_EQ(palabras::cuantas(palabras::bolsaDePalabras(*texto)), esperadas);
        EXPECT_TRUE(escena::renderizarEscena(todo));
    }

    // Larger type holds fewer words; no prose, no sheet or a size out of range: no text.
    Escena grande = conProsa(1);
    grande.puntosProsa = 16.0;
    EXPECT_LT(palabras::cuantas(palabras::bolsaDePalabras(*escena::textoDeLaPagina(grande))),
              palabras::cuantas(palabras::bolsaDePalabras(*escena::textoDeLaPagina(conProsa(1)))) * 3 / 4);
    Escena sinProsa = conProsa(1);
    sinProsa.puntosProsa = 0.0;
    EXPECT_FALSE(escena::textoDeLaPagina(sinProsa));
    Escena sinHoja = conProsa(1);
    sinHoja.conHoja = false;
    EXPECT_FALSE(escena::textoDeLaPagina(sinHoja));
    for (const double puntos : {5.9, 24.1, -11.0, std::numeric_limits<double>::quiet_NaN()}) {
        Escena mala = conProsa(1);
        mala.puntosProsa = puntos;
        EXPECT_FALSE(escena::textoDeLaPagina(mala)) << puntos;
        EXPECT_FALSE(escena::renderizarEscena(mala)) << puntos;
        EXPECT_FALSE(escena::paginaDeFrente(mala, 100, 100, escena::esquinasDeImagen(100, 100), false)) << puntos;
    }
}

TEST(PaginaDeProsa, CadaLineaCompuestaSeVeEnLaPagina) {
    for (const double puntos : {10.0, 12.0}) {
        SCOPED_TRACE(puntos);
        Escena e = conProsa(7);
        e.puntosProsa = puntos;
        const std::vector<std::string> lineas = lineasDe(*escena::textoDeLaPagina(e));
        const auto llenas = std::count_if(lineas.begin(), lineas.end(), [](const std::string& l) { return !l.empty(); });
        const ImagenBmp pagina = paginaEntera(e);
        // Bands of rows with ink, from the page's top (the file's last row); and the ink's columns.
        int bandas = 0, izquierda = pagina.ancho(), derecha = -1, arriba = -1, abajo = -1;
        bool enBanda = false;
        for (int f = pagina.alto() - 1; f >= 0; --f) {
            bool tinta = false;
            for (int c = 0; c < pagina.ancho(); ++c)
                if (gris(pagina, f, c) < 128.0) {
                    tinta = true;
                    izquierda = std::min(izquierda, c);
                    derecha = std::max(derecha, c);
                }
            if (tinta) {
                if (arriba < 0) arriba = pagina.alto() - 1 - f;
                abajo = pagina.alto() - 1 - f;
            }
            bandas += tinta && !enBanda;
            enBanda = tinta;
        }
        EXPECT_EQ(bandas, llenas);
        // Within the one-inch margins (the page number half an inch from the foot).
        EXPECT_GE(izquierda, escena::kTexelesProsa - 6);
        EXPECT_LE(derecha, pagina.ancho() - escena::kTexelesProsa + 6);
        EXPECT_GE(arriba, escena::kTexelesProsa);
        EXPECT_LE(abajo, pagina.alto() - escena::kTexelesProsa / 2 + escena::kTexelesProsa / 10);
        // Body lines run close to the right margin.
        EXPECT_GT(derecha, pagina.ancho() - escena::kTexelesProsa - escena::kTexelesProsa / 2);
    }
}

TEST(PaginaDeProsa, ElLectorDeTextoLeeLoGuardado) {
    if (std::system("tesseract --list-langs 2>/dev/null | grep -qx spa") != 0)
        GTEST_SKIP() << "the Tesseract command with Spanish (tesseract-ocr, tesseract-ocr-spa) is not installed";
    const Escena e = conProsa(3);
    const auto carpeta = temporal("prosa-ocr");
    std::filesystem::create_directories(carpeta);
    ASSERT_TRUE(grabarImagen(paginaEntera(e), carpeta / "pagina.bmp").ok());
    const std::string orden = "OMP_THREAD_LIMIT=1 tesseract '" + (carpeta / "pagina.bmp").string() + "' '" +
                              (carpeta / "leido").string() + "' -l spa >/dev/null 2>&1";
    ASSERT_EQ(std::system(orden.c_str()), 0);
    std::ifstream leido(carpeta / "leido.txt");
    const std::string texto{std::istreambuf_iterator<char>(leido), std::istreambuf_iterator<char>()};
    const auto verdad = palabras::bolsaDePalabras(*escena::textoDeLaPagina(e));
    const auto lectura = palabras::bolsaDePalabras(texto);
    EXPECT_GE(palabras::recuerdo(verdad, lectura), 0.97) << ::testing::PrintToString(palabras::faltantes(verdad, lectura));
    std::filesystem::remove_all(carpeta);
}

TEST(PaginaDeProsa, FotoDeterminista) {
    const auto a = escena::renderizarEscena(conProsa(5));
    const auto b = escena::renderizarEscena(conProsa(5));
    const auto otra = escena::renderizarEscena(conProsa(6));
    Escena dibujada = conProsa(5);
    dibujada.puntosProsa = 0.0;
    const auto sinProsa = escena::renderizarEscena(dibujada);
    ASSERT_TRUE(a && b && otra && sinProsa);
    EXPECT_TRUE(iguales(a->imagen, b->imagen));
    EXPECT_NE(huella(a->imagen), huella(otra->imagen));
    EXPECT_NE(huella(a->imagen), huella(sinProsa->imagen));
}

TEST(ConjuntoDeEscenas, PaginasDeTextoFotografiadas) {
    const auto conjunto = escena::conjuntoDeEscenas("texto", 40, 1);
    const auto otra = escena::conjuntoDeEscenas("texto", 40, 1);
    ASSERT_EQ(conjunto.size(), 40u);
    int derechas = 0, invertidas = 0, deLado = 0, muyInclinadas = 0, otrosGiros = 0;
    for (std::size_t k = 0; k < conjunto.size(); ++k) {
        SCOPED_TRACE(k);
        const escena::EscenaEtiquetada& et = conjunto[k];
        const Escena& e = et.escena;
        EXPECT_EQ(e.semilla, otra[k].escena.semilla);
        EXPECT_EQ(e.esquinas[2].y, otra[k].escena.esquinas[2].y);
        EXPECT_EQ(et.tipo, "texto");
        ASSERT_TRUE(e.conHoja);
        EXPECT_TRUE(e.puntosProsa >= 10.0 && e.puntosProsa <= 12.0);
        // A phone's 8 or 12 megapixels.
        const int largo = std::max(e.ancho, e.alto), corto = std::min(e.ancho, e.alto);
        EXPECT_TRUE((largo == 4032 && corto == 3024) || (largo == 3264 && corto == 2448)) << e.ancho << "x" << e.alto;
        EXPECT_TRUE(convexo(e.esquinas));
        EXPECT_EQ(et.esquinasFuera, 0);
        EXPECT_LE(et.inclinacion, 40.0 + 1e-9);
        EXPECT_GE(et.cobertura, 0.35);
        EXPECT_LE(et.cobertura, 0.7);
        muyInclinadas += et.inclinacion > 30.0;
        const double g = et.giro;
        if (std::abs(g) <= 12.0)
            ++derechas;
        else if (std::abs(g - 180.0) <= 12.0)
            ++invertidas;
        else if (std::abs(std::abs(g) - 90.0) <= 12.0)
            ++deLado;
        else
            ++otrosGiros;
        EXPECT_TRUE(escena::textoDeLaPagina(e));
    }
    EXPECT_GE(derechas, 10);
    EXPECT_GE(invertidas, 3);
    EXPECT_GE(deLado, 6);
    EXPECT_GE(otrosGiros, 1);
    EXPECT_GE(muyInclinadas, 5);
}

TEST(HerramientaEscenas, PaginaDeTextoConSusPalabrasAlLado) {
    const auto carpeta = temporal("escenas-texto");
    std::filesystem::remove_all(carpeta);
    const std::string orden = std::string("'") + ESCENAS_BINARIO + "' -t texto -n 1 -s 4 -f jpg -p --ppp 50 '" +
                              carpeta.string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(orden.c_str()), 0);
    for (const char* nombre : {"texto-000.jpg", "texto-000-pagina.jpg", "texto-000-pagina-luz.jpg"})
        EXPECT_TRUE(std::filesystem::exists(carpeta / nombre)) << nombre;
    const auto et = escena::conjuntoDeEscenas("texto", 1, 4)[0];
    std::ifstream guardado(carpeta / "texto-000.txt", std::ios::binary);
    const std::string texto{std::istreambuf_iterator<char>(guardado), std::istreambuf_iterator<char>()};
    EXPECT_EQ(texto, escena::textoDeLaPagina(et.escena));
    // The photo is read back at the scene's size; the page at 50 pixels per inch.
    const auto foto = leerFoto(carpeta / "texto-000.jpg");
    ASSERT_TRUE(foto.ok());
    EXPECT_EQ(foto->imagen.ancho(), et.escena.ancho);
    const auto pagina = leerFoto(carpeta / "texto-000-pagina.jpg");
    ASSERT_TRUE(pagina.ok());
    EXPECT_EQ(pagina->imagen.ancho(), static_cast<int>(et.escena.anchoPapel * 50 + 0.5));
    std::filesystem::remove_all(carpeta);
}

}  // namespace
