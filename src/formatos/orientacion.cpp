#include <algorithm>
#include <memory>
#include <vector>

#include <libexif/exif-data.h>

#include "formatos/interno.hpp"

namespace formatos {

namespace {

struct BorrarExif {
    void operator()(ExifData* d) const { exif_data_unref(d); }
};

}  // namespace

// The orientation and the 35 mm focal length of an EXIF block: `datos` is either a whole JPEG file
// (libexif finds its APP1 segment) or "Exif\0\0" followed by the TIFF structure.
DatosExif leerExif(const std::uint8_t* datos, std::size_t cantidad) {
    DatosExif r;
    std::unique_ptr<ExifData, BorrarExif> exif(exif_data_new());
    if (!exif || cantidad > 0xFFFFFFFFu) return r;
    // Read the tags as they are: no mandatory entries added, nothing "fixed".
    exif_data_unset_option(exif.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_load_data(exif.get(), datos, static_cast<unsigned int>(cantidad));
    const ExifByteOrder orden = exif_data_get_byte_order(exif.get());
    const auto corto = [&](ExifIfd ifd, ExifTag etiqueta) -> std::optional<int> {
        ExifEntry* e = exif_content_get_entry(exif->ifd[ifd], etiqueta);
        if (e == nullptr || e->format != EXIF_FORMAT_SHORT || e->components < 1 || e->data == nullptr ||
            e->size < 2) {
            return std::nullopt;
        }
        return exif_get_short(e->data, orden);
    };
    if (const auto o = corto(EXIF_IFD_0, EXIF_TAG_ORIENTATION); o && *o >= 1 && *o <= 8) r.orientacion = *o;
    if (const auto f = corto(EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH_IN_35MM_FILM); f && *f > 0) {
        r.focal35mm = *f;
    }
    return r;
}

ImagenBmp orientada(const ImagenBmp& derecha, int orientacion) {
    const int ancho = derecha.ancho(), alto = derecha.alto();
    PlanosOrientados<3, 0, 1, 2> planos(ancho, alto, orientacion);
    const std::size_t porFila = static_cast<std::size_t>(ancho) * 3;
    std::vector<std::uint8_t> banda(porFila * kFilasPorBanda);
    for (int y = 0; y < alto; y += kFilasPorBanda) {
        const int filas = std::min(kFilasPorBanda, alto - y);
        for (int j = 0; j < filas; ++j) {
            const int fila = alto - 1 - (y + j);
            std::uint8_t* p = banda.data() + static_cast<std::size_t>(j) * porFila;
            for (int x = 0; x < ancho; ++x, p += 3) {
                p[0] = derecha.plano0[fila][x];
                p[1] = derecha.plano1[fila][x];
                p[2] = derecha.plano2[fila][x];
            }
        }
        planos.banda(banda.data(), porFila, y, filas);
    }
    return planos.tomar();
}

}  // namespace formatos
