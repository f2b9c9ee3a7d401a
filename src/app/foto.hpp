#pragma once

// The road of one photo through the command line: read and checked, its sheet found (by the robust
// detector or the fixed-threshold stages, which also give the account and the stage images when they
// are asked for), its page made at the sheet's shape and written, or kept as a page of the PDF.
// Nothing is printed here: what the photo gave goes back to the batch, which reports it in order.

#include <optional>
#include <string>

#include "app/opciones.hpp"
#include "app/recorrido.hpp"
#include "formatos/formatos.hpp"
#include "geometria/cuadrilatero.hpp"

// What scanning one photo gave.
struct Escaneo {
    Hallazgo hallazgo = Hallazgo::error;   // hoja: the page was made, and written unless it is a
                                           // page of the PDF
    std::string mensaje;                   // why it was not scanned, one line naming the photo
    std::string advertencia;               // read all the same
    std::optional<Cuadrilatero> esquinas;  // the sheet's corners in the display frame (aPantalla):
                                           // those the page was made from
    bool esquinasRechazadas = false;       // the corners given for it could not make a page
    std::string cuenta;                    // the account, when asked for
    PaginaPdf pagina;                      // its page of the PDF
};

// Scans the photo of `destino` as the options say; with `paginaPdf` its page is kept as a page of
// the PDF instead of being written. Its page is made from the corners given for it, when they are
// (checked against the photo first: corners that cannot make a page fail the photo, and nothing is
// written), else from the detector's, put in the display frame's order, to the hundredth of a
// pixel, and taken back from there: the corners the JSON line prints, given back, make the very
// same page. Memory that runs out fails this photo alone, with one line, and
// what it held is freed on the way out; so does any other exception a library lets through.
Escaneo escanearFoto(const Destino& destino, const Opciones& opciones, bool paginaPdf);
