// Whole runs on files from a public collection of valid, questionable and broken BMPs, and on a few
// of our own: each is read or refused with one line on stderr, never a crash or a huge allocation.
#include <sys/resource.h>

#include <algorithm>

#include "apoyo.hpp"
#include "app/escaner.hpp"

namespace {

namespace fs = std::filesystem;

// The 24-bit uncompressed files of the collection: all show the same 127 x 64 picture, with and
// without a palette or a colour profile between the header and the pixels.
const std::vector<std::string> kLegibles = {"g/rgb24.bmp", "g/rgb24pal.bmp", "q/rgb24largepal.bmp",
                                            "q/rgb24lprof.bmp", "q/rgb24prof.bmp"};
const char* const kSalidas[] = {"imagenReducida.bmp", "imagenBordes.bmp", "imagen_Hough.bmp",
                                "imagenConBordesHojaCarta.bmp", "imagenHojaCarta.bmp"};

struct Corrida {
    int estado;
    std::string salida, errores;
    int archivos;  // outputs written
};

Corrida correr(const apoyo::Bytes& foto) {
    apoyo::CarpetaTemporal carpeta;
    apoyo::escribirArchivo(carpeta / "imagenDocumento.bmp", foto);
    apoyo::Captura salida, errores;
    const int estado = ejecutarEscaner(carpeta.ruta, salida.f, errores.f, [] {});
    int archivos = 0;
    for (const char* nombre : kSalidas) archivos += fs::exists(carpeta / nombre) ? 1 : 0;
    return {estado, salida.texto(), errores.texto(), archivos};
}

void esRechazo(const Corrida& c) {
    EXPECT_EQ(c.estado, kSalidaFallo);
    EXPECT_EQ(std::count(c.errores.begin(), c.errores.end(), '\n'), 1) << c.errores;
    EXPECT_EQ(c.archivos, 0);
    EXPECT_EQ(c.salida.find("La imagen ha sido cargada"), std::string::npos);
}

TEST(Hostiles, ColeccionBmp) {
    REQUIERE_CARPETA_COMPARTIDA("data/bmpsuite");
    const fs::path raiz = apoyo::carpetaCompartida() / "data/bmpsuite";
    int leidos = 0, rechazados = 0;
    for (const char* sub : {"g", "q", "b"}) {
        for (const auto& entrada : fs::directory_iterator(raiz / sub)) {
            const std::string nombre = std::string(sub) + "/" + entrada.path().filename().string();
            SCOPED_TRACE(nombre);
            const Corrida c = correr(apoyo::leerArchivo(entrada.path()));
            if (std::find(kLegibles.begin(), kLegibles.end(), nombre) != kLegibles.end()) {
                ++leidos;
                EXPECT_NE(c.salida.find("\n Ancho:127 Alto:64  pixeles:"), std::string::npos) << c.salida;
                EXPECT_GE(c.archivos, 3);
                EXPECT_TRUE(c.errores.empty()) << c.errores;
            } else {
                ++rechazados;
                esRechazo(c);
            }
        }
    }
    EXPECT_EQ(leidos, 5);
    EXPECT_GT(rechazados, 50);

    // The same picture, whatever stands between the header and the pixels.
    const Resultado<BmpLeido> referencia = leerImagen(raiz / kLegibles[0]);
    ASSERT_TRUE(referencia.ok());
    for (const std::string& nombre : kLegibles) {
        const Resultado<BmpLeido> l = leerImagen(raiz / nombre);
        ASSERT_TRUE(l.ok()) << nombre;
        EXPECT_TRUE(std::equal(l->imagen.plano1.datos.begin(), l->imagen.plano1.datos.end(),
                               referencia->imagen.plano1.datos.begin(), referencia->imagen.plano1.datos.end()))
            << nombre;
    }
}

TEST(Hostiles, CabecerasQueMienten) {
    // A 30000 x 30000 header in a 100-byte file, and an empty file.
    const HeaderBmp h = headerNuevo(30000, 30000);
    apoyo::Bytes enorme(100, 7);
    std::copy(h.begin(), h.end(), enorme.begin());
    rusage antes{};
    getrusage(RUSAGE_SELF, &antes);
    esRechazo(correr(enorme));
    rusage despues{};
    getrusage(RUSAGE_SELF, &despues);
    EXPECT_LT(despues.ru_maxrss - antes.ru_maxrss, 64 * 1024) << "KiB taken for a 100-byte file";

    const Corrida vacio = correr({});
    esRechazo(vacio);
    EXPECT_TRUE(vacio.salida.ends_with("\n Error: No se pudo leer el header"));
}

}  // namespace
