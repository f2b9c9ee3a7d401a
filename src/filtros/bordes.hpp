#pragma once

#include "imagen/imagen_bmp.hpp"

struct Bordes {
    MapaBordes mapa;               // 255 where the gradient exceeds 80 and faces the centre, else 0
    MapaOrientacion orientacion;   // gradient direction in whole degrees (-180 .. 180)
};

// Which pixels get their gradient direction: every one, or only those whose gradient passes the
// threshold (the others 0). The lines are found from the edge pixels' directions alone, so both
// find the same lines; the second spares the arc tangent of every flat pixel.
enum class Orientaciones { todas, deBordes };

// Edge detection on the working image: gray plane, 15 x 15 Gaussian (sigma 3), Sobel gradients,
// threshold 80 on the magnitude, then every edge pixel whose gradient points away from the centre
// pixel (ancho / 2, alto / 2) is dropped. Angles go from increasing column toward increasing row.
Bordes detectarBordes(const ImagenBmp& imagen, Orientaciones cuales = Orientaciones::todas);
