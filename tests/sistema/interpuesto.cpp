// A library that tests preload (LD_PRELOAD) into the program they run, to see what it asks of the
// system and to make the system fail as disks and network file systems do. Each part acts only
// when its variable is set in the program's environment:
//   ESCANER_TRAZA=N                 each open, fsync, rename and close is told on descriptor N, one
//                                   line each: "open FD PATH", "fsync PATH", "rename FROM TO",
//                                   "close PATH" (PATH is what the descriptor stands for, as
//                                   /proc/self/fd says; a nameless file reads "DIR/#INODE (deleted)")
//   ESCANER_FALLA_CIERRE=DIR        close() of a file in DIR closes it, and answers EIO
//   ESCANER_FALLA_FSYNC=DIR         fsync() of a file in DIR answers EIO
//   ESCANER_FALLA_FSYNC_CARPETA=DIR fsync() of the folder DIR itself answers EIO
//   ESCANER_SIN_TMPFILE=1           an open asking for a nameless file (O_TMPFILE) answers
//                                   EOPNOTSUPP, as on a file system that cannot make one
// DIR is an absolute path with no symbolic link in it.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

template <class F>
F siguiente(const char* nombre) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, nombre));
}

std::string rutaDe(int fd) {
    char enlace[64];
    std::snprintf(enlace, sizeof enlace, "/proc/self/fd/%d", fd);
    char ruta[4096];
    const ssize_t n = ::readlink(enlace, ruta, sizeof ruta - 1);
    return n > 0 ? std::string(ruta, static_cast<std::size_t>(n)) : std::string();
}

// A name under a descriptor's own name in /proc (as a folder opened once is written into) told as
// the folder's real name, as the descriptor's traces tell it.
std::string resuelta(const char* ruta) {
    static const std::string propio = "/proc/self/fd/";
    const std::string r = ruta;
    if (r.compare(0, propio.size(), propio) != 0) return r;
    const std::size_t fin = r.find('/', propio.size());
    const std::string carpeta = rutaDe(std::atoi(r.c_str() + propio.size()));
    return carpeta.empty() || fin == std::string::npos ? r : carpeta + r.substr(fin);
}

bool dentroDe(const std::string& ruta, const char* variable) {
    const char* carpeta = std::getenv(variable);
    if (carpeta == nullptr || *carpeta == '\0') return false;
    const std::string prefijo = std::string(carpeta) + "/";
    return ruta.compare(0, prefijo.size(), prefijo) == 0;
}

bool es(const std::string& ruta, const char* variable) {
    const char* carpeta = std::getenv(variable);
    return carpeta != nullptr && *carpeta != '\0' && ruta == carpeta;
}

void contar(const std::string& linea) {
    const char* destino = std::getenv("ESCANER_TRAZA");
    if (destino == nullptr || *destino == '\0') return;
    const std::string texto = linea + "\n";
    // One write per line, so that lines from threads do not mix.
    const ssize_t n = ::write(std::atoi(destino), texto.data(), texto.size());
    (void)n;
}

bool sinNombreNegado(int banderas) {
    const char* negado = std::getenv("ESCANER_SIN_TMPFILE");
    if (negado == nullptr || *negado == '\0' || (banderas & O_TMPFILE) != O_TMPFILE) return false;
    errno = EOPNOTSUPP;
    return true;
}

int trasAbrir(int fd) {
    if (fd >= 0) {
        const int numero = errno;
        contar("open " + std::to_string(fd) + " " + rutaDe(fd));
        errno = numero;
    }
    return fd;
}

mode_t modoDe(int banderas, va_list& resto) {
    return (banderas & O_CREAT) || (banderas & O_TMPFILE) == O_TMPFILE ? va_arg(resto, mode_t) : 0;
}

}  // namespace

extern "C" {

int open(const char* ruta, int banderas, ...) {
    static const auto real = siguiente<int (*)(const char*, int, ...)>("open");
    va_list resto;
    va_start(resto, banderas);
    const mode_t modo = modoDe(banderas, resto);
    va_end(resto);
    if (sinNombreNegado(banderas)) return -1;
    return trasAbrir(real(ruta, banderas, modo));
}

int open64(const char* ruta, int banderas, ...) {
    static const auto real = siguiente<int (*)(const char*, int, ...)>("open64");
    va_list resto;
    va_start(resto, banderas);
    const mode_t modo = modoDe(banderas, resto);
    va_end(resto);
    if (sinNombreNegado(banderas)) return -1;
    return trasAbrir(real(ruta, banderas, modo));
}

int openat(int carpeta, const char* ruta, int banderas, ...) {
    static const auto real = siguiente<int (*)(int, const char*, int, ...)>("openat");
    va_list resto;
    va_start(resto, banderas);
    const mode_t modo = modoDe(banderas, resto);
    va_end(resto);
    if (sinNombreNegado(banderas)) return -1;
    return trasAbrir(real(carpeta, ruta, banderas, modo));
}

int openat64(int carpeta, const char* ruta, int banderas, ...) {
    static const auto real = siguiente<int (*)(int, const char*, int, ...)>("openat64");
    va_list resto;
    va_start(resto, banderas);
    const mode_t modo = modoDe(banderas, resto);
    va_end(resto);
    if (sinNombreNegado(banderas)) return -1;
    return trasAbrir(real(carpeta, ruta, banderas, modo));
}

int close(int fd) {
    static const auto real = siguiente<int (*)(int)>("close");
    const std::string ruta = rutaDe(fd);
    contar("close " + ruta);
    const int r = real(fd);
    if (r == 0 && dentroDe(ruta, "ESCANER_FALLA_CIERRE")) {
        errno = EIO;
        return -1;
    }
    return r;
}

int fsync(int fd) {
    static const auto real = siguiente<int (*)(int)>("fsync");
    const std::string ruta = rutaDe(fd);
    contar("fsync " + ruta);
    if (dentroDe(ruta, "ESCANER_FALLA_FSYNC") || es(ruta, "ESCANER_FALLA_FSYNC_CARPETA")) {
        errno = EIO;
        return -1;
    }
    return real(fd);
}

int rename(const char* desde, const char* hacia) {
    static const auto real = siguiente<int (*)(const char*, const char*)>("rename");
    const int r = real(desde, hacia);
    if (r == 0) contar("rename " + resuelta(desde) + " " + resuelta(hacia));
    return r;
}

}  // extern "C"
