#include "app/salidas.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "sistema/archivos.hpp"
#include "sistema/hexadecimal.hpp"

namespace {

const char* nombreEstado(Hallazgo h) {
    switch (h) {
        case Hallazgo::hoja: return "ok";
        case Hallazgo::sinHoja: return "sin-hoja";
        case Hallazgo::error: return "error";
    }
    return "error";
}

// The length of the well-formed UTF-8 character at `texto[i]`, or 0 when the byte there starts none
// (a stray continuation byte, an overlong form, a surrogate, a code point above U+10FFFF, a cut
// sequence).
std::size_t caracterUtf8(const std::string& texto, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(texto[k]); };
    const unsigned char c = byte(i);
    if (c < 0x80) return 1;
    std::size_t largo = 0;
    unsigned char minimo = 0x80, maximo = 0xBF;  // the bounds of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        largo = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        largo = 3;
        if (c == 0xE0) minimo = 0xA0;
        if (c == 0xED) maximo = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        largo = 4;
        if (c == 0xF0) minimo = 0x90;
        if (c == 0xF4) maximo = 0x8F;
    } else {
        return 0;
    }
    if (i + largo > texto.size()) return 0;
    if (byte(i + 1) < minimo || byte(i + 1) > maximo) return 0;
    for (std::size_t k = 2; k < largo; ++k)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    return largo;
}

bool esUtf8(const std::string& texto) {
    for (std::size_t i = 0, n; i < texto.size(); i += n)
        if ((n = caracterUtf8(texto, i)) == 0) return false;
    return true;
}

// A JSON string: quotes, backslashes and control characters escaped; UTF-8 as it is, and each
// byte that is not part of a UTF-8 character as U+FFFD, so that every line is valid JSON.
std::string cadenaJson(const std::string& texto) {
    std::string s = "\"";
    for (std::size_t i = 0, n; i < texto.size(); i += n) {
        const unsigned char c = static_cast<unsigned char>(texto[i]);
        n = caracterUtf8(texto, i);
        if (n == 0) {
            s += "\xEF\xBF\xBD";
            n = 1;
        } else if (c == '"' || c == '\\') {
            s.push_back('\\');
            s.push_back(static_cast<char>(c));
        } else if (c < 0x20) {
            char codigo[8];
            std::snprintf(codigo, sizeof codigo, "\\u%04x", c);
            s += codigo;
        } else {
            s.append(texto, i, n);
        }
    }
    return s + "\"";
}

// A name as a JSON field: "clave":"name", and when the name is not UTF-8 (its field then shows
// U+FFFD for the bytes that are not), also "clave_bytes":"hex of every byte", to find the file by.
std::string campoNombre(const char* clave, const std::string& nombre) {
    std::string j = std::string("\"") + clave + "\":" + cadenaJson(nombre);
    if (!esUtf8(nombre)) j += std::string(",\"") + clave + "_bytes\":\"" + enHexadecimal(nombre) + "\"";
    return j;
}

// A corner's coordinate as a decimal that reads back as the very same number, so that corners
// printed here and given back make the very same page: with two decimals, as the detectors'
// corners (kept to the hundredth) always are, else the shortest decimal that does (corners given
// with more decimals).
std::string coordenada(double v) {
    char texto[400];  // the longest fixed decimal a double needs
    std::snprintf(texto, sizeof texto, "%.2f", v);
    if (std::strtod(texto, nullptr) == v) return texto;
    const auto [fin, error] = std::to_chars(texto, texto + sizeof texto, v, std::chars_format::fixed);
    return error == std::errc() ? std::string(texto, fin) : std::string("null");
}

}  // namespace

std::string paraTerminal(const std::string& texto) {
    std::string s;
    for (std::size_t i = 0, n; i < texto.size(); i += n) {
        const unsigned char c = static_cast<unsigned char>(texto[i]);
        n = caracterUtf8(texto, i);
        const bool c1 = n == 2 && c == 0xC2 && static_cast<unsigned char>(texto[i + 1]) < 0xA0;
        if (n == 0 || c1) {
            n = n == 0 ? 1 : n;
            for (std::size_t k = 0; k < n; ++k) {
                char codigo[8];
                std::snprintf(codigo, sizeof codigo, "\\x%02x", static_cast<unsigned char>(texto[i + k]));
                s += codigo;
            }
        } else if (c < 0x20 || c == 0x7F) {
            char codigo[8];
            std::snprintf(codigo, sizeof codigo, "\\x%02x", c);
            s += c == '\n' ? "\\n" : c == '\t' ? "\\t" : c == '\r' ? "\\r" : codigo;
        } else {
            s.append(texto, i, n);
        }
    }
    return s;
}

std::string lineaJson(const Destino& d, const Escaneo& r, const std::string& salida, const Opciones& o) {
    std::string j = "{";
    j += campoNombre("foto", d.foto.string());
    j += ",\"estado\":\"";
    j += nombreEstado(r.hallazgo);
    j += "\",\"esquinas\":";
    bool finitas = r.esquinas.has_value();
    if (finitas)
        for (const Esquina& e : *r.esquinas) finitas = finitas && std::isfinite(e.x) && std::isfinite(e.y);
    if (finitas) {
        j += "[";
        for (int i = 0; i < 4; ++i) {
            const Esquina& e = (*r.esquinas)[i];
            j += (i ? ",[" : "[") + coordenada(e.x) + "," + coordenada(e.y) + "]";
        }
        j += "]";
    } else {
        j += "null";
    }
    j += ",";
    j += r.hallazgo == Hallazgo::hoja ? campoNombre("salida", salida) : std::string("\"salida\":null");
    const bool hecha = r.hallazgo == Hallazgo::hoja;
    if (o.orientar) j += ",\"giro\":" + (hecha ? std::to_string(r.giro) : std::string("null"));
    if (!o.ocr.empty()) j += ",\"texto\":" + (hecha && r.texto ? cadenaJson(*r.texto) : std::string("null"));
    j += ",\"mensaje\":" + cadenaJson(r.mensaje) + "}\n";
    return j;
}
