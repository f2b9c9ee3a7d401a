#pragma once

// What the renderer's tests share: a plain upright scene, gray levels, image comparisons and
// scratch files.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "escena.hpp"

namespace escena_prueba {

using escena::Escena;

// Gray level as the scanner weighs the planes.
inline double gris(const ImagenBmp& img, int fila, int columna) {
    return 0.299 * img.plano0[fila][columna] + 0.587 * img.plano1[fila][columna] +
           0.114 * img.plano2[fila][columna];
}

// An upright sheet spanning columns 100 .. 400 and rows 50 .. 438 (pixel centres), no noise or light.
inline Escena hojaDerecha() {
    Escena e;
    e.ancho = 500;
    e.alto = 490;
    e.esquinas = {{{100.0, 50.0}, {400.0, 50.0}, {400.0, 438.0}, {100.0, 438.0}}};
    e.ruido = 0;
    e.gradiente = 0.0;
    return e;
}

// A name under the temporary folder that no other running test process uses.
inline std::filesystem::path temporal(const std::string& nombre) {
    return std::filesystem::temp_directory_path() / (nombre + "-" + std::to_string(::getpid()));
}

// A tool's run: its exit status (-1 when it did not start or end by itself) and its standard output.
struct Corrida {
    int estado = -1;
    std::string salida;
};

// Runs `binario` with the shell words `argumentos`, its standard error dropped.
inline Corrida correr(const std::string& binario, const std::string& argumentos) {
    const std::string orden = "'" + binario + "' " + argumentos + " 2>/dev/null";
    Corrida r;
    std::FILE* tubo = ::popen(orden.c_str(), "r");
    if (tubo == nullptr) return r;
    char trozo[4096];
    for (std::size_t n; (n = std::fread(trozo, 1, sizeof trozo, tubo)) > 0;) r.salida.append(trozo, n);
    const int estado = ::pclose(tubo);
    r.estado = WIFEXITED(estado) ? WEXITSTATUS(estado) : -1;
    return r;
}

inline std::vector<char> bytesDe(const std::filesystem::path& ruta) {
    std::ifstream f(ruta, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

inline std::uint64_t huella(const ImagenBmp& img) {
    std::uint64_t h = 1469598103934665603ull;
    const PlanoBytes* planos[3] = {&img.plano0, &img.plano1, &img.plano2};
    for (const PlanoBytes* p : planos)
        for (int f = 0; f < img.alto(); ++f)
            for (int c = 0; c < img.ancho(); ++c) {
                h ^= (*p)[f][c];
                h *= 1099511628211ull;
            }
    return h;
}

inline bool iguales(const ImagenBmp& a, const ImagenBmp& b) {
    return a.header == b.header && a.plano0.datos == b.plano0.datos && a.plano1.datos == b.plano1.datos &&
           a.plano2.datos == b.plano2.datos;
}

inline bool convexo(const Cuadrilatero& e) {
    int positivos = 0, negativos = 0;
    for (int i = 0; i < 4; ++i) {
        const auto& a = e[static_cast<std::size_t>(i)];
        const auto& b = e[static_cast<std::size_t>((i + 1) % 4)];
        const auto& c = e[static_cast<std::size_t>((i + 2) % 4)];
        const double cruz = (b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x);
        positivos += cruz > 0.0;
        negativos += cruz < 0.0;
    }
    return positivos == 4 || negativos == 4;
}

}  // namespace escena_prueba
