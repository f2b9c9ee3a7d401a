// The program itself as a user's shell runs it: told to end while it waits for the key, it ends as the
// signal says and leaves no file of its own behind.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "apoyo.hpp"

namespace {

namespace fs = std::filesystem;

TEST(Proceso, UnaSenalEnLaEsperaTerminaComoLaSenalSinDejarTemporales) {
    apoyo::CarpetaTemporal carpeta;
    fs::copy_file(fs::path(ESCANER_EJEMPLOS) / "imagenDocumento.bmp", carpeta / "imagenDocumento.bmp");
    for (int senal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(senal));
        int entrada[2], salida[2];
        ASSERT_EQ(::pipe(entrada), 0);
        ASSERT_EQ(::pipe(salida), 0);
        const pid_t hijo = ::fork();
        if (hijo == 0) {
            ::dup2(entrada[0], STDIN_FILENO);
            ::dup2(salida[1], STDOUT_FILENO);
            ::close(entrada[1]);
            ::close(salida[0]);
            if (::chdir(carpeta.ruta.c_str()) != 0) ::_exit(126);
            // As a shell starts a job in the foreground (a test runner may ignore some signals).
            for (int s : {SIGINT, SIGTERM, SIGHUP}) ::signal(s, SIG_DFL);
            ::execl(ESCANER_BINARIO, "escaner", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(entrada[0]);
        ::close(salida[1]);
        // Standard input stays open and silent: the run waits at its closing prompt.
        std::string texto;
        char bloque[4096];
        for (ssize_t n; texto.find("Apriete una tecla") == std::string::npos &&
                        (n = ::read(salida[0], bloque, sizeof bloque)) > 0;)
            texto.append(bloque, static_cast<std::size_t>(n));
        ASSERT_NE(texto.find("Apriete una tecla"), std::string::npos) << texto;
        ::kill(hijo, senal);
        int estado = 0;
        ::waitpid(hijo, &estado, 0);
        ::close(entrada[1]);
        ::close(salida[0]);
        EXPECT_TRUE(WIFSIGNALED(estado) && WTERMSIG(estado) == senal) << estado;
        for (const auto& e : fs::directory_iterator(carpeta.ruta))
            EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
    }
}

}  // namespace
