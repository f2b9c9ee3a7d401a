#include <gtest/gtest.h>

#include <httplib.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "apoyo.hpp"
#include "app/opciones.hpp"
#include "app/revision.hpp"

namespace fs = std::filesystem;

namespace {

// `escaner --revisar ARGS...` started in `carpeta`, its standard output on a pipe and its errors in
// a file; the address is the first line it prints.
struct Revisando {
    pid_t pid = -1;
    std::FILE* salida = nullptr;
    fs::path errores;
    std::string direccion, token;
    int puerto = 0;

    Revisando(const fs::path& carpeta, std::vector<std::string> argumentos) : errores(carpeta / "errores.txt") {
        int tubo[2];
        if (::pipe(tubo) != 0) return;
        argumentos.insert(argumentos.begin(), {"escaner", "--revisar"});
        pid = ::fork();
        if (pid == 0) {
            ::dup2(tubo[1], 1);
            const int e = ::open(errores.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(e, 2);
            ::close(tubo[0]);
            if (::chdir(carpeta.c_str()) != 0) ::_exit(126);
            std::vector<char*> argv;
            for (std::string& a : argumentos) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(ESCANER_BINARIO, argv.data());
            ::_exit(127);
        }
        ::close(tubo[1]);
        salida = ::fdopen(tubo[0], "r");
        char linea[512] = {};
        if (std::fgets(linea, sizeof linea, salida)) direccion = linea;
        if (!direccion.empty() && direccion.back() == '\n') direccion.pop_back();
        const std::size_t dosPuntos = direccion.rfind(':'), t = direccion.find("/?t=");
        if (dosPuntos != std::string::npos && t != std::string::npos) {
            puerto = std::stoi(direccion.substr(dosPuntos + 1));
            token = direccion.substr(t + 4);
        }
    }
    ~Revisando() {
        if (pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (salida) std::fclose(salida);
    }

    httplib::Result enviar(const std::string& ruta, const std::string& cuerpo) const {
        httplib::Client c("127.0.0.1", puerto);
        c.set_read_timeout(60);
        return c.Post(ruta, {{"Cookie", "escaner_token=" + token}}, cuerpo, "application/json");
    }
    httplib::Result pedir(const std::string& ruta) const {
        httplib::Client c("127.0.0.1", puerto);
        c.set_read_timeout(60);
        return c.Get(ruta, {{"Cookie", "escaner_token=" + token}});
    }
    // The exit status, or 128 plus the signal that ended it.
    int esperar() {
        int estado = 0;
        ::waitpid(pid, &estado, 0);
        pid = -1;
        return WIFEXITED(estado) ? WEXITSTATUS(estado) : 128 + WTERMSIG(estado);
    }
    std::string resto() {
        std::string texto;
        char bloque[4096];
        std::size_t n;
        while ((n = std::fread(bloque, 1, sizeof bloque, salida)) > 0) texto.append(bloque, n);
        return texto;
    }
    std::string textoErrores() const {
        std::ifstream f(errores);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
};

std::vector<fs::path> resultados(const fs::path& carpeta) {
    std::vector<fs::path> r;
    for (const auto& e : fs::recursive_directory_iterator(carpeta)) {
        const std::string nombre = e.path().filename().string();
        if (nombre.find("-hoja") != std::string::npos || nombre.find(".tmp") != std::string::npos ||
            e.path().extension() == ".pdf")
            r.push_back(e.path());
    }
    return r;
}

TEST(Revision, LaDireccionEsLaPrimeraLineaYElPuertoElPedido) {
    apoyo::CarpetaTemporal c;
    fs::copy_file(fs::path(ESCANER_EJEMPLOS) / "imagenDocumento.bmp", c.ruta / "a.bmp");
    // A free port: the one a first run was given, once it has ended.
    int libre = 0;
    {
        Revisando primera(c.ruta, {"a.bmp"});
        libre = primera.puerto;
        ASSERT_EQ(primera.enviar("/api/cerrar", "")->status, 204);
        EXPECT_EQ(primera.esperar(), 1);
    }
    Revisando r(c.ruta, {"--puerto", std::to_string(libre), "a.bmp"});
    EXPECT_EQ(r.puerto, libre);
    EXPECT_EQ(r.direccion.rfind("http://127.0.0.1:" + std::to_string(libre) + "/?t=", 0), 0u) << r.direccion;
    EXPECT_EQ(r.token.size(), 32u);
    ASSERT_EQ(r.enviar("/api/cerrar", "")->status, 204);
    EXPECT_EQ(r.esperar(), 1);
    EXPECT_NE(r.textoErrores().find("se cerro la pagina de revision sin guardar; no se escribio nada"), std::string::npos)
        << r.textoErrores();
    EXPECT_EQ(r.resto(), "");
    EXPECT_TRUE(resultados(c.ruta).empty());
}

TEST(Revision, UnaSenalTerminaLaRevisionSinEscribirNada) {
    apoyo::CarpetaTemporal c;
    fs::copy_file(fs::path(ESCANER_EJEMPLOS) / "imagenDocumento.bmp", c.ruta / "a.bmp");
    for (int senal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(senal);
        Revisando r(c.ruta, {"--json", "-o", "salida.pdf", "a.bmp"});
        ASSERT_GT(r.puerto, 0);
        ASSERT_EQ(r.pedir("/api/foto/0")->status, 200);
        ::kill(r.pid, senal);
        EXPECT_EQ(r.esperar(), 128 + senal);
        EXPECT_EQ(r.resto(), "");
        EXPECT_TRUE(resultados(c.ruta).empty());
    }
}

TEST(Revision, GuardarEscribeLoMismoQueSinRevisarYLasEsquinasMalasFallanSuFoto) {
    apoyo::CarpetaTemporal c;
    fs::copy_file(fs::path(ESCANER_EJEMPLOS) / "imagenDocumento.bmp", c.ruta / "a.bmp");
    fs::copy_file(fs::path(ESCANER_EJEMPLOS) / "imagenDocumento.bmp", c.ruta / "b.bmp");
    Revisando r(c.ruta, {"--json", "-o", "paginas", "a.bmp", "b.bmp"});
    ASSERT_GT(r.puerto, 0);
    // a.bmp's corners cross; b.bmp's are as the command line finds them.
    httplib::Result g = r.enviar("/api/guardar", R"({"esquinas":[[[100,100],[600,700],[600,100],[100,700]],null]})");
    ASSERT_TRUE(g);
    EXPECT_EQ(g->status, 200);
    EXPECT_NE(g->body.find(R"("estado":1)"), std::string::npos) << g->body;
    EXPECT_NE(g->body.find("a.bmp"), std::string::npos) << g->body;
    EXPECT_EQ(r.esperar(), 1);
    const std::string lineas = r.resto();
    EXPECT_NE(lineas.find(R"({"foto":"a.bmp","estado":"error")"), std::string::npos) << lineas;
    EXPECT_NE(lineas.find(R"({"foto":"b.bmp","estado":"ok")"), std::string::npos) << lineas;
    const std::string errores = r.textoErrores();
    EXPECT_NE(errores.find("escaner: \"a.bmp\": las esquinas dadas no sirven"), std::string::npos) << errores;
    EXPECT_FALSE(fs::exists(c.ruta / "paginas" / "a-hoja.png"));
    ASSERT_TRUE(fs::exists(c.ruta / "paginas" / "b-hoja.png"));

    // The same page as the run without --revisar.
    apoyo::CarpetaTemporal sin;
    fs::copy_file(c.ruta / "b.bmp", sin.ruta / "b.bmp");
    const std::string orden = "cd '" + sin.ruta.string() + "' && '" ESCANER_BINARIO "' b.bmp >/dev/null";
    ASSERT_EQ(std::system(orden.c_str()), 0);
    EXPECT_EQ(apoyo::leerArchivo(sin.ruta / "b-hoja.png"), apoyo::leerArchivo(c.ruta / "paginas" / "b-hoja.png"));
}

TEST(Revision, LaFotoEnPantallaYLaVistaPrevia) {
    apoyo::CarpetaTemporal c;
    fs::copy_file(fs::path(ESCANER_EJEMPLOS) / "imagenDocumento.bmp", c.ruta / "a.bmp");
    {
        std::ofstream f(c.ruta / "no-es-foto.jpg");
        f << "nada";
    }
    Revisando r(c.ruta, {"a.bmp", "no-es-foto.jpg"});
    httplib::Result foto = r.pedir("/api/foto/0");
    ASSERT_TRUE(foto);
    EXPECT_EQ(foto->status, 200);
    EXPECT_EQ(foto->body.substr(0, 3), "\xFF\xD8\xFF");
    httplib::Result vista = r.enviar("/api/vista/0", R"({"esquinas":[[390,230],[836,171],[924,770],[437,817]]})");
    ASSERT_TRUE(vista);
    EXPECT_EQ(vista->status, 200);
    EXPECT_EQ(vista->body.substr(0, 3), "\xFF\xD8\xFF");
    // A photo that cannot be read says why, and is marked so in the list.
    httplib::Result mala = r.pedir("/api/foto/1");
    ASSERT_TRUE(mala);
    EXPECT_EQ(mala->status, 422);
    EXPECT_NE(mala->body.find("no-es-foto.jpg"), std::string::npos) << mala->body;
    httplib::Result lista = r.pedir("/api/fotos");
    ASSERT_TRUE(lista);
    EXPECT_NE(lista->body.find(R"("estado":"error")"), std::string::npos) << lista->body;
    ASSERT_EQ(r.enviar("/api/cerrar", "")->status, 204);
    EXPECT_EQ(r.esperar(), 1);
}

TEST(Revision, LaFotoSeReduceSinGirarNiMoverse) {
    // 3200 x 1600 with a dark top-left quarter: 1600 x 800, the dark quarter where it was.
    ImagenBmp foto = imagenNueva(3200, 1600, 200);
    for (int fila = 800; fila < 1600; ++fila)  // rows in file order: the top of the picture is high
        for (int x = 0; x < 1600; ++x) foto.plano0[fila][x] = foto.plano1[fila][x] = foto.plano2[fila][x] = 20;
    const ImagenBmp chica = aEscala(foto, kLadoPantalla);
    ASSERT_EQ(chica.ancho(), 1600);
    ASSERT_EQ(chica.alto(), 800);
    EXPECT_EQ(chica.plano1[700][100], 20);
    EXPECT_EQ(chica.plano1[100][100], 200);
    EXPECT_EQ(chica.plano1[700][1500], 200);
    EXPECT_EQ(chica.plano1[100][1500], 200);
    // A photo no longer than the side is kept as it is.
    const ImagenBmp igual = aEscala(chica, kLadoPantalla);
    EXPECT_EQ(igual.ancho(), 1600);
    EXPECT_EQ(igual.plano1[700][100], 20);
}

TEST(Revision, ElPuertoVaConRevisarYEsUnPuerto) {
    const auto error = [](std::vector<const char*> args) {
        args.insert(args.begin(), "escaner");
        const Resultado<Opciones> r = leerOpciones(static_cast<int>(args.size()), args.data());
        return r.ok() ? std::string() : r.mensaje();
    };
    EXPECT_EQ(error({"--revisar", "--puerto", "8080", "a.jpg"}), "");
    EXPECT_EQ(error({"--revisar", "a.jpg"}), "");
    EXPECT_EQ(error({"--puerto", "8080", "a.jpg"}), "--puerto va con --revisar");
    for (const char* malo : {"0", "65536", "-1", "80x", "http"}) {
        SCOPED_TRACE(malo);
        EXPECT_EQ(error({"--revisar", "--puerto", malo, "a.jpg"}),
                  std::string("--puerto ") + malo + ": debe ser un entero de 1 a 65535");
    }
}

}  // namespace
