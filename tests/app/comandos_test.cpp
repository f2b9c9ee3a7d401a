// The command line: options and usage errors, photos in every format, results in every format and
// one PDF, batches with a bad photo, JSON, threads, and the real photos in their original files.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spng.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "apoyo.hpp"
#include "app/comandos.hpp"
#include "app/escaner.hpp"
#include "app/recorrido.hpp"
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

TEST(Comandos, LasEtapasNuncaTocanUnaFotoNiSalenDeSuCarpeta) {
    apoyo::CarpetaTemporal c;
    const ImagenBmp imagen = fotoDeEscena(5);
    ASSERT_EQ(grabarImagen(imagen, c / "x.bmp"), std::nullopt);
    const apoyo::Bytes original = apoyo::leerArchivo(c / "x.bmp");
    // A photo where the stage images of another, or its own, would go: refused before any work,
    // the photo whole.
    fs::create_directories(c / "et/x");
    fs::copy_file(c / "x.bmp", c / "et/x/imagenReducida.bmp");
    const std::string segunda = (c / "et/x/imagenReducida.bmp").string();
    const Corrida lote = correr({"-j", "1", (c / "x.bmp").string(), segunda, "--etapas", (c / "et").string(), "-o",
                                 (c / "lote").string()});
    EXPECT_EQ(lote.estado, kSalidaUso) << lote.errores;
    fs::create_directories(c / "et/imagenBordes");
    fs::copy_file(c / "x.bmp", c / "et/imagenBordes/imagenBordes.bmp");
    const Corrida propia = correr({(c / "et/imagenBordes/imagenBordes.bmp").string(), "--etapas",
                                   (c / "et").string(), "-o", (c / "s.png").string()});
    EXPECT_EQ(propia.estado, kSalidaUso) << propia.errores;
    EXPECT_EQ(apoyo::leerArchivo(segunda), original);
    EXPECT_EQ(apoyo::leerArchivo(c / "et/imagenBordes/imagenBordes.bmp"), original);
    EXPECT_FALSE(fs::exists(c / "lote"));
    EXPECT_FALSE(fs::exists(c / "s.png"));

    // Photos whose stems are ".." and "." keep their stage images in folders of their own inside the
    // stage folder; nothing is written beside it or straight into it.
    apoyo::CarpetaTemporal d;
    fs::create_directories(d / "fotos");
    for (const char* nombre : {"...bmp", "..bmp"}) fs::copy_file(c / "x.bmp", d / "fotos" / nombre);
    const Corrida puntos = correr({"--etapas", (d / "fotos/et").string(), "-o", (d / "lote").string(),
                                   (d / "fotos/...bmp").string(), (d / "fotos/..bmp").string()});
    EXPECT_EQ(puntos.estado, 0) << puntos.errores;
    std::vector<std::string> hechos;
    for (const auto& e : fs::recursive_directory_iterator(d / "fotos"))
        hechos.push_back(fs::relative(e.path(), d / "fotos").string());
    std::sort(hechos.begin(), hechos.end());
    std::vector<std::string> esperados = {"...bmp", "..bmp", "et", "et/_", "et/__"};
    for (const char* sub : {"et/_/", "et/__/"})
        for (const char* etapa : kImagenesEtapas) esperados.push_back(sub + std::string(etapa));
    std::sort(esperados.begin(), esperados.end());
    EXPECT_EQ(hechos, esperados);

    // A photo's stage folder that is a link to another folder is refused, not written through; the
    // folder's files stay as they were, and the other photos go on.
    fs::create_directories(d / "ajena");
    apoyo::escribirArchivo(d / "ajena/imagenBordes.bmp", {'m', 'i', 'o'});
    fs::create_directory_symlink(d / "ajena", d / "fotos/et/x");
    fs::copy_file(c / "x.bmp", d / "fotos/x.bmp");
    const Corrida enlace = correr({"--etapas", (d / "fotos/et").string(), "-o", (d / "lote2").string(),
                                   (d / "fotos/x.bmp").string(), (d / "fotos/..bmp").string()});
    EXPECT_EQ(enlace.estado, 1);
    EXPECT_EQ(lineas(enlace.errores), 1) << enlace.errores;
    EXPECT_NE(enlace.errores.find("enlace simbolico"), std::string::npos) << enlace.errores;
    EXPECT_EQ(apoyo::leerArchivo(d / "ajena/imagenBordes.bmp"), (apoyo::Bytes{'m', 'i', 'o'}));
    EXPECT_EQ(std::distance(fs::directory_iterator(d / "ajena"), fs::directory_iterator()), 1);
    EXPECT_TRUE(fs::exists(d / "lote2/.-hoja.png"));
    // A stage image that cannot be written is named as the user named its folder.
    fs::create_directories(d / "fotos/et2/x/imagenBordes.bmp");
    const Corrida carpeta = correr({"--etapas", (d / "fotos/et2").string(), "-o", (d / "x.png").string(),
                                    (d / "fotos/x.bmp").string()});
    EXPECT_EQ(carpeta.estado, 1);
    EXPECT_NE(carpeta.errores.find(entreComillas(d / "fotos/et2/x/imagenBordes.bmp")), std::string::npos)
        << carpeta.errores;
}

// Whether `texto` is one JSON value and nothing else, strings in well-formed UTF-8.
bool esJson(const std::string& texto) {
    std::size_t i = 0;
    const auto espacios = [&] {
        while (i < texto.size() && std::isspace(static_cast<unsigned char>(texto[i]))) ++i;
    };
    const auto cadena = [&] {
        if (texto[i++] != '"') return false;
        while (i < texto.size() && texto[i] != '"') {
            const auto c = static_cast<unsigned char>(texto[i]);
            if (c < 0x20) return false;
            if (c == '\\') {
                const char e = texto[++i];
                if (e == 'u') {
                    for (int k = 1; k <= 4; ++k)
                        if (!std::isxdigit(static_cast<unsigned char>(texto[i + k]))) return false;
                    i += 4;
                } else if (std::string("\"\\/bfnrt").find(e) == std::string::npos) {
                    return false;
                }
                ++i;
                continue;
            }
            // One UTF-8 character: its length from the lead byte, then continuation bytes only
            // (overlong forms and surrogates are left to the writer's own test below).
            const int largo = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3
                                                                          : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
            if (largo == 0 || i + largo > texto.size()) return false;
            for (int k = 1; k < largo; ++k)
                if ((static_cast<unsigned char>(texto[i + k]) & 0xC0) != 0x80) return false;
            i += largo;
        }
        return i++ < texto.size();
    };
    std::function<bool()> valor = [&] {
        espacios();
        if (i >= texto.size()) return false;
        if (texto[i] == '"') return cadena();
        if (texto[i] == '{' || texto[i] == '[') {
            const char cierre = texto[i] == '{' ? '}' : ']';
            ++i;
            espacios();
            if (texto[i] == cierre) return ++i, true;
            do {
                espacios();
                if (cierre == '}') {
                    if (!cadena()) return false;
                    espacios();
                    if (texto[i++] != ':') return false;
                }
                if (!valor()) return false;
                espacios();
            } while (texto[i] == ',' && ++i);
            return texto[i++] == cierre;
        }
        for (const char* palabra : {"null", "true", "false"})
            if (texto.compare(i, std::strlen(palabra), palabra) == 0) return i += std::strlen(palabra), true;
        char* fin = nullptr;
        std::strtod(texto.c_str() + i, &fin);
        if (fin == texto.c_str() + i) return false;
        i = static_cast<std::size_t>(fin - texto.c_str());
        return true;
    };
    if (!valor()) return false;
    espacios();
    return i == texto.size();
}

TEST(Comandos, NombresQueNoSonUtf8NiImprimiblesEnJsonYEnLosMensajes) {
    EXPECT_TRUE(esJson(R"({"a":[1,-2.5e3,"\u00e9\n"],"b":null,"c":"ñ"})"));
    EXPECT_FALSE(esJson("{\"a\":\"\xff\"}"));
    EXPECT_FALSE(esJson("{\"a\":\"\n\"}"));
    EXPECT_FALSE(esJson("{\"a\":1"));

    apoyo::CarpetaTemporal c;
    const ImagenBmp imagen = fotoDeEscena(6);
    const std::string malo = "mal\xff\xfe\xed\xa0\x80\xc0\xaf", control = "l\xc3\xadnea\n\x1b[31mroja\x7f\xc2\x9b", bueno = "a\xc3\xb1o \"x\" \xdf\xbf\xe2\x82\xac\xf0\x9f\x93\x84";
    for (const std::string& nombre : {malo, control, bueno})
        ASSERT_EQ(grabarImagen(imagen, c / (nombre + ".bmp")), std::nullopt);
    const Corrida lote = correr({"--json", "-o", (c / "lote").string(), (c / (malo + ".bmp")).string(),
                                 (c / (control + ".bmp")).string(), (c / (bueno + ".bmp")).string()});
    EXPECT_EQ(lote.estado, 0) << lote.errores;
    EXPECT_EQ(lote.errores, "");  // not a terminal: no progress line either
    std::vector<std::string> json;
    std::istringstream texto(lote.salida);
    for (std::string linea; std::getline(texto, linea);) json.push_back(linea);
    ASSERT_EQ(json.size(), 3u) << lote.salida;
    for (const std::string& linea : json) {
        EXPECT_TRUE(esJson(linea)) << linea;
        const std::string esquinas = campo(linea, "esquinas");
        EXPECT_EQ(std::count(esquinas.begin(), esquinas.end(), '['), 5) << linea;
    }
    // The name that is not UTF-8: U+FFFD for each stray byte, and all its bytes in hex to find
    // the file by; the others as they are, without the extra fields.
    std::string reemplazado = "mal";
    for (int i = 0; i < 7; ++i) reemplazado += "\xef\xbf\xbd";  // two stray bytes, a surrogate, an overlong '/'
    EXPECT_NE(json[0].find(reemplazado + ".bmp\""), std::string::npos) << json[0];
    const std::string bytes = campo(json[0], "foto_bytes");
    std::string decodificado;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        decodificado.push_back(static_cast<char>(std::stoi(bytes.substr(i, 2), nullptr, 16)));
    EXPECT_EQ(decodificado, (c / (malo + ".bmp")).string());
    EXPECT_TRUE(fs::exists(fs::path(decodificado)));
    EXPECT_NE(json[0].find("\"salida_bytes\":\""), std::string::npos) << json[0];
    EXPECT_NE(json[1].find("l\xc3\xadnea\\u000a\\u001b[31mroja\x7f\xc2\x9b.bmp\""), std::string::npos) << json[1];
    EXPECT_EQ(json[1].find("_bytes"), std::string::npos) << json[1];
    EXPECT_EQ(campo(json[2], "estado"), "ok");
    EXPECT_NE(json[2].find("a\xc3\xb1o \\\"x\\\" \xdf\xbf\xe2\x82\xac\xf0\x9f\x93\x84.bmp\""), std::string::npos)
        << json[2];
    EXPECT_EQ(json[2].find("_bytes"), std::string::npos) << json[2];

    // A photo that cannot be read gets one line on stderr however it is named, and no control
    // character reaches the terminal.
    for (const std::string& nombre : {malo, control}) {
        apoyo::escribirArchivo(c / (nombre + ".bmp"), {'h', 'o', 'l', 'a'});
        const Corrida rota = correr({"-o", (c / "lote").string(), (c / (nombre + ".bmp")).string()});
        EXPECT_EQ(rota.estado, 1);
        EXPECT_EQ(lineas(rota.errores), 1) << rota.errores;
        for (std::size_t i = 0; i < rota.errores.size(); ++i) {
            const auto b = static_cast<unsigned char>(rota.errores[i]);
            const auto siguiente = static_cast<unsigned char>(rota.errores[i + 1]);
            EXPECT_FALSE((b < 0x20 && b != '\n') || b == 0x7f || b == 0xff || (b == 0xc2 && siguiente < 0xa0))
                << i << " " << rota.errores;
        }
    }
    // Each byte shown once, and only those.
    EXPECT_NE(correr({"-o", (c / "lote").string(), (c / (control + ".bmp")).string()})
                  .errores.find("l\xc3\xadnea\\n\\x1b[31mroja\\x7f\\xc2\\x9b.bmp\""),
              std::string::npos);
    EXPECT_NE(correr({"-o", (c / "lote").string(), (c / (malo + ".bmp")).string()})
                  .errores.find("mal\\xff\\xfe\\xed\\xa0\\x80\\xc0\\xaf.bmp\""),
              std::string::npos);
    // Nor in a usage error.
    const Corrida uso = correr({"-o", (c / (control + ".gif")).string(), (c / (bueno + ".bmp")).string()});
    EXPECT_EQ(uso.estado, kSalidaUso);
    EXPECT_EQ(lineas(uso.errores), 2) << uso.errores;
}

TEST(Comandos, FotosQueNoExistenYFinDeOpciones) {
    apoyo::CarpetaTemporal c;
    // Two patterns that matched nothing: each photo missing, one line each, no clash of names.
    const Corrida nada = correr({(c / "fotos/*.jpg").string(), (c / "fotos/*.png").string()});
    EXPECT_EQ(nada.estado, 1);
    EXPECT_EQ(lineas(nada.errores), 2) << nada.errores;
    EXPECT_EQ(nada.errores.find("mismo resultado"), std::string::npos) << nada.errores;
    // Told before the usage error they come with.
    ASSERT_EQ(grabarImagen(fotoDeEscena(8), c / "a.bmp"), std::nullopt);
    fs::create_directory(c / "sub");
    ASSERT_EQ(grabarImagen(fotoDeEscena(8), c / "sub/a.bmp"), std::nullopt);
    const Corrida choque = correr({"-o", (c / "lote").string(), (c / "falta.bmp").string(), (c / "a.bmp").string(),
                                   (c / "sub/a.bmp").string()});
    EXPECT_EQ(choque.estado, kSalidaUso);
    EXPECT_EQ(lineas(choque.errores), 3) << choque.errores;
    EXPECT_EQ(choque.errores.find("escaner: no existe la foto \"" + (c / "falta.bmp").string() + "\"\n"), 0u)
        << choque.errores;
    // A photo whose name starts with a dash, after "--".
    fs::copy_file(c / "a.bmp", c / "-x.bmp");
    const fs::path actual = fs::current_path();
    fs::current_path(c.ruta);
    const Corrida guion = correr({"--", "-x.bmp"});
    fs::current_path(actual);
    EXPECT_EQ(guion.estado, 0) << guion.errores;
    EXPECT_TRUE(fs::exists(c / "-x-hoja.png"));
}

TEST(Comandos, UnaSalidaQueNoSePuedeEscribirNoEsUnExito) {
    // --help into a full device: status 1 and the reason.
    std::FILE* lleno = std::fopen("/dev/full", "w");
    if (lleno) {
        apoyo::Captura errores;
        EXPECT_EQ(ejecutarComandos(2, std::vector<const char*>{"escaner", "--help"}.data(), lleno, errores.f), 1);
        EXPECT_NE(errores.texto().find("no se pudo escribir en la salida estandar"), std::string::npos)
            << errores.texto();
        std::fclose(lleno);
    }
    // A PDF larger than the process may write (a limit on file sizes): status 1, and the JSON says
    // error for every page.
    apoyo::CarpetaTemporal c;
    grabarBytes(c / "p.jpg", codificarJpeg(fotoDeEscena(9), 90));
    int tubo[2];
    ASSERT_EQ(::pipe(tubo), 0);
    const pid_t hijo = ::fork();
    if (hijo == 0) {
        ::dup2(tubo[1], STDOUT_FILENO);
        ::close(tubo[0]);
        const int nulo = ::open("/dev/null", O_WRONLY);
        if (nulo >= 0) ::dup2(nulo, STDERR_FILENO);
        const rlimit limite{16 * 1024, 16 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limite);
        ::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead of ending the process
        const std::string pdf = (c / "todo.pdf").string(), foto = (c / "p.jpg").string();
        ::execl(ESCANER_BINARIO, "escaner", "--json", "-o", pdf.c_str(), foto.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(tubo[1]);
    std::string salida;
    char bloque[4096];
    for (ssize_t n; (n = ::read(tubo[0], bloque, sizeof bloque)) > 0;) salida.append(bloque, static_cast<std::size_t>(n));
    ::close(tubo[0]);
    int estado = 0;
    ASSERT_EQ(::waitpid(hijo, &estado, 0), hijo);
    ASSERT_TRUE(WIFEXITED(estado)) << estado;
    EXPECT_EQ(WEXITSTATUS(estado), 1) << salida;
    EXPECT_EQ(campo(salida, "estado"), "error") << salida;
    EXPECT_FALSE(fs::exists(c / "todo.pdf"));
}

TEST(Comandos, ElProgresoEnUnaTerminal) {
    const int maestro = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (maestro < 0 || ::grantpt(maestro) != 0 || ::unlockpt(maestro) != 0) {
        if (maestro >= 0) ::close(maestro);
        GTEST_SKIP() << "skipped: no pseudo-terminal could be opened";
    }
    const int esclavo = ::open(::ptsname(maestro), O_RDWR | O_NOCTTY);
    ASSERT_GE(esclavo, 0);
    std::FILE* terminal = ::fdopen(esclavo, "w");
    ASSERT_NE(terminal, nullptr);
    apoyo::CarpetaTemporal c;
    std::vector<std::string> argumentos = {"escaner", "-j", "1", "-o", (c / "lote").string() + "/"};
    for (int i = 0; i < 2; ++i) {
        argumentos.push_back((c / numerado("t", i, ".bmp")).string());
        ASSERT_EQ(grabarImagen(fotoDeEscena(30 + static_cast<std::uint64_t>(i)), argumentos.back()), std::nullopt);
    }
    std::vector<const char*> argv;
    for (const std::string& a : argumentos) argv.push_back(a.c_str());
    apoyo::Captura salida;
    // One photo: no progress line.
    EXPECT_EQ(ejecutarComandos(static_cast<int>(argv.size()) - 1, argv.data(), salida.f, terminal), 0);
    std::fflush(terminal);
    ::fcntl(maestro, F_SETFL, O_NONBLOCK);
    char sola[256];
    EXPECT_LE(::read(maestro, sola, sizeof sola), 0);
    EXPECT_EQ(ejecutarComandos(static_cast<int>(argv.size()), argv.data(), salida.f, terminal), 0);
    std::fclose(terminal);
    std::string texto;
    char bloque[4096];
    for (ssize_t n; (n = ::read(maestro, bloque, sizeof bloque)) > 0;) texto.append(bloque, static_cast<std::size_t>(n));
    ::close(maestro);
    // Before any photo is done the time left is not guessed; then it is, and the line is cleared
    // at the end.
    EXPECT_NE(texto.find("0/2  " + argumentos[5] + "  quedan calculando"), std::string::npos) << texto;
    EXPECT_NE(texto.find("1/2  " + argumentos[6] + "  quedan "), std::string::npos) << texto;
    EXPECT_EQ(texto.find("quedan -"), std::string::npos) << texto;
    EXPECT_TRUE(texto.ends_with("\r\x1b[K")) << texto;
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
