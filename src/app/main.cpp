#include <cstdio>

#include "app/consola.hpp"
#include "app/escaner.hpp"

int main() {
    return ejecutarEscaner(".", stdout, stderr, [] {
        std::fflush(stdout);
        esperarTecla();
    });
}
