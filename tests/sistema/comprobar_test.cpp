// Checked preconditions: a broken one stops the process with the condition and the values it
// compared; a kept one lets the work go on.
#include "apoyo.hpp"
#include "filtros/convolucion.hpp"
#include "hough/acumulador.hpp"
#include "hough/imagen_hough.hpp"
#include "hough/rectas.hpp"
#include "pagina/remuestreo.hpp"
#include "rectificacion/hoja.hpp"
#include "sistema/comprobar.hpp"

namespace {

TEST(ComprobarDeathTest, UnaCondicionRotaDetieneConLosValores) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const int filas = 358;
    EXPECT_DEATH(COMPROBAR_IGUAL(filas, kFilasHough),
                 "fallo interno en .*comprobar_test.cpp:[0-9]+: no se cumple filas == kFilasHough "
                 "\\(filas = 358, kFilasHough = 359\\)");
    EXPECT_DEATH(COMPROBAR_MENOR(2 + 2, 4), "2 \\+ 2 < 4 \\(2 \\+ 2 = 4, 4 = 4\\)");
    EXPECT_DEATH(COMPROBAR(filas < 0), "no se cumple filas < 0\n");
    // Kept, nothing happens, and each side is worked out once.
    int veces = 0;
    COMPROBAR_MAYOR_IGUAL(++veces, 1);
    COMPROBAR_DISTINTO(veces, 0);
    COMPROBAR_MENOR_IGUAL(veces, 1);
    COMPROBAR_MAYOR(veces, 0);
    COMPROBAR(veces == 1);
    EXPECT_EQ(veces, 1);
}

TEST(ComprobarDeathTest, LasEtapasRehusanLoQueNoDebenRecibir) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    PlanoReal corto(kColumnasHough, kFilasHough - 1, 1.0);
    EXPECT_DEATH(buscarRectas(corto), "acumulador.alto == kFilasHough \\(acumulador.alto = 358");
    EXPECT_DEATH(imagenEspacioHough(PlanoReal(kColumnasHough - 1, kFilasHough)),
                 "acumulador.ancho == kColumnasHough \\(acumulador.ancho = 359");
    EXPECT_DEATH(armarImagenHough(PlanoBytes(kColumnasHough, 10)), "gris.alto == kFilasHough");
    const MapaBordes mapa(40, 30);
    const MapaOrientacion orientacion(40, 29);
    EXPECT_DEATH(acumuladorHough(mapa, orientacion, 40, 30), "orientacion.alto == alto \\(orientacion.alto = 29, alto = 30\\)");
    EXPECT_DEATH(acumuladorHough(mapa, MapaOrientacion(40, 30), 41, 30), "bordes.ancho == ancho");
    EXPECT_DEATH(convolucionar(PlanoReal(20, 20), PlanoReal(4, 4)), "nucleo.ancho % 2 == 1");
    EXPECT_DEATH(convolucionar(PlanoReal(20, 20), PlanoReal(5, 3)), "nucleo.alto == nucleo.ancho");
    EXPECT_DEATH(convolucionarBordeado(PlanoReal(4, 9), nucleoGaussiano(1.0, 5)), "copia.ancho >= nucleo.ancho");
    const ImagenBmp fina = apoyo::imagenDe(1, 5, [](int, int, int) { return 0; });
    const std::array<Esquina, 4> esquinas{{{0, 0}, {1, 0}, {1, 1}, {0, 1}}};
    EXPECT_DEATH(rectificarHoja(fina, esquinas), "foto.ancho\\(\\) >= 2 \\(foto.ancho\\(\\) = 1, 2 = 2\\)");
    EXPECT_DEATH(remuestrearPagina(fina, MapaDePagina{}, 10, 10), "foto.ancho\\(\\) >= 2");
    const ImagenBmp imagen = apoyo::imagenDe(8, 6, [](int, int, int) { return 0; });
    apoyo::CarpetaTemporal carpeta;
    EXPECT_DEATH((void)grabarPlanos(imagen.header, imagen.plano0, PlanoBytes(8, 5), imagen.plano2, carpeta / "x.bmp"),
                 "plano->alto >= alto \\(plano->alto = 5, alto = 6\\)");
    // Sizes as they should be go through.
    EXPECT_TRUE(grabarPlanos(imagen.header, imagen.plano0, imagen.plano1, imagen.plano2, carpeta / "x.bmp").ok());
}

}  // namespace
