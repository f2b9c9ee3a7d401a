// The program itself as a user's shell runs it: told to end while it waits for the key, it ends as the
// signal says and leaves no file of its own behind.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "apoyo.hpp"
#include "espera.hpp"

namespace {

namespace fs = std::filesystem;

TEST(Proceso, UnaSenalEnLaEsperaTerminaComoLaSenalSinDejarTemporales) {
    apoyo::CarpetaTemporal carpeta;
    fs::copy_file(fs::path(ESCANER_EJEMPLOS) / "imagenDocumento.bmp", carpeta / "imagenDocumento.bmp");
    for (int senal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(senal));
        // As a shell starts a job in the foreground (a test runner may ignore some signals). Standard
        // input stays open and silent: the run waits at its closing prompt.
        espera::EnLaEspera e = espera::empezar(carpeta.ruta, {SIGINT, SIGTERM, SIGHUP}, {});
        ASSERT_TRUE(e.esperando()) << e.texto;
        ::kill(e.hijo, senal);
        const int estado = espera::terminar(e);
        EXPECT_TRUE(WIFSIGNALED(estado) && WTERMSIG(estado) == senal) << estado;
        for (const auto& e : fs::directory_iterator(carpeta.ruta))
            EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
    }
}

}  // namespace
