#pragma once

// The batch: the photos of a plan worked several at once, each once the ones being worked leave
// memory for it, and reported in the order given, whatever the number of threads.

#include <cstddef>
#include <cstdio>
#include <functional>
#include <vector>

#include "app/foto.hpp"
#include "app/opciones.hpp"

// Called once per photo, in the order given, as soon as that photo and every one before it are
// done; with the batch's lock held, and with the progress line cleared.
using Informe = std::function<void(std::size_t indice, Escaneo& escaneo)>;

// Scans every photo of `plan` (escanearFoto), at most as many at once as -j and the cores allow;
// with fewer photos than threads, a photo uses the threads to spare for its two halves. On a
// terminal, and with more than one photo, a progress line on `progreso` tells how many are done and
// how long the rest will take. Returns what each photo gave, in the order given.
std::vector<Escaneo> trabajarLote(const Plan& plan, const Opciones& opciones, std::FILE* progreso,
                                  const Informe& informar);
