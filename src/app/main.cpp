#include <cstdio>

#include "app/consola.hpp"
#include "app/escaner.hpp"
#include "sistema/senales.hpp"

int main() {
    // Interrupted, the run leaves no temporary file behind and the terminal as it found it.
    instalarLimpieza();
    // An empty folder: files are named relative to the current one, as the messages show them.
    return ejecutarEscaner({}, stdout, stderr, [] {
        std::fflush(stdout);
        esperarTecla();
    });
}
