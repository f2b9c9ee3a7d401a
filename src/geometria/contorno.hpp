#pragma once

#include "geometria/esquinas.hpp"
#include "imagen/imagen_bmp.hpp"

// Puts slots 0 .. 3 in quadrant order (0: x<0,y<0; 1: x>0,y<0; 2: x>0,y>0; 3: x<0,y>0; centred
// frame). Four corners in four different quadrants always end in that order; otherwise one pass of
// exchanges over the slots, each corner sent to its quadrant's slot, as far as it gets.
void ordenarEsquinas(std::array<Esquina, kMaxEsquinas>& esquinas);

// Sets the pixels of the segment from (x1, y1) to (x2, y2) (column, row) to 255 in `plano1`. Draws
// nothing and returns false when an endpoint lies outside the image.
bool trazarSegmento(ImagenBmp& imagen, int x1, int y1, int x2, int y2);

// Orders slots 0 .. 3 (ordenarEsquinas), turns them into pixel coordinates of the working image
// (the centred frame moved by half the image's width and height, rounded down) and draws the
// quadrilateral 0-1-2-3 into the image's `plano1`. Returns the four ordered corners as they were in
// the centred frame.
std::array<Esquina, 4> dibujarBordesHoja(std::array<Esquina, kMaxEsquinas>& esquinas, ImagenBmp& imagen);
