#include "imagen/memoria.hpp"

#include <cstdint>
#include <mutex>
#include <vector>

#include <sys/mman.h>

namespace {

constexpr std::size_t kPaginaGrande = std::size_t{2} << 20;
constexpr std::size_t kPagina = std::size_t{4} << 10;

// Large pages only for blocks of at least two of them. Each large page the system has to find
// free may first have to be pieced together from small ones, which on a busy machine stalls the
// run for longer than the small pages' faults cost; a block under this size takes small pages,
// all faulted in at once.
constexpr std::size_t kPaginasGrandesDesde = 2 * kPaginaGrande;

// A block of large pages is rounded up to whole ones when that wastes at most an eighth of it;
// otherwise its stretch past the last large page takes small pages.
std::size_t redondeado(std::size_t bytes) {
    const std::size_t grandes = (bytes + kPaginaGrande - 1) / kPaginaGrande * kPaginaGrande;
    if (bytes >= kPaginasGrandesDesde && grandes - bytes <= bytes / 8) return grandes;
    return (bytes + kPagina - 1) / kPagina * kPagina;
}

// Blocks given back, kept for the next request of the same rounded size. A fresh page has to be
// cleared by the system on first touch, which costs more than anything done with it afterwards;
// the stages make and drop planes of a few sizes over and over, and a batch repeats them photo
// after photo. The oldest kept block goes back to the system when the kept ones would pass the cap.
//
// A block of small pages may also serve a smaller request, when none of that size is kept (the
// smallest such block that is large enough): the stages go on to planes a little smaller than
// those they dropped (the line votes after the edge planes, the page after both), and the pages
// already held serve them rather than new ones on top. Such a block is noted as lent, to be kept
// again at its own size.
struct Guardados {
    std::mutex cerrojo;
    std::vector<std::pair<void*, std::size_t>> bloques;    // oldest first
    std::vector<std::pair<void*, std::size_t>> prestados;  // handed out for smaller requests
    std::size_t total = 0;
};

Guardados& guardados() {
    static Guardados g;    // never destroyed before the planes of static lifetime
    return g;
}

void* nuevoBloque(std::size_t largo) {
    // Reserve one large page more than needed, keep the stretch that starts on a large-page
    // boundary, give back the rest.
    const std::size_t reservado = largo + kPaginaGrande;
    void* crudo = ::mmap(nullptr, reservado, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (crudo == MAP_FAILED) return nullptr;
    const auto inicio = reinterpret_cast<std::uintptr_t>(crudo);
    const std::uintptr_t alineado = (inicio + kPaginaGrande - 1) / kPaginaGrande * kPaginaGrande;
    if (alineado > inicio) ::munmap(crudo, alineado - inicio);
    const std::uintptr_t fin = inicio + reservado;
    if (fin > alineado + largo) ::munmap(reinterpret_cast<void*>(alineado + largo), fin - (alineado + largo));
    void* bloque = reinterpret_cast<void*>(alineado);
    // Both are hints: without them the block is still good, only slower to touch. A block of
    // small pages is faulted in at once; one of large pages takes a fault per large page where it
    // is first written, which spreads the clearing of its pages over the threads that fill it.
    if (largo >= kPaginasGrandesDesde) {
#ifdef MADV_HUGEPAGE
        ::madvise(bloque, largo, MADV_HUGEPAGE);
#endif
    } else {
#ifdef MADV_POPULATE_WRITE
        ::madvise(bloque, largo, MADV_POPULATE_WRITE);
#endif
    }
    return bloque;
}

}  // namespace

void* reservarBloqueGrande(std::size_t bytes) noexcept {
    const std::size_t largo = redondeado(bytes);
    {
        Guardados& g = guardados();
        const std::lock_guard<std::mutex> cierre(g.cerrojo);
        // The newest kept block of this size; else, for small pages, the smallest larger one.
        std::size_t elegido = g.bloques.size();
        for (std::size_t i = g.bloques.size(); i-- > 0;) {
            const std::size_t tamano = g.bloques[i].second;
            if (tamano == largo) {
                elegido = i;
                break;
            }
            if (largo < kPaginasGrandesDesde && tamano > largo && tamano < kPaginasGrandesDesde &&
                (elegido == g.bloques.size() || tamano < g.bloques[elegido].second)) {
                elegido = i;
            }
        }
        if (elegido < g.bloques.size()) {
            const auto [bloque, tamano] = g.bloques[elegido];
            bool sirve = tamano == largo;
            if (!sirve) {
                try {
                    g.prestados.emplace_back(bloque, tamano);
                    sirve = true;
                } catch (...) {
                    // No room to note it: a new block instead.
                }
            }
            if (sirve) {
                g.bloques.erase(g.bloques.begin() + static_cast<std::ptrdiff_t>(elegido));
                g.total -= tamano;
                return bloque;
            }
        }
    }
    return nuevoBloque(largo);
}

void liberarBloqueGrande(void* bloque, std::size_t bytes) noexcept {
    if (bloque == nullptr) return;
    std::size_t largo = redondeado(bytes);
    {
        Guardados& g = guardados();
        const std::lock_guard<std::mutex> cierre(g.cerrojo);
        for (std::size_t i = 0; i < g.prestados.size(); ++i) {
            if (g.prestados[i].first == bloque) {
                largo = g.prestados[i].second;
                g.prestados.erase(g.prestados.begin() + static_cast<std::ptrdiff_t>(i));
                break;
            }
        }
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
