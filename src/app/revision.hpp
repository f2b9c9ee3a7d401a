#pragma once

// The command line with --revisar: the review page (revision/servidor.hpp) over the photos of a
// plan. Each photo is read, scaled for the screen and its sheet found in the background, in the
// order given, the first one first; "Guardar" runs the plan as the command line would, with the
// corners shown on the page; closing the page ends the run with nothing written.

#include <cstdio>

#include "app/opciones.hpp"
#include "imagen/imagen_bmp.hpp"

// The long side of a photo as the page shows it, and of the preview of its page.
inline constexpr int kLadoPantalla = 1600;
inline constexpr int kLadoVista = 480;

// The first line on `salida` is the address to open. Returns the exit status: the run's after
// "Guardar"; 1 when the page was closed without saving (one line on `errores` says so) or the
// server could not start.
int ejecutarRevision(const Plan& plan, const Opciones& opciones, std::FILE* salida, std::FILE* errores);

// The photo scaled down so that its longer side is at most `lado` (resampled as a page is, each
// pixel the average of the area it covers); a copy when it is no longer.
ImagenBmp aEscala(const ImagenBmp& foto, int lado);
