// Writes the seed corpus of foto_fuzzer into the folder given (fuzz/corpus-fotos/ in the checkout):
// tiny JPEG, PNG and BMP files, some good and some damaged, made with the same libraries the reader
// uses. Run from a fuzzing build:  build-fuzz/fuzz/semillas_fotos fuzz/corpus-fotos

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <stdexcept>

#include <libexif/exif-data.h>
#include <spng.h>
#include <turbojpeg.h>

#include "formatos/constructores.hpp"
#include "formatos/formatos.hpp"

namespace {

namespace fs = std::filesystem;
using constructores::Bytes;
using constructores::conExif;
using constructores::conLados;

[[noreturn]] void fallar(const std::string& que) {
    std::fprintf(stderr, "semillas_fotos: %s\n", que.c_str());
    std::exit(1);
}

// RGB rows from the top: a gradient with a light square, so that every decoder path has work.
Bytes pixeles(int ancho, int alto) {
    Bytes rgb;
    for (int y = 0; y < alto; ++y)
        for (int x = 0; x < ancho; ++x) {
            const bool hoja = x > ancho / 4 && x < 3 * ancho / 4 && y > alto / 4 && y < 3 * alto / 4;
            rgb.push_back(std::uint8_t(hoja ? 235 : 20 + 9 * x));
            rgb.push_back(std::uint8_t(hoja ? 240 : 30 + 5 * y));
            rgb.push_back(std::uint8_t(hoja ? 245 : 7 * (x + y)));
        }
    return rgb;
}

Bytes jpeg(int ancho, int alto, int submuestreo, int calidad, int banderas) {
    return constructores::jpeg(pixeles(ancho, alto), ancho, alto, calidad, submuestreo, banderas);
}

// "Exif\0\0" and a TIFF structure with the orientation and a 35 mm focal length.
Bytes exif(int orientacion, ExifByteOrder orden) { return constructores::bloqueExif(orientacion, 26, orden); }

// A PNG of raw rows as the file stores them.
Bytes png(int ancho, int alto, int bits, int tipo, const Bytes& filas, int entrelazado = 0, bool conPaleta = false,
          const Bytes& datosExif = {}) {
    constructores::Png p(constructores::ihdrDe(ancho, alto, bits, tipo, entrelazado), filas);
    if (conPaleta) {
        for (int i = 0; i < 4; ++i) p.paleta.push_back({std::uint8_t(60 * i), 200, std::uint8_t(255 - 60 * i)});
        p.transparencia = {0, 128};
    }
    if (datosExif.size() > 6) p.exif.assign(datosExif.begin() + 6, datosExif.end());
    return constructores::pngDe(p);
}

Bytes filasDe(int bytesPorFila, int alto, int semilla) {
    Bytes b;
    for (int i = 0; i < bytesPorFila * alto; ++i) b.push_back(std::uint8_t(semilla * 37 + i * 11));
    return b;
}

Bytes cortado(Bytes b, std::size_t n) {
    b.resize(n);
    return b;
}

Bytes conByteCambiado(Bytes b, std::size_t desdeElFinal) {
    b[b.size() - desdeElFinal] ^= 0x5A;
    return b;
}

}  // namespace

int main(int argc, char** argv) try {
    if (argc != 2) fallar("uso: semillas_fotos CARPETA");
    const fs::path carpeta = argv[1];
    fs::create_directories(carpeta);

    const Bytes base = jpeg(16, 12, TJSAMP_420, 50, 0);
    const Bytes progresiva = jpeg(16, 16, TJSAMP_444, 50, TJFLAG_PROGRESSIVE);
    const Bytes rgb = png(6, 4, 8, SPNG_COLOR_TYPE_TRUECOLOR, pixeles(6, 4));
    const ArchivoCodificado bmp = codificarBmp([] {
        ImagenBmp img;
        img.header = headerNuevo(3, 2);
        img.plano0 = PlanoBytes(3, 2, 10);
        img.plano1 = PlanoBytes(3, 2, 120);
        img.plano2 = PlanoBytes(3, 2, 240);
        return img;
    }());
    const std::vector<std::pair<const char*, Bytes>> semillas = {
        {"base-16x12.jpg", base},
        {"gris-8x8.jpg", jpeg(8, 8, TJSAMP_GRAY, 50, 0)},
        {"progresiva-16x16.jpg", progresiva},
        {"exif-6-motorola.jpg", conExif(jpeg(12, 8, TJSAMP_422, 50, 0), exif(6, EXIF_BYTE_ORDER_MOTOROLA))},
        {"exif-7-intel.jpg", conExif(jpeg(8, 12, TJSAMP_444, 50, 0), exif(7, EXIF_BYTE_ORDER_INTEL))},
        {"cortada.jpg", cortado(base, base.size() - 40)},
        {"progresiva-cortada.jpg", cortado(progresiva, progresiva.size() - 60)},
        {"65500x65500.jpg", conLados(base, 65500, 65500)},
        {"desmedida.jpg", conLados(base, 3000, 3000)},
        {"rgb-6x4.png", rgb},
        {"gris-1bit-9x3.png", png(9, 3, 1, SPNG_COLOR_TYPE_GRAYSCALE, filasDe(2, 3, 1))},
        {"gris-alfa-16bit-3x3.png", png(3, 3, 16, SPNG_COLOR_TYPE_GRAYSCALE_ALPHA, filasDe(12, 3, 2))},
        {"paleta-trns-5x2.png", png(5, 2, 2, SPNG_COLOR_TYPE_INDEXED, filasDe(2, 2, 3), 0, true)},
        {"rgba-16bit-entrelazada-5x5.png", png(5, 5, 16, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, filasDe(40, 5, 4), 1)},
        {"exif-8.png", png(4, 3, 8, SPNG_COLOR_TYPE_TRUECOLOR, pixeles(4, 3), 0, false, exif(8, EXIF_BYTE_ORDER_INTEL))},
        {"crc-malo.png", conByteCambiado(rgb, 20)},
        {"cortada.png", cortado(rgb, rgb.size() - 20)},
        {"2x3.bmp", *bmp},
    };
    for (const auto& [nombre, bytes] : semillas) {
        std::ofstream f(carpeta / nombre, std::ios::binary);
        f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        if (!f) fallar(std::string("no se puede escribir ") + nombre);
    }
    return 0;
} catch (const std::runtime_error& e) {
    fallar(e.what());
}
