// The program as the system sees it, run whole with a library preloaded into it that tells what it
// opens, syncs, renames and closes, and makes the disk fail on request (tests/sistema/interpuesto.cpp):
// standard streams left closed by the caller, results synced before they are reported, a failed
// sync or close that fails the write, and signals the caller ignored.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <map>

#include "apoyo.hpp"
#include "espera.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Corrida {
    int estado = 0;
    std::string salida, errores;
    std::vector<std::string> traza;  // the preloaded library's lines
};

// Runs the program with `argumentos` in `carpeta` and `entorno` added to its environment. Standard
// input is /dev/null; output and error are kept, except the descriptors in `cerrados`, which the
// program finds closed.
Corrida correr(const fs::path& carpeta, const std::vector<std::string>& argumentos,
               const std::vector<std::string>& entorno = {}, std::vector<int> cerrados = {}) {
    const fs::path salida = carpeta / ".salida", errores = carpeta / ".errores", traza = carpeta / ".traza";
    std::vector<std::string> textos{"escaner"};
    textos.insert(textos.end(), argumentos.begin(), argumentos.end());
    std::vector<char*> argv;
    for (std::string& t : textos) argv.push_back(t.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables{std::string("LD_PRELOAD=") + ESCANER_INTERPUESTO, "ESCANER_TRAZA=9",
                                       "ASAN_OPTIONS=verify_asan_link_order=0"};
    variables.insert(variables.end(), entorno.begin(), entorno.end());
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "LD_PRELOAD=", 11) != 0 && std::strncmp(*e, "ASAN_OPTIONS=", 13) != 0)
            variables.push_back(*e);
    }
    std::vector<char*> envp;
    for (std::string& v : variables) envp.push_back(v.data());
    envp.push_back(nullptr);
    const int fdSalida = ::open(salida.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int fdErrores = ::open(errores.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int fdTraza = ::open(traza.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
    const int fdNada = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t hijo = ::fork();
    if (hijo == 0) {
        ::dup2(fdNada, 0);
        ::dup2(fdSalida, 1);
        ::dup2(fdErrores, 2);
        ::dup2(fdTraza, 9);
        for (int fd : cerrados) ::close(fd);
        if (::chdir(carpeta.c_str()) != 0) ::_exit(126);
        ::execve(ESCANER_BINARIO, argv.data(), envp.data());
        ::_exit(127);
    }
    for (int fd : {fdSalida, fdErrores, fdTraza, fdNada}) ::close(fd);
    Corrida c;
    ::waitpid(hijo, &c.estado, 0);
    const auto texto = [](const fs::path& archivo) {
        const apoyo::Bytes b = apoyo::leerArchivo(archivo);
        return std::string(b.begin(), b.end());
    };
    c.salida = texto(salida);
    c.errores = texto(errores);
    std::istringstream lineas(texto(traza));
    for (std::string l; std::getline(lineas, l);) c.traza.push_back(l);
    for (const fs::path& p : {salida, errores, traza}) fs::remove(p);
    return c;
}

bool terminoCon(const Corrida& c, int codigo) { return WIFEXITED(c.estado) && WEXITSTATUS(c.estado) == codigo; }

// Every file under `carpeta` with its bytes, by its path within.
std::map<std::string, apoyo::Bytes> contenido(const fs::path& carpeta) {
    std::map<std::string, apoyo::Bytes> archivos;
    for (const auto& e : fs::recursive_directory_iterator(carpeta)) {
        if (e.is_regular_file()) archivos[fs::relative(e.path(), carpeta).string()] = apoyo::leerArchivo(e.path());
    }
    return archivos;
}

// A folder with two photos, a.bmp and b.bmp (the example), and an empty folder "sal" for results.
struct Fotos {
    apoyo::CarpetaTemporal carpeta;
    fs::path sal;
    Fotos() {
        const fs::path ejemplo = fs::path(ESCANER_EJEMPLOS) / "imagenDocumento.bmp";
        fs::copy_file(ejemplo, carpeta / "a.bmp");
        fs::copy_file(ejemplo, carpeta / "b.bmp");
        sal = fs::canonical(carpeta.ruta) / "sal";
        fs::create_directory(sal);
    }
};

TEST(ProgramaYSistema, ConLasSalidasEstandarCerradasNingunArchivoTomaSuLugar) {
    Fotos f;
    const std::vector<std::string> argumentos{"-j", "2", "--json", "--etapas", "sal/etapas", "-o", "sal", "a.bmp", "b.bmp"};
    const Corrida referencia = correr(f.carpeta.ruta, argumentos);
    ASSERT_TRUE(terminoCon(referencia, 0)) << referencia.errores;
    const auto esperado = contenido(f.sal);
    ASSERT_EQ(esperado.size(), 12u);
    for (const std::vector<int>& cerrados : {std::vector<int>{0, 1, 2}, {1}, {2}, {1, 2}}) {
        SCOPED_TRACE(::testing::PrintToString(cerrados));
        fs::remove_all(f.sal);
        fs::create_directory(f.sal);
        const Corrida c = correr(f.carpeta.ruta, argumentos, {}, cerrados);
        // A photo or a page under number 0, 1 or 2 would take what is printed to that stream.
        for (const std::string& linea : c.traza) {
            if (linea.rfind("open ", 0) != 0) continue;
            const int fd = std::atoi(linea.c_str() + 5);
            EXPECT_FALSE(fd <= 2 && linea != "open " + std::to_string(fd) + " /dev/null") << linea;
        }
        EXPECT_TRUE(terminoCon(c, 0)) << c.estado << " " << c.errores;
        EXPECT_TRUE(contenido(f.sal) == esperado) << "the results are not those of a run with the streams open";
    }
}

// The trace's lines of one kind ("fsync", "rename"), as their index and what follows the kind.
std::vector<std::pair<std::size_t, std::string>> lineasDe(const Corrida& c, const std::string& tipo) {
    std::vector<std::pair<std::size_t, std::string>> halladas;
    for (std::size_t i = 0; i < c.traza.size(); ++i) {
        if (c.traza[i].rfind(tipo + " ", 0) == 0) halladas.emplace_back(i, c.traza[i].substr(tipo.size() + 1));
    }
    return halladas;
}

TEST(ProgramaYSistema, CadaResultadoSeSincronizaAntesDeTomarSuNombreYSuCarpetaDespues) {
    // Written as a nameless file, and under a hidden name where the file system cannot make one.
    for (const bool sinNombre : {true, false}) {
        SCOPED_TRACE(sinNombre ? "sin nombre" : "con nombre");
        Fotos f;
        // One photo: its five stage images and its page are written one after another.
        const Corrida c = correr(f.carpeta.ruta, {"--etapas", (f.sal / "etapas").string(), "-o",
                                                  (f.sal / "pagina.png").string(), "a.bmp"},
                                 {sinNombre ? "ESCANER_SIN_TMPFILE=" : "ESCANER_SIN_TMPFILE=1"});
        ASSERT_TRUE(terminoCon(c, 0)) << c.errores;
        const auto renombres = lineasDe(c, "rename");
        const auto sincronias = lineasDe(c, "fsync");
        ASSERT_EQ(renombres.size(), 6u);
        std::size_t anterior = 0;
        for (std::size_t k = 0; k < renombres.size(); ++k) {
            const auto& [i, nombres] = renombres[k];
            SCOPED_TRACE(nombres);
            const fs::path destino = nombres.substr(nombres.find(' ') + 1);
            const std::string carpeta = destino.parent_path().string();
            const std::size_t siguiente = k + 1 < renombres.size() ? renombres[k + 1].first : c.traza.size();
            // The file's content before the rename, its folder's names after it and before the next.
            bool archivo = false, suCarpeta = false;
            for (const auto& [j, ruta] : sincronias) {
                if (j > anterior && j < i && fs::path(ruta).parent_path() == carpeta) {
                    archivo = true;
                    EXPECT_EQ(ruta.find("(deleted)") != std::string::npos, sinNombre) << ruta;
                }
                if (j > i && j < siguiente && ruta == carpeta) suCarpeta = true;
            }
            EXPECT_TRUE(archivo);
            EXPECT_TRUE(suCarpeta);
            anterior = i;
        }
        EXPECT_EQ(fs::path(renombres.back().second.substr(renombres.back().second.find(' ') + 1)), f.sal / "pagina.png");
        // Nothing is left under a hidden name.
        for (const auto& e : fs::recursive_directory_iterator(f.sal))
            EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
    }
}

TEST(ProgramaYSistema, UnCierreOUnaSincronizacionFallidaFallaLaEscritura) {
    Fotos f;
    const Corrida referencia = correr(f.carpeta.ruta, {"-o", "sal/pagina.png", "a.bmp"});
    ASSERT_TRUE(terminoCon(referencia, 0)) << referencia.errores;
    const apoyo::Bytes pagina = apoyo::leerArchivo(f.sal / "pagina.png");
    fs::remove(f.sal / "pagina.png");
    // As a network file system may answer only when the file is closed, or a disk when it is synced:
    // the page is not published, and nothing of it is left.
    for (const char* variable : {"ESCANER_FALLA_CIERRE", "ESCANER_FALLA_FSYNC"}) {
        SCOPED_TRACE(variable);
        const Corrida c = correr(f.carpeta.ruta, {"-o", "sal/pagina.png", "a.bmp"},
                                 {std::string(variable) + "=" + f.sal.string()});
        EXPECT_TRUE(terminoCon(c, 1)) << c.estado;
        EXPECT_NE(c.errores.find("pagina.png\": " + std::string(std::strerror(EIO))), std::string::npos) << c.errores;
        EXPECT_TRUE(fs::is_empty(f.sal));
    }
    // The folder that cannot be synced: the whole page stands under its name, but the run does not
    // say it is safe.
    const Corrida c = correr(f.carpeta.ruta, {"--json", "-o", "sal/pagina.png", "a.bmp"},
                             {"ESCANER_FALLA_FSYNC_CARPETA=" + f.sal.string()});
    EXPECT_TRUE(terminoCon(c, 1)) << c.estado;
    EXPECT_NE(c.errores.find("pagina.png\": " + std::string(std::strerror(EIO))), std::string::npos) << c.errores;
    EXPECT_EQ(c.salida.find("\"ok\""), std::string::npos) << c.salida;
    EXPECT_EQ(apoyo::leerArchivo(f.sal / "pagina.png"), pagina);
}

TEST(ProgramaYSistema, LaSenalQueQuienLlamaIgnoraNoTerminaLaEspera) {
    // As nohup starts it: SIGHUP ignored. Told to hang up while it waits for the key, the run
    // without arguments goes on, and ends at the key as usual.
    apoyo::CarpetaTemporal carpeta;
    fs::copy_file(fs::path(ESCANER_EJEMPLOS) / "imagenDocumento.bmp", carpeta / "imagenDocumento.bmp");
    espera::EnLaEspera e = espera::empezar(carpeta.ruta, {SIGTERM}, {SIGHUP});
    ASSERT_TRUE(e.esperando()) << e.texto;
    // The signal is pending before the key is sent, so it is dealt with first.
    ::kill(e.hijo, SIGHUP);
    ASSERT_EQ(::write(e.tecla, "\n", 1), 1);
    const int estado = espera::terminar(e);
    EXPECT_TRUE(WIFEXITED(estado) && WEXITSTATUS(estado) == 0) << estado;
}

}  // namespace
