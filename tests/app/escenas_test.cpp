// Whole runs on rendered photographs whose sheet corners are known: the corners the run finds, and
// the sheet it writes against the page drawn front-on.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <utility>

#include "apoyo.hpp"
#include "app/escaner.hpp"
#include "escena.hpp"
#include "medida_pagina.hpp"
#include "rectificacion/hoja.hpp"

namespace {

// A corner is found when it lies within 1 % of the photo's diagonal of the drawn one (7.2 pixels of
// the working image, where the lines are searched).
constexpr double kToleranciaEsquina = 0.01;
// Sheets are compared through the means of 16 x 16 blocks inside the frame: the page's layout
// (margins, heading, paragraphs and their short last lines) rather than single letters, which the
// photo's resolution blurs and the working image's resolution moves by a few pixels. Mean absolute
// difference of those means over the blocks and the three planes, in gray levels
// (medida::diferenciaBloques).
constexpr double kDiferenciaMaxima = 6.0;

struct Corrida {
    int estado = -1;
    std::string consola;
    int anchoTrabajo = 0, altoTrabajo = 0;
    std::optional<ImagenBmp> hoja;  // imagenHojaCarta.bmp, when it was written
};

Corrida escanear(const escena::Escena& e) {
    Corrida r;
    const auto foto = escena::renderizarEscena(e);
    apoyo::CarpetaTemporal carpeta;
    if (!foto || !grabarImagen(foto->imagen, carpeta / "imagenDocumento.bmp").ok()) return r;
    apoyo::Captura salida, errores;
    r.estado = ejecutarEscaner(carpeta.ruta, salida.f, errores.f, [] {});
    r.consola = salida.texto();
    if (const auto trabajo = leerImagen(carpeta / "imagenReducida.bmp")) {
        r.anchoTrabajo = trabajo->imagen.ancho();
        r.altoTrabajo = trabajo->imagen.alto();
    }
    if (auto hoja = leerImagen(carpeta / "imagenHojaCarta.bmp")) r.hoja = std::move(hoja->imagen);
    return r;
}

TEST(Escenas, EsquinasYHojaEnFotosDeVariasFormas) {
    // Photo size, working size, camera (sheet centre a little off the photo's, its height when seen
    // straight on, its turn; no tilt, which the bilinear map of the output does not undo), seed.
    struct Caso { int ancho, alto, anchoTrabajo, altoTrabajo; escena::Camara camara; std::uint64_t semilla; };
    const Caso casos[] = {
        {1024, 768, 576, 432, {{500, 390}, 560, 5.0}, 11},
        {768, 1024, 432, 576, {{390, 500}, 800, -6.0}, 12},
        {1920, 1080, 627, 352, {{980, 530}, 820, 8.0}, 13},
        {1536, 1024, 599, 399, {{760, 520}, 760, -3.5}, 14},
        {480, 360, 576, 432, {{236, 184}, 270, 4.0}, 15},  // enlarged to the working size
    };
    for (const Caso& k : casos) {
        SCOPED_TRACE(std::to_string(k.ancho) + " x " + std::to_string(k.alto));
        const escena::Escena e = escena::escenaConCamara(k.ancho, k.alto, k.camara, k.semilla);
        const Corrida r = escanear(e);
        ASSERT_EQ(r.estado, kSalidaExito) << r.consola;
        EXPECT_EQ(r.anchoTrabajo, k.anchoTrabajo);
        EXPECT_EQ(r.altoTrabajo, k.altoTrabajo);

        const auto halladas = apoyo::esquinasImpresas(r.consola);
        ASSERT_EQ(halladas.size(), 4u) << r.consola;
        for (int n = 0; n < 4; ++n) {
            const double error = std::hypot(halladas[n][0] - e.esquinas[n].x, halladas[n][1] - e.esquinas[n].y);
            EXPECT_LT(error, kToleranciaEsquina * std::hypot(k.ancho, k.alto))
                << "slot " << n << " at (" << halladas[n][0] << ", " << halladas[n][1] << "), drawn at ("
                << e.esquinas[n].x << ", " << e.esquinas[n].y << ")";
        }

        const auto referencia = escena::hojaDeFrente(e);
        ASSERT_TRUE(referencia && r.hoja);
        const double diferencia = medida::diferenciaBloques(*r.hoja, *referencia);
        EXPECT_LT(diferencia, kDiferenciaMaxima);
        // The comparison tells a sheet turned upside down, mirrored or moved by a line and a half of text.
        using Lugar = std::function<std::pair<int, int>(int, int)>;
        const Lugar malos[] = {[](int f, int c) { return std::pair{kAltoHoja - 1 - f, kAnchoHoja - 1 - c}; },
                               [](int f, int c) { return std::pair{f, kAnchoHoja - 1 - c}; },
                               [](int f, int c) { return std::pair{std::min(f + 20, kAltoHoja - 1), c}; }};
        for (const Lugar& malo : malos)
            EXPECT_GT(medida::diferenciaBloques(*r.hoja, *referencia, malo), 1.5 * kDiferenciaMaxima);
    }
}

TEST(Escenas, SinHojaTerminaConEstadoUno) {
    escena::Escena e = escena::escenaConCamara(800, 600, {{400, 300}, 450}, 21);
    e.conHoja = false;
    const Corrida r = escanear(e);
    EXPECT_EQ(r.estado, kSalidaFallo);
    EXPECT_NE(r.consola.find("\n No se encontraron las cuatro esquinas de la hoja"), std::string::npos) << r.consola;
    EXPECT_FALSE(r.hoja);
}

}  // namespace
