#pragma once

// What the tests of photo reading and page writing share: a picture as a viewer sees it, pictures
// to make files of, and a photo read back with its failures checked.

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <sstream>

#include <libexif/exif-data.h>
#include <png.h>
#include <spng.h>
#include <turbojpeg.h>

#include <gtest/gtest.h>

#include "apoyo.hpp"
#include "formatos/constructores.hpp"
#include "hijo.hpp"
#include "formatos/formatos.hpp"
#include "imagen/paralelo.hpp"
#include "sistema/archivos.hpp"

namespace fotos_prueba {

namespace fs = std::filesystem;
using apoyo::Bytes;
using constructores::bloqueExif;
using constructores::conExif;
using constructores::ihdrDe;
using constructores::Png;
using constructores::pngDe;

// A picture as a viewer shows it: RGB triples, rows from the top down.
struct Foto {
    int ancho = 0, alto = 0;
    std::vector<std::uint8_t> rgb;
    std::uint8_t* en(int x, int y) { return &rgb[3 * (std::size_t(y) * ancho + x)]; }
    const std::uint8_t* en(int x, int y) const { return &rgb[3 * (std::size_t(y) * ancho + x)]; }
};

inline Foto fotoDe(int ancho, int alto, const std::function<std::array<int, 3>(int, int)>& color) {
    Foto f{ancho, alto, std::vector<std::uint8_t>(3 * std::size_t(ancho) * alto)};
    for (int y = 0; y < alto; ++y)
        for (int x = 0; x < ancho; ++x) {
            const auto c = color(x, y);
            for (int k = 0; k < 3; ++k) f.en(x, y)[k] = std::uint8_t(c[k]);
        }
    return f;
}

// The image the stages take, read back as a viewer sees it (row 0 of the planes is the bottom).
inline Foto vista(const ImagenBmp& img) {
    return fotoDe(img.ancho(), img.alto(), [&](int x, int y) {
        const int fila = img.alto() - 1 - y;
        return std::array<int, 3>{img.plano2[fila][x], img.plano1[fila][x], img.plano0[fila][x]};
    });
}

inline ImagenBmp imagenBmp(const Foto& f) {
    return apoyo::imagenDe(f.ancho, f.alto, [&](int r, int c, int p) { return f.en(c, f.alto - 1 - r)[2 - p]; });
}

// The largest difference of any sample, or 999 when the sizes differ.
inline int mayorDiferencia(const Foto& a, const Foto& b) {
    if (a.ancho != b.ancho || a.alto != b.alto) return 999;
    int mayor = 0;
    for (std::size_t i = 0; i < a.rgb.size(); ++i) mayor = std::max(mayor, std::abs(a.rgb[i] - b.rgb[i]));
    return mayor;
}

inline Foto rotar90Horario(const Foto& a) {
    Foto b{a.alto, a.ancho, std::vector<std::uint8_t>(a.rgb.size())};
    for (int y = 0; y < a.alto; ++y)
        for (int x = 0; x < a.ancho; ++x) std::copy_n(a.en(x, y), 3, b.en(a.alto - 1 - y, x));
    return b;
}

inline Foto espejo(const Foto& a) {
    Foto b = a;
    for (int y = 0; y < a.alto; ++y)
        for (int x = 0; x < a.ancho; ++x) std::copy_n(a.en(x, y), 3, b.en(a.ancho - 1 - x, y));
    return b;
}

// 8 x 8 blocks of flat colours, none like another, so that JPEG keeps them nearly exact and any
// turn or mirror of the picture shows.
inline Foto bloques(int ancho, int alto) {
    return fotoDe(ancho, alto, [](int x, int y) {
        const int bx = x / 8, by = y / 8;
        return std::array<int, 3>{(40 + 50 * bx) % 256, (30 + 70 * by) % 256, (200 + 30 * bx + 90 * by) % 256};
    });
}

// A smooth picture with some detail, of odd sides.
inline Foto degradado(int ancho, int alto) {
    return fotoDe(ancho, alto, [&](int x, int y) {
        return std::array<int, 3>{255 * x / (ancho - 1), 255 * y / (alto - 1), 128 + int(60 * std::sin(0.2 * (x + y)))};
    });
}

// A JPEG of the picture through libjpeg-turbo as a camera would write it.
inline Bytes jpegDe(const Foto& f, int calidad = 100, int submuestreo = TJSAMP_444, int banderas = 0) {
    return constructores::jpeg(f.rgb, f.ancho, f.alto, calidad, submuestreo, banderas);
}

inline std::uint32_t crc32(const std::uint8_t* datos, std::size_t n) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= datos[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

inline void escribir32(Bytes& b, std::size_t en, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[en + i] = std::uint8_t(v >> (24 - 8 * i));
}

// Reads the file with nothing printed on the standard streams.
inline LecturaFoto leerEnSilencio(const fs::path& archivo) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    LecturaFoto r = leerFoto(archivo);
    const std::string salida = testing::internal::GetCapturedStdout();
    const std::string errores = testing::internal::GetCapturedStderr();
    EXPECT_EQ(salida + errores, "") << archivo;
    return r;
}

// What a reader's result promises: an image exactly when there is no message, one line otherwise,
// naming the photo.
inline void revisarRefusada(const LecturaFoto& r, const fs::path& archivo, const std::string& trozo) {
    EXPECT_FALSE(r.ok());
    EXPECT_NE(r.mensaje().find(entreComillas(archivo)), std::string::npos) << r.mensaje();
    EXPECT_EQ(r.mensaje().find('\n'), std::string::npos) << r.mensaje();
    EXPECT_NE(r.mensaje().find(trozo), std::string::npos) << r.mensaje();
}

inline Foto leida(const fs::path& archivo, FotoLeida* lectura = nullptr) {
    LecturaFoto r = leerEnSilencio(archivo);
    EXPECT_TRUE(r.ok()) << archivo << ": " << (r.ok() ? "" : r.mensaje());
    if (!r) return {};
    // The header is the one every new image has.
    EXPECT_EQ(r->imagen.header, headerNuevo(r->imagen.ancho(), r->imagen.alto()));
    Foto f = vista(r->imagen);
    if (lectura != nullptr) *lectura = std::move(*r);
    return f;
}

}  // namespace fotos_prueba
