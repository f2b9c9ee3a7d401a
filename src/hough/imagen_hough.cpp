#include "hough/imagen_hough.hpp"

#include "hough/acumulador.hpp"
#include "sistema/comprobar.hpp"

ImagenBmp imagenEspacioHough(const PlanoReal& acumulador) {
    COMPROBAR_IGUAL(acumulador.alto, kFilasHough);
    COMPROBAR_IGUAL(acumulador.ancho, kColumnasHough);
    double maximo = 0.0;
    for (int r = 0; r < kFilasHough; ++r)
        for (int c = 0; c < kColumnasHough; ++c)
            if (acumulador[r][c] > maximo) maximo = acumulador[r][c];

    PlanoBytes gris(kColumnasHough, kFilasHough, 0);
    if (maximo > 0.0) {
        const double q = 250.0 / maximo;
        for (int r = 0; r < kFilasHough; ++r)
            for (int c = 0; c < kColumnasHough; ++c)
                gris[r][c] = static_cast<std::uint8_t>(acumulador[r][c] * q);
    }
    return armarImagenHough(gris);
}

ImagenBmp armarImagenHough(const PlanoBytes& gris) {
    COMPROBAR_IGUAL(gris.alto, kFilasHough);
    COMPROBAR_IGUAL(gris.ancho, kColumnasHough);
    ImagenBmp imagen;
    imagen.header = headerNuevo(kColumnasHough, kFilasHough);
    imagen.plano0 = gris;
    imagen.plano1 = gris;
    imagen.plano2 = gris;
    return imagen;
}
