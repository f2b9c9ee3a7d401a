// The page: a raster at 100 texels per inch (850 x 1100 for letter) holding the reflectance of
// paper and ink, with lines of stroke-built words laid out as a typed page.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "escena_interno.hpp"

namespace escena::interno {

namespace {

// Texels of a side of `pulgadas` inches.
int texeles(double pulgadas) { return static_cast<int>(std::floor(pulgadas * kTexelesPorPulgada + 0.5)); }

void rellenar(Pagina& pagina, int x0, int y0, int x1, int y1, std::uint8_t valor) {
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, pagina.ancho);
    y1 = std::min(y1, pagina.alto);
    for (int f = y0; f < y1; ++f)
        for (int c = x0; c < x1; ++c) pagina.en(c, f) = valor;
}

// Letter shapes built from strokes, enough to give lines of text their look from a distance.
enum class Forma { o, n, u, e, l, i, t, d, b, p, g, m };

struct Tipo {
    int xAltura;   // rows of a short letter
    int trazo;     // stroke width
    int anchoMin;  // width range of a short letter
    int anchoMax;
    int hueco;     // space between letters
};

constexpr Tipo kCuerpo{7, 2, 5, 6, 2};
constexpr Tipo kTitulo{16, 4, 11, 14, 3};

struct Letra {
    Forma forma;
    int ancho;
};

std::vector<Letra> palabra(Generador& gen, int letras, const Tipo& tipo) {
    std::vector<Letra> r;
    for (int k = 0; k < letras; ++k) {
        const auto forma = static_cast<Forma>(gen.entre(0, 11));
        int ancho = gen.entre(tipo.anchoMin, tipo.anchoMax);
        if (forma == Forma::l || forma == Forma::i) ancho = tipo.trazo;
        else if (forma == Forma::t) ancho = tipo.trazo + 2 * (tipo.trazo / 2 + 1);
        else if (forma == Forma::m) ancho = ancho + ancho / 2 + tipo.trazo;
        r.push_back({forma, ancho});
    }
    return r;
}

int anchoDe(const std::vector<Letra>& letras, const Tipo& tipo) {
    int w = 0;
    for (const Letra& l : letras) w += l.ancho + tipo.hueco;
    return letras.empty() ? 0 : w - tipo.hueco;
}

// One letter whose left edge is at column x, standing on row `base` (page rows grow downward).
void letra(Pagina& pagina, const Letra& l, const Tipo& tipo, int x, int base, std::uint8_t tinta) {
    const int h = tipo.xAltura;
    const int s = tipo.trazo;
    const int sube = h / 2 + 1;      // ascender above the x-height
    const int baja = h / 3 + 1;      // descender below the baseline
    const int arriba = base - h;     // first row of a short letter
    const int der = x + l.ancho;     // one past the last column
    auto caja = [&](int x0, int y0, int x1, int y1) { rellenar(pagina, x0, y0, x1, y1, tinta); };
    auto tallos = [&](int y0, int y1) {
        caja(x, y0, x + s, y1);
        caja(der - s, y0, der, y1);
    };
    switch (l.forma) {
        case Forma::o:
            tallos(arriba, base);
            caja(x, arriba, der, arriba + s);
            caja(x, base - s, der, base);
            break;
        case Forma::n:
            tallos(arriba, base);
            caja(x, arriba, der, arriba + s);
            break;
        case Forma::u:
            tallos(arriba, base);
            caja(x, base - s, der, base);
            break;
        case Forma::e:
            caja(x, arriba, x + s, base);
            caja(x, arriba, der, arriba + s);
            caja(x, arriba + (h - s) / 2, der, arriba + (h - s) / 2 + s);
            caja(der - s, arriba, der, arriba + (h - s) / 2);
            caja(x, base - s, der, base);
            break;
        case Forma::l:
            caja(x, arriba - sube, der, base);
            break;
        case Forma::i:
            caja(x, arriba, der, base);
            caja(x, arriba - s - 2, der, arriba - 2);
            break;
        case Forma::t:
            caja(x + s / 2 + 1, arriba - sube / 2, x + s / 2 + 1 + s, base);
            caja(x, arriba, der, arriba + s);
            break;
        case Forma::d:
        case Forma::b:
        case Forma::p:
        case Forma::g:
            tallos(arriba, base);
            caja(x, arriba, der, arriba + s);
            caja(x, base - s, der, base);
            if (l.forma == Forma::d) caja(der - s, arriba - sube, der, arriba);
            if (l.forma == Forma::b) caja(x, arriba - sube, x + s, arriba);
            if (l.forma == Forma::p) caja(x, base, x + s, base + baja);
            if (l.forma == Forma::g) caja(der - s, base, der, base + baja);
            break;
        case Forma::m:
            tallos(arriba, base);
            caja(x + (l.ancho - s) / 2, arriba, x + (l.ancho - s) / 2 + s, base);
            caja(x, arriba, der, arriba + s);
            break;
    }
}

void escribir(Pagina& pagina, Generador& gen, const std::vector<Letra>& letras, const Tipo& tipo,
              int x, int base) {
    const auto tinta = static_cast<std::uint8_t>(gen.entre(38, 56));
    for (const Letra& l : letras) {
        letra(pagina, l, tipo, x, base, tinta);
        x += l.ancho + tipo.hueco;
    }
}

// A line of words from `izquierda` up to at most `derecha`.
void lineaDeTexto(Pagina& pagina, Generador& gen, int izquierda, int derecha, int base) {
    int x = izquierda;
    while (true) {
        const auto letras = palabra(gen, gen.entre(1, 9), kCuerpo);
        const int w = anchoDe(letras, kCuerpo);
        if (x + w > derecha) break;
        escribir(pagina, gen, letras, kCuerpo, x, base);
        x += w + gen.entre(7, 9);
    }
}

}  // namespace

// The page of a sheet anchoPapel x altoPapel inches. The layout keeps its distances from the
// page's edges (one-inch side margins, the heading near the top, the page number near the foot), so
// that a letter page is drawn exactly as it always was and other sizes get the same look.
Pagina dibujarPagina(std::uint64_t semilla, double anchoPapel, double altoPapel) {
    Pagina pagina;
    pagina.ancho = texeles(anchoPapel);
    pagina.alto = texeles(altoPapel);
    const int kAnchoPagina = pagina.ancho;
    const int kAltoPagina = pagina.alto;
    pagina.reflejo.assign(static_cast<std::size_t>(kAnchoPagina) * static_cast<std::size_t>(kAltoPagina), 255);
    // Paper is not perfectly even.
    for (int f = 0; f < kAltoPagina; ++f)
        for (int c = 0; c < kAnchoPagina; ++c) {
            const double n = ruidoSuave(semilla ^ 0x5A5Aull, c / 13.0, f / 13.0);
            pagina.en(c, f) = static_cast<std::uint8_t>(250.0 + 5.0 * n);
        }

    Generador gen{semilla ^ 0xC0FFEEull};
    constexpr int kIzquierda = 100;  // one-inch margins
    const int kDerecha = kAnchoPagina - 100;

    // Heading: a few bold words, centred.
    std::vector<std::vector<Letra>> titulo;
    const int palabrasTitulo = gen.entre(2, 4);
    for (int k = 0; k < palabrasTitulo; ++k) titulo.push_back(palabra(gen, gen.entre(3, 7), kTitulo));
    int anchoTitulo = 0;
    for (const auto& p : titulo) anchoTitulo += anchoDe(p, kTitulo) + 20;
    anchoTitulo = std::min(anchoTitulo - 20, kDerecha - kIzquierda);
    int x = (kAnchoPagina - anchoTitulo) / 2;
    for (const auto& p : titulo) {
        if (x + anchoDe(p, kTitulo) > kDerecha) break;
        escribir(pagina, gen, p, kTitulo, x, 125);
        x += anchoDe(p, kTitulo) + 20;
    }

    // Date line, right-aligned, under the heading.
    {
        const auto fecha = palabra(gen, 12, kCuerpo);
        escribir(pagina, gen, fecha, kCuerpo, kDerecha - anchoDe(fecha, kCuerpo), 170);
    }

    // Body: paragraphs of full lines, the first indented, the last cut short.
    // (A letter page's last short lines end 120 .. 560 texels past the margin, of its 650.)
    int base = 220;
    constexpr int kPaso = 19;
    while (base < kAltoPagina - 170) {
        const int lineas = gen.entre(3, 7);
        for (int l = 0; l < lineas && base < kAltoPagina - 140; ++l) {
            const int sangria = l == 0 ? 36 : 0;
            const int fin = l + 1 == lineas ? kIzquierda + gen.entre(120, 560) * (kDerecha - kIzquierda) / 650
                                            : kDerecha;
            lineaDeTexto(pagina, gen, kIzquierda + sangria, fin, base);
            base += kPaso;
        }
        base += 12;
    }

    // Page number at the foot.
    {
        const auto numero = palabra(gen, 1, kCuerpo);
        escribir(pagina, gen, numero, kCuerpo, kAnchoPagina / 2 - 3, kAltoPagina - 60);
    }
    return pagina;
}

double reflejoEn(const Pagina& pagina, double u, double v) {
    const int kAnchoPagina = pagina.ancho;
    const int kAltoPagina = pagina.alto;
    double tx = u * kAnchoPagina - 0.5;
    double ty = (1.0 - v) * kAltoPagina - 0.5;
    tx = std::clamp(tx, 0.0, kAnchoPagina - 1.0);
    ty = std::clamp(ty, 0.0, kAltoPagina - 1.0);
    const int c0 = std::min(static_cast<int>(tx), kAnchoPagina - 2);
    const int f0 = std::min(static_cast<int>(ty), kAltoPagina - 2);
    const double fx = tx - c0;
    const double fy = ty - f0;
    const double a = pagina.en(c0, f0);
    const double b = pagina.en(c0 + 1, f0);
    const double c = pagina.en(c0, f0 + 1);
    const double d = pagina.en(c0 + 1, f0 + 1);
    const double arriba = a + (b - a) * fx;
    const double abajo = c + (d - c) * fx;
    return (arriba + (abajo - arriba) * fy) * (1.0 / 255.0);
}

}  // namespace escena::interno
