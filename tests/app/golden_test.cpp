// Every conformance case of the shared folder, run whole and compared byte for byte.
#include <algorithm>
#include <fstream>
#include <functional>
#include <numeric>

#include "apoyo.hpp"
#include "app/escaner.hpp"

namespace {

namespace fs = std::filesystem;

const char* const kSalidas[] = {"imagenReducida.bmp", "imagenBordes.bmp", "imagen_Hough.bmp",
                                "imagenConBordesHojaCarta.bmp", "imagenHojaCarta.bmp"};

fs::path carpetaCasos() { return apoyo::carpetaCompartida() / "golden"; }

std::vector<std::string> casos() {
    std::vector<std::string> nombres;
    std::error_code ec;
    for (const auto& entrada : fs::directory_iterator(carpetaCasos(), ec)) {
        if (fs::exists(entrada.path() / "imagenDocumento.bmp")) {
            nombres.push_back(entrada.path().filename().string());
        }
    }
    std::sort(nombres.begin(), nombres.end());
    return nombres;
}

TEST(Conformidad, HayCasos) {
    REQUIERE_CARPETA_COMPARTIDA("golden");
    EXPECT_FALSE(casos().empty());
}

class CasoConformidad : public ::testing::TestWithParam<std::string> {};

TEST_P(CasoConformidad, CadaByteIgual) {
    const fs::path caso = carpetaCasos() / GetParam();
    apoyo::CarpetaTemporal carpeta;
    fs::copy_file(caso / "imagenDocumento.bmp", carpeta / "imagenDocumento.bmp");

    apoyo::Captura salida;
    apoyo::Captura errores;
    int esperas = 0;
    const int estado = ejecutarEscaner(carpeta.ruta, salida.f, errores.f, [&] { ++esperas; });

    int estadoEsperado = -1;
    std::ifstream(caso / "estado") >> estadoEsperado;
    EXPECT_EQ(estado, estadoEsperado);
    const apoyo::Bytes consola = apoyo::leerArchivo(caso / "consola.txt");
    EXPECT_EQ(salida.texto(), std::string(consola.begin(), consola.end()));
    EXPECT_LE(esperas, 1);

    for (const char* nombre : kSalidas) {
        SCOPED_TRACE(nombre);
        const bool esperado = fs::exists(caso / nombre);
        ASSERT_EQ(fs::exists(carpeta / nombre), esperado);
        if (!esperado) continue;
        const apoyo::Bytes a = apoyo::leerArchivo(caso / nombre);
        const apoyo::Bytes b = apoyo::leerArchivo(carpeta / nombre);
        ASSERT_EQ(a.size(), b.size());
        const auto diferentes = std::inner_product(a.begin(), a.end(), b.begin(), std::size_t{0},
                                                   std::plus<>(), std::not_equal_to<>());
        EXPECT_EQ(diferentes, 0u) << "bytes that differ";
    }
}

INSTANTIATE_TEST_SUITE_P(Golden, CasoConformidad, ::testing::ValuesIn(casos()),
                         [](const auto& info) {
                             std::string n = info.param;
                             std::replace(n.begin(), n.end(), '-', '_');
                             return n;
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CasoConformidad);

}  // namespace
