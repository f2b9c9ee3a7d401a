// Bags of words through the C library's UTF-8 locale: decoding, lowercasing and the test for a
// letter or digit are its own, for every script it knows.
#include "palabras.hpp"

#include <algorithm>
#include <climits>
#include <cwchar>
#include <cwctype>
#include <stdexcept>

#include <locale.h>

namespace palabras {

namespace {

// The UTF-8 character rules for this thread while it lives; the thread's own locale afterwards.
class LocaleUtf8 {
public:
    LocaleUtf8() {
        propio_ = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
        if (!propio_) throw std::runtime_error("the C.UTF-8 locale is missing");
        anterior_ = ::uselocale(propio_);
    }
    ~LocaleUtf8() {
        ::uselocale(anterior_);
        ::freelocale(propio_);
    }
    LocaleUtf8(const LocaleUtf8&) = delete;
    LocaleUtf8& operator=(const LocaleUtf8&) = delete;

private:
    locale_t propio_ = nullptr;
    locale_t anterior_ = nullptr;
};

}  // namespace

std::wstring caracteres(std::string_view texto) {
    const LocaleUtf8 locale;
    std::wstring r;
    std::mbstate_t estado{};
    std::size_t i = 0;
    while (i < texto.size()) {
        wchar_t caracter = 0;
        const std::size_t n = std::mbrtowc(&caracter, texto.data() + i, texto.size() - i, &estado);
        if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
            estado = std::mbstate_t{};
            r.push_back(L'\uFFFD');
            ++i;
            continue;
        }
        r.push_back(caracter);
        i += std::max<std::size_t>(n, 1);  // a NUL is one byte, for which mbrtowc says 0
    }
    return r;
}

Bolsa bolsaDePalabras(std::string_view texto) {
    const std::wstring todos = caracteres(texto);
    const LocaleUtf8 locale;
    Bolsa bolsa;
    std::string palabra;
    const auto cerrar = [&] {
        if (!palabra.empty()) ++bolsa[palabra];
        palabra.clear();
    };
    for (const wchar_t caracter : todos) {
        if (!std::iswalnum(static_cast<std::wint_t>(caracter))) {
            cerrar();
            continue;
        }
        char bytes[MB_LEN_MAX];
        std::mbstate_t salida{};
        const auto minuscula = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(caracter)));
        const std::size_t m = std::wcrtomb(bytes, minuscula, &salida);
        if (m != static_cast<std::size_t>(-1)) palabra.append(bytes, m);
    }
    cerrar();
    return bolsa;
}

std::size_t cuantas(const Bolsa& bolsa) {
    std::size_t n = 0;
    for (const auto& [palabra, veces] : bolsa) n += veces;
    return n;
}

std::size_t encontradas(const Bolsa& pagina, const Bolsa& texto) {
    std::size_t n = 0;
    for (const auto& [palabra, veces] : pagina) {
        const auto en = texto.find(palabra);
        if (en != texto.end()) n += std::min(veces, en->second);
    }
    return n;
}

double recuerdo(const Bolsa& pagina, const Bolsa& texto) {
    const std::size_t total = cuantas(pagina);
    if (total == 0) return 1.0;
    return static_cast<double>(encontradas(pagina, texto)) / static_cast<double>(total);
}

Bolsa faltantes(const Bolsa& pagina, const Bolsa& texto) {
    Bolsa r;
    for (const auto& [palabra, veces] : pagina) {
        const auto en = texto.find(palabra);
        const std::size_t hay = en == texto.end() ? 0 : en->second;
        if (hay < veces) r[palabra] = veces - hay;
    }
    return r;
}

}  // namespace palabras
