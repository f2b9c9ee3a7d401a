#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>

// Exit statuses of a run.
inline constexpr int kSalidaExito = 0;
inline constexpr int kSalidaFallo = 1;

// One whole run: reads "imagenDocumento.bmp" from `carpeta`, writes the five stage images there,
// prints the running account to `salida` and the messages about bad input or unwritable files to
// `errores`, and calls `esperarTecla` once before it ends (not after a file that cannot be read).
// Returns the exit status: 0 when the whole job was done, 1 otherwise.
int ejecutarEscaner(const std::filesystem::path& carpeta, std::FILE* salida, std::FILE* errores,
                    const std::function<void()>& esperarTecla);
