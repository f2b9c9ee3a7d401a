#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "app/opciones.hpp"

// Exit status of a command line whose arguments are not good (usage error).
inline constexpr int kSalidaUso = 2;

// The command-line scanner, `escaner [OPCIONES] FOTO...` (see opciones.hpp and --help): every
// photo is read, its sheet found and resampled over the same stages as the run without arguments,
// and the result written as PNG, JPEG, BMP or a page of one PDF, several photos at once. Results,
// the account and the JSON lines go out in the order the photos were given, whatever the number of
// threads. Each photo that cannot be scanned gets one line on `errores` naming it, and the others
// are scanned all the same. No key is waited for. Returns 0 when every photo was scanned, 1 when
// some was not, 2 for a usage error (one line and a hint to --help).
int ejecutarComandos(int argc, const char* const* argv, std::FILE* salida, std::FILE* errores);

// The run of a good plan: the batch, its reports in order, the PDF; the exit status as above. Each
// line told on `errores` (without the "escaner: " in front) also goes to `mensajes` when given.
int escanearPlan(const Plan& plan, const Opciones& opciones, std::FILE* salida, std::FILE* errores,
                 std::vector<std::string>* mensajes = nullptr);
