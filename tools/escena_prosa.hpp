#pragma once

// Pages of known text: Spanish prose typeset with a real font, for measuring what a reader of the
// page (an OCR engine) gets back from its photo.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "escena_interno.hpp"

namespace escena::interno {

// The headings and paragraphs the pages are set from.
const std::vector<std::string>& titulosDeProsa();
const std::vector<std::string>& parrafosDeProsa();

struct PaginaDeProsa {
    Pagina pagina;      // kTexelesProsa texels per inch; its size even when not drawn
    std::string texto;  // what was set, as it was set (see textoDeLaPagina)
};

// A page of anchoPapel x altoPapel inches set in DejaVu Serif at `puntos` points: a heading picked by
// the seed, the paragraphs in an order picked by the seed until the page is full (the last one cut
// at a line), and the page number at the foot. With dibujar = false only the text is set (the page
// is left empty). Nothing when a font file cannot be read.
std::optional<PaginaDeProsa> componerProsa(std::uint64_t semilla, double anchoPapel, double altoPapel, double puntos,
                                           bool dibujar);

// The page a scene's sheet shows: prose when the scene asks for it, the drawn words otherwise;
// nothing when a font cannot be read.
std::optional<Pagina> paginaDeEscena(const Escena& escena);

}  // namespace escena::interno
