// Corners given by hand: the corners a JSON line prints, given back with --esquinas or in a corners
// file, make the very same page with either detector, either map and every format; a batch made
// again from a corners file (--json's or --guardar-esquinas') is the same to the byte, and a corner
// moved by hand changes that page alone; bad corners and bad corners files are refused with
// nothing written.
#include "app/esquinas_dadas.hpp"
#include "comandos_apoyo.hpp"

namespace {

using namespace comandos_prueba;
namespace fs = std::filesystem;

// The eight numbers of a JSON line's corners, as --esquinas takes them.
std::string esquinasDeLinea(const std::string& linea) {
    std::string e = campo(linea, "esquinas");
    std::string r;
    for (char c : e)
        if (c != '[' && c != ']') r.push_back(c);
    return r;
}

std::vector<std::string> lineasDe(const std::string& texto) {
    std::vector<std::string> r;
    std::istringstream flujo(texto);
    for (std::string linea; std::getline(flujo, linea);) r.push_back(linea);
    return r;
}

long archivosEn(const fs::path& carpeta) {
    return std::distance(fs::directory_iterator(carpeta), fs::directory_iterator());
}

TEST(Esquinas, LasDelJsonDanLaMismaPaginaConAmbosDetectoresAmbosMapasYCadaFormato) {
    apoyo::CarpetaTemporal carpeta;
    const fs::path foto = carpeta / "foto.jpg";
    grabarBytes(foto, codificarJpeg(fotoDeEscena(21), 90));
    struct Caso {
        std::vector<std::string> opciones;
        const char* extension;
    };
    std::vector<Caso> casos;
    for (const char* detector : {"robusto", "espec"})
        for (const char* mapa : {"perspectiva", "bilineal"})
            for (const char* extension : {".png", ".bmp", ".jpg", ".pdf"})
                casos.push_back({{"--detector", detector, "--mapa", mapa}, extension});
    casos.push_back({{"--papel", "auto", "--mejorar", "bn", "--ppp", "60"}, ".png"});
    casos.push_back({{"--detector", "espec", "--papel", "a4", "--mejorar", "color"}, ".pdf"});
    int n = 0;
    for (const Caso& k : casos) {
        std::string nombre;
        for (const std::string& o : k.opciones) nombre += o + " ";
        SCOPED_TRACE(nombre + k.extension);
        const fs::path detectada = carpeta / numerado("d", n, k.extension);
        const fs::path dada = carpeta / numerado("g", n++, k.extension);
        std::vector<std::string> argumentos = k.opciones;
        argumentos.insert(argumentos.end(), {"--json", "-o", detectada.string(), foto.string()});
        const Corrida primera = correr(argumentos);
        ASSERT_EQ(primera.estado, 0) << primera.errores;
        const std::string esquinas = esquinasDeLinea(primera.salida);
        argumentos = k.opciones;
        argumentos.insert(argumentos.end(), {"--json", "--esquinas", esquinas, "-o", dada.string(), foto.string()});
        const Corrida segunda = correr(argumentos);
        ASSERT_EQ(segunda.estado, 0) << segunda.errores;
        EXPECT_EQ(segunda.errores, "");
        const apoyo::Bytes a = apoyo::leerArchivo(detectada);
        EXPECT_FALSE(a.empty());
        EXPECT_TRUE(a == apoyo::leerArchivo(dada));
        // The same line but for the output's name: the corners as given, "ok".
        EXPECT_EQ(campo(segunda.salida, "esquinas"), campo(primera.salida, "esquinas"));
        EXPECT_EQ(campo(segunda.salida, "estado"), "ok");
    }
}

TEST(Esquinas, LasDeLasFotosRealesDanLaMismaPagina) {
    REQUIERE_CARPETA_COMPARTIDA("data/real");
    // Large photos whose detected corners have every decimal: the page from the printed ones is
    // the page detected, with both detectors.
    const fs::path reales = apoyo::carpetaCompartida() / "data/real";
    apoyo::CarpetaTemporal carpeta;
    const std::pair<const char*, const char*> fotos[] = {{"jscanify_test3.jpg", "perspectiva"},
                                                         {"jscanify_test8.jpg", "bilineal"}};
    for (const auto& [nombre, mapa] : fotos) {
        for (const char* detector : {"robusto", "espec"}) {
            SCOPED_TRACE(std::string(nombre) + " " + detector);
            const fs::path a = carpeta / "a.png", b = carpeta / "b.png";
            const Corrida primera =
                correr({"--json", "--detector", detector, "--mapa", mapa, "-o", a.string(), (reales / nombre).string()});
            ASSERT_EQ(primera.estado, 0) << primera.errores;
            const Corrida segunda = correr({"--esquinas", esquinasDeLinea(primera.salida), "--mapa", mapa, "-o",
                                            b.string(), (reales / nombre).string()});
            ASSERT_EQ(segunda.estado, 0) << segunda.errores;
            EXPECT_TRUE(apoyo::leerArchivo(a) == apoyo::leerArchivo(b));
        }
    }
}

TEST(Esquinas, UnLoteSeRehaceDesdeUnArchivoDeEsquinasYUnaEsquinaMovidaCambiaSoloSuPagina) {
    apoyo::CarpetaTemporal carpeta;
    std::vector<std::string> fotos;
    for (int i = 0; i < 3; ++i) {
        fotos.push_back((carpeta / numerado("f", i, ".png")).string());
        grabarBytes(fotos.back(), codificarPng(fotoDeEscena(30 + static_cast<std::uint64_t>(i))));
    }
    // A blank photo: no sheet, "esquinas": null, and detected again (and not found) from the file.
    fotos.push_back((carpeta / "blanca.png").string());
    grabarBytes(fotos.back(), codificarPng(apoyo::imagenDe(320, 240, [](int, int, int) { return 128; })));
    const auto lote = [&](std::vector<std::string> opciones, const char* carpetaSalida) {
        opciones.insert(opciones.end(), {"-j", "2", "-o", (carpeta / carpetaSalida).string() + "/"});
        opciones.insert(opciones.end(), fotos.begin(), fotos.end());
        return correr(opciones);
    };
    const auto pagina = [&](const char* carpetaSalida, int i) {
        return apoyo::leerArchivo(carpeta / carpetaSalida / numerado("f", i, "-hoja.png"));
    };
    const Corrida detectado = lote({"--json"}, "uno");
    ASSERT_EQ(detectado.estado, 1) << detectado.errores;
    const std::vector<std::string> lineas = lineasDe(detectado.salida);
    ASSERT_EQ(lineas.size(), 4u);
    EXPECT_EQ(campo(lineas[3], "esquinas"), "null");
    apoyo::escribirArchivo(carpeta / "e.jsonl", apoyo::Bytes(detectado.salida.begin(), detectado.salida.end()));

    // Through --json's lines, saving the corners used as it goes.
    const Corrida rehecho = lote({"--esquinas-de", (carpeta / "e.jsonl").string(), "--guardar-esquinas",
                                  (carpeta / "g.jsonl").string()}, "dos");
    EXPECT_EQ(rehecho.estado, 1) << rehecho.errores;
    EXPECT_NE(rehecho.errores.find("blanca.png\": no se encontraron las cuatro esquinas"), std::string::npos)
        << rehecho.errores;
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(pagina("uno", i) == pagina("dos", i)) << i;
    // The saved file holds --json's lines, null for the photo without a sheet.
    const apoyo::Bytes guardado = apoyo::leerArchivo(carpeta / "g.jsonl");
    const std::vector<std::string> guardadas = lineasDe(std::string(guardado.begin(), guardado.end()));
    ASSERT_EQ(guardadas.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(campo(guardadas[i], "foto"), fotos[static_cast<std::size_t>(i)]);
        EXPECT_EQ(campo(guardadas[i], "esquinas"), campo(lineas[static_cast<std::size_t>(i)], "esquinas"));
        EXPECT_EQ(campo(guardadas[i], "estado"), campo(lineas[static_cast<std::size_t>(i)], "estado"));
    }

    // Through the saved file, with the second photo's bottom-right corner moved by hand (the
    // others' lines in another order): only that page changes.
    std::string editado;
    for (int i : {2, 0, 3}) editado += guardadas[static_cast<std::size_t>(i)] + "\n";
    double v[8];
    const std::string formato = "[[%lf,%lf],[%lf,%lf],[%lf,%lf],[%lf,%lf]]";
    ASSERT_EQ(std::sscanf(campo(guardadas[1], "esquinas").c_str(), formato.c_str(), &v[0], &v[1], &v[2], &v[3], &v[4],
                          &v[5], &v[6], &v[7]),
              8);
    char movidas[256];
    std::snprintf(movidas, sizeof movidas, "[[%.2f,%.2f],[%.2f,%.2f],[%.2f,%.2f],[%.2f,%.2f]]", v[0], v[1], v[2], v[3],
                  v[4] + 6, v[5] + 4, v[6], v[7]);
    editado += "{\"foto\":\"" + fotos[1] + "\",\"esquinas\":" + movidas + ",\"otro\":{\"campo\":[1,2]}}\r\n\n";
    apoyo::escribirArchivo(carpeta / "editado.jsonl", apoyo::Bytes(editado.begin(), editado.end()));
    const Corrida movido = lote({"--json", "--esquinas-de", (carpeta / "editado.jsonl").string()}, "tres");
    EXPECT_EQ(movido.estado, 1) << movido.errores;
    EXPECT_TRUE(pagina("uno", 0) == pagina("tres", 0));
    EXPECT_FALSE(pagina("uno", 1) == pagina("tres", 1));
    EXPECT_FALSE(pagina("tres", 1).empty());
    EXPECT_TRUE(pagina("uno", 2) == pagina("tres", 2));
    EXPECT_EQ(campo(lineasDe(movido.salida).at(1), "esquinas"), movidas);

    // A photo left out of the file, or with null, is detected as usual: the same pages.
    const std::string parcial = guardadas[0] + "\n{\"foto\":\"" + fotos[2] + "\",\"esquinas\":null}\n";
    apoyo::escribirArchivo(carpeta / "parcial.jsonl", apoyo::Bytes(parcial.begin(), parcial.end()));
    const Corrida mitad = lote({"--esquinas-de", (carpeta / "parcial.jsonl").string()}, "cuatro");
    EXPECT_EQ(mitad.estado, 1) << mitad.errores;
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(pagina("uno", i) == pagina("cuatro", i)) << i;
}

TEST(Esquinas, LasEsquinasMalasDeLaOpcionSonUnErrorDeUsoYNoSeEscribeNada) {
    apoyo::CarpetaTemporal carpeta;
    const fs::path foto = carpeta / "foto.png";  // 640 x 480
    grabarBytes(foto, codificarPng(fotoDeEscena(5)));
    const fs::path otra = carpeta / "otra.png";
    grabarBytes(otra, codificarPng(fotoDeEscena(6)));
    const std::string buenas = "100,50,540,60,530,430,110,420";
    const std::pair<std::vector<std::string>, const char*> malos[] = {
        {{"--esquinas", "100,50,540,60,530,430"}, "ocho numeros"},
        {{"--esquinas", "100,50,540,60,530,430,110,abc"}, "\"abc\" no es un numero"},
        {{"--esquinas", "100,50,540,nan,530,430,110,420"}, "no es un numero finito"},
        {{"--esquinas", "100,50,540,60,110,420,530,430"}, "se cruzan"},
        {{"--esquinas", "100,50,110,420,530,430,540,60"}, "al reves"},
        {{"--esquinas", "100,50,540,60,200,150,110,420"}, "no es convexo"},
        {{"--esquinas", "100,50,800.5,60,530,430,110,420"}, "arriba a la derecha (800.50, 60.00) queda fuera"},
        {{"--esquinas", "100,50,110,50,110,60,100,60"}, "demasiado pequeno"},
        {{"--esquinas", buenas, otra.string()}, "una sola foto"},
        {{"--esquinas", buenas, "--esquinas-de", (carpeta / "e.jsonl").string()}, "no van juntas"},
        {{"--esquinas", buenas, "--esquinas", buenas}, "2 veces"},
    };
    for (const auto& [opciones, motivo] : malos) {
        std::string juntos;
        for (const auto& a : opciones) juntos += a + " ";
        SCOPED_TRACE(juntos);
        std::vector<std::string> argumentos = {"--json", "--etapas", (carpeta / "etapas").string(), "-o",
                                               (carpeta / "hoja.png").string()};
        argumentos.insert(argumentos.end(), opciones.begin(), opciones.end());
        argumentos.push_back(foto.string());
        const Corrida c = correr(argumentos);
        EXPECT_EQ(c.estado, kSalidaUso);
        EXPECT_EQ(lineas(c.errores), 2) << c.errores;
        EXPECT_NE(c.errores.find(motivo), std::string::npos) << c.errores;
        EXPECT_NE(c.errores.find("--help"), std::string::npos) << c.errores;
        EXPECT_EQ(c.salida, "");
    }
    EXPECT_EQ(archivosEn(carpeta.ruta), 2);
    // The good ones make the page.
    const Corrida c = correr({"-o", (carpeta / "hoja.png").string(), "--esquinas", buenas, foto.string()});
    EXPECT_EQ(c.estado, 0) << c.errores;
    EXPECT_TRUE(fs::exists(carpeta / "hoja.png"));
}

TEST(Esquinas, LasEsquinasMalasDeUnArchivoFallanSuFotoYLasOtrasSeHacen) {
    apoyo::CarpetaTemporal carpeta;
    std::vector<std::string> fotos;
    for (int i = 0; i < 4; ++i) {
        fotos.push_back((carpeta / numerado("f", i, ".png")).string());
        grabarBytes(fotos.back(), codificarPng(fotoDeEscena(40 + static_cast<std::uint64_t>(i))));
    }
    const auto linea = [&](int i, const std::string& esquinas) {
        return "{\"foto\":\"" + fotos[static_cast<std::size_t>(i)] + "\",\"esquinas\":" + esquinas + "}\n";
    };
    const std::string texto = linea(0, "[[100,50],[540,60],[110,420],[530,430]]") +       // crossed
                              linea(1, "[[100,50],[540,60],[530,430]]") +                 // three corners
                              linea(2, "[[100,50],[540,\"60\"],[530,430],[110,420]]") +    // a string
                              linea(3, "[[100,50],[540,60],[530,430],[110,420]]");        // good
    apoyo::escribirArchivo(carpeta / "e.jsonl", apoyo::Bytes(texto.begin(), texto.end()));
    const Corrida c = correr({"--json", "--esquinas-de", (carpeta / "e.jsonl").string(), "--guardar-esquinas",
                              (carpeta / "g.jsonl").string(), "-o", (carpeta / "lote").string() + "/", fotos[0],
                              fotos[1], fotos[2], fotos[3]});
    EXPECT_EQ(c.estado, 1);
    const std::vector<std::string> errores = lineasDe(c.errores);
    ASSERT_EQ(errores.size(), 3u) << c.errores;
    EXPECT_NE(errores[0].find("f0.png\": las esquinas dadas no sirven: los lados del cuadrilatero se cruzan"),
              std::string::npos)
        << errores[0];
    EXPECT_NE(errores[1].find("f1.png\": las esquinas de \"" + (carpeta / "e.jsonl").string() +
                              "\", linea 2, no son cuatro pares"),
              std::string::npos)
        << errores[1];
    EXPECT_NE(errores[2].find("linea 3, no son cuatro pares"), std::string::npos) << errores[2];
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(fs::exists(carpeta / "lote" / numerado("f", i, "-hoja.png"))) << i;
    EXPECT_TRUE(fs::exists(carpeta / "lote" / "f3-hoja.png"));
    const std::vector<std::string> json = lineasDe(c.salida);
    ASSERT_EQ(json.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(campo(json[static_cast<std::size_t>(i)], "estado"), "error");
        EXPECT_EQ(campo(json[static_cast<std::size_t>(i)], "esquinas"), "null");
    }
    EXPECT_EQ(campo(json[3], "esquinas"), "[[100.00,50.00],[540.00,60.00],[530.00,430.00],[110.00,420.00]]");
    // The saved corners: the good ones, null for the others.
    const apoyo::Bytes guardado = apoyo::leerArchivo(carpeta / "g.jsonl");
    EXPECT_EQ(std::string(guardado.begin(), guardado.end()), c.salida);
}

TEST(Esquinas, UnArchivoDeEsquinasMalFormadoEsUnErrorDeUsoQueNombraLaLinea) {
    apoyo::CarpetaTemporal carpeta;
    const fs::path foto = carpeta / "foto.png";
    grabarBytes(foto, codificarPng(fotoDeEscena(8)));
    const std::string buena = "{\"foto\":\"" + foto.string() + "\",\"esquinas\":null}\n";
    const std::pair<std::string, std::string> malos[] = {
        {buena + "no es json\n", "linea 2: no es un objeto JSON"},
        {"\n" + buena + "{\"foto\":\"x\",\"esquinas\":null\n", "linea 3: no es un objeto JSON"},
        {"[1,2]\n", "linea 1: no es un objeto JSON"},
        {"{\"esquinas\":null}\n", "linea 1: falta \"foto\""},
        {"{\"foto\":3,\"esquinas\":null}\n", "linea 1: falta \"foto\""},
        {"{\"foto\":\"x.png\"}\n", "linea 1: falta \"esquinas\""},
        {buena + buena, "linea 2: la foto \"" + foto.string() + "\" ya estaba en la linea 1"},
        {"{\"foto\":\"x\",\"foto_bytes\":\"zz\",\"esquinas\":null}\n", "linea 1: \"foto_bytes\" no son bytes"},
        {"{\"foto\":\"x\",\"foto_bytes\":\"abc\",\"esquinas\":null}\n", "linea 1: \"foto_bytes\" no son bytes"},
        {"{\"foto\":\"x\",\"foto_bytes\":\"786g\",\"esquinas\":null}\n", "linea 1: \"foto_bytes\" no son bytes"},
        {"{\"foto\":\"x\",\"foto_bytes\":\"78g6\",\"esquinas\":null}\n", "linea 1: \"foto_bytes\" no son bytes"},
    };
    int n = 0;
    for (const auto& [texto, motivo] : malos) {
        SCOPED_TRACE(texto);
        const fs::path archivo = carpeta / numerado("e", n++, ".jsonl");
        apoyo::escribirArchivo(archivo, apoyo::Bytes(texto.begin(), texto.end()));
        const Corrida c = correr({"--json", "--esquinas-de", archivo.string(), "--guardar-esquinas",
                                  (carpeta / "g.jsonl").string(), "-o", (carpeta / "hoja.png").string(), foto.string()});
        EXPECT_EQ(c.estado, kSalidaUso);
        EXPECT_EQ(lineas(c.errores), 2) << c.errores;
        EXPECT_NE(c.errores.find("--esquinas-de: \"" + archivo.string() + "\", " + motivo), std::string::npos)
            << c.errores;
        EXPECT_EQ(c.salida, "");
    }
    // A file that is not there, a folder, one too large.
    const std::pair<fs::path, const char*> archivos[] = {
        {carpeta / "no-esta.jsonl", "no se puede abrir"}, {carpeta.ruta, "no se puede leer"}, {carpeta / "grande.jsonl", "MiB"}};
    {
        std::ofstream grande(carpeta / "grande.jsonl");
    }
    fs::resize_file(carpeta / "grande.jsonl", kBytesMaximosEsquinas + 1);
    for (const auto& [archivo, motivo] : archivos) {
        SCOPED_TRACE(archivo);
        const Corrida c = correr({"--esquinas-de", archivo.string(), "-o", (carpeta / "hoja.png").string(), foto.string()});
        EXPECT_EQ(c.estado, kSalidaUso);
        EXPECT_NE(c.errores.find(motivo), std::string::npos) << c.errores;
    }
    fs::remove(carpeta / "grande.jsonl");
    EXPECT_EQ(archivosEn(carpeta.ruta), static_cast<long>(std::size(malos)) + 1);
}

TEST(Esquinas, ElArchivoDeEsquinasNombraLaFotoPorSusBytesYSeGuardaComoCualquierResultado) {
    apoyo::CarpetaTemporal carpeta;
    // A name that is not UTF-8: its line gives it as foto_bytes.
    const fs::path foto = carpeta / "mal\xff.png";
    grabarBytes(foto, codificarPng(fotoDeEscena(9)));
    const Corrida detectado = correr({"--json", "-o", (carpeta / "a.png").string(), foto.string()});
    ASSERT_EQ(detectado.estado, 0) << detectado.errores;
    ASSERT_NE(detectado.salida.find("foto_bytes"), std::string::npos);
    // Its corners moved, and a line for a photo not given (passed over).
    std::string linea = detectado.salida;
    const std::string esquinas = campo(linea, "esquinas");
    linea.replace(linea.find(esquinas), esquinas.size(), "[[100,60],[540,50],[550,420],[90,430]]");
    linea += "{\"foto\":\"otra.png\",\"esquinas\":[[1,2],[3,4],[5,6],[7,8]]}\n";
    apoyo::escribirArchivo(carpeta / "e.jsonl", apoyo::Bytes(linea.begin(), linea.end()));
    const Corrida dada = correr({"--json", "--esquinas-de", (carpeta / "e.jsonl").string(), "-o",
                                 (carpeta / "b.png").string(), foto.string()});
    ASSERT_EQ(dada.estado, 0) << dada.errores;
    EXPECT_EQ(campo(dada.salida, "esquinas"), "[[100.00,60.00],[540.00,50.00],[550.00,420.00],[90.00,430.00]]");
    const Corrida porOpcion = correr({"--esquinas", "100,60,540,50,550,420,90,430", "-o", (carpeta / "c.png").string(),
                                      foto.string()});
    ASSERT_EQ(porOpcion.estado, 0) << porOpcion.errores;
    EXPECT_TRUE(apoyo::leerArchivo(carpeta / "b.png") == apoyo::leerArchivo(carpeta / "c.png"));
    EXPECT_FALSE(apoyo::leerArchivo(carpeta / "a.png") == apoyo::leerArchivo(carpeta / "b.png"));

    // A file none of whose lines names a photo given: every sheet is detected, with a warning.
    const std::string ajeno = "{\"foto\":\"otra.png\",\"esquinas\":null}\n";
    apoyo::escribirArchivo(carpeta / "ajeno.jsonl", apoyo::Bytes(ajeno.begin(), ajeno.end()));
    const Corrida ajena = correr({"--esquinas-de", (carpeta / "ajeno.jsonl").string(), "-o",
                                  (carpeta / "f.png").string(), foto.string()});
    ASSERT_EQ(ajena.estado, 0) << ajena.errores;
    EXPECT_EQ(lineas(ajena.errores), 1) << ajena.errores;
    EXPECT_NE(ajena.errores.find("advertencia: ninguna linea de"), std::string::npos) << ajena.errores;
    EXPECT_TRUE(apoyo::leerArchivo(carpeta / "a.png") == apoyo::leerArchivo(carpeta / "f.png"));
    // An empty file (a run that saved no corners) names no photo either, and is no mistake: no warning.
    apoyo::escribirArchivo(carpeta / "vacio.jsonl", {});
    const Corrida vacia = correr({"--esquinas-de", (carpeta / "vacio.jsonl").string(), "-o",
                                  (carpeta / "g.png").string(), foto.string()});
    ASSERT_EQ(vacia.estado, 0) << vacia.errores;
    EXPECT_EQ(vacia.errores, "");
    EXPECT_TRUE(apoyo::leerArchivo(carpeta / "a.png") == apoyo::leerArchivo(carpeta / "g.png"));

    // Corners given with more decimals than a detector's come back as given.
    const Corrida finas = correr({"--json", "--esquinas", "100.125,60,540,50.0625,550,420,90,430.1", "-o",
                                  (carpeta / "d.png").string(), foto.string()});
    ASSERT_EQ(finas.estado, 0) << finas.errores;
    EXPECT_EQ(campo(finas.salida, "esquinas"), "[[100.125,60.00],[540.00,50.0625],[550.00,420.00],[90.00,430.10]]");

    // Where the corners are saved is checked as every output: not over a photo, not over a result,
    // not in a folder that does not exist, not a folder.
    const std::pair<fs::path, const char*> destinos[] = {
        {foto, "es una de las fotos"},
        {carpeta / "c.png", "es el resultado de la foto"},
        {carpeta / "falta" / "g.jsonl", "no existe la carpeta"},
        {carpeta.ruta, "es una carpeta"},
    };
    for (const auto& [destino, motivo] : destinos) {
        SCOPED_TRACE(destino);
        const Corrida c = correr({"--guardar-esquinas", destino.string(), "-o", (carpeta / "c.png").string(), foto.string()});
        EXPECT_EQ(c.estado, kSalidaUso);
        EXPECT_NE(c.errores.find(motivo), std::string::npos) << c.errores;
    }
    const Corrida pdf = correr({"--guardar-esquinas", (carpeta / "x.pdf").string(), "-o", (carpeta / "x.pdf").string(),
                                foto.string()});
    EXPECT_EQ(pdf.estado, kSalidaUso);
    EXPECT_NE(pdf.errores.find("es el PDF de -o"), std::string::npos) << pdf.errores;
    // The corners file read and saved again under its own name.
    const Corrida mismo = correr({"--esquinas-de", (carpeta / "e.jsonl").string(), "--guardar-esquinas",
                                  (carpeta / "e.jsonl").string(), "-o", (carpeta / "e.png").string(), foto.string()});
    ASSERT_EQ(mismo.estado, 0) << mismo.errores;
    EXPECT_TRUE(apoyo::leerArchivo(carpeta / "b.png") == apoyo::leerArchivo(carpeta / "e.png"));
    const apoyo::Bytes guardado = apoyo::leerArchivo(carpeta / "e.jsonl");
    EXPECT_NE(std::string(guardado.begin(), guardado.end()).find("[[100.00,60.00],"), std::string::npos);
}

TEST(Esquinas, ConEsquinasDadasLasEtapasSonLaReducidaElContornoYLaPagina) {
    apoyo::CarpetaTemporal carpeta;
    const fs::path foto = carpeta / "foto.png";
    grabarBytes(foto, codificarPng(fotoDeEscena(11)));
    const fs::path etapas = carpeta / "etapas";
    // A stage image of an earlier run does not stay behind.
    fs::create_directories(etapas / "foto");
    apoyo::escribirArchivo(etapas / "foto" / "imagenBordes.bmp", {'x'});
    const Corrida c = correr({"--cuenta", "--etapas", etapas.string(), "--mapa", "bilineal", "--esquinas",
                              "190,60,460,50,470,440,180,430", "-o", (carpeta / "hoja.bmp").string(), foto.string()});
    ASSERT_EQ(c.estado, 0) << c.errores;
    EXPECT_FALSE(fs::exists(etapas / "foto" / "imagenBordes.bmp"));
    EXPECT_FALSE(fs::exists(etapas / "foto" / "imagen_Hough.bmp"));
    const Resultado<BmpLeido> reducida = leerImagen(etapas / "foto" / kImagenesEtapas[0]);
    const Resultado<BmpLeido> contorno = leerImagen(etapas / "foto" / kImagenesEtapas[3]);
    ASSERT_TRUE(reducida.ok() && contorno.ok());
    // The outline is the working image with the given quadrilateral drawn in green: the top side
    // from (190, 60) to (460, 50) as a viewer sees it, at the working image's scale.
    const ImagenBmp& a = reducida->imagen;
    const ImagenBmp& b = contorno->imagen;
    EXPECT_EQ(a.plano0.datos, b.plano0.datos);
    const double escala = static_cast<double>(a.ancho()) / 640;
    const int x = static_cast<int>(320 * escala), y = a.alto() - 1 - static_cast<int>(55 * escala + 0.5);
    int verdes = 0;
    for (int f = y - 1; f <= y + 1; ++f) verdes += b.plano1[f][x] == 255 && a.plano1[f][x] != 255;
    EXPECT_GE(verdes, 1);
    // The page is the stage's last image; the account says where the corners came from.
    EXPECT_TRUE(apoyo::leerArchivo(etapas / "foto" / kImagenesEtapas[4]) == apoyo::leerArchivo(carpeta / "hoja.bmp"));
    EXPECT_NE(c.salida.find("Esquinas de la hoja dadas"), std::string::npos) << c.salida;
    EXPECT_NE(c.salida.find("(460,50)"), std::string::npos) << c.salida;
    EXPECT_NE(c.salida.find("Se ha grabado la imagen \"imagenHojaCarta.bmp\""), std::string::npos) << c.salida;
}

TEST(Esquinas, LosUmbralesFijosHacenLaPaginaEnElOrdenDeLaHojaAunqueDenSusEsquinasCruzadas) {
    // A turned sheet whose corners the fixed thresholds list crossed (their quadrant order swaps the
    // two bottom ones): the page is made in the sheet's order, the one the JSON line prints, and
    // its corners are the sheet's to within a few pixels.
    const auto escenas = escena::conjuntoDeEscenas("giro", 6, 1);
    ASSERT_EQ(escenas.size(), 6u);
    const auto foto = escena::renderizarEscena(escenas[3].escena);
    ASSERT_TRUE(foto);
    apoyo::CarpetaTemporal carpeta;
    ASSERT_TRUE(grabarImagen(foto->imagen, carpeta / "giro.bmp").ok());
    const Corrida c = correr({"--json", "--detector", "espec", "-o", (carpeta / "hoja.png").string(),
                              (carpeta / "giro.bmp").string()});
    ASSERT_EQ(c.estado, 0) << c.errores;
    EXPECT_EQ(campo(c.salida, "estado"), "ok");
    double v[8];
    ASSERT_EQ(std::sscanf(campo(c.salida, "esquinas").c_str(), "[[%lf,%lf],[%lf,%lf],[%lf,%lf],[%lf,%lf]]", &v[0], &v[1],
                          &v[2], &v[3], &v[4], &v[5], &v[6], &v[7]),
              8);
    const Cuadrilatero verdad = aPantalla(escenas[3].escena.esquinas, foto->imagen.alto());
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(v[2 * i], verdad[static_cast<std::size_t>(i)].x, 8.0) << i;
        EXPECT_NEAR(v[2 * i + 1], verdad[static_cast<std::size_t>(i)].y, 8.0) << i;
    }
    const Corrida dada = correr({"--esquinas", esquinasDeLinea(c.salida), "-o", (carpeta / "dada.png").string(),
                                 (carpeta / "giro.bmp").string()});
    ASSERT_EQ(dada.estado, 0) << dada.errores;
    EXPECT_TRUE(apoyo::leerArchivo(carpeta / "hoja.png") == apoyo::leerArchivo(carpeta / "dada.png"));
}

TEST(Esquinas, LasEsquinasHalladasQueNoSePodrianDarNoHacenPagina) {
    // On a pale desk with a dark object and no sheet, the fixed thresholds give a quadrilateral that
    // is not convex: the bilinear map, which needs no proportion, made a page of it. Now no page
    // is made under either map, as for corners given.
    const auto escenas = escena::conjuntoDeEscenas("objetos-oscuros", 1, 1);
    ASSERT_EQ(escenas.size(), 1u);
    const auto foto = escena::renderizarEscena(escenas[0].escena);
    ASSERT_TRUE(foto);
    apoyo::CarpetaTemporal carpeta;
    ASSERT_TRUE(grabarImagen(foto->imagen, carpeta / "objeto.bmp").ok());
    for (const char* mapa : {"bilineal", "perspectiva"}) {
        SCOPED_TRACE(mapa);
        const Corrida c = correr({"--json", "--cuenta", "--detector", "espec", "--mapa", mapa, "-o",
                                  (carpeta / "hoja.png").string(), (carpeta / "objeto.bmp").string()});
        EXPECT_EQ(c.estado, 1);
        EXPECT_NE(c.errores.find("objeto.bmp\": las esquinas halladas no forman una hoja: el cuadrilatero no es convexo"),
                  std::string::npos)
            << c.errores;
        EXPECT_NE(c.salida.find("\"estado\":\"sin-hoja\",\"esquinas\":null"), std::string::npos) << c.salida;
        EXPECT_NE(c.salida.find("Las esquinas halladas no forman una hoja"), std::string::npos) << c.salida;
        EXPECT_FALSE(fs::exists(carpeta / "hoja.png"));
    }
}

}  // namespace
