#pragma once

#include <string>
#include <string_view>

// Every byte as two lowercase hexadecimal digits.
inline std::string enHexadecimal(std::string_view bytes) {
    static constexpr char kDigitos[] = "0123456789abcdef";
    std::string texto;
    texto.reserve(2 * bytes.size());
    for (const unsigned char b : bytes) {
        texto.push_back(kDigitos[b >> 4]);
        texto.push_back(kDigitos[b & 15]);
    }
    return texto;
}
