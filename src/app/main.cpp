#include <cstdio>

#include "app/comandos.hpp"
#include "app/consola.hpp"
#include "app/escaner.hpp"
#include "sistema/archivos.hpp"
#include "sistema/senales.hpp"

int main(int argc, char** argv) {
    // Before any file is opened: a standard stream left closed by the caller must not lend its
    // number to a photo or a page, which would then receive what is printed.
    if (!asegurarEstandares()) {
        std::fputs("escaner: no se pudo abrir /dev/null en lugar de una salida estandar cerrada\n", stderr);
        return 1;
    }
    // Interrupted, a run leaves no temporary file behind and the terminal as it found it.
    instalarLimpieza();
    // With arguments, the command-line scanner; without, the run in the current folder.
    if (argc > 1) return ejecutarComandos(argc, argv, stdout, stderr);
    // An empty folder: files are named relative to the current one, as the messages show them.
    return ejecutarEscaner({}, stdout, stderr, [] {
        std::fflush(stdout);
        esperarTecla();
    });
}
