// Pages written as PNG, JPEG and BMP files, read back by other decoders.
#include "formatos/fotos.hpp"

namespace {

using namespace fotos_prueba;

TEST(Codificar, CalidadFueraDeRangoYExtensiones) {
    const ImagenBmp img = imagenBmp(degradado(16, 16));
    EXPECT_FALSE(codificarJpeg(img, 0).ok());
    EXPECT_FALSE(codificarJpeg(img, 101).ok());
    EXPECT_LT(codificarJpeg(img, 50)->size(), codificarJpeg(img, 95)->size());
    // Chroma whole from quality 95 on, halved both ways below it.
    for (const auto& [calidad, esperado] : {std::pair(94, TJSAMP_420), std::pair(95, TJSAMP_444), std::pair(100, TJSAMP_444)}) {
        const ArchivoCodificado jpeg = codificarJpeg(img, calidad);
        tjhandle tj = tjInitDecompress();
        int ancho = 0, alto = 0, submuestreo = -1, color = 0;
        EXPECT_EQ(tjDecompressHeader3(tj, jpeg->data(), jpeg->size(), &ancho, &alto, &submuestreo, &color), 0);
        tjDestroy(tj);
        EXPECT_EQ(submuestreo, esperado) << "calidad " << calidad;
    }
    ImagenBmp corta = img;
    corta.plano1 = PlanoBytes(16, 15);
    EXPECT_FALSE(codificarPng(corta).ok());
    EXPECT_FALSE(codificarBmp(corta).ok());

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
        ASSERT_TRUE(png.ok()) << png.mensaje();
        EXPECT_EQ(mayorDiferencia(leidaPorLibpng(*png), original), 0);
        apoyo::escribirArchivo(carpeta / "pagina.png", *png);
        EXPECT_EQ(mayorDiferencia(leida(carpeta / "pagina.png"), original), 0);

        dosMitadesALaVez = false;
        const ArchivoCodificado seguidas = codificarPng(imagen);
        dosMitadesALaVez = true;
        EXPECT_EQ(*seguidas, *png);

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
        EXPECT_EQ(*hecha, *png);
        EXPECT_EQ(std::count_if(hechas.begin(), hechas.end(), [](const std::atomic<int>& n) { return n != 1; }), 0);
    }
}

}  // namespace
