// A scanned look: the paper's brightness estimated at a coarse scale and divided out, then paper to
// white and ink to dark, in colour, gray, or black and white.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "pagina/pagina.hpp"

namespace {

// A plane of reals in a flat vector, row after row.
struct Rejilla {
    int ancho = 0, alto = 0;
    std::vector<float> v;
    Rejilla(int w, int h, float valor = 0.0f) : ancho(w), alto(h), v(static_cast<std::size_t>(w) * h, valor) {}
    float& en(int c, int r) { return v[static_cast<std::size_t>(r) * ancho + c]; }
    float en(int c, int r) const { return v[static_cast<std::size_t>(r) * ancho + c]; }
};

// Each value replaced by the largest (mayor) or smallest of those within `radio` along rows, then
// along columns (a square window; at the edges, the part of it inside).
Rejilla extremo(const Rejilla& g, int radio, bool mayor) {
    Rejilla filas(g.ancho, g.alto), r(g.ancho, g.alto);
    const auto elegir = [mayor](float a, float b) { return mayor ? std::max(a, b) : std::min(a, b); };
    for (int f = 0; f < g.alto; ++f)
        for (int c = 0; c < g.ancho; ++c) {
            float m = g.en(c, f);
            for (int k = std::max(0, c - radio); k <= std::min(g.ancho - 1, c + radio); ++k) m = elegir(m, g.en(k, f));
            filas.en(c, f) = m;
        }
    for (int f = 0; f < g.alto; ++f)
        for (int c = 0; c < g.ancho; ++c) {
            float m = filas.en(c, f);
            for (int k = std::max(0, f - radio); k <= std::min(g.alto - 1, f + radio); ++k) m = elegir(m, filas.en(c, k));
            r.en(c, f) = m;
        }
    return r;
}

// The mean over a square window of side 2 radio + 1 (the part inside), rows then columns.
Rejilla media(const Rejilla& g, int radio) {
    Rejilla filas(g.ancho, g.alto), r(g.ancho, g.alto);
    for (int f = 0; f < g.alto; ++f)
        for (int c = 0; c < g.ancho; ++c) {
            double s = 0;
            const int a = std::max(0, c - radio), b = std::min(g.ancho - 1, c + radio);
            for (int k = a; k <= b; ++k) s += g.en(k, f);
            filas.en(c, f) = static_cast<float>(s / (b - a + 1));
        }
    for (int f = 0; f < g.alto; ++f)
        for (int c = 0; c < g.ancho; ++c) {
            double s = 0;
            const int a = std::max(0, f - radio), b = std::min(g.alto - 1, f + radio);
            for (int k = a; k <= b; ++k) s += filas.en(c, k);
            r.en(c, f) = static_cast<float>(s / (b - a + 1));
        }
    return r;
}

// The paper's brightness under every pixel of `plano`: the brightest pixel of each block of
// `bloque` x `bloque` (ink is darker than the paper around it), a closing that fills what is left of
// the ink (larger than any letter stroke, smaller than a shadow), a blur, and bilinear
// interpolation back to the page's pixels.
Rejilla brilloDelPapel(const PlanoBytes& plano, int bloque) {
    const int w = (plano.ancho + bloque - 1) / bloque, h = (plano.alto + bloque - 1) / bloque;
    Rejilla g(w, h);
    for (int f = 0; f < plano.alto; ++f) {
        const std::uint8_t* fila = plano[f];
        for (int c = 0; c < plano.ancho; ++c) {
            float& m = g.en(c / bloque, f / bloque);
            m = std::max(m, static_cast<float>(fila[c]));
        }
    }
    const int radio = 3;
    g = extremo(extremo(g, radio, true), radio, false);
    g = media(media(g, 1), 1);
    Rejilla r(plano.ancho, plano.alto);
    for (int f = 0; f < plano.alto; ++f) {
        const double y = std::clamp((f + 0.5) / bloque - 0.5, 0.0, h - 1.0);
        const int f0 = std::min(static_cast<int>(y), std::max(h - 2, 0));
        const int f1 = std::min(f0 + 1, h - 1);
        const double ty = y - f0;
        for (int c = 0; c < plano.ancho; ++c) {
            const double x = std::clamp((c + 0.5) / bloque - 0.5, 0.0, w - 1.0);
            const int c0 = std::min(static_cast<int>(x), std::max(w - 2, 0));
            const int c1 = std::min(c0 + 1, w - 1);
            const double tx = x - c0;
            const double abajo = g.en(c0, f0) + tx * (g.en(c1, f0) - g.en(c0, f0));
            const double arriba = g.en(c0, f1) + tx * (g.en(c1, f1) - g.en(c0, f1));
            r.en(c, f) = static_cast<float>(abajo + ty * (arriba - abajo));
        }
    }
    return r;
}

// Reflectance (value over the paper's brightness) to the scanned tone: paper (from kBlanco up) to
// white, ink (kNegro down) to black, and in between a curve that darkens the soft edges of strokes
// more than the light ones.
constexpr double kBlanco = 0.88;
constexpr double kNegro = 0.35;
std::uint8_t tono(double reflejo) {
    const double t = std::clamp((reflejo - kNegro) / (kBlanco - kNegro), 0.0, 1.0);
    return static_cast<std::uint8_t>(std::lround(255.0 * t * std::sqrt(t)));
}

}  // namespace

void mejorarPagina(ImagenBmp& pagina, Mejora mejora) {
    if (mejora == Mejora::ninguna) return;
    PlanoBytes* planos[3] = {&pagina.plano0, &pagina.plano1, &pagina.plano2};
    const int ancho = pagina.plano0.ancho, alto = pagina.plano0.alto;
    if (ancho < 2 || alto < 2) return;
    // About 200 blocks across the page's shorter side: 4 pixels on a letter page.
    const int bloque = std::max(1, static_cast<int>(std::lround(std::min(ancho, alto) / 200.0)));

    // Reflectance per plane (B, G, R), each against its own paper brightness: the light's colour
    // goes too.
    std::vector<Rejilla> reflejo;
    for (PlanoBytes* p : planos) {
        const Rejilla fondo = brilloDelPapel(*p, bloque);
        Rejilla r(ancho, alto);
        for (int f = 0; f < alto; ++f)
            for (int c = 0; c < ancho; ++c) r.en(c, f) = (*p)[f][c] / std::max(fondo.en(c, f), 8.0f);
        reflejo.push_back(std::move(r));
    }
    if (mejora == Mejora::color) {
        for (int k = 0; k < 3; ++k)
            for (int f = 0; f < alto; ++f)
                for (int c = 0; c < ancho; ++c) (*planos[k])[f][c] = tono(reflejo[k].en(c, f));
        return;
    }
    Rejilla gris(ancho, alto);
    for (int f = 0; f < alto; ++f)
        for (int c = 0; c < ancho; ++c)
            gris.en(c, f) = 0.114f * reflejo[0].en(c, f) + 0.587f * reflejo[1].en(c, f) + 0.299f * reflejo[2].en(c, f);
    std::vector<Rejilla>().swap(reflejo);  // given back before the planes that follow
    if (mejora == Mejora::gris) {
        for (int f = 0; f < alto; ++f)
            for (int c = 0; c < ancho; ++c) {
                const std::uint8_t v = tono(gris.en(c, f));
                for (PlanoBytes* p : planos) (*p)[f][c] = v;
            }
        return;
    }
    // Black and white: ink where the reflectance is well under its neighbourhood's mean (a window
    // of about a line of text) and under the paper's own level.
    // On a fine page (a short side of 1500 pixels or more: about 175 ppi on a letter page) the
    // photo's noise, enlarged, frays the edges of the strokes; a light blur first keeps them
    // smooth, and the page small in G4, without opening thin strokes.
    const int radio = std::max(2, static_cast<int>(std::lround(std::min(ancho, alto) / 60.0)));
    const Rejilla vecindad = media(gris, radio);
    if (const int suave = std::min(ancho, alto) / 1500; suave > 0) gris = media(gris, suave);
    for (int f = 0; f < alto; ++f)
        for (int c = 0; c < ancho; ++c) {
            const float g = gris.en(c, f);
            const bool tinta = g < 0.85f * vecindad.en(c, f) && g < 0.8f;
            for (PlanoBytes* p : planos) (*p)[f][c] = tinta ? 0 : 255;
        }
}
