#include "sistema/comprobar.hpp"

#include <cstdio>
#include <cstdlib>

namespace comprobar {

void fallar(const char* archivo, int linea, const std::string& que) {
    std::fprintf(stderr, "escaner: fallo interno en %s:%d: no se cumple %s\n", archivo, linea, que.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace comprobar
