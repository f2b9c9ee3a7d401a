// The EXIF orientation of a JPEG or PNG applied: the photo as a viewer shows it.
#include "formatos/fotos.hpp"
#include "formatos/interno.hpp"

namespace {

using namespace fotos_prueba;

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
        FotoLeida r;
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
    FotoLeida r;
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
        FotoLeida l;
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

TEST(OrientacionDeathTest, UnaOrientacionOFilasFueraDeLaFotoDetienenConLosValores) {
    using Planos = formatos::PlanosOrientados<3, 0, 1, 2>;
    EXPECT_DEATH(Planos(4, 3, 0), "orientacion >= 1 \\(orientacion = 0");
    EXPECT_DEATH(Planos(4, 3, 9), "orientacion <= 8 \\(orientacion = 9");
    EXPECT_DEATH(formatos::orientada(apoyo::imagenDe(4, 3, [](int, int, int) { return 0; }), 12),
                 "orientacion <= 8 \\(orientacion = 12");
    std::vector<std::uint8_t> filas(3 * 4 * 3, 7);
    EXPECT_DEATH(Planos(4, 3, 6).banda(filas.data(), 12, 1, 3), "primera \\+ filas <= alto_ \\(primera \\+ filas = 4, alto_ = 3\\)");
    EXPECT_DEATH(Planos(4, 3, 1).banda(filas.data(), 12, -1, 1), "primera >= 0");
    EXPECT_DEATH(Planos(4, 3, 1).puntos(filas.data(), 3, 0, 2), "y < alto_ \\(y = 3, alto_ = 3\\)");
    EXPECT_DEATH(Planos(4, 3, 1).puntos(filas.data(), 0, 0, 0), "paso >= 1");
    // Within bounds, the last band and the last row go in.
    Planos planos(4, 3, 6);
    planos.banda(filas.data(), 12, 0, 3);
    planos.puntos(filas.data(), 2, 1, 2);
    const ImagenBmp hecha = planos.tomar();
    EXPECT_EQ(hecha.ancho(), 3);
    EXPECT_EQ(hecha.alto(), 4);
}

}  // namespace
