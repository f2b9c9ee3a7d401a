#pragma once

// What both fuzz targets need: a private folder for the files they write, removed at exit; whole
// files written into it; a failure that stops the run with its reason; planes compared whole.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

#include "imagen/imagen_bmp.hpp"

namespace fuzz {

inline std::filesystem::path carpeta;  // the private folder, removed at exit
inline const char* programa = "fuzzer";  // signs the failures

[[noreturn]] inline void fallar(const std::string& que) {
    std::fprintf(stderr, "%s: %s\n", programa, que.c_str());
    std::abort();
}

inline void borrarCarpeta() {
    std::error_code ignorado;
    std::filesystem::remove_all(carpeta, ignorado);
}

// TMPDIR when set, else /dev/shm (files in memory) when it can be written, else /tmp.
inline std::filesystem::path raizTemporal() {
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') return tmp;
    if (::access("/dev/shm", W_OK | X_OK) == 0) return "/dev/shm";
    return "/tmp";
}

// Makes the private folder, named after `prefijo`, and has it removed at exit.
inline void prepararCarpeta(const char* nombrePrograma, const std::string& prefijo) {
    programa = nombrePrograma;
    std::string plantilla = (raizTemporal() / (prefijo + "-XXXXXX")).string();
    if (::mkdtemp(plantilla.data()) == nullptr) {
        fallar("no se puede crear una carpeta temporal " + plantilla + ": " + std::strerror(errno));
    }
    carpeta = plantilla;
    std::atexit(borrarCarpeta);
}

inline void escribirArchivo(const std::filesystem::path& archivo, const std::uint8_t* datos, std::size_t cantidad) {
    const int fd = ::open(archivo.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) fallar("no se puede crear " + archivo.string() + ": " + std::strerror(errno));
    std::size_t hechos = 0;
    while (hechos < cantidad) {
        const ssize_t n = ::write(fd, datos + hechos, cantidad - hechos);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fallar("no se puede escribir " + archivo.string() + ": " + std::strerror(errno));
        hechos += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) fallar("no se puede cerrar " + archivo.string());
}

inline bool mismosPlanos(const ImagenBmp& a, const ImagenBmp& b) {
    return a.plano0.datos == b.plano0.datos && a.plano1.datos == b.plano1.datos &&
           a.plano2.datos == b.plano2.datos;
}

}  // namespace fuzz
