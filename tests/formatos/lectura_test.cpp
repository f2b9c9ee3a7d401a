// Photos read from JPEG, PNG and BMP files as a viewer shows them, whatever their format, their
// size and the threads at hand; damaged or oversized files refused in one line.
#include "formatos/fotos.hpp"

namespace {

using namespace fotos_prueba;

TEST(LeerFoto, LaMismaFotoEnPngBmpYJpeg) {
    apoyo::CarpetaTemporal carpeta;
    const Foto original = degradado(61, 47);
    const ImagenBmp imagen = imagenBmp(original);

    const ArchivoCodificado png = codificarPng(imagen);
    const ArchivoCodificado bmp = codificarBmp(imagen);
    const ArchivoCodificado jpeg = codificarJpeg(imagen, 100);
    ASSERT_TRUE(png.ok() && bmp.ok() && jpeg.ok()) << png.mensaje() << bmp.mensaje() << jpeg.mensaje();
    // The BMP bytes are those the BMP writer puts on disk.
    ASSERT_TRUE(grabarImagen(imagen, carpeta / "grabada.bmp").ok());
    EXPECT_EQ(*bmp, apoyo::leerArchivo(carpeta / "grabada.bmp"));

    // Named for another format: the content decides.
    const struct { const char* nombre; const ArchivoCodificado& archivo; FormatoFoto formato; int tolerancia; } casos[] = {
        {"foto.jpg", png, FormatoFoto::png, 0}, {"foto.png", bmp, FormatoFoto::bmp, 0},
        {"foto", jpeg, FormatoFoto::jpeg, 3}};
    for (const auto& k : casos) {
        SCOPED_TRACE(nombreFormato(k.formato));
        apoyo::escribirArchivo(carpeta / k.nombre, *k.archivo);
        FotoLeida r;
        EXPECT_LE(mayorDiferencia(leida(carpeta / k.nombre, &r), original), k.tolerancia);
        EXPECT_EQ(r.formato, k.formato);
        EXPECT_EQ(r.orientacion, 1);
        EXPECT_FALSE(r.focal35mm.has_value());
    }
    // The BMP comes through the BMP reader, warning and all.
    Bytes cortada = *bmp;
    cortada.resize(cortada.size() - 10);
    apoyo::escribirArchivo(carpeta / "cortada.bmp", cortada);
    const LecturaFoto r = leerEnSilencio(carpeta / "cortada.bmp");
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r->advertencia, leerImagen(carpeta / "cortada.bmp")->advertencia);
    EXPECT_NE(r->advertencia, "");
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
        FotoLeida r;
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
        ASSERT_TRUE(enDos.ok() && enUna.ok());
        EXPECT_TRUE(enDos->imagen.plano0.datos == enUna->imagen.plano0.datos &&
                    enDos->imagen.plano1.datos == enUna->imagen.plano1.datos &&
                    enDos->imagen.plano2.datos == enUna->imagen.plano2.datos);
        if (k.orientacion == 1 && k.submuestreo != TJSAMP_GRAY) {
            EXPECT_LE(mayorDiferencia(vista(enDos->imagen), foto), 40);
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
        EXPECT_EQ(enDos.mensaje(), enUna.mensaje());
    }
}

TEST(LeerFoto, ArchivosDanadosSeRefusanEnUnaLinea) {
    apoyo::CarpetaTemporal carpeta;
    const Foto foto = degradado(64, 48);
    const Bytes jpeg = jpegDe(foto, 90, TJSAMP_420);
    const Bytes progresiva = jpegDe(foto, 90, TJSAMP_420, TJFLAG_PROGRESSIVE);
    const Bytes png = pngDe({ihdrDe(64, 48, 8, SPNG_COLOR_TYPE_TRUECOLOR), foto.rgb});

    const auto conLados = [](const Bytes& b, int ancho, int alto) {
        Bytes otra = constructores::conLados(b, ancho, alto);
        EXPECT_NE(otra, b) << "no SOF";
        return otra;
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
        EXPECT_EQ(r.mensaje(), abrirEntrada(carpeta / nombre).mensaje());
        EXPECT_FALSE(r.ok());
    }
}

TEST(LeerFoto, UnaFotoCuestaSusPlanosYUnaBandaNoSuArchivoEntero) {
    SALTAR_SI_NO_HAY_LIMITE_DE_MEMORIA();
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
                      if (!r) return std::printf("%s\n", r.mensaje().c_str()), 1;
                      return r->imagen.plano1[0][0] == 255 && r->imagen.plano2[lado - 1][lado - 1] == 255 ? 0 : 2;
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
                      if (!r) return std::printf("%s\n", r.mensaje().c_str()), 1;
                      return vista(r->imagen).rgb == sola.rgb ? 0 : 2;
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
        {"foto.bmp", *codificarBmp(imagen), 0},
        {"foto.png", *codificarPng(imagen), 0},
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
    const Bytes png = *codificarPng(imagen);
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
    Bytes bmp = *codificarBmp(imagenBmp(foto));
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
            EXPECT_NE(r.mensaje().find("--max-megapixeles"), std::string::npos) << r.mensaje();
        }
        EXPECT_TRUE(leerFoto(entera, 4000000).ok());
        EXPECT_TRUE(leerFoto(entera).ok());
    }
    // The default is 200 megapixels.
    EXPECT_EQ(kMegapixelesMaximos, 200);
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
        FotoLeida r;
        const Foto leidaFoto = leida(foto, &r);
        // jscanify_test.png is a JPEG under another name: only the content counts.
        ASSERT_NE(r.formato, FormatoFoto::bmp);
        if (foto.filename() == "jscanify_test6.jpg") {
            EXPECT_EQ(r.orientacion, 6);
            EXPECT_EQ(leidaFoto.ancho, 2448);
            EXPECT_EQ(leidaFoto.alto, 3264);
        }
        const Resultado<BmpLeido> copia = leerImagen(carpeta / "bmp" / foto.filename().replace_extension(".bmp"));
        ASSERT_TRUE(copia.ok());
        const Foto chica = vista(copia->imagen);
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
