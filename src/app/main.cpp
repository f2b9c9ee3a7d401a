#include <cstdio>

#include "app/consola.hpp"
#include "app/escaner.hpp"

int main() {
    // An empty folder: files are named relative to the current one, as the messages show them.
    return ejecutarEscaner({}, stdout, stderr, [] {
        std::fflush(stdout);
        esperarTecla();
    });
}
