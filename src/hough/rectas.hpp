#pragma once

#include "geometria/recta.hpp"
#include "imagen/plano.hpp"

// Finds the lines of the sheet's sides: after setting every cell below a quarter of the largest to
// 0.0 in place, the cells of rows 1 .. 357 strictly larger than their eight neighbours (angles wrap
// around, distances do not), in scan order. Peaks past the 19th overwrite slot 19. Unused entries
// hold (0, 0). `acumulador` must have 359 rows of 360 columns.
ListaRectas buscarRectas(PlanoReal& acumulador);
