#pragma once

// Corners given for a batch: a corners file, JSON lines in the format --json writes (and
// --guardar-esquinas saves), read back so that a reviewed batch can be made again.

#include <cstdint>
#include <filesystem>
#include <vector>

#include "app/opciones.hpp"
#include "sistema/fallo.hpp"

// The largest corners file read: some hundred thousand photos' lines.
inline constexpr std::uint64_t kBytesMaximosEsquinas = std::uint64_t{64} << 20;

// Gives each of `destinos` the corners its line in `archivo` holds. Each line is one JSON object;
// of it only "foto" (or "foto_bytes", the hex of the name's bytes, when present) and "esquinas"
// are read: four [x, y] pairs in the display frame, or null. A line matches the photo whose name
// as given on the command line is its "foto"; lines for other photos are passed over, and a photo
// without a line, or whose line has null, keeps its detector. Corners that are not four pairs of
// numbers fail that photo alone (Destino::esquinasMalas); they are checked against the photo when
// it is read. The failure, one line naming the file and the line: a file that cannot be read or is
// larger than kBytesMaximosEsquinas, a line that is not a JSON object, a line without "foto" or
// "esquinas", a photo named on two lines. Else how many lines the file has and how many of the
// photos given it named.
struct EsquinasAsignadas {
    std::size_t lineas = 0;  // lines with an object
    std::size_t fotos = 0;   // photos of `destinos` named on one
};
Resultado<EsquinasAsignadas> asignarEsquinasDe(const std::filesystem::path& archivo, std::vector<Destino>& destinos);
