#include "imagen/memoria.hpp"

#include <mutex>
#include <vector>

#include <sys/mman.h>

namespace {

constexpr std::size_t kPagina = std::size_t{4} << 10;

// Blocks under this size are faulted in at once when made; larger ones (a photo's planes) are
// faulted in where they are first written, which spreads the clearing of their pages over the
// threads that fill them. All take small pages: a large page has to be found whole among the free
// memory, and on a virtual machine that is often memory the host has taken back and must clear
// again, which after a pause of a few seconds cost a 12-megapixel photo about 50 ms more than
// small pages do (and in runs one after another, nothing less).
constexpr std::size_t kPoblarHasta = std::size_t{4} << 20;

std::size_t redondeado(std::size_t bytes) { return (bytes + kPagina - 1) / kPagina * kPagina; }

// Blocks given back, kept for the next request of the same rounded size. A fresh page has to be
// cleared by the system on first touch, which costs more than anything done with it afterwards;
// the stages make and drop planes of a few sizes over and over, and a batch repeats them photo
// after photo. The oldest kept block goes back to the system when the kept ones would pass the cap.
struct Guardados {
    std::mutex cerrojo;
    std::vector<std::pair<void*, std::size_t>> bloques;    // oldest first
    std::size_t total = 0;
};

Guardados& guardados() {
    static Guardados g;    // never destroyed before the planes of static lifetime
    return g;
}

void* nuevoBloque(std::size_t largo) {
    void* bloque = ::mmap(nullptr, largo, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (bloque == MAP_FAILED) return nullptr;
    // A hint: without it the block is still good, only slower to touch.
#ifdef MADV_POPULATE_WRITE
    if (largo < kPoblarHasta) ::madvise(bloque, largo, MADV_POPULATE_WRITE);
#endif
    return bloque;
}

}  // namespace

void* reservarBloqueGrande(std::size_t bytes) noexcept {
    const std::size_t largo = redondeado(bytes);
    {
        Guardados& g = guardados();
        const std::lock_guard<std::mutex> cierre(g.cerrojo);
        for (std::size_t i = g.bloques.size(); i-- > 0;) {
            if (g.bloques[i].second == largo) {
                void* bloque = g.bloques[i].first;
                g.bloques.erase(g.bloques.begin() + static_cast<std::ptrdiff_t>(i));
                g.total -= largo;
                return bloque;
            }
        }
    }
    return nuevoBloque(largo);
}

void liberarBloqueGrande(void* bloque, std::size_t bytes) noexcept {
    if (bloque == nullptr) return;
    const std::size_t largo = redondeado(bytes);
    {
        Guardados& g = guardados();
        const std::lock_guard<std::mutex> cierre(g.cerrojo);
        if (largo <= kGuardadoMaximo) {
            try {
                g.bloques.emplace_back(bloque, largo);
                g.total += largo;
                bloque = nullptr;
            } catch (...) {
                // No room to note it: it simply goes back to the system.
            }
        }
        std::size_t quitar = 0;
        while (g.total > kGuardadoMaximo && quitar < g.bloques.size()) {
            g.total -= g.bloques[quitar].second;
            ++quitar;
        }
        for (std::size_t i = 0; i < quitar; ++i) ::munmap(g.bloques[i].first, g.bloques[i].second);
        g.bloques.erase(g.bloques.begin(), g.bloques.begin() + static_cast<std::ptrdiff_t>(quitar));
    }
    if (bloque != nullptr) ::munmap(bloque, largo);
}

std::size_t bytesGuardados() noexcept {
    Guardados& g = guardados();
    const std::lock_guard<std::mutex> cierre(g.cerrojo);
    return g.total;
}
