#pragma once

// The sheet's sides as the Hough stage finds them and the corner stage intersects them.

#include <array>

// A line x cos(orientacion) + y sin(orientacion) = distancia in the centred frame of the working
// image, the angle in degrees.
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
