#pragma once

// Small photo files made with the libraries the reader uses, for the tests and the fuzzer's seeds:
// a JPEG of RGB rows (libjpeg-turbo), an EXIF block (libexif) and a JPEG carrying it, a PNG of raw
// rows with a palette, transparency and EXIF when given (libspng). A library's failure is thrown as
// std::runtime_error with its reason.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <libexif/exif-data.h>
#include <spng.h>
#include <turbojpeg.h>

namespace constructores {

using Bytes = std::vector<std::uint8_t>;

// A JPEG of `rgb` (ancho x alto RGB triples, rows from the top down) as a camera would write it.
inline Bytes jpeg(const std::vector<std::uint8_t>& rgb, int ancho, int alto, int calidad, int submuestreo,
                  int banderas = 0) {
    tjhandle tj = tjInitCompress();
    if (tj == nullptr) throw std::runtime_error("tjInitCompress: sin memoria");
    unsigned char* datos = nullptr;
    unsigned long tamano = 0;
    if (tjCompress2(tj, rgb.data(), ancho, 0, alto, TJPF_RGB, &datos, &tamano, submuestreo, calidad, banderas) != 0) {
        const std::string motivo = tjGetErrorStr2(tj);
        tjFree(datos);
        tjDestroy(tj);
        throw std::runtime_error(motivo);
    }
    Bytes b(datos, datos + tamano);
    tjFree(datos);
    tjDestroy(tj);
    return b;
}

// The "Exif\0\0" block of an APP1 segment with the orientation and, when given, the 35 mm focal
// length, in the byte order given, written by libexif.
inline Bytes bloqueExif(int orientacion, int focal35 = 0, ExifByteOrder orden = EXIF_BYTE_ORDER_MOTOROLA) {
    ExifData* exif = exif_data_new();
    if (exif == nullptr) throw std::runtime_error("exif_data_new: sin memoria");
    exif_data_set_byte_order(exif, orden);
    const auto poner = [&](ExifIfd ifd, ExifTag etiqueta, int valor) {
        ExifEntry* e = exif_entry_new();
        exif_content_add_entry(exif->ifd[ifd], e);
        exif_entry_initialize(e, etiqueta);
        if (e->data == nullptr) {  // a tag libexif has no default for
            e->format = EXIF_FORMAT_SHORT;
            e->components = 1;
            e->size = 2;
            e->data = static_cast<unsigned char*>(std::malloc(2));
        }
        exif_set_short(e->data, orden, ExifShort(valor));
        exif_entry_unref(e);
    };
    poner(EXIF_IFD_0, EXIF_TAG_ORIENTATION, orientacion);
    if (focal35 > 0) poner(EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH_IN_35MM_FILM, focal35);
    unsigned char* datos = nullptr;
    unsigned int tamano = 0;
    exif_data_save_data(exif, &datos, &tamano);
    Bytes b(datos, datos + tamano);
    std::free(datos);
    exif_data_unref(exif);
    return b;
}

// The JPEG with an APP1 segment holding `exif` right after its start marker, as cameras write it.
inline Bytes conExif(Bytes jpeg, const Bytes& exif) {
    Bytes segmento = {0xFF, 0xE1, std::uint8_t((exif.size() + 2) >> 8), std::uint8_t(exif.size() + 2)};
    segmento.insert(segmento.end(), exif.begin(), exif.end());
    jpeg.insert(jpeg.begin() + 2, segmento.begin(), segmento.end());
    return jpeg;
}

// The JPEG with other sides in its start-of-frame segment (no other field checks them); as it was
// when it has none.
inline Bytes conLados(Bytes j, int ancho, int alto) {
    for (std::size_t i = 2; i + 8 < j.size(); ++i) {
        if (j[i] == 0xFF && (j[i + 1] == 0xC0 || j[i + 1] == 0xC2)) {
            j[i + 5] = std::uint8_t(alto >> 8);
            j[i + 6] = std::uint8_t(alto);
            j[i + 7] = std::uint8_t(ancho >> 8);
            j[i + 8] = std::uint8_t(ancho);
            break;
        }
    }
    return j;
}

inline spng_ihdr ihdrDe(int ancho, int alto, int bits, int tipo, int entrelazado = 0) {
    spng_ihdr h{};
    h.width = std::uint32_t(ancho);
    h.height = std::uint32_t(alto);
    h.bit_depth = std::uint8_t(bits);
    h.color_type = std::uint8_t(tipo);
    h.interlace_method = std::uint8_t(entrelazado);
    return h;
}

// A PNG of the given header and raw rows (samples as the file stores them: 16-bit ones
// big-endian), with a palette, a tRNS chunk and an eXIf chunk when given.
struct Png {
    Png(spng_ihdr h, std::vector<std::uint8_t> f, std::vector<std::array<std::uint8_t, 3>> p = {},
        std::vector<std::uint8_t> t = {})
        : ihdr(h), filas(std::move(f)), paleta(std::move(p)), transparencia(std::move(t)) {}
    spng_ihdr ihdr{};
    std::vector<std::uint8_t> filas;
    std::vector<std::array<std::uint8_t, 3>> paleta;
    std::vector<std::uint8_t> transparencia;  // alpha per palette entry
    Bytes exif;                               // TIFF data, without "Exif\0\0"
};

inline Bytes pngDe(const Png& p) {
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    if (ctx == nullptr) throw std::runtime_error("spng_ctx_new: sin memoria");
    const auto fallar = [&](int estado) {
        spng_ctx_free(ctx);
        throw std::runtime_error(spng_strerror(estado));
    };
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr = p.ihdr;
    spng_set_ihdr(ctx, &ihdr);
    if (!p.paleta.empty()) {
        spng_plte plte{};
        plte.n_entries = std::uint32_t(p.paleta.size());
        for (std::size_t i = 0; i < p.paleta.size(); ++i)
            plte.entries[i] = {p.paleta[i][0], p.paleta[i][1], p.paleta[i][2], 0};
        spng_set_plte(ctx, &plte);
    }
    if (!p.transparencia.empty()) {
        spng_trns trns{};
        trns.n_type3_entries = std::uint32_t(p.transparencia.size());
        std::copy(p.transparencia.begin(), p.transparencia.end(), trns.type3_alpha);
        spng_set_trns(ctx, &trns);
    }
    Bytes exif = p.exif;
    if (!exif.empty()) {
        spng_exif e{exif.size(), reinterpret_cast<char*>(exif.data())};
        if (const int estado = spng_set_exif(ctx, &e); estado != 0) fallar(estado);
    }
    std::vector<std::uint8_t> filas = p.filas;
    const int estado = spng_encode_image(ctx, filas.data(), filas.size(), SPNG_FMT_RAW, SPNG_ENCODE_FINALIZE);
    if (estado != 0) fallar(estado);
    std::size_t tamano = 0;
    int error = 0;
    auto* datos = static_cast<std::uint8_t*>(spng_get_png_buffer(ctx, &tamano, &error));
    if (datos == nullptr) fallar(error);
    Bytes b(datos, datos + tamano);
    std::free(datos);
    spng_ctx_free(ctx);
    return b;
}

}  // namespace constructores
