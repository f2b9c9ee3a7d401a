// The command line with --ocr and --orientar: the text of a known page through the whole road, the
// four turns of a page, the .txt files and the JSON fields, language errors, and batches that give
// the same bytes whatever the threads.
#include "comandos_apoyo.hpp"
#include "pagina_texto.hpp"
#include "ocr/datos_ocr.hpp"
#include "ocr/ocr.hpp"

namespace {

using namespace comandos_prueba;
namespace fs = std::filesystem;

// A photo of the test page turned clockwise by `giro` degrees, written as a JPEG.
std::string fotoDeTexto(const apoyo::CarpetaTemporal& carpeta, const std::string& nombre, double giro,
                        bool conTexto = true) {
    texto_prueba::Toma t;
    t.ancho = 1100;
    t.alto = 1100;
    t.pppHoja = 85.0;
    t.giro = giro;
    t.conTexto = conTexto;
    const std::string ruta = (carpeta / nombre).string();
    grabarBytes(ruta, codificarJpeg(texto_prueba::fotoDeTexto(t), 92));
    return ruta;
}

// A JSON string's value as it was before it was escaped (only the escapes this program writes).
std::string sinEscapes(const std::string& s) {
    std::string r;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') {
            r.push_back(s[i]);
        } else if (s[i + 1] == 'u') {
            r.push_back(static_cast<char>(std::stoi(s.substr(i + 2, 4), nullptr, 16)));
            i += 5;
        } else {
            r.push_back(s[++i]);
        }
    }
    return r;
}

std::string leerTexto(const fs::path& archivo) {
    const apoyo::Bytes b = apoyo::leerArchivo(archivo);
    return std::string(b.begin(), b.end());
}

TEST(Texto, UnaPaginaConocidaDaSuTextoEnElTxtYEnElJson) {
    NECESITA_DATOS();
    apoyo::CarpetaTemporal carpeta;
    const std::string foto = fotoDeTexto(carpeta, "carta.jpg", 8.0);
    // --orientar alone turns but reads nothing. The engine it leaves to this thread orients only:
    // the run that reads text after it makes one that reads.
    const Corrida orientada = correr({"--orientar", "--json", foto});
    ASSERT_EQ(orientada.estado, 0);
    EXPECT_EQ(campo(orientada.salida, "giro"), "0");
    EXPECT_EQ(orientada.salida.find("\"texto\""), std::string::npos) << orientada.salida;
    EXPECT_FALSE(fs::exists(carpeta / "carta-hoja.txt"));
    const Corrida c = correr({"--ocr", "spa", "--json", foto});
    ASSERT_EQ(c.estado, 0) << c.errores;
    EXPECT_TRUE(c.errores.empty()) << c.errores;
    const std::string txt = leerTexto(carpeta / "carta-hoja.txt");
    EXPECT_GE(texto_prueba::recuerdo(txt), 0.95) << txt;
    EXPECT_EQ(sinEscapes(campo(c.salida, "texto")), txt);
    EXPECT_EQ(campo(c.salida, "giro"), "0");
    EXPECT_TRUE(fs::exists(carpeta / "carta-hoja.png"));
    // The .txt goes beside a result named with -o, and into a folder -o names.
    ASSERT_EQ(correr({"--ocr", "spa", "-o", (carpeta / "pagina.jpg").string(), foto}).estado, 0);
    EXPECT_EQ(leerTexto(carpeta / "pagina.txt"), txt);
    ASSERT_EQ(correr({"--ocr", "spa", "-o", (carpeta / "salida/").string(), foto}).estado, 0);
    EXPECT_EQ(leerTexto(carpeta / "salida" / "carta-hoja.txt"), txt);
    // Without --ocr there is no text and no field for it.
    fs::remove(carpeta / "carta-hoja.txt");
    const Corrida sin = correr({"--json", foto});
    ASSERT_EQ(sin.estado, 0);
    EXPECT_EQ(sin.salida.find("\"texto\""), std::string::npos) << sin.salida;
    EXPECT_EQ(sin.salida.find("\"giro\""), std::string::npos) << sin.salida;
    EXPECT_FALSE(fs::exists(carpeta / "carta-hoja.txt"));
}

TEST(Texto, LasCuatroVueltasSalenDerechasYUnaHojaSinTextoNoSeGira) {
    NECESITA_DATOS();
    apoyo::CarpetaTemporal carpeta;
    // The photo's turn, and the turn that puts it back.
    const std::pair<double, int> vueltas[] = {{-6.0, 0}, {95.0, 270}, {184.0, 180}, {272.0, 90}};
    for (const auto& [vuelta, giro] : vueltas) {
        const std::string foto = fotoDeTexto(carpeta, "v.jpg", vuelta);
        const Corrida c = correr({"--ocr", "spa", "--json", "-o", (carpeta / "v.png").string(), foto});
        ASSERT_EQ(c.estado, 0) << c.errores;
        EXPECT_EQ(campo(c.salida, "giro"), std::to_string(giro)) << vuelta;
        // The page that comes out is upright: a letter page standing, its text read upright by the
        // engine without any turn of its own.
        const LecturaFoto pagina = leerFoto(carpeta / "v.png");
        ASSERT_TRUE(pagina.ok());
        EXPECT_EQ(pagina->imagen.ancho(), 852) << vuelta;
        EXPECT_EQ(pagina->imagen.alto(), 1103) << vuelta;
        Resultado<MotorOcr> motor = MotorOcr::crear("spa", false);
        ASSERT_TRUE(motor.ok());
        const Resultado<TextoLeido> leido = motor->reconocer(pagina->imagen.plano1, 852 / 8.5);
        ASSERT_TRUE(leido.ok());
        EXPECT_GE(texto_prueba::recuerdo(leido->texto), 0.9) << vuelta << ": " << leido->texto;
        EXPECT_GE(texto_prueba::recuerdo(leerTexto(carpeta / "v.txt")), 0.95) << vuelta;
    }
    // A sheet without text is never turned, whichever way it lies.
    for (const double vuelta : {0.0, 90.0}) {
        const std::string blanca = fotoDeTexto(carpeta, "blanca.jpg", vuelta, false);
        const Corrida c = correr({"--ocr", "spa", "--json", blanca});
        ASSERT_EQ(c.estado, 0) << c.errores;
        EXPECT_EQ(campo(c.salida, "giro"), "0");
        EXPECT_EQ(sinEscapes(campo(c.salida, "texto")), "");
        EXPECT_EQ(leerTexto(carpeta / "blanca-hoja.txt"), "");
    }
}

TEST(Texto, DeLaFotoAlPdfYDeAhiAPdftotextLasPalabrasEnOrdenYLaPaginaDePie) {
    NECESITA_DATOS();
    apoyo::CarpetaTemporal carpeta;
    if (!poppler("pdftotext -v")) GTEST_SKIP() << "skipped: pdftotext (poppler-utils) is not installed";
    // An upright page and one lying sideways in its photo, which makes a landscape page until it
    // is turned.
    const std::string derecha = fotoDeTexto(carpeta, "derecha.jpg", 4.0);
    const std::string lado = fotoDeTexto(carpeta, "lado.jpg", 90.0);
    const fs::path pdf = carpeta / "escaneo.pdf";
    const Corrida c = correr({"--ocr", "spa", "--json", "-o", pdf.string(), derecha, lado});
    ASSERT_EQ(c.estado, 0) << c.errores;
    const std::string segunda = c.salida.substr(c.salida.find('\n') + 1);
    EXPECT_EQ(campo(c.salida, "giro"), "0");
    EXPECT_EQ(campo(segunda, "giro"), "270");
    const auto info = poppler("pdfinfo -f 1 -l 2 '" + pdf.string() + "'");
    ASSERT_TRUE(info);
    EXPECT_NE(info->find("Page    2 size:  612 x 792 pts (letter)"), std::string::npos) << *info;
    for (const int pagina : {1, 2}) {
        const std::string n = std::to_string(pagina);
        const auto texto = poppler("pdftotext -f " + n + " -l " + n + " '" + pdf.string() + "' -");
        ASSERT_TRUE(texto);
        EXPECT_GE(texto_prueba::recuerdo(*texto), 0.9) << pagina << ": " << *texto;
        // In reading order: the lines' first words come in the order of the lines.
        std::size_t antes = 0;
        for (const char* inicio : {"montaña", "biblioteca", "Núñez", "tienda"}) {
            const std::size_t donde = texto->find(inicio, antes);
            EXPECT_NE(donde, std::string::npos) << inicio << " in " << *texto;
            if (donde != std::string::npos) antes = donde;
        }
    }
    // No text beside a PDF.
    EXPECT_FALSE(fs::exists(carpeta / "lado-hoja.txt"));
}

TEST(Texto, IdiomasQueFaltanOMalEscritosSonErroresDeUsoAntesDeCualquierFoto) {
    NECESITA_DATOS();
    apoyo::CarpetaTemporal carpeta;
    const std::string foto = fotoDeTexto(carpeta, "f.jpg", 0.0, false);
    const std::pair<std::vector<std::string>, std::string> casos[] = {
        {{"--ocr", "xyz", foto}, "tesseract-ocr-xyz"},
        {{"--ocr", "spa+xyz", "--json", foto}, "tesseract-ocr-xyz"},
        {{"--ocr", "spa+", foto}, "--ocr spa+: debe ser"},
        {{"--ocr", "../spa", foto}, "--ocr ../spa: debe ser"},
        {{"--ocr", "", foto}, "valor vacio"},
        {{"--ocr", "xyz", foto, (carpeta / "no-esta.jpg").string()}, "tesseract-ocr-xyz"},
    };
    for (const auto& [argumentos, esperado] : casos) {
        const Corrida c = correr(argumentos);
        EXPECT_EQ(c.estado, kSalidaUso) << argumentos[1];
        EXPECT_NE(c.errores.find(esperado), std::string::npos) << c.errores;
        EXPECT_EQ(lineas(c.errores), 2) << c.errores;  // the error and the pointer to --help
        EXPECT_TRUE(c.salida.empty()) << c.salida;
        EXPECT_FALSE(fs::exists(carpeta / "f-hoja.png"));
        EXPECT_FALSE(fs::exists(carpeta / "f-hoja.txt"));
    }
    // A photo that gives no page has neither turn nor text.
    const Corrida falta = correr({"--ocr", "spa", "--json", (carpeta / "no-esta.jpg").string()});
    EXPECT_EQ(falta.estado, 1);
    EXPECT_EQ(campo(falta.salida, "giro"), "null");
    EXPECT_EQ(campo(falta.salida, "texto"), "null");
    const Corrida ayuda = correr({"--help"});
    EXPECT_NE(ayuda.salida.find("--ocr IDIOMAS"), std::string::npos);
    EXPECT_NE(ayuda.salida.find("--orientar"), std::string::npos);
    // The text file is checked as every result is: never over a photo.
    const std::string comoTexto = (carpeta / "f-hoja.txt").string();
    fs::copy_file(foto, comoTexto);
    const Corrida c = correr({"--ocr", "spa", foto, comoTexto});
    EXPECT_EQ(c.estado, kSalidaUso);
    EXPECT_NE(c.errores.find("es una de las fotos"), std::string::npos) << c.errores;
    EXPECT_EQ(correr({foto, comoTexto}).estado, 0);
}

TEST(Texto, UnLoteDaLosMismosBytesConUnHiloQueConDos) {
    NECESITA_DATOS();
    apoyo::CarpetaTemporal carpeta;
    std::vector<std::string> fotos = {fotoDeTexto(carpeta, "a.jpg", 3.0), fotoDeTexto(carpeta, "b.jpg", 181.0),
                                      fotoDeTexto(carpeta, "c.jpg", 0.0, false)};
    std::map<std::string, std::string> porHilos[2];
    std::string json[2];
    for (int j = 0; j < 2; ++j) {
        const fs::path salida = carpeta / numerado("j", j + 1, "");
        std::vector<std::string> argumentos = {"--ocr", "spa", "--json", "-j", std::to_string(j + 1), "-o",
                                               salida.string() + "/"};
        argumentos.insert(argumentos.end(), fotos.begin(), fotos.end());
        const Corrida c = correr(argumentos);
        ASSERT_EQ(c.estado, 0) << c.errores;
        json[j] = c.salida;
        for (const auto& archivo : fs::directory_iterator(salida)) {
            const apoyo::Bytes b = apoyo::leerArchivo(archivo.path());
            porHilos[j][archivo.path().filename().string()] = std::string(b.begin(), b.end());
        }
    }
    EXPECT_EQ(porHilos[0].size(), 6u);
    EXPECT_TRUE(porHilos[0] == porHilos[1]);
    // The JSON lines differ only in the folder their outputs went to.
    std::string dos = json[1];
    for (std::size_t i; (i = dos.find("/j2/")) != std::string::npos;) dos.replace(i, 4, "/j1/");
    EXPECT_EQ(json[0], dos);
    EXPECT_EQ(lineas(json[0]), 3);
}

}  // namespace
