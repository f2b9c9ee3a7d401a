#pragma once

// Resampling a page from the photograph through a map, at the photo's own scale: where the page is
// reduced from the photo each output pixel averages the photo area it covers; where it is enlarged
// it interpolates bilinearly.

#include "imagen/imagen_bmp.hpp"
#include "pagina/forma.hpp"

struct MapaDePagina {
    bool perspectiva = true;  // the homography; false: the bilinear map
    Homografia homografia;
    Bilineal bilineal{};
};

// The ancho x alto page whose pixel (column X, row Y) shows the photograph around the position the
// map sends (X, Y) to. The photo is averaged in boxes of 2, 4, 8 ... pixels (only over the part the
// page maps into), and each output pixel is interpolated bilinearly in the two levels whose blur
// brackets a box the size of its footprint (the larger side of the square it maps to), blended
// between them; a footprint under about 1.6 pixels is plain bilinear interpolation of the photo.
// The levels are chosen per run of 32 columns, the blend per pixel. Positions outside the
// photograph repeat its edge. The photograph must be at least 2 x 2.
ImagenBmp remuestrearPagina(const ImagenBmp& foto, const MapaDePagina& mapa, int ancho, int alto);

// The same page, handed to usar to be made as it reads it (see UsoDeImagen); the page is whole when
// this returns.
ImagenBmp remuestrearPagina(const ImagenBmp& foto, const MapaDePagina& mapa, int ancho, int alto,
                            const UsoDeImagen& usar);
