#pragma once

// Measures of a scanned page against the page front-on, and tilted scenes to measure them on;
// shared by the page's tests and the tool medir_pagina.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "escena.hpp"
#include "geometria/esquinas.hpp"
#include "imagen/imagen_bmp.hpp"

namespace medida {

// Blocks of the comparison: 16 x 16 pixels inside a 15-pixel frame.
inline constexpr int kBloque = 16;
inline constexpr int kMarco = 15;

inline double gris(const ImagenBmp& m, int f, int c) {
    return (m.plano0[f][c] + m.plano1[f][c] + m.plano2[f][c]) / 3.0;
}

// The block-mean difference of the scene tests: mean absolute difference of the means of the
// 16 x 16 blocks of `a` inside the frame, over the blocks and the three planes, in gray levels;
// `b` is read at donde(row, column) for each pixel of `a` (the same place when not given).
template <class Donde>
double diferenciaBloques(const ImagenBmp& a, const ImagenBmp& b, const Donde& donde) {
    const PlanoBytes* pa[3] = {&a.plano0, &a.plano1, &a.plano2};
    const PlanoBytes* pb[3] = {&b.plano0, &b.plano1, &b.plano2};
    const int ancho = a.plano0.ancho, alto = a.plano0.alto;
    double suma = 0.0;
    int bloques = 0;
    for (int f0 = kMarco; f0 + kBloque <= alto - kMarco; f0 += kBloque)
        for (int c0 = kMarco; c0 + kBloque <= ancho - kMarco; c0 += kBloque)
            for (int k = 0; k < 3; ++k, ++bloques) {
                int diferencia = 0;
                for (int f = f0; f < f0 + kBloque; ++f)
                    for (int c = c0; c < c0 + kBloque; ++c) {
                        const auto [fb, cb] = donde(f, c);
                        diferencia += (*pa[k])[f][c] - (*pb[k])[fb][cb];
                    }
                suma += std::abs(diferencia) / double(kBloque * kBloque);
            }
    return bloques ? suma / bloques : 0.0;
}

inline double diferenciaBloques(const ImagenBmp& a, const ImagenBmp& b) {
    return diferenciaBloques(a, b, [](int f, int c) { return std::pair{f, c}; });
}

// Root mean square of the gray difference, pixel by pixel, inside the frame: what a blurred,
// misplaced or aliased page loses against an ideal one.
inline double diferenciaRms(const ImagenBmp& a, const ImagenBmp& b) {
    double suma = 0.0;
    long n = 0;
    for (int f = kMarco; f < a.plano0.alto - kMarco; ++f)
        for (int c = kMarco; c < a.plano0.ancho - kMarco; ++c, ++n) {
            const double d = gris(a, f, c) - gris(b, f, c);
            suma += d * d;
        }
    return n ? std::sqrt(suma / n) : 0.0;
}

// Edge sharpness on the text: where the reference page has a strong edge (gray gradient over 30
// levels per pixel: the letters' sides), the page's gradient in the reference's direction, at most
// the reference's own (a steeper step, as aliasing makes, is no sharper), summed over the
// reference's. 1 = every edge as sharp and as well placed as in the reference; a blurred page gives
// less, and so do strokes that aliasing thins or drops and letters off their place.
inline double nitidez(const ImagenBmp& pagina, const ImagenBmp& referencia) {
    double suya = 0.0, propia = 0.0;
    for (int f = kMarco; f < pagina.plano0.alto - kMarco; ++f)
        for (int c = kMarco; c < pagina.plano0.ancho - kMarco; ++c) {
            const double rx = (gris(referencia, f, c + 1) - gris(referencia, f, c - 1)) / 2;
            const double ry = (gris(referencia, f + 1, c) - gris(referencia, f - 1, c)) / 2;
            const double r = std::hypot(rx, ry);
            if (r < 30.0) continue;
            const double px = (gris(pagina, f, c + 1) - gris(pagina, f, c - 1)) / 2;
            const double py = (gris(pagina, f + 1, c) - gris(pagina, f - 1, c)) / 2;
            suya += std::clamp((px * rx + py * ry) / r, 0.0, r);
            propia += r;
        }
    return propia > 0 ? suya / propia : 0.0;
}

// The page's paper, as mejorar should leave it: the paper's brightness over the page, from the
// means of 32 x 32 blocks of paper pixels (pixels whose 7 x 7 neighbourhood is paper in the
// reference without light, at least half of the block; 10 pixels from the page's edges left out).
struct Papel {
    double menor = 0.0, mayor = 0.0;  // block means, gray levels
    double tinta = 0.0;               // mean gray of the ink (reference under 40 % of the paper)
    int bloques = 0;
};
inline Papel papelDeLaPagina(const ImagenBmp& pagina, const ImagenBmp& sinLuz) {
    const int ancho = pagina.plano0.ancho, alto = pagina.plano0.alto;
    double blanco = 0.0;
    for (int f = 0; f < alto; ++f)
        for (int c = 0; c < ancho; ++c) blanco = std::max(blanco, gris(sinLuz, f, c));
    std::vector<std::uint8_t> esPapel(static_cast<std::size_t>(ancho) * alto, 0);
    double tinta = 0.0;
    long nTinta = 0;
    for (int f = 3; f < alto - 3; ++f)
        for (int c = 3; c < ancho - 3; ++c) {
            const double g = gris(sinLuz, f, c);
            if (g < 0.4 * blanco) {
                tinta += gris(pagina, f, c);
                ++nTinta;
            }
            bool todo = true;
            for (int df = -3; df <= 3 && todo; ++df)
                for (int dc = -3; dc <= 3 && todo; ++dc) todo = gris(sinLuz, f + df, c + dc) >= 0.95 * blanco;
            esPapel[static_cast<std::size_t>(f) * ancho + c] = todo;
        }
    Papel r;
    r.menor = 1e9;
    r.mayor = -1e9;
    r.tinta = nTinta ? tinta / nTinta : 0.0;
    constexpr int kLado = 32, kBorde = 10;
    for (int f0 = kBorde; f0 + kLado <= alto - kBorde; f0 += kLado)
        for (int c0 = kBorde; c0 + kLado <= ancho - kBorde; c0 += kLado) {
            double suma = 0.0;
            int n = 0;
            for (int f = f0; f < f0 + kLado; ++f)
                for (int c = c0; c < c0 + kLado; ++c)
                    if (esPapel[static_cast<std::size_t>(f) * ancho + c]) {
                        suma += gris(pagina, f, c);
                        ++n;
                    }
            if (n < kLado * kLado / 2) continue;
            r.menor = std::min(r.menor, suma / n);
            r.mayor = std::max(r.mayor, suma / n);
            ++r.bloques;
        }
    return r;
}

// The output points where a page ancho x alto has its corners: the pixel edges (the perspective
// map's page) or the letter page's points 1 pixel in (the bilinear map's).
inline Cuadrilatero bordesDePagina(int ancho, int alto) {
    return {{{-0.5, -0.5}, {ancho - 0.5, -0.5}, {ancho - 0.5, alto - 0.5}, {-0.5, alto - 0.5}}};
}
inline Cuadrilatero puntosBilineales(int ancho, int alto) {
    return {{{1.0, 1.0}, {ancho - 2.0, 1.0}, {ancho - 2.0, alto - 3.0}, {0.0, alto - 3.0}}};
}

// A small generator for the scenes below.
struct Azar {
    std::uint64_t estado;
    double real(double desde, double hasta) {
        estado += 0x9E3779B97F4A7C15ull;
        std::uint64_t z = estado;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return desde + (hasta - desde) * static_cast<double>(z >> 11) * (1.0 / 9007199254740992.0);
    }
};

// The corners as the camera sees them once turned about its own centre so that what lay at the
// principal point `principal` shows at principal + (dx, dy) (focal length `focal`, pixels): a
// sheet photographed off the camera's axis, as tilted against its own line of sight as before.
// Nothing when a corner would fall behind the camera.
inline std::optional<Cuadrilatero> girarCamara(const Cuadrilatero& esquinas, escena::Punto principal,
                                                   double focal, double dx, double dy) {
    // The turn taking the axis (0, 0, 1) to u, about the axis square to both (Rodrigues).
    const double largo = std::sqrt(dx * dx + dy * dy + focal * focal);
    const double ux = dx / largo, uy = dy / largo, coseno = focal / largo;
    const double seno = std::sqrt(ux * ux + uy * uy);
    const double kx = seno > 0 ? -uy / seno : 0.0, ky = seno > 0 ? ux / seno : 0.0;  // kz = 0
    Cuadrilatero r{};
    for (std::size_t i = 0; i < 4; ++i) {
        const double vx = esquinas[i].x - principal.x, vy = esquinas[i].y - principal.y, vz = focal;
        const double kv = kx * vx + ky * vy;
        // k x v, with kz = 0.
        const double cx = ky * vz, cy = -kx * vz, cz = kx * vy - ky * vx;
        const double x = vx * coseno + cx * seno + kx * kv * (1 - coseno);
        const double y = vy * coseno + cy * seno + ky * kv * (1 - coseno);
        const double z = vz * coseno + cz * seno;
        if (!(z > 0)) return std::nullopt;
        r[i] = {principal.x + focal * x / z, principal.y + focal * y / z};
    }
    return r;
}

// A sheet of `papel` (inches as the page reads) seen by a rigid camera tilted between `desde` and
// `hasta` degrees in a random direction, turned a little, on a photo ancho x alto, wholly inside
// it with a margin; the camera's distance is 1.4 to 3 sheet heights. The camera's principal point
// is the photo's centre, as a phone's is; the camera is aimed a little beside the sheet, whose
// centre lands up to `descentrado` of each side away from the photo's centre. Nothing when no
// such camera was found in a few tries.
struct EscenaInclinada {
    escena::Escena escena;
    escena::Camara camara;  // before it was turned: centred on the photo and on the sheet
    double inclinacion = 0.0;
};
inline std::optional<EscenaInclinada> escenaInclinada(std::uint64_t semilla, double desde, double hasta,
                                                      escena::Papel papel, int ancho = 1280, int alto = 960,
                                                      double descentrado = 0.04) {
    Azar azar{semilla * 7919 + 17};
    for (int intento = 0; intento < 200; ++intento) {
        escena::Camara c;
        c.rigida = true;
        c.proporcion = papel.ancho / papel.alto;
        const double tilt = azar.real(desde, hasta);
        const double direccion = azar.real(0.0, 360.0);
        c.inclinacion = tilt * escena::cosenoGrados(direccion);
        c.ladeo = tilt * escena::senoGrados(direccion);
        c.giro = azar.real(-8.0, 8.0);
        c.distancia = azar.real(1.4, 3.0);
        c.centro = {(ancho - 1) / 2.0, (alto - 1) / 2.0};
        const double dx = azar.real(-descentrado, descentrado) * ancho;
        const double dy = azar.real(-descentrado, descentrado) * alto;
        const double lado = std::min(ancho / c.proporcion, static_cast<double>(alto));
        c.altoHoja = lado * azar.real(0.55, 0.8);
        const double t = escena::inclinacionDeCamara(c);
        if (t < desde || t >= hasta) continue;
        for (int achique = 0; achique < 16; ++achique, c.altoHoja *= 0.92) {
            const auto e = girarCamara(escena::esquinasDeCamara(c), c.centro, c.distancia * c.altoHoja, dx, dy);
            if (!e) continue;
            bool dentro = true;
            const double margen = 0.03 * std::min(ancho, alto);
            for (const Esquina& p : *e)
                dentro = dentro && p.x > margen && p.x < ancho - 1 - margen && p.y > margen && p.y < alto - 1 - margen;
            if (!dentro) continue;
            EscenaInclinada r;
            r.escena = escena::escenaConCamara(ancho, alto, c, semilla);
            r.escena.esquinas = *e;
            r.escena.anchoPapel = papel.ancho;
            r.escena.altoPapel = papel.alto;
            r.camara = c;
            r.inclinacion = t;
            return r;
        }
    }
    return std::nullopt;
}

// The corners of a scene as the page takes them.
inline std::array<Esquina, 4> esquinasDe(const escena::Escena& e) {
    std::array<Esquina, 4> r{};
    for (int i = 0; i < 4; ++i) r[i] = {e.esquinas[i].x, e.esquinas[i].y};
    return r;
}

// The 35 mm equivalent focal length of a scene's camera (pixels: distancia x altoHoja), as a phone
// would write it in the photo's EXIF.
inline double focal35mmDe(const escena::Camara& c, int ancho, int alto) {
    return c.distancia * c.altoHoja * std::hypot(36.0, 24.0) / std::hypot(ancho, alto);
}

}  // namespace medida
