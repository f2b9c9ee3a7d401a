#include <algorithm>
#include <memory>
#include <string>

#include <turbojpeg.h>

#include "formatos/formatos.hpp"
#include "formatos/interno.hpp"

using formatos::falloCodificado;
using formatos::intercalar;
using formatos::Pixeles;
using formatos::revisar;

namespace {

struct BorrarTurbo {
    void operator()(void* h) const { tjDestroy(h); }
};

// A JPEG of the picture at `calidad`, its chroma as `submuestreo` says (TJSAMP_GRAY: luma alone).
ArchivoCodificado codificar(const ImagenBmp& imagen, int calidad, int submuestreo) {
    if (auto error = revisar(imagen, "JPEG")) return falloCodificado(*error);
    if (calidad < 1 || calidad > 100) {
        return falloCodificado("no se puede hacer un JPEG de calidad " + std::to_string(calidad) +
                     ": la calidad va de 1 a 100");
    }
    const int ancho = imagen.ancho();
    const int alto = imagen.alto();
    const std::size_t porFila = 3 * static_cast<std::size_t>(ancho);
    Pixeles bgr;
    bgr.resize(porFila * static_cast<std::size_t>(alto));
    intercalar(imagen, bgr.data(), porFila);

    std::unique_ptr<void, BorrarTurbo> tj(tjInitCompress());
    if (!tj) return falloCodificado("no se puede hacer un JPEG: no hay memoria para el codificador");
    unsigned char* jpeg = nullptr;
    unsigned long tamano = 0;
    // Rows go bottom-up, as the planes keep them.
    const int estado = tjCompress2(tj.get(), bgr.data(), ancho, static_cast<int>(porFila), alto, TJPF_BGR, &jpeg,
                                   &tamano, submuestreo, calidad, TJFLAG_BOTTOMUP | TJFLAG_ACCURATEDCT);
    if (estado != 0 || jpeg == nullptr) {
        std::string motivo = tjGetErrorStr2(tj.get());
        std::replace(motivo.begin(), motivo.end(), '\n', ' ');
        tjFree(jpeg);
        return falloCodificado("no se puede hacer un JPEG: " + motivo);
    }
    ArchivoCodificado r;
    r.bytes.assign(jpeg, jpeg + tamano);
    tjFree(jpeg);
    return r;
}

}  // namespace

ArchivoCodificado codificarJpeg(const ImagenBmp& imagen, int calidad) {
    return codificar(imagen, calidad, calidad >= 95 ? TJSAMP_444 : TJSAMP_420);
}

ArchivoCodificado codificarJpegGris(const ImagenBmp& imagen, int calidad) {
    return codificar(imagen, calidad, TJSAMP_GRAY);
}
