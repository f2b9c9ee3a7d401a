#pragma once

#include <array>

#include "imagen/plano.hpp"

// A line x cos(orientacion) + y sin(orientacion) = distancia in the centred frame, angle in degrees.
struct Recta {
    double distancia = 0.0;
    double orientacion = 0.0;
};

inline constexpr int kMaxRectas = 20;
using ListaRectas = std::array<Recta, kMaxRectas>;

// True for the entry that ends a line list: both fields at most 0.
inline bool finDeLista(const Recta& recta) {
    return recta.distancia <= 0.0 && recta.orientacion <= 0.0;
}

// Finds the lines of the sheet's sides: after setting every cell below a quarter of the largest to
// 0.0 in place, the cells of rows 1 .. 357 strictly larger than their eight neighbours (angles wrap
// around, distances do not), in scan order. Peaks past the 19th overwrite slot 19. Unused entries
// hold (0, 0). `acumulador` must have 359 rows of 360 columns.
ListaRectas buscarRectas(PlanoReal& acumulador);
