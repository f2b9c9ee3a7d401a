#include <cstdio>

#include "app/comandos.hpp"
#include "app/consola.hpp"
#include "app/escaner.hpp"
#include "sistema/senales.hpp"

int main(int argc, char** argv) {
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
