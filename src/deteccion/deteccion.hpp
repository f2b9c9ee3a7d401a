#pragma once

// The robust sheet detector: finds the sheet where fixed thresholds cannot (pale desks, low
// contrast, any rotation, corners outside the photo), and says so when no sheet is convincing.

#include <array>
#include <string>

#include "geometria/esquinas.hpp"
#include "imagen/imagen_bmp.hpp"

struct HojaDetectada {
    bool encontrada = false;
    // Photograph pixels: x the column, y the row in file order (row 0 is the bottom row of the
    // picture as a viewer shows it), pixel centres at whole numbers; corners may lie outside the
    // photo. Slots in the order the rectification maps them: 0 bottom-left, 1 bottom-right,
    // 2 top-right, 3 top-left of the sheet as the photo shows it.
    std::array<Esquina, 4> esquinas{};
    std::string motivo;  // when not found: why, in one line (Spanish)
};

// Looks for the sheet in `foto` (a photo as leerFoto gives it). For now, the fixed-threshold stages.
HojaDetectada detectarHojaRobusta(const ImagenBmp& foto);
