#pragma once

// Word recall: how many of a page's words a recognised text gives back. Both texts are taken as
// bags of words: UTF-8, each word a run of letters and digits, lowercased with its accents kept
// ("Año" and "año" are one word, "ano" another); everything else (punctuation, quotes, spaces) only
// parts words. A word the page holds three times counts as found three times only when the text
// holds it three times too.

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace palabras {

// Each word and how many times it appears.
using Bolsa = std::map<std::string, std::size_t>;

// The characters of a UTF-8 text, one wchar_t each; a byte that starts no character (or a
// character cut off at the end) gives U+FFFD, the replacement character.
std::wstring caracteres(std::string_view texto);

// The words of a UTF-8 text. Bytes that are not UTF-8 part words as punctuation does.
Bolsa bolsaDePalabras(std::string_view texto);

// How many words the bag holds, repeats included.
std::size_t cuantas(const Bolsa& bolsa);

// The page's words found in the text, each at most as many times as the text holds it.
std::size_t encontradas(const Bolsa& pagina, const Bolsa& texto);

// encontradas / cuantas(pagina), 0 .. 1; a page without words is wholly found (1).
double recuerdo(const Bolsa& pagina, const Bolsa& texto);

// The page's words the text lacks, with how many times each is missing.
Bolsa faltantes(const Bolsa& pagina, const Bolsa& texto);

}  // namespace palabras
