// Word recall of recognised texts against a page's own words.
//   recuerdo [options] PAGE TEXT...
//   recuerdo --help
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "palabras.hpp"
#include "uso.hpp"

namespace {

constexpr char kDescripcion[] =
    "Word recall: the share of PAGE's words found in each TEXT (UTF-8 files: a page's ground truth,\n"
    "pdftotext's output, an OCR engine's). Both are bags of words: runs of letters and digits,\n"
    "lowercased, accents kept, punctuation dropped; a word repeated on the page counts as often as\n"
    "the text repeats it too. One line per TEXT:\n"
    "  RECALL FOUND WORDS TEXT\n"
    "RECALL from 0 to 1 with four decimals, FOUND of the page's WORDS.";

std::optional<std::string> leer(const std::string& ruta) {
    std::ifstream f(ruta, std::ios::binary);
    if (!f) return std::nullopt;
    std::string texto{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    if (f.bad()) return std::nullopt;
    return texto;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{kDescripcion, "recuerdo"};
    std::string pagina;
    std::vector<std::string> textos;
    bool faltan = false;
    app.add_option("PAGE", pagina, "the page's own words")->required()->type_name("");
    app.add_option("TEXT", textos, "recognised texts")->required()->type_name("");
    app.add_flag("-f,--faltan", faltan, "after each line, the page's words the text lacks\n(WORD xN when N are missing)");
    if (const auto fin = herramienta::leerArgumentos(app, argc, argv)) return *fin;

    const auto verdad = leer(pagina);
    if (!verdad) {
        std::fprintf(stderr, "recuerdo: cannot read %s\n", pagina.c_str());
        return 1;
    }
    const palabras::Bolsa bolsa = palabras::bolsaDePalabras(*verdad);
    int estado = 0;
    for (const std::string& ruta : textos) {
        const auto texto = leer(ruta);
        if (!texto) {
            std::fprintf(stderr, "recuerdo: cannot read %s\n", ruta.c_str());
            estado = 1;
            continue;
        }
        const palabras::Bolsa leida = palabras::bolsaDePalabras(*texto);
        std::printf("%.4f %zu %zu %s\n", palabras::recuerdo(bolsa, leida), palabras::encontradas(bolsa, leida),
                    palabras::cuantas(bolsa), ruta.c_str());
        if (faltan) {
            for (const auto& [palabra, veces] : palabras::faltantes(bolsa, leida)) {
                if (veces == 1)
                    std::printf("  %s\n", palabra.c_str());
                else
                    std::printf("  %s x%zu\n", palabra.c_str(), veces);
            }
        }
    }
    return estado;
}
