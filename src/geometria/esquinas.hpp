#pragma once

#include <array>

#include "geometria/cuadrilatero.hpp"
#include "geometria/recta.hpp"

inline constexpr int kMaxEsquinas = 10;

struct ListaEsquinas {
    std::array<Esquina, kMaxEsquinas> esquinas{};
    int cuantas = 0;  // slots written, from slot 0
};

// Intersects every pair of lines (j < k, in order) and keeps the points strictly inside the working
// image, in the centred frame (-ancho/2 < x < ancho/2, -alto/2 < y < alto/2). Points past the tenth
// are dropped.
ListaEsquinas buscarEsquinas(const ListaRectas& rectas, int ancho, int alto);
