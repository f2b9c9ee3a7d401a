#include "filtros/bordes.hpp"

#include <cmath>
#include <cstdint>

#include "filtros/convolucion.hpp"
#include "imagen/paralelo.hpp"

namespace {

Nucleo nucleo3x3(const double (&valores)[3][3]) {
    Nucleo n(3, 3);
    for (int k = 0; k < 3; ++k)
        for (int l = 0; l < 3; ++l) n[k][l] = valores[k][l];
    return n;
}

constexpr double kSobelHorizontal[3][3] = {{-1, 0, 1}, {-2, 0, 2}, {-1, 0, 1}};
constexpr double kSobelVertical[3][3] = {{-1, -2, -1}, {0, 0, 0}, {1, 2, 1}};
constexpr double kUmbralGradiente = 80.0;
// Images of at least this many pixels have their angles worked in two halves at once.
constexpr std::int64_t kPixelesEnDosMitades = 128 * 1024;

// The gray plane: each plane's bytes weighed by 0.299, 0.587 and 0.114, added in this order.
PlanoReal planoGris(const ImagenBmp& imagen) {
    const int ancho = imagen.ancho();
    const int alto = imagen.alto();
    PlanoReal gris = PlanoReal::sinIniciar(ancho, alto);
    for (int r = 0; r < alto; ++r) {
        const std::uint8_t* p0 = imagen.plano0[r];
        const std::uint8_t* p1 = imagen.plano1[r];
        const std::uint8_t* p2 = imagen.plano2[r];
        double* g = gris[r];
        for (int c = 0; c < ancho; ++c) g[c] = (0.587 * p1[c] + 0.299 * p0[c]) + 0.114 * p2[c];
    }
    return gris;
}

}  // namespace

Bordes detectarBordes(const ImagenBmp& imagen, Orientaciones cuales) {
    const int ancho = imagen.ancho();
    const int alto = imagen.alto();

    // Each plane is released as soon as the next one is made from it; both gradients are taken
    // from one bordered copy of the smoothed plane.
    PlanoReal gx;
    PlanoReal gy;
    {
        const PlanoReal copia = bordeado(convolucionar(planoGris(imagen), nucleoGaussiano(3.0, 15)), 1);
        gx = convolucionarBordeado(copia, nucleo3x3(kSobelHorizontal));
        gy = convolucionarBordeado(copia, nucleo3x3(kSobelVertical));
    }

    Bordes b{MapaBordes(ancho, alto, 0), MapaOrientacion(ancho, alto, 0)};
    const bool todas = cuales == Orientaciones::todas;
    const auto filas = [&](int desde, int hasta) {
        for (int r = desde; r < hasta; ++r) {
            const double* fx = gx[r];
            const double* fy = gy[r];
            std::uint8_t* mapa = b.mapa[r];
            std::int32_t* orientacion = b.orientacion[r];
            for (int c = 0; c < ancho; ++c) {
                const bool borde = std::sqrt(fx[c] * fx[c] + fy[c] * fy[c]) > kUmbralGradiente;
                if (borde) mapa[c] = 255;
                // The shift by 180 makes the truncation round down in degrees.
                if (borde || todas) {
                    orientacion[c] = static_cast<std::int32_t>(
                                         std::atan2(fy[c], fx[c]) * 180.0 / 3.1415926535 + 180.0) -
                                     180;
                }
            }
        }
    };
    // A large image's angles are worked in two halves at once.
    enDosMitadesSiVale(static_cast<std::int64_t>(ancho) * alto >= kPixelesEnDosMitades, alto, filas);

    // Keep only edges whose brighter side faces the centre pixel.
    const int cx = ancho / 2;
    const int cy = alto / 2;
    for (int r = 0; r < alto; ++r) {
        const double* fx = gx[r];
        const double* fy = gy[r];
        std::uint8_t* mapa = b.mapa[r];
        for (int c = 0; c < ancho; ++c) {
            if (static_cast<double>(cx - c) * fx[c] + static_cast<double>(cy - r) * fy[c] < 0.0) {
                mapa[c] = 0;
            }
        }
    }
    return b;
}
