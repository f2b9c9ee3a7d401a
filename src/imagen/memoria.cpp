#include "imagen/memoria.hpp"

#include <cstdint>

#include <sys/mman.h>

namespace {

constexpr std::size_t kPaginaGrande = std::size_t{2} << 20;
constexpr std::size_t kPagina = std::size_t{4} << 10;

// A block is rounded up to whole large pages when it fits in one or when that wastes at most an
// eighth of it; otherwise its stretch past the last large page takes small pages.
std::size_t redondeado(std::size_t bytes) {
    const std::size_t grandes = (bytes + kPaginaGrande - 1) / kPaginaGrande * kPaginaGrande;
    if (grandes == kPaginaGrande || grandes - bytes <= bytes / 8) return grandes;
    return (bytes + kPagina - 1) / kPagina * kPagina;
}

}  // namespace

void* reservarBloqueGrande(std::size_t bytes) noexcept {
    // Reserve one large page more than needed, keep the stretch that starts on a large-page
    // boundary, give back the rest.
    const std::size_t largo = redondeado(bytes);
    const std::size_t reservado = largo + kPaginaGrande;
    void* crudo = ::mmap(nullptr, reservado, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (crudo == MAP_FAILED) return nullptr;
    const auto inicio = reinterpret_cast<std::uintptr_t>(crudo);
    const std::uintptr_t alineado = (inicio + kPaginaGrande - 1) / kPaginaGrande * kPaginaGrande;
    if (alineado > inicio) ::munmap(crudo, alineado - inicio);
    const std::uintptr_t fin = inicio + reservado;
    if (fin > alineado + largo) ::munmap(reinterpret_cast<void*>(alineado + largo), fin - (alineado + largo));
    void* bloque = reinterpret_cast<void*>(alineado);
    // Both are hints: without them the block is still good, only slower to touch.
#ifdef MADV_HUGEPAGE
    ::madvise(bloque, largo, MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
    ::madvise(bloque, largo, MADV_POPULATE_WRITE);
#endif
    return bloque;
}

void liberarBloqueGrande(void* bloque, std::size_t bytes) noexcept {
    ::munmap(bloque, redondeado(bytes));
}
