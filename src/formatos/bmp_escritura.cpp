#include <algorithm>

#include "formatos/formatos.hpp"
#include "formatos/interno.hpp"

using formatos::revisar;

ArchivoCodificado codificarBmp(const ImagenBmp& imagen) {
    if (Hecho bien = revisar(imagen, "BMP"); !bien.ok()) return bien.fallo();
    return codificarPlanosBmp(imagen.header, imagen.plano0, imagen.plano1, imagen.plano2);
}
