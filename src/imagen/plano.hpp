#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "imagen/memoria.hpp"

// A rectangle of values stored row after row; row 0 is the first row of the file.
template <class T>
struct Plano {
    int ancho = 0;                         // columns
    int alto = 0;                          // rows
    std::vector<T, Asignador<T>> datos;    // alto * ancho values

    Plano() = default;
    // Every value set to `valor`.
    Plano(int columnas, int filas, T valor = T{})
        : ancho(columnas), alto(filas), datos(cantidad(columnas, filas), valor) {}

    // Values left unset, for a plane its maker fills completely.
    static Plano sinIniciar(int columnas, int filas) {
        Plano p;
        p.ancho = columnas;
        p.alto = filas;
        p.datos.resize(cantidad(columnas, filas));
        return p;
    }

    T* operator[](int fila) { return datos.data() + static_cast<std::size_t>(fila) * ancho; }
    const T* operator[](int fila) const {
        return datos.data() + static_cast<std::size_t>(fila) * ancho;
    }

private:
    static std::size_t cantidad(int columnas, int filas) {
        return static_cast<std::size_t>(columnas) * static_cast<std::size_t>(filas);
    }
};

using PlanoReal = Plano<double>;
using PlanoBytes = Plano<std::uint8_t>;
using MapaBordes = Plano<std::uint8_t>;       // 255 edge, 0 not
using MapaOrientacion = Plano<std::int32_t>;  // whole degrees, -180 .. 180
