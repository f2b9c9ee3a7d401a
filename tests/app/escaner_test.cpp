// Whole runs of the driver in a temporary folder: console account, files, exit status, key wait.
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

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
            ASSERT_TRUE(grabarImagen(apoyo::imagenDe(400, 300, [hoja](int r, int c, int) {
                return hoja && r >= 70 && r < 230 && c >= 130 && c < 270 ? 220 : 40; }), foto).ok());
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

namespace {

// A plain photo of the given size, all one gray.
void fotoLisa(const fs::path& foto, int ancho, int alto) {
    ASSERT_TRUE(grabarImagen(apoyo::imagenDe(ancho, alto, [](int, int, int) { return 90; }), foto).ok());
}

TEST(Escaner, FotosFinasEntradasQueNoSonArchivosYResultadosViejos) {
    // Photos whose working image would lose all its rows, and the thinnest that keeps two; a FIFO
    // that nobody writes to. A refused photo leaves the last run's files as they were.
    struct Caso { std::string como; int ancho, alto; bool rechazada; };
    const Caso casos[] = {{"30000 x 2", 30000, 2, true},   {"10000 x 27", 10000, 27, true},
                          {"10000 x 28", 10000, 28, false}, {"27 x 10000", 27, 10000, true},
                          {"fifo", 0, 0, true},             {"sin hoja", 400, 300, false}};
    for (const Caso& k : casos) {
        SCOPED_TRACE(k.como);
        apoyo::CarpetaTemporal carpeta;
        for (const std::string& nombre : kSalidas) apoyo::escribirArchivo(carpeta / nombre, {'v', 'i', 'e', 'j', 'o'});
        if (k.como == "fifo") {
            ASSERT_EQ(::mkfifo((carpeta / kFoto).c_str(), 0600), 0);
        } else {
            fotoLisa(carpeta / kFoto, k.ancho, k.alto);
        }
        apoyo::Captura salida, errores;
        int esperas = 0;
        EXPECT_EQ(ejecutarEscaner(carpeta.ruta, salida.f, errores.f, [&] { ++esperas; }), kSalidaFallo);
        const std::string e = errores.texto();
        if (k.rechazada) {
            EXPECT_EQ(std::count(e.begin(), e.end(), '\n'), 1) << e;
            EXPECT_NE(e.find(kFoto), std::string::npos) << e;
            EXPECT_EQ(esperas, 0);
            EXPECT_EQ(salida.texto().find("La imagen ha sido cargada"), std::string::npos);
            for (const std::string& nombre : kSalidas)
                EXPECT_EQ(apoyo::leerArchivo(carpeta / nombre), (apoyo::Bytes{'v', 'i', 'e', 'j', 'o'})) << nombre;
        } else {
            // Read, but no sheet on it: the three files of this run, and no stale sheet beside them.
            EXPECT_TRUE(e.empty()) << e;
            EXPECT_EQ(esperas, 1);
            for (int j = 0; j < 5; ++j) {
                EXPECT_EQ(fs::exists(carpeta / kSalidas[j]), j < 3) << kSalidas[j];
                if (j < 3) { EXPECT_GT(fs::file_size(carpeta / kSalidas[j]), 54u) << kSalidas[j]; }
            }
        }
    }
}

TEST(Escaner, LaCuentaPerdidaEsUnFalloYLosErroresEmpiezanLinea) {
    apoyo::CarpetaTemporal carpeta;
    fotoLisa(carpeta / kFoto, 400, 300);
    {
        // Standard output on a full device: the run fails, with one line saying so, and no key wait.
        std::FILE* lleno = std::fopen("/dev/full", "w");
        ASSERT_NE(lleno, nullptr);
        apoyo::Captura errores;
        int esperas = 0;
        EXPECT_EQ(ejecutarEscaner(carpeta.ruta, lleno, errores.f, [&] { ++esperas; }), kSalidaFallo);
        std::fclose(lleno);
        const std::string e = errores.texto();
        EXPECT_EQ(std::count(e.begin(), e.end(), '\n'), 1) << e;
        EXPECT_NE(e.find("salida estandar"), std::string::npos) << e;
        EXPECT_EQ(esperas, 0);
    }
    {
        // Both streams on one terminal: a message starts a line of its own, and the account is
        // what it always is.
        int maestro = -1, esclavo = -1;
        ASSERT_EQ(::openpty(&maestro, &esclavo, nullptr, nullptr, nullptr), 0);
        termios crudo{};
        ::tcgetattr(esclavo, &crudo);
        ::cfmakeraw(&crudo);  // bytes through unchanged
        ::tcsetattr(esclavo, TCSANOW, &crudo);
        fs::remove(carpeta / "imagenReducida.bmp");
        fs::create_directory(carpeta / "imagenReducida.bmp");
        std::FILE* salida = ::fdopen(::dup(esclavo), "w");
        std::FILE* errores = ::fdopen(::dup(esclavo), "w");
        EXPECT_EQ(ejecutarEscaner(carpeta.ruta, salida, errores, [] {}), kSalidaFallo);
        std::fclose(salida);
        std::fclose(errores);
        ::close(esclavo);
        std::string pantalla;
        char bloque[4096];
        for (ssize_t n; (n = ::read(maestro, bloque, sizeof bloque)) > 0;) pantalla.append(bloque, static_cast<std::size_t>(n));
        ::close(maestro);
        EXPECT_NE(pantalla.find(kCarga + "\nescaner: no se puede crear"), std::string::npos) << pantalla;
    }
}

}  // namespace
