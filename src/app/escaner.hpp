#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>

// Exit statuses of a run.
inline constexpr int kSalidaExito = 0;
inline constexpr int kSalidaFallo = 1;

// One whole run: reads "imagenDocumento.bmp" from `carpeta`, writes the five stage images there,
// prints the running account to `salida` and the messages about bad input or unwritable files to
// `errores`. A run that gets through its stages, with or without the sheet's corners, ends with the
// closing prompt and one call of `esperarTecla`; a photo that cannot be read or an output that
// cannot be written ends the run at once, without them. Returns the exit status: 0 when the whole
// job was done, 1 otherwise.
int ejecutarEscaner(const std::filesystem::path& carpeta, std::FILE* salida, std::FILE* errores,
                    const std::function<void()>& esperarTecla);
