#include "app/turnos.hpp"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>

#include <sys/resource.h>
#include <unistd.h>

#include "imagen/memoria.hpp"
#include "ocr/ocr.hpp"

namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

// What the stages hold beside the photo's planes, at most, as a share of them (the working image,
// its edges and votes, the reduction's levels are small beside a large photo; a small one is
// covered by the fixed part).
constexpr double kEtapasPorPlanos = 0.25;
constexpr std::uint64_t kFijoPorFoto = 32 * kMiB;
// What reading a page's text or orientation holds beside it: the sheet at 300 pixels per inch in
// colour, then in gray, and the engine's pictures and layout of it, about 12 bytes per pixel of that
// sheet (measured: a letter page took 84 MiB more to orient and 116 MiB more to read in Spanish);
// and what the engine keeps between pages.
constexpr double kBytesTextoPorPixel = 12.0;
constexpr std::uint64_t kFijoTexto = 48 * kMiB;

// Address space a thread takes beside the photo: its stack and the malloc arena it may get
// (64 MiB reserved), for a batch's thread and the one its photo may use for two halves at once.
constexpr std::uint64_t kEspacioPorHilo = 2 * (8 + 64) * kMiB;

constexpr std::uint64_t kSinLimite = std::numeric_limits<std::uint64_t>::max();

// A "Name:   1234 kB" line of /proc/meminfo, in bytes.
std::uint64_t campoMeminfo(const char* nombre) {
    std::ifstream f("/proc/meminfo");
    std::string campo;
    std::uint64_t valor = 0;
    std::string unidad;
    while (f >> campo >> valor >> unidad) {
        if (campo == nombre) return valor * 1024;
    }
    return kSinLimite;
}

// What the process's control group (cgroup v2) still allows.
std::uint64_t restoDelGrupo() {
    std::ifstream grupos("/proc/self/cgroup");
    std::string linea;
    while (std::getline(grupos, linea)) {
        if (!linea.starts_with("0::")) continue;
        const std::string carpeta = "/sys/fs/cgroup" + linea.substr(3);
        std::ifstream maximo(carpeta + "/memory.max"), actual(carpeta + "/memory.current");
        std::uint64_t tope = 0, usado = 0;
        if (!(maximo >> tope) || !(actual >> usado)) return kSinLimite;  // "max", or none
        return tope > usado ? tope - usado : 0;
    }
    return kSinLimite;
}

// What the address-space limit leaves to the process.
std::uint64_t restoDelEspacio() {
    rlimit limite{};
    if (::getrlimit(RLIMIT_AS, &limite) != 0 || limite.rlim_cur == RLIM_INFINITY) return kSinLimite;
    std::ifstream statm("/proc/self/statm");
    std::uint64_t paginas = 0;
    if (!(statm >> paginas)) return kSinLimite;
    const std::uint64_t usado = paginas * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    return limite.rlim_cur > usado ? limite.rlim_cur - usado : 0;
}

std::uint64_t menos(std::uint64_t a, std::uint64_t b) { return a == kSinLimite ? a : (a > b ? a - b : 0); }

}  // namespace

std::uint64_t memoriaDeFoto(const MedidaFoto& medida, const OpcionesPagina& pagina, bool texto) {
    const double planos = 3.0 * static_cast<double>(medida.ancho) * static_cast<double>(medida.alto);
    // The page at most legal paper (the longest), as the page's pixels and its encoded file.
    const double ppp = pagina.ppp > 0 ? pagina.ppp : kPppCarta;
    const double hoja = 2.0 * 3.0 * (8.5 * ppp) * (14.0 * ppp);
    const double hojaTexto = texto ? kBytesTextoPorPixel * (8.5 * kPppOcr) * (14.0 * kPppOcr) : 0.0;
    return static_cast<std::uint64_t>(planos * (1.0 + kEtapasPorPlanos) + hoja + hojaTexto) +
           medida.bytesDecodificador + kFijoPorFoto + (texto ? kFijoTexto : 0);
}

std::uint64_t memoriaDisponible(int hilos) {
    std::uint64_t disponible = std::min(campoMeminfo("MemAvailable:"), restoDelGrupo());
    disponible = std::min(disponible, menos(restoDelEspacio(), kEspacioPorHilo * static_cast<std::uint64_t>(hilos)));
    return menos(disponible, kGuardadoMaximo);
}

void TurnosDeMemoria::entrar(std::size_t i, std::uint64_t bytes) {
    std::unique_lock<std::mutex> l(cerrojo_);
    cambio_.wait(l, [&] {
        return turno_ == i && (dentro_ == 0 || (enUso_ <= disponible_ && bytes <= disponible_ - enUso_));
    });
    ++turno_;
    ++dentro_;
    enUso_ += bytes;
    cambio_.notify_all();
}

void TurnosDeMemoria::salir(std::uint64_t bytes) {
    {
        const std::lock_guard<std::mutex> l(cerrojo_);
        --dentro_;
        enUso_ -= bytes;
    }
    cambio_.notify_all();
}
