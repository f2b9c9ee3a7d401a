// The command line: options and usage errors, photos in every format, results in every format and
// one PDF, batches with a bad photo, JSON, threads, and the real photos in their original files.
#include <sched.h>
#include <spng.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "apoyo.hpp"
#include "app/comandos.hpp"
#include "app/escaner.hpp"
#include "app/turnos.hpp"
#include "escena.hpp"
#include "hijo.hpp"
#include "formatos/formatos.hpp"
#include "imagen/paralelo.hpp"
#include "sistema/archivos.hpp"

namespace {

namespace fs = std::filesystem;

struct Corrida {
    int estado = -1;
    std::string salida, errores;
};

Corrida correr(std::vector<std::string> argumentos) {
    argumentos.insert(argumentos.begin(), "escaner");
    std::vector<const char*> argv;
    for (const std::string& a : argumentos) argv.push_back(a.c_str());
    apoyo::Captura salida, errores;
    Corrida c;
    c.estado = ejecutarComandos(static_cast<int>(argv.size()), argv.data(), salida.f, errores.f);
    c.salida = salida.texto();
    c.errores = errores.texto();
    return c;
}

// "f3.png" from "f", 3 and ".png".
std::string numerado(const char* antes, int numero, const char* despues) {
    char nombre[64];
    std::snprintf(nombre, sizeof nombre, "%s%d%s", antes, numero, despues);
    return nombre;
}

long lineas(const std::string& texto) { return std::count(texto.begin(), texto.end(), '\n'); }

// A rendered photo of a sheet on a desk, small enough to keep the tests quick.
ImagenBmp fotoDeEscena(std::uint64_t semilla) {
    escena::Camara camara;
    camara.centro = {330.0, 245.0};
    camara.altoHoja = 380.0;
    camara.giro = 4.0 + static_cast<double>(semilla % 5);
    camara.inclinacion = 8.0;
    escena::Escena e = escena::escenaConCamara(640, 480, camara, semilla);
    e.fondo = 60;
    return escena::renderizarEscena(e)->imagen;
}

void grabarBytes(const fs::path& archivo, const ArchivoCodificado& a) {
    ASSERT_TRUE(a.valido()) << a.mensaje;
    ASSERT_EQ(grabarArchivo(archivo, a.bytes), std::nullopt);
}

// The sheet the run without arguments writes for `foto`.
apoyo::Bytes hojaSinArgumentos(const ImagenBmp& foto) {
    apoyo::CarpetaTemporal carpeta;
    EXPECT_EQ(grabarImagen(foto, carpeta / "imagenDocumento.bmp"), std::nullopt);
    apoyo::Captura salida, errores;
    EXPECT_EQ(ejecutarEscaner(carpeta.ruta, salida.f, errores.f, [] {}), kSalidaExito) << errores.texto();
    return apoyo::leerArchivo(carpeta / "imagenHojaCarta.bmp");
}

TEST(Comandos, AyudaVersionYErroresDeUso) {
    for (const char* pedido : {"--help", "-h", "--ayuda"}) {
        const Corrida c = correr({pedido});
        EXPECT_EQ(c.estado, 0);
        EXPECT_TRUE(c.salida.starts_with("Uso: escaner [OPCIONES] FOTO...")) << c.salida;
        for (const char* opcion : {"--salida", "--calidad", "--etapas", "--cuenta", "--json", "--hilos", "--ayuda",
                                   "--version", "--detector", "--mapa", "--papel", "--ppp", "--mejorar"})
            EXPECT_NE(c.salida.find(opcion), std::string::npos) << opcion;
        EXPECT_TRUE(c.errores.empty());
    }
    const Corrida v = correr({"--version"});
    EXPECT_EQ(v.estado, 0);
    EXPECT_TRUE(v.salida.starts_with("escaner ")) << v.salida;

    apoyo::CarpetaTemporal carpeta;
    const std::string foto = (carpeta / "foto.bmp").string(), otra = (carpeta / "otra.bmp").string();
    ASSERT_EQ(grabarImagen(fotoDeEscena(1), foto), std::nullopt);
    ASSERT_EQ(grabarImagen(fotoDeEscena(2), otra), std::nullopt);
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
    ASSERT_EQ(grabarImagen(fotoDeEscena(3), carpeta / "sub" / "foto.bmp"), std::nullopt);
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
    ASSERT_EQ(grabarImagen(foto, carpeta / "foto.bmp"), std::nullopt);
    const LecturaFoto jpeg = leerFoto(carpeta / "foto.jpg");
    ASSERT_TRUE(jpeg.imagen) << jpeg.mensaje;
    for (const char* nombre : {"foto.jpg", "foto.png", "foto.bmp"}) {
        SCOPED_TRACE(nombre);
        const fs::path salida = carpeta / (std::string(nombre) + ".bmp");
        const Corrida c = correr({"--detector", "espec", "--mapa", "bilineal", "-o", salida.string(),
                                  (carpeta / nombre).string()});
        ASSERT_EQ(c.estado, 0) << c.errores;
        // The JPEG as our own decoder reads it, the PNG and the BMP as their pixels are.
        const apoyo::Bytes esperada = hojaSinArgumentos(std::string(nombre) == "foto.jpg" ? *jpeg.imagen : foto);
        EXPECT_EQ(apoyo::leerArchivo(salida), esperada);
    }
}

// The value of "clave": in a JSON line as this program writes it (no nesting but the corners).
std::string campo(const std::string& linea, const std::string& clave) {
    const std::string buscado = "\"" + clave + "\":";
    const std::size_t i = linea.find(buscado);
    if (i == std::string::npos) return "";
    std::size_t j = i + buscado.size();
    if (linea[j] == '"') {
        const std::size_t fin = linea.find('"', j + 1);
        return linea.substr(j + 1, fin - j - 1);
    }
    const std::size_t fin = linea[j] == '[' ? linea.find("]]", j) + 2 : linea.find_first_of(",}", j);
    return linea.substr(j, fin - j);
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
                EXPECT_TRUE(leerFoto(campo(json[i], "salida")).imagen);
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

// Runs a poppler tool; its standard output, or nothing when it is not installed or fails.
std::optional<std::string> poppler(const std::string& orden) {
    std::FILE* p = ::popen((orden + " 2>/dev/null").c_str(), "r");
    if (!p) return std::nullopt;
    std::string texto;
    char bloque[4096];
    for (std::size_t n; (n = std::fread(bloque, 1, sizeof bloque, p)) > 0;) texto.append(bloque, n);
    if (::pclose(p) != 0) return std::nullopt;
    return texto;
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
    ASSERT_TRUE(pagina.imagen && hoja.imagen) << pagina.mensaje << hoja.mensaje;
    ASSERT_EQ(pagina.imagen->ancho(), 612);
    ASSERT_EQ(pagina.imagen->alto(), 792);
    // Means of blocks of the same page area.
    double diferencia = 0;
    int bloques = 0;
    for (int f = 0; f + 24 <= 792; f += 24)
        for (int col = 0; col + 24 <= 612; col += 24, ++bloques) {
            double a = 0, b = 0;
            for (int y = f; y < f + 24; ++y)
                for (int x = col; x < col + 24; ++x) {
                    a += pagina.imagen->plano1[y][x];
                    b += hoja.imagen->plano1[y * 1103 / 792][x * 852 / 612];
                }
            diferencia += std::abs(a - b) / (24 * 24);
        }
    EXPECT_LT(diferencia / bloques, 6.0);
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
        ASSERT_TRUE(fa.imagen && fb.imagen);
        const double escalaA = 720.0 / std::hypot(fa.imagen->ancho(), fa.imagen->alto());
        const double escalaB = 720.0 / std::hypot(fb.imagen->ancho(), fb.imagen->alto());
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

// A run of the command line in a child process under an address-space limit of `deMas` bytes
// beyond what it holds at the start; its status, or 128 plus the signal that ended it.
Corrida correrConMemoria(std::uint64_t deMas, std::vector<std::string> argumentos) {
    argumentos.insert(argumentos.begin(), "escaner");
    std::vector<const char*> argv;
    for (const std::string& a : argumentos) argv.push_back(a.c_str());
    apoyo::Captura salida, errores;
    Corrida c;
    c.estado = apoyo::conMemoriaLimitada(deMas, [&] {
        return ejecutarComandos(static_cast<int>(argv.size()), argv.data(), salida.f, errores.f);
    });
    c.salida = salida.texto();
    c.errores = errores.texto();
    return c;
}

TEST(Comandos, SinMemoriaParaUnaFotoFallaEsaFotoYElLoteSigue) {
    // A photo with a sheet whose page, at 1200 pixels per inch, takes 400 MB; the next photo has no
    // sheet and needs no page. Under a limit of 150 MB the first fails for memory, alone, in one
    // line, and the second is worked as ever.
    apoyo::CarpetaTemporal carpeta;
    const std::string hoja = (carpeta / "hoja.bmp").string(), gris = (carpeta / "gris.bmp").string();
    ASSERT_EQ(grabarImagen(fotoDeEscena(1), hoja), std::nullopt);
    ASSERT_EQ(grabarImagen(imagenNueva(640, 480, 128), gris), std::nullopt);
    const Corrida c = correrConMemoria(150 << 20, {"-j", "1", "--ppp", "1200", "-o", (carpeta / "lote").string(), hoja, gris});
    EXPECT_EQ(c.estado, 1) << c.errores;
    EXPECT_EQ(lineas(c.errores), 2) << c.errores;
    const std::size_t corte = c.errores.find('\n');
    const std::string primera = c.errores.substr(0, corte), segunda = c.errores.substr(corte + 1);
    EXPECT_NE(primera.find("hoja.bmp\" no cabe en la memoria libre"), std::string::npos) << c.errores;
    EXPECT_NE(segunda.find("gris.bmp\": no se encontraron las cuatro esquinas"), std::string::npos) << c.errores;
    EXPECT_FALSE(fs::exists(carpeta / "lote" / "hoja-hoja.png"));
}

TEST(Comandos, LasFotosSeTrabajanALaVezSoloSiCabenEnLaMemoria) {
    // Two 24-megapixel PNG photos: each takes 72 MB of planes; two at once do not fit in 130 MB,
    // one does. With -j 2 the second waits for the first, and both are worked.
    // Gray, written by spng from a plain buffer: no plane of the photos' size is made here, where
    // the child would find it kept for reuse.
    apoyo::CarpetaTemporal carpeta;
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{6000, 4000, 8, SPNG_COLOR_TYPE_GRAYSCALE, 0, 0, 0};
    spng_set_ihdr(ctx, &ihdr);
    std::vector<std::uint8_t> gris(6000 * 4000, 200);
    ASSERT_EQ(spng_encode_image(ctx, gris.data(), gris.size(), SPNG_FMT_RAW, SPNG_ENCODE_FINALIZE), 0);
    std::size_t tamano = 0;
    int error = 0;
    auto* datos = static_cast<std::uint8_t*>(spng_get_png_buffer(ctx, &tamano, &error));
    const apoyo::Bytes png(datos, datos + tamano);
    std::free(datos);
    spng_ctx_free(ctx);
    std::vector<std::string> argumentos = {"-j", "2", "-o", (carpeta / "lote").string()};
    for (const char* nombre : {"a.png", "b.png"}) {
        apoyo::escribirArchivo(carpeta / nombre, png);
        argumentos.push_back((carpeta / nombre).string());
    }
    const Corrida c = correrConMemoria(130 << 20, argumentos);
    EXPECT_EQ(c.estado, 1) << c.errores;
    EXPECT_EQ(lineas(c.errores), 2) << c.errores;
    EXPECT_EQ(c.errores.find("memoria"), std::string::npos) << c.errores;
    EXPECT_NE(c.errores.find("a.png\": no se encontraron las cuatro esquinas"), std::string::npos) << c.errores;
    EXPECT_NE(c.errores.find("b.png\": no se encontraron las cuatro esquinas"), std::string::npos) << c.errores;

    // The turns themselves: a photo waits for those before it, and one alone always starts.
    TurnosDeMemoria turnos(100);
    turnos.entrar(0, 1000);
    std::vector<int> orden;
    std::mutex cerrojo;
    std::thread segunda([&] {
        turnos.entrar(1, 60);
        const std::lock_guard<std::mutex> l(cerrojo);
        orden.push_back(1);
    });
    {
        const std::lock_guard<std::mutex> l(cerrojo);
        orden.push_back(0);
    }
    turnos.salir(1000);
    segunda.join();
    EXPECT_EQ(orden, (std::vector<int>{0, 1}));
    turnos.entrar(2, 40);  // 60 + 40 fit in 100
    turnos.salir(60);
    turnos.salir(40);

    // The memory a batch may take: no more than the system has available, and under an
    // address-space limit what the limit leaves, less room for each thread (stack and malloc arena,
    // 144 MiB) and for the blocks kept for reuse (96 MiB).
    std::uint64_t disponible = 0;
    {
        std::ifstream meminfo("/proc/meminfo");
        std::string campo, unidad;
        for (std::uint64_t kb = 0; meminfo >> campo >> kb >> unidad;) {
            if (campo == "MemAvailable:") disponible = kb << 10;
        }
    }
    const std::uint64_t sinLimite = memoriaDisponible(1);
    if (disponible > 0) {
        EXPECT_LE(sinLimite, disponible + (64 << 20));
    }
    const std::uint64_t esperado = std::min<std::uint64_t>(sinLimite, (1024 - 144 - 96) << 20);
    EXPECT_EQ(apoyo::conMemoriaLimitada(std::uint64_t{1} << 30, [&] {
                  const std::uint64_t d = memoriaDisponible(1);
                  return d <= esperado + (8 << 20) && d + (8 << 20) >= esperado ? 0 : 1;
              }),
              0);
}

TEST(Comandos, MaxMegapixeles) {
    apoyo::CarpetaTemporal carpeta;
    const std::string foto = (carpeta / "foto.bmp").string();
    ASSERT_EQ(grabarImagen(fotoDeEscena(1), foto), std::nullopt);  // 640 x 480
    EXPECT_NE(correr({"--help"}).salida.find("--max-megapixeles N"), std::string::npos);
    for (const char* malo : {"0", "901", "abc", "1.5"}) {
        const Corrida c = correr({"--max-megapixeles", malo, foto});
        EXPECT_EQ(c.estado, kSalidaUso) << malo;
        EXPECT_NE(c.errores.find("--max-megapixeles " + std::string(malo) + ": debe ser un entero de 1 a 900"),
                  std::string::npos)
            << c.errores;
    }
    for (const char* bueno : {"1", "900"}) {
        const Corrida c = correr({"--max-megapixeles", bueno, "-o", (carpeta / "hoja.png").string(), foto});
        EXPECT_EQ(c.estado, 0) << c.errores;
    }
    // A megapixel is a million pixels: 640 x 480 is 0.31 of one; 2000 x 600 is more than one.
    const std::string grande = (carpeta / "grande.bmp").string();
    ASSERT_EQ(grabarImagen(imagenNueva(2000, 600, 90), grande), std::nullopt);
    const Corrida c = correr({"--max-megapixeles", "1", "--json", "-o", (carpeta / "lote").string(), foto, grande});
    EXPECT_EQ(c.estado, 1);
    EXPECT_EQ(c.errores, "escaner: \"" + grande + "\" mide 2000 x 600 pixeles, mas de 1 megapixeles: se leen fotos de hasta 1 megapixeles (--max-megapixeles)\n");
    EXPECT_EQ(lineas(c.salida), 2);
}

}  // namespace
