// Whole runs of the driver in a temporary folder: console account, files, exit status, key wait.
#include <algorithm>

#include "apoyo.hpp"
#include "app/escaner.hpp"

namespace {

namespace fs = std::filesystem;

const std::string kSalidas[] = {"imagenReducida.bmp", "imagenBordes.bmp", "imagen_Hough.bmp",
                                "imagenConBordesHojaCarta.bmp", "imagenHojaCarta.bmp"};
const std::string kFoto = "imagenDocumento.bmp", kCierre = "\n\nApriete una tecla para concluir";
const std::string kInicio =
    "\nPROGRAMA PARA ESCANEAR UN DOCUMENTO A PARTIR DE UNA FOTO CON LA HOJA CARTA"
    "\nLA DETECCION DE LA HOJA ES INTELGENTE, \nNO ES NECESARIO MARCAR LAS ESQUINAS DE LA MISMA\n\n"
    "Escaneo de documentos, ver. 1.0";
const std::string kCarga = "\n  \nLa imagen ha sido cargada \n Ancho:400 Alto:300  pixeles:360000"
                           "\n Factor de reducciOn de imagen para operarla: 0.694444 ";

TEST(Escaner, CuentaArchivosEstadoYEspera) {
    // How the folder is set up; the status, the key waits (-1: not checked), how many outputs are
    // written (in their order), the file named by the one line on stderr (none: no line), how stdout ends.
    struct Caso { std::string como; int estado, esperas, salidas; std::string nombra, fin; };
    std::vector<Caso> casos = {
        {"hoja", 0, 1, 5, "", kCierre},
        {"sin hoja", 1, 1, 3, "", "\n No se encontraron las cuatro esquinas de la hoja" + kCierre},
        {"cortada", 0, 1, 5, kFoto, kCierre},
        {"falta", 1, 0, 0, kFoto, kInicio},
        {"carpeta", 1, 0, 0, kFoto, kInicio},
        {"corta", 1, 0, 0, kFoto, kInicio + "\n Error: No se pudo leer el header"},
        {"casi vacia", 1, 0, 0, kFoto, kInicio},
        {"32 bits", 1, 0, 0, kFoto, kInicio}};
    for (int i = 0; i < 5; ++i) casos.push_back({kSalidas[i], 1, -1, i, kSalidas[i], ""});
    for (const Caso& k : casos) {
        SCOPED_TRACE(k.como);
        apoyo::CarpetaTemporal carpeta;
        const fs::path foto = carpeta / kFoto;
        if (k.como != "falta" && k.como != "carpeta") {
            const bool hoja = k.como != "sin hoja";  // a bright sheet on a dark desk, or the desk alone
            ASSERT_EQ(grabarImagen(apoyo::imagenDe(400, 300, [hoja](int r, int c, int) {
                return hoja && r >= 70 && r < 230 && c >= 130 && c < 270 ? 220 : 40; }), foto), std::nullopt);
        }
        if (k.como == "carpeta") fs::create_directory(foto);
        if (k.como.ends_with(".bmp")) fs::create_directory(carpeta / k.como);
        if (k.como == "cortada") fs::resize_file(foto, fs::file_size(foto) - 1000);
        if (k.como == "corta") fs::resize_file(foto, 53);
        if (k.como == "casi vacia") fs::resize_file(foto, 54 + 1000);
        if (k.como == "32 bits") {
            apoyo::Bytes b = apoyo::leerArchivo(foto);
            b[bmp::kBitsPorPixel] = 32;
            apoyo::escribirArchivo(foto, b);
        }
        apoyo::Captura salida, errores;
        int esperas = 0;
        EXPECT_EQ(ejecutarEscaner(carpeta.ruta, salida.f, errores.f, [&] { ++esperas; }), k.estado);
        const std::string s = salida.texto(), e = errores.texto();
        if (k.esperas >= 0) { EXPECT_EQ(esperas, k.esperas); }
        for (int j = 0; j < 5; ++j) EXPECT_EQ(fs::is_regular_file(carpeta / kSalidas[j]), j < k.salidas) << kSalidas[j];
        EXPECT_EQ(std::count(e.begin(), e.end(), '\n'), k.nombra.empty() ? 0 : 1) << e;
        EXPECT_NE(e.find(k.nombra), std::string::npos) << e;
        EXPECT_TRUE(s.starts_with(k.esperas == 0 ? kInicio : kInicio + kCarga) && s.ends_with(k.fin)) << s;
        // Outputs are written under a temporary name first: none may be left behind.
        for (const auto& entrada : fs::directory_iterator(carpeta.ruta))
            EXPECT_NE(entrada.path().filename().string()[0], '.') << entrada.path();
    }
}

}  // namespace
