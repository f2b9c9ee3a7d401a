// Whole runs on real photographs of sheets on desks, against hand-labelled corners (about 0.5 % of
// the long side of labelling error). The photos are 24-bit BMP copies with the long side at most
// 1024 pixels: 880 x 660, 768 x 1024, 576 x 1024, 1024 x 768 and 1024 x 576.
#include <cmath>
#include <map>

#include "apoyo.hpp"
#include "app/escaner.hpp"

namespace {

namespace fs = std::filesystem;

// On a dark enough desk the sheet is found; on light wood its sides do not stand out from the desk
// and the run must say so rather than report some other quadrilateral.
const std::map<std::string, bool> kHojaVisible = {
    {"jscanify_test", true},   // letterhead on a dark desk, among other objects
    {"jscanify_test2", true},  // white sheet on orange wood, strong perspective
    {"jscanify_test3", true},  // printed page on dark wood
    {"jscanify_test4", true},  // landscape sheet on black, a corner curled
    {"jscanify_test6", false}, // turned sheet on light wood
    {"jscanify_test7", false}, // legal pad on light wood
    {"jscanify_test8", true},  // sheet filling almost the whole picture
    {"jscanify_test10", true}, // turned form on dark wood, with glare
    {"smartdoc15_background01_datasheet001_frame229", false},  // sheet on light wood
};
constexpr double kTolerancia = 0.015;  // of the photo's diagonal

TEST(FotosReales, EsquinasContraLasMarcadas) {
    REQUIERE_CARPETA_COMPARTIDA("data/real/bmp");
    const fs::path carpetaFotos = apoyo::carpetaCompartida() / "data/real/bmp";
    int vistas = 0;
    for (const apoyo::FotoMarcada& foto : apoyo::fotosMarcadas(carpetaFotos / "corners.csv")) {
        const std::string& archivo = foto.archivo;
        const double ancho = foto.ancho, alto = foto.alto;
        const auto& m = foto.esquinas;
        const std::string nombre = archivo.substr(0, archivo.rfind('.'));
        SCOPED_TRACE(nombre);
        ASSERT_EQ(kHojaVisible.count(nombre), 1u);
        ++vistas;

        apoyo::CarpetaTemporal carpeta;
        fs::copy_file(carpetaFotos / (nombre + ".bmp"), carpeta / "imagenDocumento.bmp");
        apoyo::Captura salida, errores;
        const int estado = ejecutarEscaner(carpeta.ruta, salida.f, errores.f, [] {});
        const std::string texto = salida.texto();
        if (!kHojaVisible.at(nombre)) {
            EXPECT_EQ(estado, kSalidaFallo);
            EXPECT_NE(texto.find("\n No se encontraron las cuatro esquinas de la hoja"), std::string::npos);
            EXPECT_FALSE(fs::exists(carpeta / "imagenHojaCarta.bmp"));
            continue;
        }
        ASSERT_EQ(estado, kSalidaExito);
        const auto esquinas = apoyo::esquinasImpresas(texto);
        ASSERT_EQ(esquinas.size(), 4u);
        // Labels go top-left, top-right, bottom-right, bottom-left with rows from the top of the
        // picture; slots go bottom-left, bottom-right, top-right, top-left with rows in file order.
        const int marca[4] = {3, 2, 1, 0};
        const double diagonal = std::hypot(ancho, alto);
        for (int slot = 0; slot < 4; ++slot) {
            const double x = m[2 * marca[slot]];
            const double y = alto - 1 - m[2 * marca[slot] + 1];
            const double error = std::hypot(esquinas[slot][0] - x, esquinas[slot][1] - y);
            EXPECT_LT(error, kTolerancia * diagonal) << "slot " << slot;
        }
    }
    EXPECT_EQ(vistas, static_cast<int>(kHojaVisible.size()));
}

}  // namespace
