#include "imagen/giro.hpp"

#include <algorithm>

#include "sistema/comprobar.hpp"

PlanoBytes girarPlano(const PlanoBytes& p, int grados) {
    COMPROBAR(grados == 0 || grados == 90 || grados == 180 || grados == 270);
    const int ancho = p.ancho, alto = p.alto;
    if (grados == 0) return p;
    if (grados == 180) {
        PlanoBytes g = PlanoBytes::sinIniciar(ancho, alto);
        for (int f = 0; f < alto; ++f) std::reverse_copy(p[f], p[f] + ancho, g[alto - 1 - f]);
        return g;
    }
    // A clockwise quarter turn sends the picture's left column, read upward, to its top row: with
    // rows bottom-up, row f of the turned plane is column ancho-1-f of the original, its rows in
    // order. The quarter turn the other way reads column f from the top row down.
    PlanoBytes g = PlanoBytes::sinIniciar(alto, ancho);
    for (int f = 0; f < ancho; ++f) {
        std::uint8_t* fila = g[f];
        if (grados == 90) {
            const int columna = ancho - 1 - f;
            for (int c = 0; c < alto; ++c) fila[c] = p[c][columna];
        } else {
            const int columna = f;
            for (int c = 0; c < alto; ++c) fila[c] = p[alto - 1 - c][columna];
        }
    }
    return g;
}

ImagenBmp girarImagen(const ImagenBmp& imagen, int grados) {
    ImagenBmp g;
    g.plano0 = girarPlano(imagen.plano0, grados);
    g.plano1 = girarPlano(imagen.plano1, grados);
    g.plano2 = girarPlano(imagen.plano2, grados);
    g.header = headerNuevo(g.plano0.ancho, g.plano0.alto);
    return g;
}
