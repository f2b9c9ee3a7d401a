#pragma once

// The road of one photo through the command line: read and checked, its sheet found (by the robust
// detector or the fixed-threshold stages, which also give the account and the stage images when they
// are asked for), its page made at the sheet's shape, turned upright and its text read when asked,
// and written, or kept as a page of the PDF.
// Nothing is printed here: what the photo gave goes back to the batch, which reports it in order.

#include <optional>
#include <string>

#include "app/opciones.hpp"
#include "app/recorrido.hpp"
#include "formatos/formatos.hpp"
#include "geometria/cuadrilatero.hpp"
#include "sistema/fallo.hpp"

// What scanning one photo gave.
struct Escaneo {
    Hallazgo hallazgo = Hallazgo::error;   // hoja: the page was made, and written unless it is a
                                           // page of the PDF
    std::string mensaje;                   // why it was not scanned, one line naming the photo
    std::string advertencia;               // read all the same
    std::optional<Cuadrilatero> esquinas;  // the sheet's corners in the display frame (aPantalla)
    std::string cuenta;                    // the account, when asked for
    PaginaPdf pagina;                      // its page of the PDF
    int giro = 0;                          // with --orientar, the page's clockwise turn in degrees
    std::optional<std::string> texto;      // with --ocr, the page's text
};

// Scans the photo of `destino` as the options say; with `paginaPdf` its page is kept as a page of
// the PDF instead of being written. Memory that runs out fails this photo alone, with one line, and
// what it held is freed on the way out; so does any other exception a library lets through.
Escaneo escanearFoto(const Destino& destino, const Opciones& opciones, bool paginaPdf);

// With --ocr or --orientar, makes the calling thread's text engine now (each thread that scans
// photos makes its own once and keeps it for the photos after): a language whose data is missing
// fails it with the package to install, before any photo is worked.
Hecho prepararOcr(const Opciones& opciones);
