// The command line: options and usage errors, photos in every format, results in every format and
// one PDF, batches with a bad photo, JSON, threads, and the real photos in their original files.
#include <sstream>

#include "comandos_apoyo.hpp"

namespace {

using namespace comandos_prueba;
namespace fs = std::filesystem;

TEST(Comandos, AyudaVersionYErroresDeUso) {
    for (const char* pedido : {"--help", "-h", "--ayuda"}) {
        const Corrida c = correr({pedido});
        EXPECT_EQ(c.estado, 0);
        EXPECT_TRUE(c.salida.starts_with("Uso: escaner [OPCIONES] FOTO...")) << c.salida;
        for (const char* opcion : {"--salida", "--calidad", "--etapas", "--cuenta", "--json", "--hilos", "--ayuda",
                                   "--version", "--detector", "--mapa", "--papel", "--ppp", "--mejorar", "--esquinas",
                                   "--esquinas-de", "--guardar-esquinas"})
            EXPECT_NE(c.salida.find(opcion), std::string::npos) << opcion;
        EXPECT_TRUE(c.errores.empty());
    }
    const Corrida v = correr({"--version"});
    EXPECT_EQ(v.estado, 0);
    EXPECT_TRUE(v.salida.starts_with("escaner ")) << v.salida;

    apoyo::CarpetaTemporal carpeta;
    const std::string foto = (carpeta / "foto.bmp").string(), otra = (carpeta / "otra.bmp").string();
    ASSERT_TRUE(grabarImagen(fotoDeEscena(1), foto).ok());
    ASSERT_TRUE(grabarImagen(fotoDeEscena(2), otra).ok());
    const std::vector<std::vector<std::string>> malos = {
        {"--no-existe", foto},
        {"--calidad", "0", foto},
        {"--calidad", "abc", foto},
        {"-j", "0", foto},
        {"--detector", "magico", foto},
        {"--papel", "a3", foto},
        {"-o"},
        {"--json"},                                           // no photo
        {foto, (carpeta.ruta / "." / "foto.bmp").string()},   // one photo named twice
        {"-o", foto, foto},                                   // the result over the photo
        {"-o", (carpeta / "x.png").string(), foto, otra},     // one image file for two photos
        {"-o", (carpeta / "falta" / "x.png").string(), foto},  // into a folder that does not exist
        {"-o", (carpeta / "x.gif").string(), foto},           // a format not written
        {"-o", (carpeta / "lote").string(), foto, (carpeta / "sub" / "foto.bmp").string()},  // one name twice
    };
    fs::create_directory(carpeta / "sub");
    ASSERT_TRUE(grabarImagen(fotoDeEscena(3), carpeta / "sub" / "foto.bmp").ok());
    for (const auto& argumentos : malos) {
        std::string juntos;
        for (const auto& a : argumentos) juntos += a + " ";
        SCOPED_TRACE(juntos);
        const Corrida c = correr(argumentos);
        EXPECT_EQ(c.estado, kSalidaUso);
        EXPECT_EQ(lineas(c.errores), 2) << c.errores;
        EXPECT_NE(c.errores.find("--help"), std::string::npos) << c.errores;
        EXPECT_TRUE(c.salida.empty());
    }
    // Nothing was written by any of them.
    EXPECT_EQ(std::distance(fs::directory_iterator(carpeta.ruta), fs::directory_iterator()), 3);
}

TEST(Comandos, LaMismaFotoEnBmpJpegYPngDaLaHojaDeLaCorridaSinArgumentos) {
    apoyo::CarpetaTemporal carpeta;
    const ImagenBmp foto = fotoDeEscena(7);
    grabarBytes(carpeta / "foto.jpg", codificarJpeg(foto, 92));
    grabarBytes(carpeta / "foto.png", codificarPng(foto));
    ASSERT_TRUE(grabarImagen(foto, carpeta / "foto.bmp").ok());
    const LecturaFoto jpeg = leerFoto(carpeta / "foto.jpg");
    ASSERT_TRUE(jpeg.ok());
    for (const char* nombre : {"foto.jpg", "foto.png", "foto.bmp"}) {
        SCOPED_TRACE(nombre);
        const fs::path salida = carpeta / (std::string(nombre) + ".bmp");
        const Corrida c = correr({"--json", "--detector", "espec", "--mapa", "bilineal", "-o", salida.string(),
                                  (carpeta / nombre).string()});
        ASSERT_EQ(c.estado, 0) << c.errores;
        // The JPEG as our own decoder reads it, the PNG and the BMP as their pixels are: the page
        // of the run without arguments' road from the corners the JSON line prints, which are the
        // run without arguments' to the hundredth of a pixel.
        const ImagenBmp& leida = std::string(nombre) == "foto.jpg" ? jpeg->imagen : foto;
        const apoyo::Bytes hoja = apoyo::leerArchivo(salida);
        EXPECT_EQ(hoja, hojaCartaDeLinea(leida, c.salida, carpeta / "carta.bmp")) << c.salida;
        const apoyo::Bytes esperada = hojaSinArgumentos(leida);
        ASSERT_EQ(hoja.size(), esperada.size());
        const auto [distintos, maxima] = diferencia(hoja, esperada);
        EXPECT_LE(maxima, 2);
        EXPECT_LT(distintos, static_cast<long>(hoja.size() / 20)) << "of " << hoja.size();
    }
}

TEST(Comandos, UnLoteConUnaFotoMalaJsonEHilos) {
    apoyo::CarpetaTemporal carpeta;
    std::vector<std::string> fotos;
    for (int i = 0; i < 4; ++i) {
        fotos.push_back((carpeta / numerado("f", i, ".png")).string());
        grabarBytes(fotos.back(), codificarPng(fotoDeEscena(10 + static_cast<std::uint64_t>(i))));
    }
    // The second is cut short, the fourth is no photo at all.
    fs::resize_file(fotos[1], fs::file_size(fotos[1]) / 2);
    apoyo::escribirArchivo(fotos[3], {'h', 'o', 'l', 'a'});
    std::map<int, std::string> salidas;
    std::map<int, apoyo::Bytes> hojas;
    for (int hilos : {1, 2}) {
        SCOPED_TRACE(hilos);
        const fs::path destino = carpeta / numerado("lote", hilos, "");
        std::vector<std::string> argumentos = {"--json", "--cuenta", "-j", std::to_string(hilos), "-o",
                                               destino.string() + "/"};
        argumentos.insert(argumentos.end(), fotos.begin(), fotos.end());
        const Corrida c = correr(argumentos);
        EXPECT_EQ(c.estado, 1);
        // One line for each bad photo, naming it.
        EXPECT_EQ(lineas(c.errores), 2) << c.errores;
        EXPECT_NE(c.errores.find("f1.png"), std::string::npos) << c.errores;
        EXPECT_NE(c.errores.find("f3.png"), std::string::npos) << c.errores;
        // The accounts come whole, in the order given, and the JSON lines after each.
        std::vector<std::string> json;
        std::istringstream texto(c.salida);
        for (std::string linea; std::getline(texto, linea);)
            if (linea.starts_with("{\"foto\"")) json.push_back(linea);
        ASSERT_EQ(json.size(), 4u) << c.salida;
        const char* estados[4] = {"ok", "error", "ok", "error"};
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(campo(json[i], "foto"), fotos[i]);
            EXPECT_EQ(campo(json[i], "estado"), estados[i]);
            if (i % 2 == 0) {
                EXPECT_EQ(campo(json[i], "salida"), (destino / numerado("f", i, "-hoja.png")).string());
                EXPECT_EQ(campo(json[i], "mensaje"), "");
                EXPECT_TRUE(leerFoto(campo(json[i], "salida")).ok());
                hojas[hilos * 10 + i] = apoyo::leerArchivo(campo(json[i], "salida"));
                // Corners as a viewer sees the photo: the top-left one is nearest the picture's
                // top-left, and the order runs clockwise.
                double v[8];
                ASSERT_EQ(std::sscanf(campo(json[i], "esquinas").c_str(), "[[%lf,%lf],[%lf,%lf],[%lf,%lf],[%lf,%lf]]",
                                      &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7]), 8);
                EXPECT_LT(v[0], v[2]);  // top-left left of top-right
                EXPECT_LT(v[3], v[5]);  // top-right above bottom-right
                EXPECT_GT(v[4], v[6]);  // bottom-right right of bottom-left
                EXPECT_LT(v[1], v[7]);  // top-left above bottom-left
            } else {
                EXPECT_EQ(campo(json[i], "salida"), "null");
                EXPECT_EQ(campo(json[i], "esquinas"), "null");
                EXPECT_NE(campo(json[i], "mensaje"), "");
            }
        }
        const std::size_t primera = c.salida.find("\nFoto \"" + fotos[0] + "\"");
        const std::size_t tercera = c.salida.find("\nFoto \"" + fotos[2] + "\"");
        EXPECT_EQ(primera, 0u);
        ASSERT_NE(tercera, std::string::npos);
        EXPECT_LT(c.salida.find("\"foto\":\"" + fotos[0]), tercera);
        // Alike but for the folder's name.
        std::string igualada = c.salida;
        for (std::size_t i; (i = igualada.find(destino.filename().string())) != std::string::npos;)
            igualada.replace(i, destino.filename().string().size(), "lote");
        salidas[hilos] = igualada;
    }
    // The number of threads changes nothing.
    EXPECT_EQ(salidas[1], salidas[2]);
    EXPECT_EQ(hojas[10], hojas[20]);
    EXPECT_EQ(hojas[12], hojas[22]);

    // -j N is a bound on the threads: with one photo and -j 1 the photo keeps to one thread, and
    // so do two; with a thread to spare (and a core for it) a photo works its halves at once.
    const auto segundoHilo = [&](std::vector<std::string> argumentos) {
        dosMitadesALaVez = true;
        argumentos.push_back("-o");
        argumentos.push_back((carpeta / "hilos/").string());
        correr(argumentos);
        const bool usado = dosMitadesALaVez;
        dosMitadesALaVez = true;
        return usado;
    };
    EXPECT_FALSE(segundoHilo({"-j", "1", fotos[0]}));
    cpu_set_t cpus;
    ASSERT_EQ(::sched_getaffinity(0, sizeof cpus, &cpus), 0);
    EXPECT_EQ(segundoHilo({"-j", "2", fotos[0]}), CPU_COUNT(&cpus) > 1);
    EXPECT_FALSE(segundoHilo({"-j", "1", fotos[0], fotos[2]}));
}

TEST(Comandos, UnPdfConUnaPaginaPorFotoBuena) {
    if (!poppler("pdfinfo -v")) GTEST_SKIP() << "skipped: pdfinfo and pdftoppm (poppler-utils) are not installed";
    apoyo::CarpetaTemporal carpeta;
    std::vector<std::string> fotos;
    for (int i = 0; i < 3; ++i) {
        fotos.push_back((carpeta / numerado("p", i, ".jpg")).string());
        grabarBytes(fotos.back(), codificarJpeg(fotoDeEscena(20 + static_cast<std::uint64_t>(i)), 90));
    }
    fotos.insert(fotos.begin() + 1, (carpeta / "falta.jpg").string());
    const std::string pdf = (carpeta / "todo.pdf").string();
    std::vector<std::string> argumentos = {"--mapa", "bilineal", "-o", pdf};
    argumentos.insert(argumentos.end(), fotos.begin(), fotos.end());
    const Corrida c = correr(argumentos);
    EXPECT_EQ(c.estado, 1);
    EXPECT_EQ(lineas(c.errores), 1) << c.errores;
    const auto info = poppler("pdfinfo '" + pdf + "'");
    ASSERT_TRUE(info);
    EXPECT_NE(info->find("Pages:           3"), std::string::npos) << *info;
    EXPECT_NE(info->find("612 x 792 pts (letter)"), std::string::npos) << *info;
    // The first page, rendered as a viewer would, against the PNG result of its photo.
    ASSERT_EQ(correr({"--mapa", "bilineal", "-o", (carpeta / "p0.png").string(), fotos[0]}).estado, 0);
    ASSERT_TRUE(poppler("pdftoppm -r 72 -png -f 1 -l 1 -singlefile '" + pdf + "' '" + (carpeta / "pagina").string() + "'"));
    const LecturaFoto pagina = leerFoto(carpeta / "pagina.png");
    const LecturaFoto hoja = leerFoto(carpeta / "p0.png");
    ASSERT_TRUE(pagina.ok() && hoja.ok());
    ASSERT_EQ(pagina->imagen.ancho(), 612);
    ASSERT_EQ(pagina->imagen.alto(), 792);
    // Means of blocks of the same page area.
    double diferencia = 0;
    int bloques = 0;
    for (int f = 0; f + 24 <= 792; f += 24)
        for (int col = 0; col + 24 <= 612; col += 24, ++bloques) {
            double a = 0, b = 0;
            for (int y = f; y < f + 24; ++y)
                for (int x = col; x < col + 24; ++x) {
                    a += pagina->imagen.plano1[y][x];
                    b += hoja->imagen.plano1[y * 1103 / 792][x * 852 / 612];
                }
            diferencia += std::abs(a - b) / (24 * 24);
        }
    EXPECT_LT(diferencia / bloques, 6.0);
}

TEST(Comandos, LasPaginasDelPdfEnElOrdenDadoConSuImagenSegunLaMejora) {
    // Six photos, two at a time: page i of the PDF holds exactly the JPEG that photo i alone gives
    // (the pages are written as they come, in the order given, whichever ends first). With
    // --mejorar bn the pages are 1-bit G4, with gris gray JPEG.
    if (!poppler("pdfimages -v")) GTEST_SKIP() << "skipped: pdfimages (poppler-utils) is not installed";
    apoyo::CarpetaTemporal carpeta;
    std::vector<std::string> fotos;
    for (int i = 0; i < 6; ++i) {
        fotos.push_back((carpeta / numerado("p", i, ".jpg")).string());
        grabarBytes(fotos.back(), codificarJpeg(fotoDeEscena(40 + static_cast<std::uint64_t>(i)), 90));
    }
    const std::string pdf = (carpeta / "todo.pdf").string();
    std::vector<std::string> argumentos = {"-j", "2", "-o", pdf};
    argumentos.insert(argumentos.end(), fotos.begin(), fotos.end());
    ASSERT_EQ(correr(argumentos).estado, 0);
    ASSERT_TRUE(poppler("pdfimages -j '" + pdf + "' '" + (carpeta / "img").string() + "'"));
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        const fs::path sola = carpeta / numerado("sola", i, ".jpg");
        ASSERT_EQ(correr({"-o", sola.string(), fotos[std::size_t(i)]}).estado, 0);
        EXPECT_EQ(apoyo::leerArchivo(carpeta / numerado("img-00", i, ".jpg")), apoyo::leerArchivo(sola));
    }

    for (const char* mejora : {"bn", "gris"}) {
        SCOPED_TRACE(mejora);
        const std::string otro = (carpeta / (std::string(mejora) + ".pdf")).string();
        ASSERT_EQ(correr({"--mejorar", mejora, "-o", otro, fotos[0], fotos[1]}).estado, 0);
        const auto lista = poppler("pdfimages -list '" + otro + "'");
        ASSERT_TRUE(lista);
        std::vector<std::string> tipos;
        for (const apoyo::ImagenListada& i : apoyo::imagenesListadas(*lista))
            tipos.push_back(i.color + " " + i.bits + " " + i.codigo);
        const std::string esperado = std::string(mejora) == "bn" ? "gray 1 ccitt" : "gray 8 jpeg";
        EXPECT_EQ(tipos, std::vector<std::string>(2, esperado)) << *lista;
    }

    // The black-and-white page as a viewer draws it is the PNG page of its photo, pixel for pixel.
    // It is read back at four or more pixels per pixel of the letter page, where poppler's Splash
    // repeats a picture's pixels instead of smoothing them; the centre of each pixel's block is read.
    const fs::path bnPng = carpeta / "bn.png";
    ASSERT_EQ(correr({"--mejorar", "bn", "-o", bnPng.string(), fotos[0]}).estado, 0);
    const LecturaFoto hoja = leerFoto(bnPng);
    ASSERT_TRUE(hoja.ok());
    const ImagenBmp& h = hoja->imagen;
    const int ppp = static_cast<int>(std::ceil(4 * std::max(h.ancho() / 8.5, h.alto() / 11.0)));
    ASSERT_TRUE(poppler("pdftoppm -r " + std::to_string(ppp) + " -gray -png -f 1 -l 1 -singlefile '" +
                        (carpeta / "bn.pdf").string() + "' '" + (carpeta / "bn-leida").string() + "'"));
    const LecturaFoto leida = leerFoto(carpeta / "bn-leida.png");
    ASSERT_TRUE(leida.ok());
    const ImagenBmp& l = leida->imagen;
    ASSERT_GE(l.ancho(), 4 * h.ancho());
    ASSERT_GE(l.alto(), 4 * h.alto());
    // Rows are kept bottom-up in both.
    const auto centro = [](int i, int de, int en) { return static_cast<int>((i + 0.5) * en / de); };
    int distintos = 0;
    for (int y = 0; y < h.alto(); ++y)
        for (int x = 0; x < h.ancho(); ++x) {
            const int fila = l.alto() - 1 - centro(h.alto() - 1 - y, h.alto(), l.alto());
            distintos += h.plano1[y][x] != l.plano1[fila][centro(x, h.ancho(), l.ancho())];
        }
    EXPECT_EQ(distintos, 0);
}

TEST(Comandos, FotosRealesEnSusArchivosOriginales) {
    REQUIERE_CARPETA_COMPARTIDA("data/real/bmp");
    const fs::path reales = apoyo::carpetaCompartida() / "data/real";
    std::vector<std::string> originales, copias;
    for (const auto& e : fs::directory_iterator(reales)) {
        const std::string ext = e.path().extension().string();
        if (ext != ".jpg" && ext != ".png") continue;
        originales.push_back(e.path().string());
        copias.push_back((reales / "bmp" / (e.path().stem().string() + ".bmp")).string());
    }
    std::sort(originales.begin(), originales.end());
    std::sort(copias.begin(), copias.end());
    ASSERT_EQ(originales.size(), 9u);
    apoyo::CarpetaTemporal carpeta;
    const auto esquinas = [&](const std::vector<std::string>& fotos, const char* sub) {
        std::vector<std::string> argumentos = {"--json", "--detector", "espec", "--mapa", "bilineal", "-o",
                                               (carpeta / sub).string() + "/"};
        argumentos.insert(argumentos.end(), fotos.begin(), fotos.end());
        const Corrida c = correr(argumentos);
        std::map<std::string, std::pair<std::string, std::string>> r;  // name -> state, corners
        std::istringstream texto(c.salida);
        for (std::string linea; std::getline(texto, linea);)
            r[fs::path(campo(linea, "foto")).stem().string()] = {campo(linea, "estado"), campo(linea, "esquinas")};
        return r;
    };
    const auto a = esquinas(originales, "originales");
    const auto b = esquinas(copias, "copias");
    ASSERT_EQ(a.size(), 9u);
    for (const auto& [nombre, original] : a) {
        SCOPED_TRACE(nombre);
        const auto& copia = b.at(nombre);
        EXPECT_EQ(original.first, copia.first);
        if (original.first != "ok" || copia.first != "ok") continue;
        // Both in pixels of their working image (a diagonal of 720), where the lines are found.
        const LecturaFoto fa = leerFoto(reales / (nombre + (fs::exists(reales / (nombre + ".jpg")) ? ".jpg" : ".png")));
        const LecturaFoto fb = leerFoto(reales / "bmp" / (nombre + ".bmp"));
        ASSERT_TRUE(fa.ok() && fb.ok());
        const double escalaA = 720.0 / std::hypot(fa->imagen.ancho(), fa->imagen.alto());
        const double escalaB = 720.0 / std::hypot(fb->imagen.ancho(), fb->imagen.alto());
        double va[8], vb[8];
        const char* formato = "[[%lf,%lf],[%lf,%lf],[%lf,%lf],[%lf,%lf]]";
        ASSERT_EQ(std::sscanf(original.second.c_str(), formato, &va[0], &va[1], &va[2], &va[3], &va[4], &va[5], &va[6], &va[7]), 8);
        ASSERT_EQ(std::sscanf(copia.second.c_str(), formato, &vb[0], &vb[1], &vb[2], &vb[3], &vb[4], &vb[5], &vb[6], &vb[7]), 8);
        // The copies were shrunk by another program, so their working images differ a little and a
        // line can move by one cell of the Hough accumulator: a few pixels at a far corner. A wrong
        // orientation or decoding would move the corners by hundreds.
        for (int k = 0; k < 8; ++k) EXPECT_NEAR(va[k] * escalaA, vb[k] * escalaB, 7.2) << k << " " << original.second << " " << copia.second;
    }
}

}  // namespace
