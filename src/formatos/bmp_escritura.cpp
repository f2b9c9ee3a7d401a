#include <algorithm>

#include "formatos/formatos.hpp"
#include "formatos/interno.hpp"

using formatos::falloCodificado;
using formatos::intercalar;
using formatos::revisar;

ArchivoCodificado codificarBmp(const ImagenBmp& imagen) {
    if (auto error = revisar(imagen, "BMP")) return falloCodificado(*error);
    const std::size_t porFila = bmp::bytesPorFila(imagen.ancho());
    ArchivoCodificado r;
    r.bytes.resize(kTamanoHeader + porFila * static_cast<std::size_t>(imagen.alto()));
    std::copy(imagen.header.begin(), imagen.header.end(), r.bytes.begin());
    intercalar(imagen, r.bytes.data() + kTamanoHeader, porFila);
    return r;
}
