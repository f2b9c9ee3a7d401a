// The detectors' scoring tool, run on a folder that escenas writes.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/wait.h>

#include "escena_test_apoyo.hpp"

namespace {

using namespace escena_prueba;

// The row of `archivo` in puntuar's table: photo, kind, then outcome and error of each detector.
std::array<std::string, 6> filaDe(const std::string& salida, const std::string& archivo) {
    std::istringstream lineas(salida);
    std::string linea;
    std::array<std::string, 6> r{};
    while (std::getline(lineas, linea)) {
        if (linea.rfind(archivo + " ", 0) != 0) continue;
        std::istringstream campos(linea);
        for (std::string& c : r) campos >> c;
    }
    return r;
}

void escribir(const std::filesystem::path& ruta, const std::string& texto) {
    std::ofstream f(ruta, std::ios::binary | std::ios::trunc);
    f << texto;
}

TEST(HerramientaPuntuar, CompararEsquinasEnCualquierOrdenYMarco) {
    const std::string escenas = ESCENAS_BINARIO;
    const std::string puntuar = PUNTUAR_BINARIO;
    const auto carpeta = temporal("puntuar-carpeta");
    std::filesystem::remove_all(carpeta);
    const std::string en = " '" + carpeta.string() + "'";

    EXPECT_EQ(correr(puntuar, "--help").estado, 0);
    EXPECT_EQ(correr(puntuar, "").estado, 2);
    EXPECT_EQ(correr(puntuar, "-u 0" + en).estado, 2);
    EXPECT_EQ(correr(puntuar, "-u 100.5" + en).estado, 2);
    EXPECT_EQ(correr(puntuar, "-u 1x" + en).estado, 2);
    EXPECT_EQ(correr(puntuar, "-j 65" + en).estado, 2);
    EXPECT_EQ(correr(puntuar, "--no-such-option" + en).estado, 2);
    EXPECT_EQ(correr(puntuar, en + " otra").estado, 2);
    EXPECT_EQ(correr(puntuar, en).estado, 1);  // no corners.csv

    ASSERT_EQ(correr(escenas, "-t oscuro,sin-hoja -n 1 -s 3 -f bmp" + en).estado, 0);
    const Corrida tal = correr(puntuar, "-j 2" + en);
    ASSERT_EQ(tal.estado, 0);
    const auto hoja = filaDe(tal.salida, "oscuro-000.bmp");
    EXPECT_EQ(hoja[0], "oscuro-000.bmp");
    EXPECT_EQ(hoja[2], "ok");
    EXPECT_EQ(hoja[4], "ok");
    const auto vacia = filaDe(tal.salida, "sin-hoja-000.bmp");
    EXPECT_EQ(vacia[2], "sin-hoja");
    EXPECT_EQ(vacia[4], "sin-hoja");
    EXPECT_EQ(correr(puntuar, "-q" + en).salida.find("oscuro-000.bmp"), std::string::npos);

    // The labels read back from corners.csv, as a viewer shows the picture.
    const auto et = escena::conjuntoDeEscenas("oscuro", 1, 3)[0];
    const int alto = et.escena.alto;
    const Cuadrilatero vistas = aPantalla(ordenarCuadrilatero(et.escena.esquinas, alto), alto);
    auto csv = [&](const std::array<int, 4>& orden, double dy, bool volteadas) {
        std::string t = "file,width,height,tl_x,tl_y,tr_x,tr_y,br_x,br_y,bl_x,bl_y,kind\n";
        t += "oscuro-000.bmp," + std::to_string(et.escena.ancho) + "," + std::to_string(alto);
        for (const int i : orden) {
            const Esquina& p = vistas[static_cast<std::size_t>(i)];
            const double y = volteadas ? (alto - 1.0) - p.y : p.y + dy;
            char texto[64];
            std::snprintf(texto, sizeof texto, ",%.2f,%.2f", p.x, y);
            t += texto;
        }
        return t + ",oscuro\n";
    };
    // Corners given in another order, or turning the other way, score the same.
    for (const std::array<int, 4> orden : {std::array<int, 4>{2, 3, 0, 1}, std::array<int, 4>{0, 3, 2, 1},
                                           std::array<int, 4>{3, 0, 1, 2}}) {
        escribir(carpeta / "corners.csv", csv(orden, 0.0, false));
        const auto fila = filaDe(correr(puntuar, en).salida, "oscuro-000.bmp");
        EXPECT_EQ(fila[3], hoja[3]);
        EXPECT_EQ(fila[5], hoja[5]);
    }
    // Blank lines (Unix or DOS) are passed over.
    escribir(carpeta / "corners.csv", csv({0, 1, 2, 3}, 0.0, false) + "\n\r\n");
    const Corrida conBlancos = correr(puntuar, en);
    EXPECT_EQ(conBlancos.estado, 0);
    EXPECT_EQ(filaDe(conBlancos.salida, "oscuro-000.bmp")[4], "ok");
    // Labels 2 % of the diagonal off are an error at 1 %, and ok at 5 %.
    const double diagonal = std::hypot(et.escena.ancho, alto);
    escribir(carpeta / "corners.csv", csv({0, 1, 2, 3}, 0.02 * diagonal, false));
    EXPECT_EQ(filaDe(correr(puntuar, en).salida, "oscuro-000.bmp")[4], "error");
    EXPECT_EQ(filaDe(correr(puntuar, "-u 5" + en).salida, "oscuro-000.bmp")[4], "ok");
    // Labels in the stored-row frame (y up) are not the viewer's: the sheet is upside down there.
    escribir(carpeta / "corners.csv", csv({0, 1, 2, 3}, 0.0, true));
    EXPECT_EQ(filaDe(correr(puntuar, en).salida, "oscuro-000.bmp")[4], "error");
    // A line that cannot be read.
    escribir(carpeta / "corners.csv", "file,tl_x,tl_y,tr_x,tr_y,br_x,br_y,bl_x,bl_y\noscuro-000.bmp,1,2,3\n");
    EXPECT_EQ(correr(puntuar, en).estado, 1);
    std::filesystem::remove_all(carpeta);
}

}  // namespace
