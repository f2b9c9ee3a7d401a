#include "sistema/archivos.hpp"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sistema/hexadecimal.hpp"
#include "sistema/senales.hpp"

Descriptor& Descriptor::operator=(Descriptor&& otro) noexcept {
    if (this != &otro) {
        if (valor >= 0) ::close(valor);
        valor = std::exchange(otro.valor, -1);
    }
    return *this;
}

Descriptor::~Descriptor() {
    if (valor >= 0) ::close(valor);
}

bool asegurarEstandares() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The ones below are open by now, so the lowest free number, which open gives, is this one.
        int nuevo = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        // Without /dev/null the number is held all the same by a folder, which can be neither read
        // as a file nor written: printing then fails as it would have on the closed stream.
        if (nuevo < 0) nuevo = ::open("/", O_RDONLY | O_DIRECTORY);
        if (nuevo != fd) {
            if (nuevo >= 0) ::close(nuevo);
            return false;
        }
    }
    return true;
}

Resultado<std::size_t> leerCompleto(int fd, std::uint8_t* destino, std::size_t cantidad, std::uint64_t desde) {
    std::size_t total = 0;
    while (total < cantidad) {
        const ssize_t n = ::pread(fd, destino + total, cantidad - total, static_cast<off_t>(desde + total));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Fallo{std::strerror(errno)};
        if (n == 0) break;
        total += static_cast<std::size_t>(n);
    }
    return total;
}

std::string entreComillas(const std::filesystem::path& archivo) {
    std::string texto = archivo.string();
    texto.insert(texto.begin(), '"');
    texto.push_back('"');
    return texto;
}

namespace {

const char* queEs(mode_t modo) {
    if (S_ISDIR(modo)) return "es una carpeta";
    if (S_ISFIFO(modo)) return "es una tuberia (FIFO), no un archivo";
    if (S_ISSOCK(modo)) return "es un socket, no un archivo";
    if (S_ISCHR(modo) || S_ISBLK(modo)) return "es un dispositivo, no un archivo";
    return "no es un archivo regular";
}

std::atomic<FuenteSufijos> fuenteSufijos{nullptr};

// Fills `bytes` from the kernel's random source; false when it gave fewer.
bool llenarAlAzar(unsigned char* bytes, std::size_t cantidad) {
    std::size_t llenos = 0;
    while (llenos < cantidad) {
        const ssize_t n = ::getrandom(bytes + llenos, cantidad - llenos, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        llenos += static_cast<std::size_t>(n);
    }
    return true;
}

// Sixteen hex digits from the kernel's random source, for names nobody can guess in advance.
std::string sufijoAlAzar() {
    if (const FuenteSufijos fuente = fuenteSufijos.load(std::memory_order_acquire)) return fuente();
    unsigned char bytes[8] = {};
    llenarAlAzar(bytes, sizeof bytes);
    return enHexadecimal(std::string_view(reinterpret_cast<const char*>(bytes), sizeof bytes));
}

// ".NAME.RANDOM.tmp" beside `destino`; a long NAME is cut so that the whole stays a valid name.
std::filesystem::path nombreTemporal(const std::filesystem::path& destino) {
    std::string base = destino.filename().string().substr(0, 200);
    std::filesystem::path temporal = destino;
    temporal.replace_filename("." + base + "." + sufijoAlAzar() + ".tmp");
    return temporal;
}

std::filesystem::path carpetaDe(const std::filesystem::path& destino) {
    const std::filesystem::path carpeta = destino.parent_path();
    return carpeta.empty() ? std::filesystem::path(".") : carpeta;
}

// fsync, again when a signal interrupts it (the error of a failed one is not retried: the kernel
// has forgotten it by then, and the data it held may be gone).
int sincronizar(int fd) {
    int r;
    do r = ::fsync(fd);
    while (r != 0 && errno == EINTR);
    return r;
}

// Syncs the folder, so that the names made or changed in it are on the disk; 0, or the errno of
// the failure. A folder this process may not read, or a file system that cannot sync folders,
// is no failure: there is nothing more to be done for the name there.
int sincronizarCarpeta(const std::filesystem::path& carpeta) {
    const Descriptor fd{::open(carpeta.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (fd.valor < 0) return errno == EACCES ? 0 : errno;
    if (sincronizar(fd.valor) == 0) return 0;
    const int numero = errno;
    return numero == EINVAL || numero == EROFS || numero == EOPNOTSUPP ? 0 : numero;
}

}  // namespace

Resultado<Entrada> abrirEntrada(const std::filesystem::path& archivo) {
    Entrada e;
    const std::string nombre = entreComillas(archivo);
    // Without O_NONBLOCK, opening a FIFO waits for a writer that may never come.
    e.fd = Descriptor{::open(archivo.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)};
    if (e.fd.valor < 0) return Fallo{"no se puede abrir " + nombre + ": " + std::strerror(errno)};
    struct stat datos {};
    if (::fstat(e.fd.valor, &datos) != 0) return Fallo{"no se puede leer " + nombre + ": " + std::strerror(errno)};
    if (!S_ISREG(datos.st_mode)) return Fallo{"no se puede leer " + nombre + ": " + queEs(datos.st_mode)};
    const int banderas = ::fcntl(e.fd.valor, F_GETFL);
    if (banderas >= 0) ::fcntl(e.fd.valor, F_SETFL, banderas & ~O_NONBLOCK);
    e.tamano = static_cast<std::uint64_t>(datos.st_size);
    return e;
}

Resultado<ArchivoNuevo> ArchivoNuevo::crear(const std::filesystem::path& destino, ModoTemporal modo) {
    const auto error = [&](int numero) {
        return Fallo{"no se puede crear " + entreComillas(destino) + ": " + std::strerror(numero)};
    };
    ArchivoNuevo nuevo;
    nuevo.destino_ = destino;
    if (modo == ModoTemporal::sinNombre) {
        nuevo.fd_ = Descriptor{::open(carpetaDe(destino).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666)};
        if (nuevo.fd_.valor >= 0) return nuevo;
        // Only "the file system cannot" falls back to a named file; other failures are real.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return error(errno);
    }
    for (int intento = 0; intento < 100; ++intento) {
        const std::filesystem::path temporal = nombreTemporal(destino);
        // The name is registered in the same step as the file appears, as a signal sees it.
        const SenalesBloqueadas bloqueo;
        const int fd = ::open(temporal.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return error(errno);
        }
        nuevo.fd_ = Descriptor{fd};
        nuevo.temporal_ = temporal;
        nuevo.registro_ = registrarTemporal(temporal.c_str());
        return nuevo;
    }
    return error(EEXIST);
}

ArchivoNuevo::ArchivoNuevo(ArchivoNuevo&& otro) noexcept
    : destino_(std::move(otro.destino_)),
      temporal_(std::move(otro.temporal_)),
      fd_(std::move(otro.fd_)),
      registro_(std::exchange(otro.registro_, -1)) {
    otro.temporal_.clear();
}

ArchivoNuevo::~ArchivoNuevo() { descartar(); }

void ArchivoNuevo::descartar() {
    const SenalesBloqueadas bloqueo;
    if (!temporal_.empty()) ::unlink(temporal_.c_str());
    olvidarTemporal(registro_);
    registro_ = -1;
    temporal_.clear();
    fd_ = Descriptor{};
}

Hecho ArchivoNuevo::escribir(std::span<const std::uint8_t> bytes) {
    std::size_t total = 0;
    while (total < bytes.size()) {
        const ssize_t n = ::write(fd_.valor, bytes.data() + total, bytes.size() - total);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int numero = n < 0 ? errno : ENOSPC;
            return Fallo{"no se pudo escribir completo " + entreComillas(destino_) + ": " + std::strerror(numero)};
        }
        total += static_cast<std::size_t>(n);
    }
    return {};
}

Hecho ArchivoNuevo::publicar() {
    const std::string nombre = entreComillas(destino_);
    const auto fallar = [&](const char* que, int numero) {
        descartar();
        return Fallo{std::string(que) + nombre + ": " + std::strerror(numero)};
    };
    // The content is on the disk before the file has any name.
    if (sincronizar(fd_.valor) != 0) return fallar("no se pudo escribir completo ", errno);
    if (temporal_.empty()) {
        // A nameless file gets a hidden random name first (a link can only make a new name), and
        // is then renamed over the destination.
        const std::string propio = "/proc/self/fd/" + std::to_string(fd_.valor);
        for (int intento = 0;; ++intento) {
            const std::filesystem::path temporal = nombreTemporal(destino_);
            const SenalesBloqueadas bloqueo;
            int r = ::linkat(AT_FDCWD, propio.c_str(), AT_FDCWD, temporal.c_str(), AT_SYMLINK_FOLLOW);
            if (r != 0 && errno == ENOENT) {
                // No /proc: only a privileged process can link a descriptor by itself.
                r = ::linkat(fd_.valor, "", AT_FDCWD, temporal.c_str(), AT_EMPTY_PATH);
            }
            if (r == 0) {
                temporal_ = temporal;
                registro_ = registrarTemporal(temporal.c_str());
                break;
            }
            if (errno != EEXIST || intento >= 100) return fallar("no se puede crear ", errno);
        }
    }
    if (::close(fd_.soltar()) != 0) return fallar("no se pudo escribir completo ", errno);
    const SenalesBloqueadas bloqueo;
    if (::rename(temporal_.c_str(), destino_.c_str()) != 0) return fallar("no se puede crear ", errno);
    olvidarTemporal(registro_);
    registro_ = -1;
    temporal_.clear();
    // And the new name is on the disk before the write is reported done.
    if (const int numero = sincronizarCarpeta(carpetaDe(destino_)))
        return Fallo{"no se pudo asegurar en el disco " + nombre + ": " + std::strerror(numero)};
    return {};
}

Resultado<std::string> hexAlAzar(std::size_t cantidad) {
    std::vector<unsigned char> bytes(cantidad);
    if (!llenarAlAzar(bytes.data(), cantidad)) return Fallo{"el sistema no dio numeros al azar"};
    return enHexadecimal(std::string_view(reinterpret_cast<const char*>(bytes.data()), cantidad));
}

void fijarFuenteSufijos(FuenteSufijos fuente) { fuenteSufijos.store(fuente, std::memory_order_release); }

Hecho grabarArchivo(const std::filesystem::path& archivo, std::span<const std::uint8_t> bytes) {
    auto creado = ArchivoNuevo::crear(archivo);
    if (!creado) return creado.fallo();
    if (Hecho escrito = creado->escribir(bytes); !escrito.ok()) return escrito;
    return creado->publicar();
}
