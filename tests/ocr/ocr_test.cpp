#include "ocr/ocr.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "apoyo.hpp"
#include "ocr/datos_ocr.hpp"
#include "imagen/giro.hpp"
#include "pagina_texto.hpp"

namespace {

namespace fs = std::filesystem;

// A letter sheet of the test prose filling the picture, at the engine's scale, in gray (the
// picture the command line gives the engine), turned clockwise by `giro`.
PlanoBytes hojaDeTexto(int giro, bool conTexto = true) {
    texto_prueba::Toma t;
    t.ancho = static_cast<int>(8.5 * kPppOcr);
    t.alto = static_cast<int>(11.0 * kPppOcr);
    t.pppHoja = kPppOcr;
    t.cuerpo = 14.0;
    t.conTexto = conTexto;
    const ImagenBmp foto = texto_prueba::fotoDeTexto(t);
    return girarPlano(foto.plano1, giro);
}

// The engine's data folder as it is found, while a test points it elsewhere.
struct DatosEn {
    std::optional<std::string> antes;
    explicit DatosEn(const fs::path& carpeta) {
        if (const char* v = std::getenv("TESSDATA_PREFIX")) antes = v;
        ::setenv("TESSDATA_PREFIX", carpeta.c_str(), 1);
    }
    ~DatosEn() {
        if (antes) {
            ::setenv("TESSDATA_PREFIX", antes->c_str(), 1);
        } else {
            ::unsetenv("TESSDATA_PREFIX");
        }
    }
};

}  // namespace

TEST(Idiomas, SeEscribenComoLosArchivosDelMotorYNombranSuPaquete) {
    for (const char* bueno : {"spa", "eng", "spa+eng", "chi_sim", "deu+frk"}) EXPECT_TRUE(idiomasBienEscritos(bueno)) << bueno;
    // A name may not reach outside the data folder, nor leave a language out.
    for (const char* malo : {"", "+", "spa+", "+eng", "spa++eng", "../spa", "spa eng", "spa/eng", "-spa", "sp.a"})
        EXPECT_FALSE(idiomasBienEscritos(malo)) << malo;
    EXPECT_EQ(paqueteDeIdioma("spa"), "tesseract-ocr-spa");
    EXPECT_EQ(paqueteDeIdioma("chi_sim"), "tesseract-ocr-chi-sim");
    EXPECT_EQ(paqueteDeIdioma("Fra"), "tesseract-ocr-fra");
}

TEST(Idiomas, UnoQueFaltaNombraElPaqueteAunqueNoSeaElPrimero) {
    NECESITA_DATOS();
    apoyo::CarpetaTemporal vacia;
    // A language with no file: first, after one that loads (which the engine alone lets pass), or
    // the orientation's data.
    {
        const auto m = MotorOcr::crear("xyz", false);
        ASSERT_FALSE(m.ok());
        EXPECT_NE(m.mensaje().find("tesseract-ocr-xyz"), std::string::npos) << m.mensaje();
    }
    {
        const auto m = MotorOcr::crear("spa+xyz_ab", false);
        ASSERT_FALSE(m.ok());
        EXPECT_NE(m.mensaje().find("instale el paquete tesseract-ocr-xyz-ab"), std::string::npos) << m.mensaje();
    }
    {
        const DatosEn datos(vacia.ruta);
        const auto m = MotorOcr::crear("", true);
        ASSERT_FALSE(m.ok());
        EXPECT_NE(m.mensaje().find("tesseract-ocr-osd"), std::string::npos) << m.mensaje();
        const auto n = MotorOcr::crear("eng", false);
        ASSERT_FALSE(n.ok());
        EXPECT_NE(n.mensaje().find("tesseract-ocr-eng"), std::string::npos) << n.mensaje();
    }
    // A data file that is there but broken is refused too, never loaded as a language.
    {
        apoyo::escribirArchivo(vacia / "rota.traineddata", apoyo::Bytes(64, 7));
        const DatosEn datos(vacia.ruta);
        const auto m = MotorOcr::crear("rota", false);
        ASSERT_FALSE(m.ok());
        EXPECT_NE(m.mensaje().find("tesseract-ocr-rota"), std::string::npos) << m.mensaje();
    }
    // Messages are one line.
    const auto m = MotorOcr::crear("xyz", true);
    ASSERT_FALSE(m.ok());
    EXPECT_EQ(m.mensaje().find('\n'), std::string::npos);
}

TEST(OrientarTexto, CadaCuartoDeVueltaSeDeshaceYUnaHojaSinTextoNoSeGira) {
    NECESITA_DATOS();
    Resultado<MotorOcr> motor = MotorOcr::crear("", true);
    ASSERT_TRUE(motor.ok()) << motor.mensaje();
    // The page turned clockwise by `giro` is turned back by the rest of a whole turn.
    for (const int giro : {0, 90, 180, 270}) {
        EXPECT_EQ(motor->orientacion(hojaDeTexto(giro), kPppOcr), (360 - giro) % 360) << "giro " << giro;
    }
    EXPECT_EQ(motor->orientacion(hojaDeTexto(0, false), kPppOcr), 0);
    EXPECT_EQ(motor->orientacion(hojaDeTexto(90, false), kPppOcr), 0);
    // A page of noise-free gray, without a single blob, neither.
    EXPECT_EQ(motor->orientacion(PlanoBytes(400, 500, 128), kPppOcr), 0);
}

TEST(Reconocer, LasPalabrasEnOrdenDeLecturaConSusCajasSobreLaHoja) {
    NECESITA_DATOS();
    Resultado<MotorOcr> motor = MotorOcr::crear("spa", false);
    ASSERT_TRUE(motor.ok()) << motor.mensaje();
    EXPECT_FALSE(motor->orienta());
    const PlanoBytes hoja = hojaDeTexto(0);
    const Resultado<TextoLeido> leido = motor->reconocer(hoja, kPppOcr);
    ASSERT_TRUE(leido.ok()) << leido.mensaje();
    EXPECT_GE(texto_prueba::recuerdo(leido->texto), 0.9) << leido->texto;
    ASSERT_GE(leido->palabras.size(), 50u);
    // The words say what the text says, in its order.
    std::string juntas;
    for (const PalabraLeida& p : leido->palabras) juntas += p.texto + " ";
    EXPECT_EQ(texto_prueba::palabras(juntas), texto_prueba::palabras(leido->texto));
    // The first word, "El", at the first line's start: 0.9 inches in, its baseline 1.2 inches
    // down, from the page's top-left.
    const PalabraLeida& primera = leido->palabras.front();
    EXPECT_EQ(primera.texto, "El");
    EXPECT_NEAR(primera.x, 0.9 * kPppOcr, 6);
    EXPECT_NEAR(primera.y + primera.alto, 1.2 * kPppOcr, 6);
    EXPECT_NEAR(primera.alto, 14.0 / 72.0 * 0.73 * kPppOcr, 10);  // a capital's height
    // Lines go down the page; words of a line to the right.
    for (std::size_t i = 1; i < leido->palabras.size(); ++i) {
        const PalabraLeida& a = leido->palabras[i - 1];
        const PalabraLeida& b = leido->palabras[i];
        EXPECT_TRUE(b.x > a.x || b.y > a.y + a.alto / 2) << a.texto << " " << b.texto;
        EXPECT_GT(b.ancho, 0);
        EXPECT_LE(b.x + b.ancho, hoja.ancho);
        EXPECT_LE(b.y + b.alto, hoja.alto);
    }
    // A second page through the same engine reads as if it were the first, and a blank one has
    // no words.
    const Resultado<TextoLeido> blanca = motor->reconocer(hojaDeTexto(0, false), kPppOcr);
    ASSERT_TRUE(blanca.ok());
    EXPECT_TRUE(blanca->palabras.empty());
    const Resultado<TextoLeido> otra = motor->reconocer(hoja, kPppOcr);
    ASSERT_TRUE(otra.ok());
    EXPECT_EQ(otra->texto, leido->texto);
}
