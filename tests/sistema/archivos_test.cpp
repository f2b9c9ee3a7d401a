// Outputs that appear whole or not at all, whatever was planted beside them or whatever signal
// ends the process; inputs that are not regular files.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "apoyo.hpp"
#include "app/consola.hpp"
#include "sistema/archivos.hpp"
#include "sistema/senales.hpp"

namespace {

namespace fs = std::filesystem;

const apoyo::Bytes kContenido(100000, 7);
const ModoTemporal kModos[] = {ModoTemporal::sinNombre, ModoTemporal::conNombre};

std::vector<std::string> nombresEn(const fs::path& carpeta) {
    std::vector<std::string> nombres;
    for (const auto& e : fs::directory_iterator(carpeta)) nombres.push_back(e.path().filename().string());
    std::sort(nombres.begin(), nombres.end());
    return nombres;
}

// The failure's line, or nothing when the file was written.
std::optional<std::string> grabarCon(const fs::path& destino, ModoTemporal modo) {
    auto creado = ArchivoNuevo::crear(destino, modo);
    if (!creado) return creado.mensaje();
    if (Hecho escrito = creado->escribir(kContenido); !escrito.ok()) return escrito.mensaje();
    if (Hecho publicado = creado->publicar(); !publicado.ok()) return publicado.mensaje();
    return std::nullopt;
}

// The suffixes the next hidden names take, in place of random ones: those queued first, then
// fresh ones. Set while a test's object lives.
std::vector<std::string> sufijosEnCola;
int sufijosLibres = 0;

std::string sufijoDePrueba() {
    if (sufijosEnCola.empty()) return "libre" + std::to_string(sufijosLibres++);
    std::string s = sufijosEnCola.front();
    sufijosEnCola.erase(sufijosEnCola.begin());
    return s;
}

struct SufijosFijos {
    explicit SufijosFijos(std::vector<std::string> cola) {
        sufijosEnCola = std::move(cola);
        fijarFuenteSufijos(sufijoDePrueba);
    }
    ~SufijosFijos() { fijarFuenteSufijos(nullptr); }
};

TEST(ArchivoNuevo, LosEnlacesPlantadosNoSeSiguenNiSeEscriben) {
    for (ModoTemporal modo : kModos) {
        SCOPED_TRACE(modo == ModoTemporal::sinNombre ? "sin nombre" : "con nombre");
        apoyo::CarpetaTemporal carpeta;
        const fs::path victima = carpeta / "victima";
        apoyo::escribirArchivo(victima, {'k', 'e', 'e', 'p'});
        // The outputs themselves standing as a symbolic and a hard link to the victim.
        fs::create_symlink(victima, carpeta / "simbolico.bmp");
        fs::create_hard_link(victima, carpeta / "duro.bmp");
        for (const std::string nombre : {"salida.bmp", "simbolico.bmp", "duro.bmp"}) {
            SCOPED_TRACE(nombre);
            // Links to the victim planted under the very hidden names the writer takes first.
            fs::create_symlink(victima, carpeta / ("." + nombre + ".s.tmp"));
            fs::create_hard_link(victima, carpeta / ("." + nombre + ".d.tmp"));
            {
                const SufijosFijos fijos({"s", "d"});
                ASSERT_EQ(grabarCon(carpeta / nombre, modo), std::nullopt);
                EXPECT_TRUE(sufijosEnCola.empty()) << "the planted names were not tried";
            }
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(carpeta / nombre)));
            EXPECT_EQ(apoyo::leerArchivo(carpeta / nombre), kContenido);
            EXPECT_EQ(apoyo::leerArchivo(victima), (apoyo::Bytes{'k', 'e', 'e', 'p'}));
            // The planted links are not ours to remove.
            EXPECT_TRUE(fs::is_symlink(carpeta / ("." + nombre + ".s.tmp")));
            EXPECT_TRUE(fs::equivalent(carpeta / ("." + nombre + ".d.tmp"), victima));
        }
        // Nothing of ours is left under a hidden name.
        EXPECT_EQ(nombresEn(carpeta.ruta).size(), 10u);
    }
}

TEST(ArchivoNuevo, SinPublicarNoQuedaNadaYElDestinoNoCambia) {
    for (ModoTemporal modo : kModos) {
        apoyo::CarpetaTemporal carpeta;
        apoyo::escribirArchivo(carpeta / "hoja.bmp", {1, 2, 3});
        {
            auto creado = ArchivoNuevo::crear(carpeta / "hoja.bmp", modo);
            ASSERT_TRUE(creado.ok());
            ASSERT_TRUE(creado->escribir(kContenido).ok());
        }
        EXPECT_EQ(nombresEn(carpeta.ruta), std::vector<std::string>{"hoja.bmp"});
        EXPECT_EQ(apoyo::leerArchivo(carpeta / "hoja.bmp"), (apoyo::Bytes{1, 2, 3}));
        // A folder under the destination's name: the failure names it, and nothing is left.
        fs::create_directory(carpeta / "carpeta.bmp");
        const auto fallo = grabarCon(carpeta / "carpeta.bmp", modo);
        ASSERT_TRUE(fallo);
        EXPECT_NE(fallo->find("carpeta.bmp\""), std::string::npos) << *fallo;
        EXPECT_EQ(nombresEn(carpeta.ruta), (std::vector<std::string>{"carpeta.bmp", "hoja.bmp"}));
    }
}

TEST(AbrirEntrada, SoloArchivosRegularesYSinEsperar) {
    apoyo::CarpetaTemporal carpeta;
    ASSERT_EQ(::mkfifo((carpeta / "tuberia").c_str(), 0600), 0);
    fs::create_directory(carpeta / "carpeta");
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un direccion{};
    direccion.sun_family = AF_UNIX;
    const std::string ruta = (carpeta / "socket").string();
    ASSERT_LT(ruta.size(), sizeof direccion.sun_path);
    std::copy(ruta.begin(), ruta.end(), direccion.sun_path);
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&direccion), sizeof direccion), 0);
    // A FIFO with no writer would block an ordinary open forever.
    const std::pair<fs::path, const char*> casos[] = {
        {carpeta / "tuberia", "FIFO"}, {"/dev/null", "dispositivo"}, {carpeta / "carpeta", "carpeta"},
        {carpeta / "falta", "No such file"}};
    for (const auto& [camino, dice] : casos) {
        SCOPED_TRACE(camino);
        const Resultado<Entrada> e = abrirEntrada(camino);
        ASSERT_FALSE(e.ok());
        EXPECT_NE(e.mensaje().find(entreComillas(camino)), std::string::npos) << e.mensaje();
        EXPECT_NE(e.mensaje().find(dice), std::string::npos) << e.mensaje();
    }
    // A socket cannot be opened at all; it is refused all the same.
    EXPECT_FALSE(abrirEntrada(carpeta / "socket").ok());
    ::close(s);
    apoyo::escribirArchivo(carpeta / "foto", kContenido);
    const Resultado<Entrada> abierta = abrirEntrada(carpeta / "foto");
    ASSERT_TRUE(abierta.ok());
    const Entrada& e = *abierta;
    EXPECT_GE(e.fd.valor, 0);
    EXPECT_EQ(e.tamano, kContenido.size());
    EXPECT_EQ(::fcntl(e.fd.valor, F_GETFL) & O_NONBLOCK, 0);
}

// Runs `cuerpo` in a child process and returns its wait status.
template <class F>
int enHijo(F cuerpo) {
    const pid_t hijo = ::fork();
    if (hijo == 0) {
        cuerpo();
        ::_exit(0);
    }
    int estado = 0;
    ::waitpid(hijo, &estado, 0);
    return estado;
}

TEST(LeerCompleto, HastaElFinalDesdeDondeSePideYElErrorComoFallo) {
    apoyo::CarpetaTemporal carpeta;
    apoyo::Bytes bytes(70000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
    apoyo::escribirArchivo(carpeta / "foto", bytes);
    const Resultado<Entrada> e = abrirEntrada(carpeta / "foto");
    ASSERT_TRUE(e.ok());
    apoyo::Bytes leidos(50000, 0);
    // From an offset, and past the end: the count read says where the file ended.
    const Resultado<std::size_t> desdeMedio = leerCompleto(e->fd.valor, leidos.data(), leidos.size(), 30000);
    ASSERT_TRUE(desdeMedio.ok());
    EXPECT_EQ(*desdeMedio, 40000u);
    EXPECT_TRUE(std::equal(leidos.begin(), leidos.begin() + 40000, bytes.begin() + 30000));
    const Resultado<std::size_t> alFinal = leerCompleto(e->fd.valor, leidos.data(), leidos.size(), 70000);
    ASSERT_TRUE(alFinal.ok());
    EXPECT_EQ(*alFinal, 0u);
    // A descriptor that cannot be read is a failure, not an empty file.
    const Descriptor carpetaAbierta{::open(carpeta.ruta.c_str(), O_RDONLY | O_DIRECTORY)};
    const Resultado<std::size_t> deCarpeta = leerCompleto(carpetaAbierta.valor, leidos.data(), leidos.size(), 0);
    ASSERT_FALSE(deCarpeta.ok());
    EXPECT_EQ(deCarpeta.mensaje(), std::strerror(EISDIR));
}

TEST(Descriptor, ElCeroEsUnoMas) {
    // Where a caller closed standard input, the first file opened takes number 0: it is opened,
    // read and closed like any other.
    apoyo::CarpetaTemporal carpeta;
    apoyo::escribirArchivo(carpeta / "foto", kContenido);
    const int estado = enHijo([&] {
        ::close(0);
        {
            const Resultado<Entrada> e = abrirEntrada(carpeta / "foto");
            if (!e.ok() || e->fd.valor != 0) ::_exit(3);
        }
        ::_exit(::fcntl(0, F_GETFD) == -1 && errno == EBADF ? 0 : 4);
    });
    EXPECT_TRUE(WIFEXITED(estado) && WEXITSTATUS(estado) == 0) << "status " << WEXITSTATUS(estado);
}

TEST(Senales, UnaEscrituraInterrumpidaNoDejaNadaYElProcesoTerminaPorLaSenal) {
    for (ModoTemporal modo : kModos) {
        for (int senal : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
            // Without a name, not even SIGKILL can leave the file behind; a named one needs a handler.
            if (senal == SIGKILL && modo == ModoTemporal::conNombre) continue;
            SCOPED_TRACE(std::string(strsignal(senal)) + (modo == ModoTemporal::sinNombre ? " sin nombre" : " con nombre"));
            apoyo::CarpetaTemporal carpeta;
            const int estado = enHijo([&] {
                instalarLimpieza();
                auto creado = ArchivoNuevo::crear(carpeta / "hoja.bmp", modo);
                if (!creado.ok() || !creado->escribir(kContenido).ok()) ::_exit(3);
                ::kill(::getpid(), senal);  // halfway through the job
                ::_exit(4);
            });
            ASSERT_TRUE(WIFSIGNALED(estado)) << estado;
            EXPECT_EQ(WTERMSIG(estado), senal);
            EXPECT_TRUE(nombresEn(carpeta.ruta).empty());
        }
    }
}

TEST(Senales, UnNombreMasCortoEnUnaRanuraUsadaEsElQueSeBorra) {
    // A slot that held a longer name, reused: the handler removes the new name, not a mix of both.
    apoyo::CarpetaTemporal carpeta;
    const std::string largo = (carpeta / "un-nombre-bastante-mas-largo.tmp").string();
    const std::string corto = (carpeta / "corto.tmp").string();
    apoyo::escribirArchivo(corto, kContenido);
    const int estado = enHijo([&] {
        instalarLimpieza();
        // Every slot is taken once by the longer name, so whichever the shorter one gets held it.
        std::vector<int> ranuras;
        for (int r; (r = registrarTemporal(largo.c_str())) >= 0;) ranuras.push_back(r);
        for (int r : ranuras) olvidarTemporal(r);
        if (registrarTemporal(corto.c_str()) < 0) ::_exit(3);
        ::kill(::getpid(), SIGTERM);
        ::_exit(4);
    });
    ASSERT_TRUE(WIFSIGNALED(estado) && WTERMSIG(estado) == SIGTERM) << estado;
    EXPECT_FALSE(fs::exists(corto));
}

TEST(Senales, LasQueQuienLlamaIgnoraSiguenIgnoradas) {
    // As nohup leaves SIGHUP, and a pipe's reader SIGPIPE: the run goes on through them.
    const int estado = enHijo([] {
        ::signal(SIGHUP, SIG_IGN);
        ::signal(SIGPIPE, SIG_IGN);
        ::signal(SIGTERM, SIG_DFL);
        instalarLimpieza();
        struct sigaction ahora {};
        ::sigaction(SIGHUP, nullptr, &ahora);
        if (ahora.sa_handler != SIG_IGN) ::_exit(3);
        ::sigaction(SIGTERM, nullptr, &ahora);
        if (ahora.sa_handler == SIG_DFL || ahora.sa_handler == SIG_IGN) ::_exit(4);
        ::raise(SIGHUP);
        ::raise(SIGPIPE);
        ::_exit(0);
    });
    EXPECT_TRUE(WIFEXITED(estado) && WEXITSTATUS(estado) == 0) << estado;
}

TEST(AsegurarEstandares, LosCerradosQuedanEnDevNullYLosAbiertosNoCambian) {
    // Each set of closed standard descriptors, as a caller may leave them (`>&-`, `<&-`, `2>&-`).
    for (int cerrados = 0; cerrados < 8; ++cerrados) {
        SCOPED_TRACE(cerrados);
        int tuberia[2];
        ASSERT_EQ(::pipe(tuberia), 0);
        const int estado = enHijo([&] {
            // The open ones are a pipe, to tell them from /dev/null.
            for (int fd = 0; fd <= 2; ++fd) {
                if (cerrados & (1 << fd)) ::close(fd);
                else ::dup2(fd == 0 ? tuberia[0] : tuberia[1], fd);
            }
            const std::string tubo = [&] {
                char enlace[64];
                const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(tuberia[0])).c_str(), enlace, sizeof enlace);
                return std::string(enlace, n > 0 ? static_cast<std::size_t>(n) : 0);
            }();
            if (!asegurarEstandares()) ::_exit(10);
            for (int fd = 0; fd <= 2; ++fd) {
                char enlace[64];
                const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), enlace, sizeof enlace);
                const std::string es(enlace, n > 0 ? static_cast<std::size_t>(n) : 0);
                const bool cerrado = cerrados & (1 << fd);
                if (es != (cerrado ? "/dev/null" : tubo)) ::_exit(20 + fd);
                const int acceso = ::fcntl(fd, F_GETFL) & O_ACCMODE;
                if (cerrado && acceso != (fd == 0 ? O_RDONLY : O_WRONLY)) ::_exit(30 + fd);
            }
            // What the program opens next takes a number of its own.
            const int otro = ::open("/dev/null", O_RDONLY);
            ::_exit(otro > 2 ? 0 : 40);
        });
        ::close(tuberia[0]);
        ::close(tuberia[1]);
        EXPECT_TRUE(WIFEXITED(estado) && WEXITSTATUS(estado) == 0) << "status " << WEXITSTATUS(estado);
    }
}

TEST(Senales, LaTerminalVuelveComoEstabaSiLaEsperaSeInterrumpe) {
    int maestro = -1, esclavo = -1;
    ASSERT_EQ(::openpty(&maestro, &esclavo, nullptr, nullptr, nullptr), 0);
    termios antes{};
    ASSERT_EQ(::tcgetattr(esclavo, &antes), 0);
    ASSERT_TRUE(antes.c_lflag & ECHO);
    const pid_t hijo = ::fork();
    if (hijo == 0) {
        ::dup2(esclavo, STDIN_FILENO);
        instalarLimpieza();
        esperarTecla();
        ::_exit(0);
    }
    // Wait until the child has put the terminal in raw mode, then interrupt it.
    termios ahora{};
    for (int i = 0; i < 500; ++i) {
        ::tcgetattr(esclavo, &ahora);
        if (!(ahora.c_lflag & ECHO)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(ahora.c_lflag & ECHO);
    ::kill(hijo, SIGINT);
    int estado = 0;
    ::waitpid(hijo, &estado, 0);
    EXPECT_TRUE(WIFSIGNALED(estado) && WTERMSIG(estado) == SIGINT) << estado;
    ASSERT_EQ(::tcgetattr(esclavo, &ahora), 0);
    EXPECT_EQ(ahora.c_lflag & (ECHO | ICANON), antes.c_lflag & (ECHO | ICANON));
    ::close(maestro);
    ::close(esclavo);
}

}  // namespace
