// The page as the command line gives it: the bilinear letter page is the run without arguments'
// road from the corners the JSON line prints, a landscape sheet comes out landscape, and the PDF page takes the sheet's size.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apoyo.hpp"
#include "app/comandos.hpp"
#include "app/comandos_apoyo.hpp"
#include "app/escaner.hpp"
#include "escena.hpp"
#include "formatos/formatos.hpp"

namespace {

int escanear(std::vector<std::string> argumentos, std::string* errores = nullptr, std::string* salidas = nullptr) {
    argumentos.insert(argumentos.begin(), "escaner");
    std::vector<const char*> argv;
    for (const std::string& a : argumentos) argv.push_back(a.c_str());
    apoyo::Captura salida, error;
    const int estado = ejecutarComandos(static_cast<int>(argv.size()), argv.data(), salida.f, error.f);
    if (errores) *errores = error.texto();
    if (salidas) *salidas = salida.texto();
    return estado;
}


TEST(LineaDeComandos, LaHojaCartaBilinealEsLaDeLaCorridaSinArgumentos) {
    const auto foto = escena::renderizarEscena(escena::escenaEjemplo());
    ASSERT_TRUE(foto);
    apoyo::CarpetaTemporal carpeta;
    ASSERT_FALSE(grabarImagen(foto->imagen, carpeta / "imagenDocumento.bmp"));
    apoyo::Captura salida, errores;
    ASSERT_EQ(ejecutarEscaner(carpeta.ruta, salida.f, errores.f, [] {}), kSalidaExito);
    const auto esperada = apoyo::leerArchivo(carpeta / "imagenHojaCarta.bmp");
    ASSERT_FALSE(esperada.empty());

    const std::string x = (carpeta / "x.bmp").string();
    std::string mensaje, json;
    ASSERT_EQ(escanear({"--json", "--detector", "espec", "--mapa", "bilineal", "-o", x,
                        (carpeta / "imagenDocumento.bmp").string()},
                       &mensaje, &json),
              0)
        << mensaje;
    // The page of the run without arguments' road, from its corners to the hundredth of a pixel
    // as the JSON line prints them: the run without arguments' own but for a level here and there
    // where a sample moved by that hundredth.
    const apoyo::Bytes hoja = apoyo::leerArchivo(x);
    EXPECT_EQ(hoja, comandos_prueba::hojaCartaDeLinea(foto->imagen, json, carpeta / "y.bmp")) << json;
    ASSERT_EQ(hoja.size(), esperada.size());
    const auto [distintos, maxima] = comandos_prueba::diferencia(hoja, esperada);
    EXPECT_LE(maxima, 2);
    EXPECT_LT(distintos, static_cast<long>(hoja.size() / 20)) << "of " << hoja.size();
    // The default (perspective) page is another one, of the same size.
    const std::string p = (carpeta / "p.bmp").string();
    ASSERT_EQ(escanear({"--detector", "espec", "-o", p, (carpeta / "imagenDocumento.bmp").string()}), 0);
    const auto perspectiva = leerImagen(p);
    ASSERT_TRUE(perspectiva.imagen);
    EXPECT_EQ(perspectiva.imagen->ancho(), 852);
    EXPECT_EQ(perspectiva.imagen->alto(), 1103);
    EXPECT_NE(apoyo::leerArchivo(p), esperada);
}

TEST(LineaDeComandos, LaHojaApaisadaSaleApaisadaTambienEnElPdf) {
    escena::Camara c;
    c.rigida = true;
    c.proporcion = 11.0 / 8.5;
    c.centro = {500, 370};
    c.altoHoja = 420;
    c.inclinacion = 15;
    c.giro = 4;
    escena::Escena e = escena::escenaConCamara(1000, 750, c, 8);
    e.anchoPapel = 11.0;
    e.altoPapel = 8.5;
    const auto foto = escena::renderizarEscena(e);
    ASSERT_TRUE(foto);
    apoyo::CarpetaTemporal carpeta;
    const std::string ruta = (carpeta / "apaisada.bmp").string();
    ASSERT_FALSE(grabarImagen(foto->imagen, ruta));
    for (const char* mapa : {"bilineal", "perspectiva"}) {
        const std::string salida = (carpeta / (std::string(mapa) + ".bmp")).string();
        std::string mensaje;
        ASSERT_EQ(escanear({"--detector", "espec", "--mapa", mapa, "-o", salida, ruta}, &mensaje), 0) << mensaje;
        const auto pagina = leerImagen(salida);
        ASSERT_TRUE(pagina.imagen) << mapa;
        EXPECT_EQ(pagina.imagen->ancho(), 1103) << mapa;
        EXPECT_EQ(pagina.imagen->alto(), 852) << mapa;
    }
    // A PDF of the landscape sheet and an upright one: a letter page each way, and an A4 page.
    const auto vertical = escena::renderizarEscena(escena::escenaEjemplo());
    ASSERT_TRUE(vertical);
    ASSERT_FALSE(grabarImagen(vertical->imagen, carpeta / "vertical.bmp"));
    const std::string pdf = (carpeta / "hojas.pdf").string();
    ASSERT_EQ(escanear({"--detector", "espec", "-o", pdf, ruta, (carpeta / "vertical.bmp").string()}), 0);
    const auto bytes = apoyo::leerArchivo(pdf);
    const std::string texto(bytes.begin(), bytes.end());
    EXPECT_NE(texto.find("MediaBox [ 0 0 792 612 ]"), std::string::npos);
    EXPECT_NE(texto.find("MediaBox [ 0 0 612 792 ]"), std::string::npos);
    ASSERT_EQ(escanear({"--detector", "espec", "--papel", "a4", "-o", pdf, (carpeta / "vertical.bmp").string()}), 0);
    const auto a4 = apoyo::leerArchivo(pdf);
    EXPECT_NE(std::string(a4.begin(), a4.end()).find("MediaBox [ 0 0 595.2"), std::string::npos);
}

}  // namespace
