#pragma once

// PDF documents of pages, written a page at a time.

#include <cstddef>
#include <filesystem>
#include <memory>

#include "formatos/formatos.hpp"
#include "sistema/fallo.hpp"

// The page of `imagen` at anchoPulgadas x altoPulgadas, its picture encoded as `tipo` says (JPEGs
// at `calidad`). For g4 a pixel is black where its mean of the three planes is under 128 (the
// black-and-white pages, 0 or 255, keep every pixel).
Resultado<PaginaPdf> paginaPdf(const ImagenBmp& imagen, ImagenPdf tipo, int calidad, double anchoPulgadas,
                               double altoPulgadas);

// A PDF document written a page at a time, through cairo's PDF surface: each page goes to the file
// as it is added (its picture embedded as it is, JPEG or G4, never recompressed; its words as text
// under the picture, in DejaVu Sans embedded, so that they are found, selected and copied but never
// seen), and nothing of it is kept but what the document's end needs (a few bytes per page and the
// glyphs used). The file is an ArchivoNuevo: nothing stands under its name until `terminar`
// publishes it whole, and a writer destroyed unfinished, or one that failed, leaves nothing.
//
// Failures are one line naming the document; after one, the writer is spent: every later call
// gives the same failure.
class EscritorPdf {
public:
    static Resultado<EscritorPdf> abrir(const std::filesystem::path& destino);

    EscritorPdf(EscritorPdf&&) noexcept;
    EscritorPdf& operator=(EscritorPdf&&) noexcept;
    ~EscritorPdf();

    // Writes `pagina` as the next page. A page whose picture cannot be embedded (not a JPEG of the
    // kind it says, G4 data without sides), or whose sides lie outside 3 .. 14400 points, is refused
    // naming its number, and spends the writer.
    Hecho agregar(const PaginaPdf& pagina);
    // Ends the document and publishes it (at least one page).
    Hecho terminar();
    std::size_t paginas() const;

    struct Estado;

private:
    explicit EscritorPdf(std::unique_ptr<Estado> estado);
    std::unique_ptr<Estado> e_;
};
