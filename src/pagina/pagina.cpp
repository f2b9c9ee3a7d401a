#include "pagina/pagina.hpp"

#include <algorithm>
#include <cstdio>

#include "rectificacion/hoja.hpp"

std::optional<PaginaEnderezada> enderezarPagina(const ImagenBmp& foto, const std::array<Esquina, 4>& esquinas,
                                                const OpcionesPagina&) {
    std::array<Esquina, kMaxEsquinas> ranuras{};
    std::copy(esquinas.begin(), esquinas.end(), ranuras.begin());
    std::FILE* nada = std::fopen("/dev/null", "w");
    std::optional<ImagenBmp> hoja = rectificarHoja(foto, ranuras, nada);
    if (nada) std::fclose(nada);
    if (!hoja) return std::nullopt;
    return PaginaEnderezada{std::move(*hoja), 8.5, 11.0};
}

void mejorarPagina(ImagenBmp&, Mejora) {}
