// Photos read from JPEG, PNG and BMP files as a viewer shows them, damaged files refused, and the
// files written back: PNG, JPEG, BMP and a PDF document read by poppler as a viewer would.
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

#include "apoyo.hpp"
#include "formatos/constructores.hpp"
#include "hijo.hpp"
#include "formatos/formatos.hpp"
#include "imagen/paralelo.hpp"
#include "sistema/archivos.hpp"

namespace {

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

Foto fotoDe(int ancho, int alto, const std::function<std::array<int, 3>(int, int)>& color) {
    Foto f{ancho, alto, std::vector<std::uint8_t>(3 * std::size_t(ancho) * alto)};
    for (int y = 0; y < alto; ++y)
        for (int x = 0; x < ancho; ++x) {
            const auto c = color(x, y);
            for (int k = 0; k < 3; ++k) f.en(x, y)[k] = std::uint8_t(c[k]);
        }
    return f;
}

// The image the stages take, read back as a viewer sees it (row 0 of the planes is the bottom).
Foto vista(const ImagenBmp& img) {
    return fotoDe(img.ancho(), img.alto(), [&](int x, int y) {
        const int fila = img.alto() - 1 - y;
        return std::array<int, 3>{img.plano2[fila][x], img.plano1[fila][x], img.plano0[fila][x]};
    });
}

ImagenBmp imagenBmp(const Foto& f) {
    return apoyo::imagenDe(f.ancho, f.alto, [&](int r, int c, int p) { return f.en(c, f.alto - 1 - r)[2 - p]; });
}

// The largest difference of any sample, or 999 when the sizes differ.
int mayorDiferencia(const Foto& a, const Foto& b) {
    if (a.ancho != b.ancho || a.alto != b.alto) return 999;
    int mayor = 0;
    for (std::size_t i = 0; i < a.rgb.size(); ++i) mayor = std::max(mayor, std::abs(a.rgb[i] - b.rgb[i]));
    return mayor;
}

Foto rotar90Horario(const Foto& a) {
    Foto b{a.alto, a.ancho, std::vector<std::uint8_t>(a.rgb.size())};
    for (int y = 0; y < a.alto; ++y)
        for (int x = 0; x < a.ancho; ++x) std::copy_n(a.en(x, y), 3, b.en(a.alto - 1 - y, x));
    return b;
}

Foto espejo(const Foto& a) {
    Foto b = a;
    for (int y = 0; y < a.alto; ++y)
        for (int x = 0; x < a.ancho; ++x) std::copy_n(a.en(x, y), 3, b.en(a.ancho - 1 - x, y));
    return b;
}

// 8 x 8 blocks of flat colours, none like another, so that JPEG keeps them nearly exact and any
// turn or mirror of the picture shows.
Foto bloques(int ancho, int alto) {
    return fotoDe(ancho, alto, [](int x, int y) {
        const int bx = x / 8, by = y / 8;
        return std::array<int, 3>{(40 + 50 * bx) % 256, (30 + 70 * by) % 256, (200 + 30 * bx + 90 * by) % 256};
    });
}

// A smooth picture with some detail, of odd sides.
Foto degradado(int ancho, int alto) {
    return fotoDe(ancho, alto, [&](int x, int y) {
        return std::array<int, 3>{255 * x / (ancho - 1), 255 * y / (alto - 1), 128 + int(60 * std::sin(0.2 * (x + y)))};
    });
}

// A JPEG of the picture through libjpeg-turbo as a camera would write it.
Bytes jpegDe(const Foto& f, int calidad = 100, int submuestreo = TJSAMP_444, int banderas = 0) {
    return constructores::jpeg(f.rgb, f.ancho, f.alto, calidad, submuestreo, banderas);
}

std::uint32_t crc32(const std::uint8_t* datos, std::size_t n) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= datos[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void escribir32(Bytes& b, std::size_t en, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[en + i] = std::uint8_t(v >> (24 - 8 * i));
}

// Reads the file with nothing printed on the standard streams.
LecturaFoto leerEnSilencio(const fs::path& archivo) {
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
void revisarRefusada(const LecturaFoto& r, const fs::path& archivo, const std::string& trozo) {
    EXPECT_FALSE(r.imagen.has_value());
    EXPECT_NE(r.mensaje.find(entreComillas(archivo)), std::string::npos) << r.mensaje;
    EXPECT_EQ(r.mensaje.find('\n'), std::string::npos) << r.mensaje;
    EXPECT_NE(r.mensaje.find(trozo), std::string::npos) << r.mensaje;
}

Foto leida(const fs::path& archivo, LecturaFoto* lectura = nullptr) {
    LecturaFoto r = leerEnSilencio(archivo);
    EXPECT_EQ(r.mensaje, "") << archivo;
    if (!r.imagen) return {};
    // The header is the one every new image has.
    EXPECT_EQ(r.imagen->header, headerNuevo(r.imagen->ancho(), r.imagen->alto()));
    Foto f = vista(*r.imagen);
    if (lectura != nullptr) *lectura = std::move(r);
    return f;
}

TEST(LeerFoto, LaMismaFotoEnPngBmpYJpeg) {
    apoyo::CarpetaTemporal carpeta;
    const Foto original = degradado(61, 47);
    const ImagenBmp imagen = imagenBmp(original);

    const ArchivoCodificado png = codificarPng(imagen);
    const ArchivoCodificado bmp = codificarBmp(imagen);
    const ArchivoCodificado jpeg = codificarJpeg(imagen, 100);
    ASSERT_TRUE(png.valido() && bmp.valido() && jpeg.valido()) << png.mensaje << bmp.mensaje << jpeg.mensaje;
    // The BMP bytes are those the BMP writer puts on disk.
    ASSERT_FALSE(grabarImagen(imagen, carpeta / "grabada.bmp"));
    EXPECT_EQ(bmp.bytes, apoyo::leerArchivo(carpeta / "grabada.bmp"));

    // Named for another format: the content decides.
    const struct { const char* nombre; const ArchivoCodificado& archivo; FormatoFoto formato; int tolerancia; } casos[] = {
        {"foto.jpg", png, FormatoFoto::png, 0}, {"foto.png", bmp, FormatoFoto::bmp, 0},
        {"foto", jpeg, FormatoFoto::jpeg, 3}};
    for (const auto& k : casos) {
        SCOPED_TRACE(nombreFormato(k.formato));
        apoyo::escribirArchivo(carpeta / k.nombre, k.archivo.bytes);
        LecturaFoto r;
        EXPECT_LE(mayorDiferencia(leida(carpeta / k.nombre, &r), original), k.tolerancia);
        EXPECT_EQ(r.formato, k.formato);
        EXPECT_EQ(r.orientacion, 1);
        EXPECT_FALSE(r.focal35mm.has_value());
    }
    // The BMP comes through the BMP reader, warning and all.
    Bytes cortada = bmp.bytes;
    cortada.resize(cortada.size() - 10);
    apoyo::escribirArchivo(carpeta / "cortada.bmp", cortada);
    const LecturaFoto r = leerEnSilencio(carpeta / "cortada.bmp");
    EXPECT_TRUE(r.imagen.has_value());
    EXPECT_EQ(r.advertencia, leerImagen(carpeta / "cortada.bmp").advertencia);
    EXPECT_NE(r.advertencia, "");
}

TEST(LeerFoto, LasOchoOrientacionesExifDanLaFotoDerecha) {
    // The primitives the stored pictures are made with, on a picture of 3 x 2:  a b c / d e f.
    const Foto abc = fotoDe(3, 2, [](int x, int y) { return std::array<int, 3>{x + 3 * y, 0, 0}; });
    EXPECT_EQ(rotar90Horario(abc).rgb, (std::vector<std::uint8_t>{3, 0, 0, 0, 0, 0, 4, 0, 0, 1, 0, 0, 5, 0, 0, 2, 0, 0}));
    EXPECT_EQ(espejo(abc).rgb, (std::vector<std::uint8_t>{2, 0, 0, 1, 0, 0, 0, 0, 0, 5, 0, 0, 4, 0, 0, 3, 0, 0}));

    // Sides that are not whole bands of 16 decoded rows, whichever way the picture is stored.
    const Foto derecha = bloques(56, 40);
    const auto r90 = rotar90Horario;
    // What the camera stores for each orientation: the picture the viewer's operation turns upright.
    const std::function<Foto(const Foto&)> almacenada[9] = {
        nullptr,
        [](const Foto& f) { return f; },
        [](const Foto& f) { return espejo(f); },
        [&](const Foto& f) { return r90(r90(f)); },
        [&](const Foto& f) { return espejo(r90(r90(f))); },  // upside down
        [&](const Foto& f) { return espejo(r90(f)); },       // transposed
        [&](const Foto& f) { return r90(r90(r90(f))); },     // shown turned a quarter clockwise
        [&](const Foto& f) { return espejo(r90(r90(r90(f)))); },
        [&](const Foto& f) { return r90(f); },               // shown turned a quarter counter-clockwise
    };
    apoyo::CarpetaTemporal carpeta;
    for (int o = 1; o <= 8; ++o) {
        SCOPED_TRACE("orientacion " + std::to_string(o));
        const Foto guardada = almacenada[o](derecha);
        const fs::path archivo = carpeta / (std::to_string(o) + "-orientada.jpg");
        apoyo::escribirArchivo(archivo, conExif(jpegDe(guardada), bloqueExif(o, o == 6 ? 28 : 0)));
        LecturaFoto r;
        EXPECT_LE(mayorDiferencia(leida(archivo, &r), derecha), 3);
        EXPECT_EQ(r.orientacion, o);
        EXPECT_EQ(r.focal35mm, o == 6 ? std::optional<double>(28.0) : std::nullopt);
    }

    // A PNG with its orientation in an eXIf chunk.
    const Foto guardada = almacenada[6](derecha);
    Png p{ihdrDe(guardada.ancho, guardada.alto, 8, SPNG_COLOR_TYPE_TRUECOLOR), guardada.rgb};
    const Bytes exif = bloqueExif(6);
    p.exif.assign(exif.begin() + 6, exif.end());
    apoyo::escribirArchivo(carpeta / "o6.png", pngDe(p));
    LecturaFoto r;
    EXPECT_EQ(mayorDiferencia(leida(carpeta / "o6.png", &r), derecha), 0);
    EXPECT_EQ(r.orientacion, 6);

    // An orientation stored as a LONG instead of the SHORT the tag takes is not read (in Intel
    // order its first two bytes would pass for a SHORT 6).
    {
        ExifData* datos = exif_data_new();
        exif_data_set_byte_order(datos, EXIF_BYTE_ORDER_INTEL);
        ExifEntry* e = exif_entry_new();
        exif_content_add_entry(datos->ifd[EXIF_IFD_0], e);
        exif_entry_initialize(e, EXIF_TAG_ORIENTATION);
        e->format = EXIF_FORMAT_LONG;
        e->size = 4;
        e->data = static_cast<unsigned char*>(std::realloc(e->data, 4));
        exif_set_long(e->data, EXIF_BYTE_ORDER_INTEL, 6);
        exif_entry_unref(e);
        unsigned char* bytes = nullptr;
        unsigned int tamano = 0;
        exif_data_save_data(datos, &bytes, &tamano);
        const Bytes larga(bytes, bytes + tamano);
        std::free(bytes);
        exif_data_unref(datos);
        apoyo::escribirArchivo(carpeta / "larga.jpg", conExif(jpegDe(derecha), larga));
        LecturaFoto l;
        EXPECT_LE(mayorDiferencia(leida(carpeta / "larga.jpg", &l), derecha), 3);
        EXPECT_EQ(l.orientacion, 1);
    }

    // The eXIf chunk moved after the image data, before the end chunk: the same.
    const Bytes antes = pngDe(p);
    Bytes despues;
    Bytes chunkExif;
    for (std::size_t en = 8; en + 8 <= antes.size();) {
        const std::size_t largo = std::size_t(antes[en]) << 24 | antes[en + 1] << 16 | antes[en + 2] << 8 | antes[en + 3];
        const Bytes chunk(antes.begin() + std::ptrdiff_t(en), antes.begin() + std::ptrdiff_t(en + 12 + largo));
        const std::string tipo(chunk.begin() + 4, chunk.begin() + 8);
        if (tipo == "eXIf") {
            chunkExif = chunk;
        } else {
            if (tipo == "IEND") despues.insert(despues.end(), chunkExif.begin(), chunkExif.end());
            despues.insert(despues.end(), chunk.begin(), chunk.end());
        }
        en += 12 + largo;
    }
    ASSERT_FALSE(chunkExif.empty());
    despues.insert(despues.begin(), antes.begin(), antes.begin() + 8);
    ASSERT_EQ(despues.size(), antes.size());
    apoyo::escribirArchivo(carpeta / "o6-despues.png", despues);
    EXPECT_EQ(mayorDiferencia(leida(carpeta / "o6-despues.png", &r), derecha), 0);
    EXPECT_EQ(r.orientacion, 6);
}

TEST(LeerFoto, PngDeTodasLasClases) {
    apoyo::CarpetaTemporal carpeta;
    const int ancho = 5, alto = 3;
    struct Caso {
        const char* nombre;
        Png png;
        std::array<int, 3> esperado;  // every pixel
    };
    const auto lleno = [&](std::initializer_list<std::uint8_t> muestra, int bytesPorFila = 0) {
        std::vector<std::uint8_t> filas;
        for (int y = 0; y < alto; ++y) {
            if (bytesPorFila > 0) {
                for (int i = 0; i < bytesPorFila; ++i) filas.push_back(*muestra.begin());
            } else {
                for (int x = 0; x < ancho; ++x) filas.insert(filas.end(), muestra);
            }
        }
        return filas;
    };
    // 0x80 over white: 255 - (255 - c) * 128 / 255.
    const auto sobreBlanco = [](int c, int a) { return int(std::lround(c * a / 255.0 + 255.0 * (255 - a) / 255.0)); };
    const Caso casos[] = {
        {"gris 8", {ihdrDe(ancho, alto, 8, SPNG_COLOR_TYPE_GRAYSCALE), lleno({77})}, {77, 77, 77}},
        {"gris 1", {ihdrDe(ancho, alto, 1, SPNG_COLOR_TYPE_GRAYSCALE), lleno({0xF8}, 1)}, {255, 255, 255}},
        {"gris 16", {ihdrDe(ancho, alto, 16, SPNG_COLOR_TYPE_GRAYSCALE), lleno({0xAB, 0x12})}, {0xAB, 0xAB, 0xAB}},
        {"gris y alfa", {ihdrDe(ancho, alto, 8, SPNG_COLOR_TYPE_GRAYSCALE_ALPHA), lleno({40, 0x80})},
         {sobreBlanco(40, 128), sobreBlanco(40, 128), sobreBlanco(40, 128)}},
        {"rgb 16", {ihdrDe(ancho, alto, 16, SPNG_COLOR_TYPE_TRUECOLOR), lleno({0x10, 0xFF, 0x80, 0x01, 0xFE, 0x00})},
         {0x10, 0x80, 0xFE}},
        {"rgba transparente", {ihdrDe(ancho, alto, 8, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA), lleno({1, 2, 3, 0})},
         {255, 255, 255}},
        {"rgba opaco", {ihdrDe(ancho, alto, 8, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA), lleno({1, 2, 3, 255})}, {1, 2, 3}},
        {"rgba 16", {ihdrDe(ancho, alto, 16, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA), lleno({0, 0, 0, 0, 0, 0, 0x80, 0})},
         {sobreBlanco(0, 128), sobreBlanco(0, 128), sobreBlanco(0, 128)}},
        {"paleta", {ihdrDe(ancho, alto, 8, SPNG_COLOR_TYPE_INDEXED), lleno({1}), {{9, 9, 9}, {200, 100, 50}}},
         {200, 100, 50}},
        {"paleta 2 bits con tRNS",
         {ihdrDe(ancho, alto, 2, SPNG_COLOR_TYPE_INDEXED), lleno({0x55}, 2), {{9, 9, 9}, {0, 100, 200}}, {255, 64}},
         {sobreBlanco(0, 64), sobreBlanco(100, 64), sobreBlanco(200, 64)}},
    };
    for (const Caso& k : casos) {
        SCOPED_TRACE(k.nombre);
        const fs::path archivo = carpeta / (std::string(k.nombre) + ".png");
        apoyo::escribirArchivo(archivo, pngDe(k.png));
        const Foto f = leida(archivo);
        EXPECT_LE(mayorDiferencia(f, fotoDe(ancho, alto, [&](int, int) { return k.esperado; })), 1);
    }

    // Over white, rounded to the nearest: gray 1 at alpha 128 is 128.5 - 0.5 / 255, so 128 exactly.
    apoyo::escribirArchivo(carpeta / "redondeo.png",
                           pngDe({ihdrDe(ancho, alto, 8, SPNG_COLOR_TYPE_GRAYSCALE_ALPHA), lleno({1, 128})}));
    EXPECT_EQ(mayorDiferencia(leida(carpeta / "redondeo.png"), fotoDe(ancho, alto, [](int, int) {
                                  return std::array<int, 3>{128, 128, 128};
                              })),
              0);

    // Interlaced rows come out where they belong.
    const Foto d = degradado(33, 21);
    apoyo::escribirArchivo(carpeta / "entrelazada.png",
                           pngDe({ihdrDe(33, 21, 8, SPNG_COLOR_TYPE_TRUECOLOR, 1), d.rgb}));
    EXPECT_EQ(mayorDiferencia(leida(carpeta / "entrelazada.png"), d), 0);

    // Interlaced or not, with varied transparency and every orientation: the same picture. Sides
    // under a pass's step leave some passes empty.
    for (const auto& [w, h] : {std::pair(37, 29), std::pair(3, 2)}) {
        std::vector<std::uint8_t> grisAlfa;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                grisAlfa.push_back(std::uint8_t(7 * x + 11 * y));
                grisAlfa.push_back(std::uint8_t(255 - 13 * x - 5 * y));
            }
        for (int o = 1; o <= 8; ++o) {
            SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h) + ", orientacion " + std::to_string(o));
            const Bytes exif = bloqueExif(o);
            Png plana{ihdrDe(w, h, 8, SPNG_COLOR_TYPE_GRAYSCALE_ALPHA), grisAlfa};
            Png entrelazada{ihdrDe(w, h, 8, SPNG_COLOR_TYPE_GRAYSCALE_ALPHA, 1), grisAlfa};
            plana.exif.assign(exif.begin() + 6, exif.end());
            entrelazada.exif = plana.exif;
            apoyo::escribirArchivo(carpeta / "plana.png", pngDe(plana));
            apoyo::escribirArchivo(carpeta / "entrelazada.png", pngDe(entrelazada));
            const Foto a = leida(carpeta / "plana.png"), b = leida(carpeta / "entrelazada.png");
            EXPECT_EQ(a.ancho, o >= 5 ? h : w);
            EXPECT_EQ(a.rgb, b.rgb);
        }
    }
}

TEST(LeerFoto, UnaHojaEnBlancoSeLeeEnCualquierJpegComun) {
    // The densest real photos there are: a blank page of 12 megapixels.
    apoyo::CarpetaTemporal carpeta;
    const Foto blanca = fotoDe(4000, 3000, [](int, int) { return std::array<int, 3>{255, 255, 255}; });
    const struct { const char* nombre; int submuestreo, banderas; } casos[] = {
        {"4:2:0", TJSAMP_420, 0}, {"gris", TJSAMP_GRAY, 0}, {"progresiva", TJSAMP_420, TJFLAG_PROGRESSIVE}};
    for (const auto& k : casos) {
        SCOPED_TRACE(k.nombre);
        apoyo::escribirArchivo(carpeta / "blanca.jpg", jpegDe(blanca, 90, k.submuestreo, k.banderas));
        LecturaFoto r;
        EXPECT_EQ(mayorDiferencia(leida(carpeta / "blanca.jpg", &r), blanca), 0);
    }
}

TEST(LeerFoto, UnJpegGrandeLeidoEnDosPartesAlaVezComoDeUnaSola) {
    // A large photo is decoded in two parts at once; read on one thread it must come out the same,
    // byte for byte, whatever its sampling, its orientation, and wherever a cut file ends. The
    // height is no multiple of the 16-row bands.
    apoyo::CarpetaTemporal carpeta;
    const Foto foto = degradado(1280, 1031);
    const auto ambas = [&](const fs::path& archivo) {
        dosMitadesALaVez = true;
        LecturaFoto enDos = leerEnSilencio(archivo);
        dosMitadesALaVez = false;
        LecturaFoto enUna = leerEnSilencio(archivo);
        dosMitadesALaVez = true;
        return std::pair(std::move(enDos), std::move(enUna));
    };
    const struct { const char* nombre; int submuestreo, banderas, orientacion; } casos[] = {
        {"4:4:4", TJSAMP_444, 0, 1}, {"4:2:0", TJSAMP_420, 0, 1}, {"4:2:2", TJSAMP_422, 0, 1},
        {"4:4:0", TJSAMP_440, 0, 1}, {"gris", TJSAMP_GRAY, 0, 1}, {"progresiva", TJSAMP_420, TJFLAG_PROGRESSIVE, 1},
        {"girada", TJSAMP_420, 0, 6}, {"al reves", TJSAMP_444, 0, 3}, {"traspuesta", TJSAMP_422, 0, 7}};
    for (const auto& k : casos) {
        SCOPED_TRACE(k.nombre);
        Bytes jpeg = jpegDe(foto, 90, k.submuestreo, k.banderas);
        if (k.orientacion != 1) jpeg = conExif(jpeg, bloqueExif(k.orientacion));
        apoyo::escribirArchivo(carpeta / "foto.jpg", jpeg);
        const auto [enDos, enUna] = ambas(carpeta / "foto.jpg");
        ASSERT_TRUE(enDos.imagen && enUna.imagen) << enDos.mensaje << enUna.mensaje;
        EXPECT_TRUE(enDos.imagen->plano0.datos == enUna.imagen->plano0.datos &&
                    enDos.imagen->plano1.datos == enUna.imagen->plano1.datos &&
                    enDos.imagen->plano2.datos == enUna.imagen->plano2.datos);
        if (k.orientacion == 1 && k.submuestreo != TJSAMP_GRAY) {
            EXPECT_LE(mayorDiferencia(vista(*enDos.imagen), foto), 40);
        }
    }
    // Cut in the upper part, in the lower part, and just before its end: the same line either way.
    const Bytes jpeg = jpegDe(foto, 90, TJSAMP_420);
    for (const double fraccion : {0.3, 0.8, 0.999}) {
        SCOPED_TRACE(fraccion);
        Bytes cortado = jpeg;
        cortado.resize(std::size_t(fraccion * double(jpeg.size())));
        apoyo::escribirArchivo(carpeta / "cortada.jpg", cortado);
        const auto [enDos, enUna] = ambas(carpeta / "cortada.jpg");
        revisarRefusada(enDos, carpeta / "cortada.jpg", "esta cortada");
        EXPECT_EQ(enDos.mensaje, enUna.mensaje);
    }
}

TEST(LeerFoto, ArchivosDanadosSeRefusanEnUnaLinea) {
    apoyo::CarpetaTemporal carpeta;
    const Foto foto = degradado(64, 48);
    const Bytes jpeg = jpegDe(foto, 90, TJSAMP_420);
    const Bytes progresiva = jpegDe(foto, 90, TJSAMP_420, TJFLAG_PROGRESSIVE);
    const Bytes png = pngDe({ihdrDe(64, 48, 8, SPNG_COLOR_TYPE_TRUECOLOR), foto.rgb});

    // The start-of-frame segment of a JPEG with other sides (no other field checks them).
    const auto conLados = [](Bytes b, int ancho, int alto) {
        for (std::size_t i = 2; i + 8 < b.size(); ++i) {
            if (b[i] == 0xFF && (b[i + 1] == 0xC0 || b[i + 1] == 0xC2)) {
                b[i + 5] = std::uint8_t(alto >> 8);
                b[i + 6] = std::uint8_t(alto);
                b[i + 7] = std::uint8_t(ancho >> 8);
                b[i + 8] = std::uint8_t(ancho);
                return b;
            }
        }
        ADD_FAILURE() << "no SOF";
        return b;
    };
    // The PNG with other sides in its header, the checksum made again.
    const auto pngConLados = [](Bytes b, std::uint32_t ancho, std::uint32_t alto) {
        escribir32(b, 16, ancho);
        escribir32(b, 20, alto);
        escribir32(b, 29, crc32(&b[12], 17));
        return b;
    };
    const auto cortado = [](Bytes b, std::size_t n) {
        b.resize(n);
        return b;
    };
    // Cut at a fraction of the way from the first scan's start to the end of the file.
    const auto cortadoEnDatos = [](Bytes b, double fraccion) {
        std::size_t sos = 2;
        while (sos + 1 < b.size() && !(b[sos] == 0xFF && b[sos + 1] == 0xDA)) ++sos;
        b.resize(sos + std::size_t(fraccion * double(b.size() - sos)));
        return b;
    };
    Bytes crcMalo = png;
    crcMalo[png.size() - 20] ^= 0x01;  // inside the image data
    // Compressed rows made garbage, under a right checksum: the first chunk after the header
    // (at byte 33) holds the image data.
    Bytes idatMalo = png;
    const std::size_t largo = std::size_t(idatMalo[33]) << 24 | idatMalo[34] << 16 | idatMalo[35] << 8 | idatMalo[36];
    for (std::size_t i = 45; i < 60; ++i) idatMalo[i] = 0xEE;
    escribir32(idatMalo, 41 + largo, crc32(&idatMalo[37], 4 + largo));
    // A critical chunk no reader knows, between the header and the image data.
    Bytes desconocido = png;
    Bytes trozo = {0, 0, 0, 1, 'Q', 'U', 'X', 'z', 7, 0, 0, 0, 0};
    escribir32(trozo, 9, crc32(&trozo[4], 5));
    desconocido.insert(desconocido.begin() + 33, trozo.begin(), trozo.end());
    const struct { const char* nombre; Bytes bytes; const char* trozo; } casos[] = {
        {"png con un trozo critico desconocido", desconocido, "es un PNG danado: "},
        {"gif", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0}, "no es una foto que se pueda leer: se leen JPEG, PNG y BMP"},
        {"vacio", {}, "esta vacio"},
        {"jpeg cortado", cortadoEnDatos(jpeg, 0.5), "esta cortada"},
        {"jpeg progresivo cortado", cortadoEnDatos(progresiva, 0.7), "esta cortada"},
        {"jpeg sin imagen", cortado(jpeg, 200), "JPEG"},
        {"solo la firma jpeg", {0xFF, 0xD8, 0xFF}, "JPEG"},
        {"jpeg de 65500 x 65500", conLados(jpeg, 65500, 65500), "65500 x 65500 pixeles; el ancho y el alto deben estar entre 2 y 30000"},
        {"jpeg de 1 x 48", conLados(jpeg, 1, 48), "entre 2 y 30000"},
        {"jpeg desmedido", conLados(jpeg, 20000, 20000), "no puede contener esa imagen"},
        {"jpeg grande y vacio", conLados(jpeg, 600, 400), "JPEG"},
        {"png cortado", cortado(png, png.size() / 2), "esta cortada: el PNG termina antes que sus datos"},
        {"png sin datos", cortado(png, 33), "esta cortada: el PNG termina antes que sus datos"},
        {"png con crc malo", crcMalo, "es un PNG danado: "},
        {"png con datos malos", idatMalo, "es un PNG danado: "},
        {"png de 65500 x 65500", pngConLados(png, 65500, 65500), "65500 x 65500 pixeles"},
        {"png de 2^31 x 1", pngConLados(png, 0x7FFFFFFF, 1), "entre 2 y 30000"},
        {"png desmedido", pngConLados(png, 30000, 30000), "no puede contener esa imagen"},
        {"png de 0 x 0", pngConLados(png, 0, 0), "0 x 0 pixeles"},
        {"png de 1 x 48", pngConLados(png, 1, 48), "1 x 48 pixeles; el ancho y el alto deben estar entre 2 y 30000"},
    };
    for (const auto& k : casos) {
        SCOPED_TRACE(k.nombre);
        const fs::path archivo = carpeta / k.nombre;
        apoyo::escribirArchivo(archivo, k.bytes);
        revisarRefusada(leerEnSilencio(archivo), archivo, k.trozo);
    }

    // What cannot be opened or is not a file: the open's own line.
    ASSERT_EQ(::mkfifo((carpeta / "tuberia").c_str(), 0600), 0);
    for (const char* nombre : {"no-existe.jpg", "tuberia", "."}) {
        SCOPED_TRACE(nombre);
        const LecturaFoto r = leerEnSilencio(carpeta / nombre);
        EXPECT_EQ(r.mensaje, abrirEntrada(carpeta / nombre).mensaje);
        EXPECT_FALSE(r.imagen.has_value());
    }
}

TEST(LeerFoto, UnaFotoCuestaSusPlanosYUnaBandaNoSuArchivoEntero) {
    // A 3000 x 3000 1-bit PNG of a few kilobytes: its planes take 27 MB, the picture as RGBA 36 MB
    // more. Read under a limit of its planes and 20 MB, it is read whole.
    apoyo::CarpetaTemporal carpeta;
    const int lado = 3000;
    const std::size_t porFila = (lado + 7) / 8;
    for (const int entrelazado : {0, 1}) {
        SCOPED_TRACE(entrelazado ? "entrelazada" : "por filas");
        const fs::path archivo = carpeta / "grande.png";
        apoyo::escribirArchivo(archivo, pngDe({ihdrDe(lado, lado, 1, SPNG_COLOR_TYPE_GRAYSCALE, entrelazado),
                                               std::vector<std::uint8_t>(porFila * lado, 0xFF)}));
        const std::uint64_t planos = 3ull * lado * lado;
        EXPECT_EQ(apoyo::conMemoriaLimitada(planos + (20 << 20), [&] {
                      const LecturaFoto r = leerFoto(archivo);
                      if (!r.imagen) return std::printf("%s\n", r.mensaje.c_str()), 1;
                      return r.imagen->plano1[0][0] == 255 && r.imagen->plano2[lado - 1][lado - 1] == 255 ? 0 : 2;
                  }),
                  0);
    }

    // Photos followed by a gigabyte of nothing (a sparse file): read in pieces as decoded, under a
    // limit of 64 MB, never the whole file.
    const Foto foto = degradado(64, 48);
    const struct { const char* nombre; Bytes bytes; } casos[] = {
        {"relleno.jpg", jpegDe(foto, 90, TJSAMP_420)},
        {"relleno.png", pngDe({ihdrDe(64, 48, 8, SPNG_COLOR_TYPE_TRUECOLOR), foto.rgb})}};
    for (const auto& k : casos) {
        SCOPED_TRACE(k.nombre);
        const fs::path archivo = carpeta / k.nombre;
        apoyo::escribirArchivo(archivo, k.bytes);
        const Foto sola = leida(archivo);
        ASSERT_EQ(::truncate(archivo.c_str(), off_t{1} << 30), 0);
        EXPECT_EQ(apoyo::conMemoriaLimitada(64 << 20, [&] {
                      const LecturaFoto r = leerFoto(archivo);
                      if (!r.imagen) return std::printf("%s\n", r.mensaje.c_str()), 1;
                      return vista(*r.imagen).rgb == sola.rgb ? 0 : 2;
                  }),
                  0);
    }
}

TEST(LeerFoto, LaMedidaDeUnaFotoPorSuCabecera) {
    // Sides as stored (no EXIF turn), and a progressive JPEG's coefficients: 2 bytes for each of
    // 64 per 8 x 8 block, the chroma's blocks halved both ways in 4:2:0 (56 x 40 luma: 7 x 5 blocks;
    // chroma 28 x 20: 4 x 3 blocks each).
    apoyo::CarpetaTemporal carpeta;
    const Foto foto = degradado(56, 40);
    const ImagenBmp imagen = imagenBmp(foto);
    const struct { const char* nombre; Bytes bytes; std::uint64_t decodificador; } casos[] = {
        {"foto.bmp", codificarBmp(imagen).bytes, 0},
        {"foto.png", codificarPng(imagen).bytes, 0},
        {"foto.jpg", conExif(jpegDe(foto, 90, TJSAMP_420), bloqueExif(6)), 0},
        {"progresiva.jpg", jpegDe(foto, 90, TJSAMP_420, TJFLAG_PROGRESSIVE), 128 * (7 * 5 + 2 * 4 * 3)},
    };
    for (const auto& k : casos) {
        SCOPED_TRACE(k.nombre);
        apoyo::escribirArchivo(carpeta / k.nombre, k.bytes);
        const std::optional<MedidaFoto> m = medirFoto(carpeta / k.nombre);
        ASSERT_TRUE(m.has_value());
        EXPECT_EQ(m->ancho, 56);
        EXPECT_EQ(m->alto, 40);
        EXPECT_EQ(m->bytesDecodificador, k.decodificador);
    }
    // Nothing for what has no readable header or sides out of bounds.
    const Bytes png = codificarPng(imagen).bytes;
    Bytes sinLados = png;
    escribir32(sinLados, 16, 0);
    const Bytes basura = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (const auto& [nombre, bytes] : {std::pair("basura", basura), std::pair("corto.png", Bytes(png.begin(), png.begin() + 20)),
                                        std::pair("sin-lados.png", sinLados), std::pair("corto.jpg", Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0})}) {
        SCOPED_TRACE(nombre);
        apoyo::escribirArchivo(carpeta / nombre, bytes);
        EXPECT_FALSE(medirFoto(carpeta / nombre).has_value());
    }
    EXPECT_FALSE(medirFoto(carpeta / "no-existe.png").has_value());
}

TEST(LeerFoto, MasMegapixelesQueElMaximoSeRefusanPorLaCabecera) {
    // 2000 x 2000 photos cut right after their first rows: refused for their size against a
    // maximum of 3 megapixels, from the header (the pixels, cut short, are never decoded); read
    // whole with a maximum of 4.
    apoyo::CarpetaTemporal carpeta;
    const Foto foto = degradado(2000, 2000);
    const Bytes jpeg = jpegDe(foto, 80, TJSAMP_420);
    const Bytes png = pngDe({ihdrDe(2000, 2000, 8, SPNG_COLOR_TYPE_TRUECOLOR), foto.rgb});
    Bytes bmp = codificarBmp(imagenBmp(foto)).bytes;
    const struct { const char* nombre; const Bytes& bytes; std::size_t corte; } casos[] = {
        {"foto.jpg", jpeg, jpeg.size() / 4}, {"foto.png", png, png.size() / 4}, {"foto.bmp", bmp, 1000}};
    for (const auto& k : casos) {
        SCOPED_TRACE(k.nombre);
        const fs::path entera = carpeta / k.nombre, cortada = carpeta / ("cortada-" + std::string(k.nombre));
        apoyo::escribirArchivo(entera, k.bytes);
        apoyo::escribirArchivo(cortada, Bytes(k.bytes.begin(), k.bytes.begin() + std::ptrdiff_t(k.corte)));
        for (const fs::path& archivo : {entera, cortada}) {
            const LecturaFoto r = leerFoto(archivo, 3000000);
            revisarRefusada(r, archivo, "mide 2000 x 2000 pixeles, mas de 3 megapixeles");
            EXPECT_NE(r.mensaje.find("--max-megapixeles"), std::string::npos) << r.mensaje;
        }
        EXPECT_TRUE(leerFoto(entera, 4000000).imagen.has_value());
        EXPECT_TRUE(leerFoto(entera).imagen.has_value());
    }
    // The default is 200 megapixels.
    EXPECT_EQ(kMegapixelesMaximos, 200);
}

TEST(Codificar, CalidadFueraDeRangoYExtensiones) {
    const ImagenBmp img = imagenBmp(degradado(16, 16));
    EXPECT_FALSE(codificarJpeg(img, 0).valido());
    EXPECT_FALSE(codificarJpeg(img, 101).valido());
    EXPECT_LT(codificarJpeg(img, 50).bytes.size(), codificarJpeg(img, 95).bytes.size());
    // Chroma whole from quality 95 on, halved both ways below it.
    for (const auto& [calidad, esperado] : {std::pair(94, TJSAMP_420), std::pair(95, TJSAMP_444), std::pair(100, TJSAMP_444)}) {
        const ArchivoCodificado jpeg = codificarJpeg(img, calidad);
        tjhandle tj = tjInitDecompress();
        int ancho = 0, alto = 0, submuestreo = -1, color = 0;
        EXPECT_EQ(tjDecompressHeader3(tj, jpeg.bytes.data(), jpeg.bytes.size(), &ancho, &alto, &submuestreo, &color), 0);
        tjDestroy(tj);
        EXPECT_EQ(submuestreo, esperado) << "calidad " << calidad;
    }
    ImagenBmp corta = img;
    corta.plano1 = PlanoBytes(16, 15);
    EXPECT_FALSE(codificarPng(corta).valido());
    EXPECT_FALSE(codificarBmp(corta).valido());

    EXPECT_EQ(formatoPorExtension("a/b.PNG"), FormatoSalida::png);
    EXPECT_EQ(formatoPorExtension("b.Jpeg"), FormatoSalida::jpeg);
    EXPECT_EQ(formatoPorExtension("b.jpg"), FormatoSalida::jpeg);
    EXPECT_EQ(formatoPorExtension("b.bmp"), FormatoSalida::bmp);
    EXPECT_EQ(formatoPorExtension("x.tar.pdf"), FormatoSalida::pdf);
    EXPECT_EQ(formatoPorExtension("b.gif"), std::nullopt);
    EXPECT_EQ(formatoPorExtension("png"), std::nullopt);
    EXPECT_EQ(formatoPorExtension(".png"), std::nullopt);  // a hidden file named "png", no extension
}

// A PNG file read by libpng, as RGB rows from the top; empty when libpng refuses it.
Foto leidaPorLibpng(const Bytes& png) {
    png_image imagen{};
    imagen.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&imagen, png.data(), png.size())) return {};
    imagen.format = PNG_FORMAT_RGB;
    Foto f{static_cast<int>(imagen.width), static_cast<int>(imagen.height),
           std::vector<std::uint8_t>(PNG_IMAGE_SIZE(imagen))};
    if (!png_image_finish_read(&imagen, nullptr, f.rgb.data(), 0, nullptr)) return {};
    return f;
}

TEST(Codificar, UnPngEnDosPartesSeLeeComoLaImagenConHilosOSinEllos) {
    // Large pictures are deflated in two parts, the smaller one whole; noise and flat paper, sides
    // that do not halve evenly, two rows. libpng (which checks every chunk's CRC and the stream's
    // checksum) and spng, through leerFoto, read the pixels back; the file is the same whether the
    // parts ran at once or one after the other, and with the rows made by the parts themselves.
    apoyo::CarpetaTemporal carpeta;
    std::uint32_t semilla = 7;
    const auto ruido = [&](int, int) {
        std::array<int, 3> c{};
        for (int& v : c) v = static_cast<int>((semilla = semilla * 1664525u + 1013904223u) >> 24);
        return c;
    };
    const auto papel = [](int x, int y) { return std::array<int, 3>{240, 238 - (x + y) % 3, 235}; };
    const struct { int ancho, alto; bool conRuido; } casos[] = {
        {600, 500, true}, {1024, 256, true}, {513, 511, false}, {1023, 255, true}, {3000, 2, true}, {2, 3000, false}};
    for (const auto& k : casos) {
        SCOPED_TRACE(std::to_string(k.ancho) + " x " + std::to_string(k.alto));
        const Foto original = k.conRuido ? fotoDe(k.ancho, k.alto, ruido) : fotoDe(k.ancho, k.alto, papel);
        const ImagenBmp imagen = imagenBmp(original);
        const ArchivoCodificado png = codificarPng(imagen);
        ASSERT_TRUE(png.valido()) << png.mensaje;
        EXPECT_EQ(mayorDiferencia(leidaPorLibpng(png.bytes), original), 0);
        apoyo::escribirArchivo(carpeta / "pagina.png", png.bytes);
        EXPECT_EQ(mayorDiferencia(leida(carpeta / "pagina.png"), original), 0);

        dosMitadesALaVez = false;
        const ArchivoCodificado seguidas = codificarPng(imagen);
        dosMitadesALaVez = true;
        EXPECT_EQ(seguidas.bytes, png.bytes);

        // Made as it is encoded: every row once, before it is read.
        ImagenBmp porHacer = imagenNueva(k.ancho, k.alto, 0);
        std::vector<std::atomic<int>> hechas(static_cast<std::size_t>(k.alto));
        const ArchivoCodificado hecha = codificarPng(porHacer, [&](int desde, int hasta) {
            for (int y = desde; y < hasta; ++y) {
                const int fila = k.alto - 1 - y;
                for (int x = 0; x < k.ancho; ++x) {
                    porHacer.plano0[fila][x] = imagen.plano0[fila][x];
                    porHacer.plano1[fila][x] = imagen.plano1[fila][x];
                    porHacer.plano2[fila][x] = imagen.plano2[fila][x];
                }
                ++hechas[static_cast<std::size_t>(y)];
            }
        });
        EXPECT_EQ(hecha.bytes, png.bytes);
        EXPECT_EQ(std::count_if(hechas.begin(), hechas.end(), [](const std::atomic<int>& n) { return n != 1; }), 0);
    }
}

// The output of a command, and whether it ran.
bool ejecutar(const std::string& orden, std::string* salida = nullptr) {
    std::unique_ptr<FILE, int (*)(FILE*)> tubo(::popen(orden.c_str(), "r"), ::pclose);
    if (!tubo) return false;
    std::string texto;
    char trozo[4096];
    for (std::size_t n; (n = std::fread(trozo, 1, sizeof trozo, tubo.get())) > 0;) texto.append(trozo, n);
    if (salida != nullptr) *salida = texto;
    return ::pclose(tubo.release()) == 0;
}

TEST(CodificarPdf, TresPaginasComoLasLeePoppler) {
    // Pages at 72 pixels per inch, so that the page rendered at 72 dpi is the page image.
    const Foto vertical = fotoDe(612, 792, [](int x, int y) {
        return std::array<int, 3>{255 - y / 4, (x / 51) % 2 ? 240 : 30, 128};
    });
    const Foto apaisada = fotoDe(792, 612, [](int x, int y) {
        return std::array<int, 3>{x / 4, 255 - y / 3, (x / 66 + y / 51) % 2 ? 250 : 10};
    });
    std::vector<PaginaPdf> paginas;
    for (const Foto* f : {&vertical, &apaisada, &vertical}) {
        const ArchivoCodificado jpeg = codificarJpeg(imagenBmp(*f), 90);
        ASSERT_TRUE(jpeg.valido()) << jpeg.mensaje;
        paginas.push_back({jpeg.bytes, f->ancho / 72.0, f->alto / 72.0});
    }
    testing::internal::CaptureStderr();
    const ArchivoCodificado pdf = codificarPdf(paginas);
    EXPECT_FALSE(codificarPdf({}).valido());
    const ArchivoCodificado malo = codificarPdf({PaginaPdf{{1, 2, 3}, 8.5, 11}});
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_TRUE(pdf.valido()) << pdf.mensaje;
    EXPECT_FALSE(malo.valido());
    EXPECT_EQ(malo.mensaje.find('\n'), std::string::npos);
    // The JPEG bytes go in as they are: the document is hardly larger than its pages.
    EXPECT_LT(pdf.bytes.size(), paginas[0].jpeg.size() * 2 + paginas[1].jpeg.size() + 4096);

    if (!ejecutar("command -v pdfinfo >/dev/null && command -v pdftoppm >/dev/null")) {
        GTEST_SKIP() << "pdfinfo or pdftoppm (poppler-utils) is not installed: the PDF is not checked";
    }
    apoyo::CarpetaTemporal carpeta;
    const fs::path archivo = carpeta / "hojas.pdf";
    ASSERT_FALSE(grabarArchivo(archivo, pdf.bytes));
    std::string info;
    ASSERT_TRUE(ejecutar("pdfinfo -f 1 -l 3 '" + archivo.string() + "' 2>&1", &info)) << info;
    // Runs of spaces as one, whatever the columns of this version of pdfinfo.
    std::string campos;
    for (char c : info)
        if (c != ' ' || campos.empty() || campos.back() != ' ') campos.push_back(c);
    EXPECT_NE(campos.find("Pages: 3\n"), std::string::npos) << info;
    EXPECT_NE(campos.find("Page 1 size: 612 x 792 pts"), std::string::npos) << info;
    EXPECT_NE(campos.find("Page 2 size: 792 x 612 pts"), std::string::npos) << info;
    EXPECT_NE(campos.find("Page 3 size: 612 x 792 pts"), std::string::npos) << info;

    std::string salida;
    ASSERT_TRUE(ejecutar("pdftoppm -r 72 -png '" + archivo.string() + "' '" + (carpeta / "p").string() + "' 2>&1",
                         &salida))
        << salida;
    const Foto* originales[] = {&vertical, &apaisada, &vertical};
    const auto diferenciaMedia = [](const Foto& a, const Foto& b) {
        double suma = 0;
        for (std::size_t k = 0; k < a.rgb.size(); ++k) suma += std::abs(a.rgb[k] - b.rgb[k]);
        return suma / double(a.rgb.size());
    };
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("pagina " + std::to_string(i + 1));
        const Foto vista = leida(carpeta / ("p-" + std::to_string(i + 1) + ".png"));
        ASSERT_EQ(vista.ancho, originales[i]->ancho);
        ASSERT_EQ(vista.alto, originales[i]->alto);
        // The embedded page image fills the page, upright; poppler decodes JPEG its own way, a
        // little apart from libjpeg-turbo.
        apoyo::escribirArchivo(carpeta / "pagina.jpg", paginas[std::size_t(i)].jpeg);
        EXPECT_LT(diferenciaMedia(vista, leida(carpeta / "pagina.jpg")), 3.0);
        EXPECT_LT(diferenciaMedia(vista, *originales[i]), 5.0);
    }
}

// The mean of each colour over a grid of `n` x `n` cells of the picture.
std::vector<double> mediasPorBloque(const Foto& f, int n) {
    std::vector<double> medias(3 * std::size_t(n) * n, 0.0);
    std::vector<double> cuenta(std::size_t(n) * n, 0.0);
    for (int y = 0; y < f.alto; ++y)
        for (int x = 0; x < f.ancho; ++x) {
            const std::size_t celda = std::size_t(y * n / f.alto) * n + std::size_t(x * n / f.ancho);
            cuenta[celda] += 1;
            for (int k = 0; k < 3; ++k) medias[3 * celda + k] += f.en(x, y)[k];
        }
    for (std::size_t i = 0; i < medias.size(); ++i) medias[i] /= cuenta[i / 3];
    return medias;
}

TEST(LeerFoto, FotosRealesComoSusCopiasBmp) {
    REQUIERE_CARPETA_COMPARTIDA("data/real");
    const fs::path carpeta = apoyo::carpetaCompartida() / "data/real";
    int vistas = 0;
    for (const auto& entrada : fs::directory_iterator(carpeta)) {
        const fs::path foto = entrada.path();
        const std::string ext = foto.extension().string();
        if (ext != ".jpg" && ext != ".png") continue;
        SCOPED_TRACE(foto.filename().string());
        ++vistas;
        LecturaFoto r;
        const Foto leidaFoto = leida(foto, &r);
        // jscanify_test.png is a JPEG under another name: only the content counts.
        ASSERT_NE(r.formato, FormatoFoto::bmp);
        if (foto.filename() == "jscanify_test6.jpg") {
            EXPECT_EQ(r.orientacion, 6);
            EXPECT_EQ(leidaFoto.ancho, 2448);
            EXPECT_EQ(leidaFoto.alto, 3264);
        }
        const LecturaBmp copia = leerImagen(carpeta / "bmp" / foto.filename().replace_extension(".bmp"));
        ASSERT_TRUE(copia.imagen.has_value()) << copia.mensaje;
        const Foto chica = vista(*copia.imagen);
        // The copy is the photo shrunk: the same shape, and the same picture cell by cell.
        EXPECT_NEAR(double(leidaFoto.ancho) / leidaFoto.alto, double(chica.ancho) / chica.alto, 0.01);
        const std::vector<double> a = mediasPorBloque(leidaFoto, 16);
        const std::vector<double> b = mediasPorBloque(chica, 16);
        double suma = 0, mayor = 0;
        for (std::size_t i = 0; i < a.size(); ++i) {
            suma += std::abs(a[i] - b[i]);
            mayor = std::max(mayor, std::abs(a[i] - b[i]));
        }
        EXPECT_LT(suma / double(a.size()), 3.0);
        EXPECT_LT(mayor, 20.0);
    }
    EXPECT_GE(vistas, 9);
}

}  // namespace

namespace {

// An allocator for libHaru that fails its call number fallaPdfEn (counted from 1) alone.
long llamadasPdf = 0, fallaPdfEn = 0;
void* reservaQueFalla(unsigned int bytes) {
    if (++llamadasPdf == fallaPdfEn) return nullptr;
    return std::malloc(bytes);
}
void liberaPdf(void* bloque) { std::free(bloque); }

TEST(CodificarPdf, SinMemoriaEnCualquierPasoFallaYNombraLaPaginaQueSeHacia) {
    // Two alike pages; libHaru runs out of memory at each of its allocations in turn. Every such
    // document is refused in one line (none comes out short of a page or an image), and a failure
    // while the first page is made names that page: the first page makes all a later one does and
    // the document's first shared parts, so no fewer failures name it than name the second. Each
    // try runs in a child process: libHaru's own handling of a failed allocation now and then reads
    // memory it never set, and a crash there must not take the test program with it.
    const ArchivoCodificado jpeg = codificarJpeg(imagenBmp(degradado(40, 52)), 90);
    ASSERT_TRUE(jpeg.valido()) << jpeg.mensaje;
    const std::vector<PaginaPdf> paginas(2, PaginaPdf{jpeg.bytes, 8.5, 11.0});
    const ArchivoCodificado referencia = codificarPdf(paginas);
    ASSERT_TRUE(referencia.valido()) << referencia.mensaje;
    fallaPdfEn = 0;
    llamadasPdf = 0;
    EXPECT_EQ(codificarPdf(paginas, reservaQueFalla, liberaPdf).bytes, referencia.bytes);
    const long total = llamadasPdf;
    ASSERT_GT(total, 10);
    enum Desenlace { igual = 0, sinPagina, primera, segunda, distinto, variasLineas };
    int cuantos[6] = {}, caidas = 0;
    for (fallaPdfEn = 1; fallaPdfEn <= total; ++fallaPdfEn) {
        const pid_t hijo = ::fork();
        ASSERT_GE(hijo, 0);
        if (hijo == 0) {
            llamadasPdf = 0;
            const ArchivoCodificado pdf = codificarPdf(paginas, reservaQueFalla, liberaPdf);
            if (pdf.valido()) ::_exit(pdf.bytes == referencia.bytes ? igual : distinto);
            if (!pdf.bytes.empty() || pdf.mensaje.find('\n') != std::string::npos) ::_exit(variasLineas);
            if (pdf.mensaje.find("la pagina 1") != std::string::npos) ::_exit(primera);
            ::_exit(pdf.mensaje.find("la pagina 2") != std::string::npos ? segunda : sinPagina);
        }
        int estado = 0;
        ASSERT_EQ(::waitpid(hijo, &estado, 0), hijo);
        if (!WIFEXITED(estado) || WEXITSTATUS(estado) > variasLineas) {
            ++caidas;
            continue;
        }
        ++cuantos[WEXITSTATUS(estado)];
    }
    EXPECT_EQ(cuantos[igual], 0);
    EXPECT_EQ(cuantos[distinto], 0);
    EXPECT_EQ(cuantos[variasLineas], 0);
    EXPECT_LE(caidas, 3);
    EXPECT_GT(cuantos[segunda], 0);
    EXPECT_GE(cuantos[primera] + caidas, cuantos[segunda]);
}

}  // namespace
