// Word recall: bags of words from UTF-8 texts, and the recuerdo tool.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <sys/wait.h>

#include "escena_test_apoyo.hpp"
#include "palabras.hpp"

namespace {

using palabras::Bolsa;
using palabras::bolsaDePalabras;

TEST(BolsaDePalabras, MinusculasConAcentosSinPuntuacion) {
    // Case goes, accents and eñes stay, and every kind of punctuation only parts words.
    EXPECT_EQ(bolsaDePalabras("¿Dónde está el NIÑO? ¡Aquí, aquí!"),
              (Bolsa{{"dónde", 1}, {"está", 1}, {"el", 1}, {"niño", 1}, {"aquí", 2}}));
    EXPECT_EQ(bolsaDePalabras("Año, año y ano."), (Bolsa{{"año", 2}, {"y", 1}, {"ano", 1}}));
    EXPECT_EQ(bolsaDePalabras("PINGÜINO Ángel ÉL"), (Bolsa{{"pingüino", 1}, {"ángel", 1}, {"él", 1}}));
    EXPECT_EQ(bolsaDePalabras("«hola» —dijo— “adiós”… (sí) [no] l'aigua franco-alemán"),
              (Bolsa{{"hola", 1}, {"dijo", 1}, {"adiós", 1}, {"sí", 1}, {"no", 1}, {"l", 1}, {"aigua", 1},
                     {"franco", 1}, {"alemán", 1}}));
    // Digits are words' characters too; line breaks and tabs part words as spaces do.
    EXPECT_EQ(bolsaDePalabras("12,5 kg\nde\tharina 2º"),
              (Bolsa{{"12", 1}, {"5", 1}, {"kg", 1}, {"de", 1}, {"harina", 1}, {"2º", 1}}));
    EXPECT_TRUE(bolsaDePalabras("").empty());
    EXPECT_TRUE(bolsaDePalabras(" ¡¿.,;:!? \n").empty());
}

TEST(BolsaDePalabras, BytesQueNoSonUtf8PartenPalabras) {
    EXPECT_EQ(bolsaDePalabras("ab\xFF" "cd"), (Bolsa{{"ab", 1}, {"cd", 1}}));
    // A Latin-1 "ñ" is not UTF-8: it parts the word instead of becoming a letter.
    EXPECT_EQ(bolsaDePalabras("ni\xF1o"), (Bolsa{{"ni", 1}, {"o", 1}}));
    // A character cut off at the end, and a NUL inside.
    EXPECT_EQ(bolsaDePalabras("año\xC3"), (Bolsa{{"año", 1}}));
    EXPECT_EQ(bolsaDePalabras(std::string("uno\0dos", 7)), (Bolsa{{"uno", 1}, {"dos", 1}}));
    EXPECT_EQ(palabras::caracteres("a\xFFñ"), (std::wstring{L'a', L'\uFFFD', L'ñ'}));
}

TEST(Recuerdo, CadaPalabraContadaTantasVecesComoElTextoLaTiene) {
    const Bolsa pagina = bolsaDePalabras("el gato y el perro y el pez");
    ASSERT_EQ(palabras::cuantas(pagina), 8u);
    // The text holds "el" once of three times, "y" twice, and words the page lacks.
    const Bolsa texto = bolsaDePalabras("El PERRO, y el... y; ratón ratón ratón gatos");
    EXPECT_EQ(palabras::encontradas(pagina, texto), 5u);
    EXPECT_DOUBLE_EQ(palabras::recuerdo(pagina, texto), 5.0 / 8.0);
    EXPECT_EQ(palabras::faltantes(pagina, texto), (Bolsa{{"el", 1}, {"gato", 1}, {"pez", 1}}));
    // Words the text repeats more often than the page add nothing.
    EXPECT_DOUBLE_EQ(palabras::recuerdo(bolsaDePalabras("sí no"), bolsaDePalabras("sí sí sí sí")), 0.5);
    // The whole page, in any order, with accents as they are.
    EXPECT_DOUBLE_EQ(palabras::recuerdo(pagina, bolsaDePalabras("pez; Y EL PERRO y EL gato, el")), 1.0);
    EXPECT_DOUBLE_EQ(palabras::recuerdo(bolsaDePalabras("canción"), bolsaDePalabras("cancion")), 0.0);
    // An empty text finds nothing; an empty page lacks nothing.
    EXPECT_DOUBLE_EQ(palabras::recuerdo(pagina, {}), 0.0);
    EXPECT_DOUBLE_EQ(palabras::recuerdo({}, texto), 1.0);
    EXPECT_TRUE(palabras::faltantes(pagina, pagina).empty());
}

// A path quoted for the shell.
std::string entreComillas(const std::filesystem::path& ruta) {
    std::string r(1, '\'');
    r += ruta.string();
    r += '\'';
    return r;
}

escena_prueba::Corrida correr(const std::string& argumentos) {
    return escena_prueba::correr(RECUERDO_BINARIO, argumentos);
}

TEST(HerramientaRecuerdo, UnaLineaPorTextoYLasPalabrasQueFaltan) {
    const auto carpeta = escena_prueba::temporal("recuerdo");
    std::filesystem::create_directories(carpeta);
    const auto escribir = [&](const std::string& nombre, const std::string& texto) {
        std::ofstream(carpeta / nombre, std::ios::binary) << texto;
        return entreComillas(carpeta / nombre);
    };
    const std::string pagina = escribir("pagina.txt", "Había una vez\nun niño, un NIÑO.\n");
    const std::string bueno = escribir("bueno.txt", "habia una vez un niño");
    const std::string vacio = escribir("vacio.txt", "");

    const escena_prueba::Corrida s = correr(pagina + " " + bueno + " " + vacio);
    EXPECT_EQ(s.estado, 0);
    EXPECT_EQ(s.salida, "0.5714 4 7 " + (carpeta / "bueno.txt").string() + "\n0.0000 0 7 " +
                           (carpeta / "vacio.txt").string() + "\n");
    const escena_prueba::Corrida f = correr("--faltan " + pagina + " " + bueno);
    EXPECT_EQ(f.salida, "0.5714 4 7 " + (carpeta / "bueno.txt").string() + "\n  había\n  niño\n  un\n");

    // A text that cannot be read is said and ends with status 1, the others still scored.
    const std::string noHay = entreComillas(carpeta / "no-hay.txt");
    const escena_prueba::Corrida falta = correr(pagina + " " + noHay + " " + bueno);
    EXPECT_EQ(falta.estado, 1);
    EXPECT_EQ(falta.salida, "0.5714 4 7 " + (carpeta / "bueno.txt").string() + "\n");
    EXPECT_EQ(correr(noHay + " " + bueno).estado, 1);
    EXPECT_EQ(correr(pagina).estado, 2);
    EXPECT_EQ(correr("--help").estado, 0);
    std::filesystem::remove_all(carpeta);
}

}  // namespace
