// PNG files of every kind of pixel read as a viewer shows them.
#include "formatos/fotos.hpp"

namespace {

using namespace fotos_prueba;

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

}  // namespace
