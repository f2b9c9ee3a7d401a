#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A rectangle of values stored row after row; row 0 is the first row of the file.
template <class T>
struct Plano {
    int ancho = 0;         // columns
    int alto = 0;          // rows
    std::vector<T> datos;  // alto * ancho values

    Plano() = default;
    Plano(int columnas, int filas, T valor = T{})
        : ancho(columnas), alto(filas),
          datos(static_cast<std::size_t>(columnas) * static_cast<std::size_t>(filas), valor) {}

    T* operator[](int fila) { return datos.data() + static_cast<std::size_t>(fila) * ancho; }
    const T* operator[](int fila) const {
        return datos.data() + static_cast<std::size_t>(fila) * ancho;
    }
};

using PlanoReal = Plano<double>;
using PlanoBytes = Plano<std::uint8_t>;
using MapaBordes = Plano<std::uint8_t>;       // 255 edge, 0 not
using MapaOrientacion = Plano<std::int32_t>;  // whole degrees, -180 .. 180
