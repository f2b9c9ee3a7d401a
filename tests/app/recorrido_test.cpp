// The stages' road: the account of the letter sheet's rectification (the system as it was set up,
// then its solution or why there is none), photos too thin for the working image, and the outline
// image written with --etapas, the working image with the corners the page was made from, whichever
// detector found them.
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "apoyo.hpp"
#include "app/comandos.hpp"
#include "app/recorrido.hpp"
#include "filtros/reduccion.hpp"
#include "escena.hpp"

namespace {

namespace fs = std::filesystem;

// Runs the command line on one photo with --json and --etapas; its JSON line and status.
std::pair<int, std::string> escanearConEtapas(const fs::path& foto, const fs::path& etapas, const fs::path& salida,
                                              const char* detector) {
    const std::string f = foto.string(), e = etapas.string(), s = salida.string();
    const char* argv[] = {"escaner", "--json", "--detector", detector, "--etapas", e.c_str(), "-o", s.c_str(), f.c_str()};
    apoyo::Captura out, err;
    const int estado = ejecutarComandos(9, argv, out.f, err.f);
    return {estado, out.texto() + err.texto()};
}

// The corners of a JSON line ([[x,y],...] as a viewer shows the photo, y down from the top row) in
// the working image's pixels, rows in file order.
std::vector<Esquina> esquinasDeTrabajo(const std::string& linea, const ImagenBmp& foto) {
    std::vector<Esquina> r;
    const std::size_t i = linea.find("\"esquinas\":[[");
    if (i == std::string::npos) return r;
    double v[8];
    if (std::sscanf(linea.c_str() + i + 11, "[[%lf,%lf],[%lf,%lf],[%lf,%lf],[%lf,%lf]]", &v[0], &v[1], &v[2], &v[3],
                    &v[4], &v[5], &v[6], &v[7]) != 8)
        return r;
    const double factor = factorDeReduccion(foto);
    for (int k = 0; k < 4; ++k) r.push_back({v[2 * k] / factor, (foto.alto() - 1 - v[2 * k + 1]) / factor});
    return r;
}

// Distance from (x, y) to the segment a-b.
double aLado(double x, double y, const Esquina& a, const Esquina& b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double t = std::clamp(((x - a.x) * dx + (y - a.y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    return std::hypot(x - (a.x + t * dx), y - (a.y + t * dy));
}

TEST(Recorrido, UnaFotoSeTrabajaSiReducidaLeQuedanDosPixelesDeLado) {
    // 5 x 1440 has a working image of 2 x 719 (a factor of just over 2), the least there is; 3 x
    // 1440 would have a single column.
    EXPECT_TRUE(revisarGrosor(imagenNueva(5, 1440), "f").ok());
    EXPECT_TRUE(revisarGrosor(imagenNueva(1440, 5), "f").ok());
    for (const auto& [ancho, alto, reducida] : {std::tuple{3, 1440, "1 x 719"}, std::tuple{1440, 3, "719 x 1"}}) {
        const Hecho grosor = revisarGrosor(imagenNueva(ancho, alto), "\"f.bmp\"");
        ASSERT_FALSE(grosor.ok());
        EXPECT_NE(grosor.mensaje().find("\"f.bmp\" mide"), std::string::npos) << grosor.mensaje();
        EXPECT_NE(grosor.mensaje().find(reducida), std::string::npos) << grosor.mensaje();
    }
}

TEST(Recorrido, ElContornoMuestraLasEsquinasDeLaQueSeHizoLaPagina) {
    // A sheet on dark wood, which both detectors find; on a pale desk, which the fixed thresholds
    // miss; and with two corners out of the photo. With either detector the outline image
    // is the working image with only green pixels set, on the quadrilateral the page was made from
    // (the corners of the JSON line, to within a pixel: the stages draw it from corners rounded
    // to the pixel) and along all of the part of each side inside the image.
    struct Caso {
        const char* nombre;
        escena::Escena e;
        const char* detector;
    };
    escena::Camara camara;
    camara.centro = {330.0, 245.0};
    camara.altoHoja = 380.0;
    camara.giro = 7.0;
    camara.inclinacion = 10.0;
    std::vector<Caso> casos;
    casos.push_back({"madera", escena::escenaConCamara(640, 480, camara, 3), "robusto"});
    casos.back().e.fondo = 60;
    casos.push_back({"madera espec", casos.back().e, "espec"});
    casos.push_back({"claro", escena::escenaConCamara(640, 480, camara, 4), "robusto"});
    casos.back().e.escritorio = escena::TipoEscritorio::liso;
    casos.back().e.fondo = 185;
    // 818 x 614, two corners beyond the top and right sides.
    casos.push_back({"fuera", escena::conjuntoDeEscenas("fuera", 12, 1).at(11).escena, "robusto"});

    for (const Caso& k : casos) {
        SCOPED_TRACE(k.nombre);
        const auto foto = escena::renderizarEscena(k.e);
        ASSERT_TRUE(foto);
        apoyo::CarpetaTemporal carpeta;
        ASSERT_TRUE(grabarImagen(foto->imagen, carpeta / "foto.bmp").ok());
        const auto [estado, texto] = escanearConEtapas(carpeta / "foto.bmp", carpeta / "etapas", carpeta / "hoja.png", k.detector);
        ASSERT_EQ(estado, 0) << texto;
        const std::vector<Esquina> q = esquinasDeTrabajo(texto, foto->imagen);
        ASSERT_EQ(q.size(), 4u) << texto;
        const Resultado<BmpLeido> reducida = leerImagen(carpeta / "etapas" / "foto" / kImagenesEtapas[0]);
        const Resultado<BmpLeido> contorno = leerImagen(carpeta / "etapas" / "foto" / kImagenesEtapas[3]);
        ASSERT_TRUE(reducida.ok() && contorno.ok());
        const ImagenBmp& a = reducida->imagen;
        const ImagenBmp& b = contorno->imagen;
        ASSERT_EQ(a.ancho(), b.ancho());
        ASSERT_EQ(a.alto(), b.alto());
        EXPECT_EQ(a.plano0.datos, b.plano0.datos);
        EXPECT_EQ(a.plano2.datos, b.plano2.datos);
        int verdes = 0, lejos = 0;
        for (int f = 0; f < b.alto(); ++f)
            for (int c = 0; c < b.ancho(); ++c) {
                if (a.plano1[f][c] == b.plano1[f][c]) continue;
                EXPECT_EQ(b.plano1[f][c], 255);
                ++verdes;
                double d = 1e9;
                for (int n = 0; n < 4; ++n) d = std::min(d, aLado(c, f, q[n], q[(n + 1) % 4]));
                lejos += d > 1.5;
            }
        EXPECT_GT(verdes, 300);
        EXPECT_EQ(lejos, 0) << "of " << verdes;
        // Every point of every side inside the image has a green pixel (or one already 255) at hand.
        int faltan = 0, vistos = 0;
        for (int n = 0; n < 4; ++n)
            for (double t = 0.02; t < 1.0; t += 0.02) {
                const double x = q[n].x + t * (q[(n + 1) % 4].x - q[n].x), y = q[n].y + t * (q[(n + 1) % 4].y - q[n].y);
                if (x < 1 || y < 1 || x > b.ancho() - 2 || y > b.alto() - 2) continue;
                ++vistos;
                bool hay = false;
                for (int df = -1; df <= 1; ++df)
                    for (int dc = -1; dc <= 1; ++dc) {
                        const int f = static_cast<int>(std::lround(y)) + df, c = static_cast<int>(std::lround(x)) + dc;
                        if (f >= 0 && c >= 0 && f < b.alto() && c < b.ancho()) hay = hay || b.plano1[f][c] == 255;
                    }
                faltan += !hay;
            }
        EXPECT_GT(vistos, 100);
        EXPECT_EQ(faltan, 0);
    }
}

TEST(CuentaDeLaHoja, ElSistemaComoSePlanteoYLuegoSuSolucionOElFallo) {
    const std::array<Esquina, 4> esquinas{{{1, 1}, {850, 1}, {850, 1100}, {0, 1100}}};
    const ImagenBmp foto = apoyo::imagenDe(4, 4, [](int, int, int) { return 0; });
    HojaRectificada h = rectificarHoja(foto, esquinas);
    ASSERT_TRUE(h.solucion && h.hoja);
    const std::string inicio =
        "\n\nSe necesita llevar a cabo una transformaciOn perspectiva inversa para  \nllevar las 4 "
        "esquinas de la hoja carta a las esquinas de la imagen.\nSe hace resolviendo el siguiente "
        "sistema de ecuaciones lineales:\n1  1  1  1  0  0  0  0   = 1  \n0  0  0  0  1  1  1  1   = 1  \n"
        "1  850  1  850  0  0  0  0   = 850  \n";
    {
        apoyo::Captura cuenta;
        contarRectificacion(h, cuenta.f);
        const std::string texto = cuenta.texto();
        EXPECT_EQ(texto.substr(0, inicio.size()), inicio);
        // The rows as they were set up, not as the elimination left them.
        EXPECT_NE(texto.find("\n0  0  0  0  1  0  1100  0   = 1100  "), std::string::npos) << texto;
        // Then the eight coefficients, each after a blank: about (0, 1, 0, 0, 0, 0, 1, 0).
        const std::string solucion = "\nSoluciOn al sistema de ecuaciones: \n";
        const std::size_t donde = texto.find(solucion);
        ASSERT_NE(donde, std::string::npos) << texto;
        std::istringstream valores(texto.substr(donde + solucion.size()));
        double v[8] = {}, sobra = 0;
        for (double& x : v) EXPECT_TRUE(valores >> x);
        EXPECT_FALSE(valores >> sobra);
        const double esperado[8] = {0, 1, 0, 0, 0, 0, 1, 0};
        for (int i = 0; i < 8; ++i) EXPECT_NEAR(v[i], esperado[i], 1e-9) << i;
        EXPECT_EQ(texto.find("no se puede solucionar"), std::string::npos);
    }
    h.solucion.reset();
    apoyo::Captura cuenta;
    contarRectificacion(h, cuenta.f);
    const std::string texto = cuenta.texto();
    const std::string fallo = "\n El sistema no se puede solucionar \n";
    EXPECT_EQ(texto.substr(0, inicio.size()), inicio);
    ASSERT_GE(texto.size(), fallo.size());
    EXPECT_EQ(texto.substr(texto.size() - fallo.size()), fallo);
    EXPECT_EQ(texto.find("SoluciOn"), std::string::npos);
}

}  // namespace
