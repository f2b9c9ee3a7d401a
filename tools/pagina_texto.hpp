#pragma once

// Photos of pages of known text, for the text tests and the text benchmark: a letter sheet of
// Spanish prose typeset in DejaVu Sans (through cairo; link cairo to use it), lying on a dark desk,
// turned by any angle.

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cctype>
#include <string>
#include <vector>

#include "imagen/imagen_bmp.hpp"

namespace texto_prueba {

// The prose, one line of the page each.
inline const std::vector<std::string>& lineasDePrueba() {
    static const std::vector<std::string> lineas = {
        "El pingüino comía jamón en la montaña.",
        "La niña soñó con un árbol y una canción.",
        "Mañana habrá reunión en la biblioteca.",
        "Los documentos están en el cajón azul.",
        "El señor Núñez escribió una carta larga.",
        "Después del almuerzo salimos al jardín.",
        "La lección de música empieza a las tres.",
        "Compré pan, leche y café en la tienda.",
    };
    return lineas;
}

// The words of `texto` in lower case (ASCII letters only lowered; accented letters as they are),
// without punctuation.
inline std::vector<std::string> palabras(const std::string& texto) {
    std::vector<std::string> r;
    std::string actual;
    const auto cerrar = [&] {
        if (!actual.empty()) r.push_back(actual);
        actual.clear();
    };
    for (const char c : texto) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80 || std::isalnum(u)) {
            actual.push_back(static_cast<char>(std::tolower(u)));
        } else {
            cerrar();
        }
    }
    cerrar();
    return r;
}

// The share of the words of lineasDePrueba found in `texto`, as a bag of words.
inline double recuerdo(const std::string& texto) {
    std::vector<std::string> halladas = palabras(texto);
    std::size_t total = 0, encontradas = 0;
    for (const std::string& linea : lineasDePrueba()) {
        for (const std::string& p : palabras(linea)) {
            ++total;
            const auto it = std::find(halladas.begin(), halladas.end(), p);
            if (it != halladas.end()) {
                ++encontradas;
                halladas.erase(it);
            }
        }
    }
    return total ? static_cast<double>(encontradas) / static_cast<double>(total) : 0.0;
}

struct Toma {
    int ancho = 1400, alto = 1400;  // the photo's pixels
    double pppHoja = 110.0;         // the sheet's pixels per inch in the photo
    double giro = 0.0;              // degrees, clockwise as seen: the page's text turned so
    double cuerpo = 22.0;           // the letters' size in points
    bool conTexto = true;
    int lineas = 8;                 // lines of prose, the test lines over and over
    int frasesPorLinea = 1;         // test lines set on each line (2 fill a letter page's width at 11 points)
};

// The photo: rows in file order, planes B, G, R.
inline ImagenBmp fotoDeTexto(const Toma& t) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, t.ancho, t.alto);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, 0.22, 0.17, 0.12);
    cairo_paint(cr);
    cairo_translate(cr, t.ancho / 2.0, t.alto / 2.0);
    cairo_rotate(cr, t.giro * M_PI / 180.0);
    cairo_scale(cr, t.pppHoja, t.pppHoja);
    cairo_translate(cr, -8.5 / 2.0, -11.0 / 2.0);
    cairo_set_source_rgb(cr, 0.96, 0.96, 0.94);
    cairo_rectangle(cr, 0, 0, 8.5, 11.0);
    cairo_fill(cr);
    if (t.conTexto) {
        cairo_set_source_rgb(cr, 0.05, 0.05, 0.08);
        cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        const double cuerpo = t.cuerpo / 72.0;
        cairo_set_font_size(cr, cuerpo);
        double y = 1.2;
        for (int i = 0; i < t.lineas; ++i) {
            std::string linea;
            for (int k = 0; k < t.frasesPorLinea; ++k) {
                const std::size_t n = static_cast<std::size_t>(i * t.frasesPorLinea + k) % lineasDePrueba().size();
                linea += (k ? " " : "") + lineasDePrueba()[n];
            }
            cairo_move_to(cr, 0.9, y);
            cairo_show_text(cr, linea.c_str());
            y += 1.6 * cuerpo;
        }
    }
    cairo_destroy(cr);
    cairo_surface_flush(s);
    ImagenBmp foto = imagenNueva(t.ancho, t.alto);
    const unsigned char* datos = cairo_image_surface_get_data(s);
    const int paso = cairo_image_surface_get_stride(s);
    for (int f = 0; f < t.alto; ++f) {
        // Cairo's rows run top-down, each pixel 32 bits of 0xXXRRGGBB.
        const auto* fila = reinterpret_cast<const std::uint32_t*>(datos + static_cast<std::ptrdiff_t>(f) * paso);
        const int r = t.alto - 1 - f;
        for (int c = 0; c < t.ancho; ++c) {
            foto.plano0[r][c] = static_cast<std::uint8_t>(fila[c]);
            foto.plano1[r][c] = static_cast<std::uint8_t>(fila[c] >> 8);
            foto.plano2[r][c] = static_cast<std::uint8_t>(fila[c] >> 16);
        }
    }
    cairo_surface_destroy(s);
    return foto;
}

}  // namespace texto_prueba
