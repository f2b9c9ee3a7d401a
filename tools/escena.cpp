// The renderer: a photo of the sheet on its desk under its light, and the sheet front-on as a scan
// should show it.
#include "escena.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "escena_interno.hpp"
#include "escena_prosa.hpp"

namespace escena {

using namespace interno;

namespace {

bool parametrosValidos(const Escena& escena) {
    if (escena.ancho < kLadoMinimo || escena.ancho > kLadoMaximo || escena.alto < kLadoMinimo ||
        escena.alto > kLadoMaximo)
        return false;
    if (escena.fondo < 0 || escena.fondo > 255 || escena.ruido < 0 || escena.ruido > 64) return false;
    if (!(escena.gradiente >= 0.0 && escena.gradiente <= 1.0 && std::isfinite(escena.direccionLuz))) return false;
    if (!(escena.anchoPapel >= kPapelMinimo && escena.anchoPapel <= kPapelMaximo &&
          escena.altoPapel >= kPapelMinimo && escena.altoPapel <= kPapelMaximo))
        return false;
    switch (escena.escritorio) {
        case TipoEscritorio::madera:
        case TipoEscritorio::liso:
        case TipoEscritorio::textura:
        case TipoEscritorio::desorden:
        case TipoEscritorio::cuero:
            break;
        default:
            return false;
    }
    if (!(escena.calidez >= 0.0 && escena.calidez <= 1.0)) return false;
    if (!(escena.radioEsquinas >= 0.0 &&
          escena.radioEsquinas <= std::min(escena.anchoPapel, escena.altoPapel) / 3.0))
        return false;
    if (!(escena.saturacionEscritorio >= 0.0 && escena.saturacionEscritorio <= 3.0)) return false;
    if (!(escena.brilloPapel >= 0.2 && escena.brilloPapel <= 1.5)) return false;
    if (!(escena.puntosProsa == 0.0 || (escena.puntosProsa >= 6.0 && escena.puntosProsa <= 24.0))) return false;
    const Sombra& s = escena.sombra;
    return s.fuerza >= 0.0 && s.fuerza <= 0.9 && std::isfinite(s.punto.x) && std::isfinite(s.punto.y) &&
           std::isfinite(s.direccion) && s.suavidad >= 0.0 && std::isfinite(s.suavidad) && s.ancho >= 0.0 &&
           std::isfinite(s.ancho);
}

// The map from the page square to the photo, when the corners form a convex quadrilateral.
std::optional<Homografia> mapaDeLaHoja(const Escena& escena) {
    if (!esConvexo(escena.esquinas)) return std::nullopt;
    return homografiaDesdeCuadrado(escena.esquinas);
}

}  // namespace

std::optional<FotoSintetica> renderizarEscena(const Escena& escena) {
    if (!parametrosValidos(escena)) return std::nullopt;

    std::optional<Homografia> directa;
    if (escena.conHoja) {
        directa = mapaDeLaHoja(escena);
        if (!directa) return std::nullopt;
    }

    const int ancho = escena.ancho;
    const int alto = escena.alto;
    FotoSintetica foto;
    foto.esquinas = escena.esquinas;
    foto.imagen = imagenNueva(ancho, alto);

    const double diagonal = std::sqrt(static_cast<double>(ancho) * ancho + static_cast<double>(alto) * alto);
    const double luzX = cosenoGrados(escena.direccionLuz);
    const double luzY = senoGrados(escena.direccionLuz);
    // The sheet casts a soft shadow away from the light.
    const Punto sombra{-luzX * 0.004 * diagonal, -luzY * 0.004 * diagonal};
    const double difusion = 0.008 * diagonal;

    // Pixels that the sheet or its shadow may touch.
    int cMin = 0, cMax = -1, fMin = 0, fMax = -1;
    Homografia inv{};
    Pagina pagina;
    if (directa) {
        inv = inversa(*directa);
        std::optional<Pagina> hecha = paginaDeEscena(escena);
        if (!hecha) return std::nullopt;
        pagina = std::move(*hecha);
        double xMin = escena.esquinas[0].x, xMax = xMin, yMin = escena.esquinas[0].y, yMax = yMin;
        for (const Esquina& p : escena.esquinas) {
            xMin = std::min(xMin, p.x);
            xMax = std::max(xMax, p.x);
            yMin = std::min(yMin, p.y);
            yMax = std::max(yMax, p.y);
        }
        const double margen = 0.004 * diagonal + difusion + 2.0;
        cMin = static_cast<int>(std::clamp(std::floor(xMin - margen), 0.0, ancho - 1.0));
        cMax = static_cast<int>(std::clamp(std::ceil(xMax + margen), -1.0, ancho - 1.0));
        fMin = static_cast<int>(std::clamp(std::floor(yMin - margen), 0.0, alto - 1.0));
        fMax = static_cast<int>(std::clamp(std::ceil(yMax + margen), -1.0, alto - 1.0));
    }

    const Escritorio escritorio = escritorioDe(escena, luzX, luzY);
    const Color papel{kPapel.b * escena.brilloPapel, kPapel.g * escena.brilloPapel, kPapel.r * escena.brilloPapel};

    const Iluminacion iluminacion(escena);
    const Color tono = tonoDeLuz(escena);

    // Page points past a rounded corner (u across the page, v up it, both 0 .. 1).
    const double radio = escena.radioEsquinas;
    const auto fueraDeLaPunta = [&](double u, double v) {
        if (radio <= 0.0) return false;
        const double du = radio - std::min(u, 1.0 - u) * escena.anchoPapel;
        const double dv = radio - std::min(v, 1.0 - v) * escena.altoPapel;
        return du > 0.0 && dv > 0.0 && du * du + dv * dv > radio * radio;
    };

    Generador ruido{escena.semilla ^ 0xA11CEull};
    const auto amplitud = static_cast<std::uint64_t>(escena.ruido) + 1;

    for (int f = 0; f < alto; ++f) {
        for (int c = 0; c < ancho; ++c) {
            const double x = c;
            const double y = f;
            const double luz = iluminacion.conSombra(x, y);

            Color color = colorEscritorio(escritorio, x, y);
            if (directa && c >= cMin && c <= cMax && f >= fMin && f <= fMax) {
                const double d = distanciaAlCuadrilatero(escena.esquinas, {x - sombra.x, y - sombra.y});
                const double cerca = d < difusion ? 1.0 - suavizar(d / difusion) : 0.0;
                const double oscuro = 1.0 - 0.3 * cerca;
                color = {color.b * oscuro, color.g * oscuro, color.r * oscuro};
                int cubiertas = 0;
                double reflejo = 0.0;
                for (int i = 0; i < 4; ++i) {
                    const double sy = y + (i + 0.5) / 4.0 - 0.5;
                    for (int j = 0; j < 4; ++j) {
                        const double sx = x + (j + 0.5) / 4.0 - 0.5;
                        const double w = inv.m[2][0] * sx + inv.m[2][1] * sy + inv.m[2][2];
                        const double u = (inv.m[0][0] * sx + inv.m[0][1] * sy + inv.m[0][2]) / w;
                        const double v = (inv.m[1][0] * sx + inv.m[1][1] * sy + inv.m[1][2]) / w;
                        if (u >= 0.0 && u <= 1.0 && v >= 0.0 && v <= 1.0 && !fueraDeLaPunta(u, v)) {
                            ++cubiertas;
                            reflejo += reflejoEn(pagina, u, v);
                        }
                    }
                }
                const double resto = (16 - cubiertas) / 16.0;
                const double r = reflejo / 16.0;
                color = {papel.b * r + color.b * resto, papel.g * r + color.g * resto,
                         papel.r * r + color.r * resto};
            }

            double canales[3] = {color.b * luz * tono.b, color.g * luz * tono.g, color.r * luz};
            PlanoBytes* planos[3] = {&foto.imagen.plano0, &foto.imagen.plano1, &foto.imagen.plano2};
            const std::uint64_t azar = ruido.siguiente();
            for (int k = 0; k < 3; ++k) {
                // Triangular noise: the sum of two uniform draws, centred.
                const auto a = static_cast<int>(((azar >> (20 * k)) & 0x3FF) % amplitud);
                const auto b = static_cast<int>(((azar >> (20 * k + 10)) & 0x3FF) % amplitud);
                const double valor = canales[k] + static_cast<double>(a + b - escena.ruido);
                const double limitado = std::clamp(valor + 0.5, 0.0, 255.0);
                (*planos[k])[f][c] = static_cast<std::uint8_t>(limitado);
            }
        }
    }
    return foto;
}

std::optional<ImagenBmp> hojaDeFrente(const Escena& escena) {
    if (!escena.conHoja || !parametrosValidos(escena)) return std::nullopt;
    const std::optional<Homografia> directa = mapaDeLaHoja(escena);
    if (!directa) return std::nullopt;
    const Homografia& m = *directa;
    const std::optional<Pagina> hecha = paginaDeEscena(escena);
    if (!hecha) return std::nullopt;
    const Pagina& pagina = *hecha;
    const Iluminacion iluminacion(escena);
    const Color tono = tonoDeLuz(escena);
    const Color papel{kPapel.b * escena.brilloPapel, kPapel.g * escena.brilloPapel, kPapel.r * escena.brilloPapel};

    // Page coordinates u = a0 + a1 X + a2 Y + a3 X Y (and v alike) through the four points, by
    // elimination on the 4 x 4 system with both sides at once.
    const double puntoX[4] = {1.0, 850.0, 850.0, 0.0};
    const double puntoY[4] = {1.0, 1.0, 1100.0, 1100.0};
    const double paginaU[4] = {0.0, 1.0, 1.0, 0.0};
    const double paginaV[4] = {0.0, 0.0, 1.0, 1.0};
    double a[4][6];
    for (int i = 0; i < 4; ++i) {
        const double fila[6] = {1.0, puntoX[i], puntoY[i], puntoX[i] * puntoY[i], paginaU[i], paginaV[i]};
        std::copy(fila, fila + 6, a[i]);
    }
    for (int c = 0; c < 4; ++c) {
        int pivote = c;
        for (int f = c + 1; f < 4; ++f)
            if (std::abs(a[f][c]) > std::abs(a[pivote][c])) pivote = f;
        std::swap(a[c], a[pivote]);
        for (int f = 0; f < 4; ++f) {
            if (f == c) continue;
            const double factor = a[f][c] / a[c][c];
            for (int k = c; k < 6; ++k) a[f][k] -= factor * a[c][k];
        }
    }
    double cu[4], cv[4];
    for (int i = 0; i < 4; ++i) {
        cu[i] = a[i][4] / a[i][i];
        cv[i] = a[i][5] / a[i][i];
    }

    constexpr int kAncho = 852;
    constexpr int kAlto = 1103;
    ImagenBmp hoja = imagenNueva(kAncho, kAlto);
    PlanoBytes* planos[3] = {&hoja.plano0, &hoja.plano1, &hoja.plano2};
    for (int f = 0; f < kAlto; ++f) {
        for (int c = 0; c < kAncho; ++c) {
            const double u = cu[0] + cu[1] * c + cu[2] * f + cu[3] * c * f;
            const double v = cv[0] + cv[1] * c + cv[2] * f + cv[3] * c * f;
            // Where the photo shows this page point, for the light there.
            const double w = m.m[2][0] * u + m.m[2][1] * v + m.m[2][2];
            const double x = (m.m[0][0] * u + m.m[0][1] * v + m.m[0][2]) / w;
            const double y = (m.m[1][0] * u + m.m[1][1] * v + m.m[1][2]) / w;
            const double factor = reflejoEn(pagina, u, v) * iluminacion.conSombra(x, y);
            const double canales[3] = {papel.b * factor * tono.b, papel.g * factor * tono.g, papel.r * factor};
            for (int k = 0; k < 3; ++k)
                (*planos[k])[f][c] = static_cast<std::uint8_t>(std::clamp(canales[k] + 0.5, 0.0, 255.0));
        }
    }
    return hoja;
}

std::optional<ImagenBmp> paginaDeFrente(const Escena& escena, int ancho, int alto, const Cuadrilatero& puntos,
                                        bool conLuz) {
    if (!escena.conHoja || !parametrosValidos(escena)) return std::nullopt;
    if (ancho < kLadoMinimo || ancho > kLadoMaximo || alto < kLadoMinimo || alto > kLadoMaximo) return std::nullopt;
    const std::optional<Homografia> directa = mapaDeLaHoja(escena);
    if (!directa || !esConvexo(puntos)) return std::nullopt;
    const std::optional<Homografia> salida = homografiaDesdeCuadrado(puntos);
    if (!salida) return std::nullopt;
    const Homografia inv = inversa(*salida);
    const Homografia& m = *directa;
    const std::optional<Pagina> hecha = paginaDeEscena(escena);
    if (!hecha) return std::nullopt;
    const Pagina& pagina = *hecha;
    const Iluminacion iluminacion(escena);
    const Color tono = tonoDeLuz(escena);
    const Color papel{kPapel.b * escena.brilloPapel, kPapel.g * escena.brilloPapel, kPapel.r * escena.brilloPapel};

    // Samples per output pixel and side: one while a pixel covers up to about 1.5 x 1.5 texels,
    // more as it covers more, so that it averages them (from the areas of the page and of its
    // image); at most 4.
    double area = 0.0;
    for (std::size_t i = 0; i < 4; ++i)
        area += puntos[i].x * puntos[(i + 1) % 4].y - puntos[(i + 1) % 4].x * puntos[i].y;
    area = std::abs(0.5 * area);
    const double texelesPorPixel = static_cast<double>(pagina.ancho) * pagina.alto / std::max(area, 1.0);
    const int n = static_cast<int>(std::clamp(std::floor(std::sqrt(texelesPorPixel) + 0.5), 1.0, 4.0));

    ImagenBmp hoja = imagenNueva(ancho, alto);
    PlanoBytes* planos[3] = {&hoja.plano0, &hoja.plano1, &hoja.plano2};
    for (int f = 0; f < alto; ++f) {
        for (int c = 0; c < ancho; ++c) {
            double suma = 0.0;
            for (int i = 0; i < n; ++i) {
                const double sy = f + (i + 0.5) / n - 0.5;
                for (int j = 0; j < n; ++j) {
                    const double sx = c + (j + 0.5) / n - 0.5;
                    const double w = inv.m[2][0] * sx + inv.m[2][1] * sy + inv.m[2][2];
                    double u = (inv.m[0][0] * sx + inv.m[0][1] * sy + inv.m[0][2]) / w;
                    double v = (inv.m[1][0] * sx + inv.m[1][1] * sy + inv.m[1][2]) / w;
                    // Past the page's edge (or, for a point beyond the horizon, anywhere) the edge
                    // repeats.
                    if (!std::isfinite(u) || !std::isfinite(v)) u = v = 0.5;
                    u = std::clamp(u, 0.0, 1.0);
                    v = std::clamp(v, 0.0, 1.0);
                    double factor = reflejoEn(pagina, u, v);
                    if (conLuz) {
                        const double wf = m.m[2][0] * u + m.m[2][1] * v + m.m[2][2];
                        const double x = (m.m[0][0] * u + m.m[0][1] * v + m.m[0][2]) / wf;
                        const double y = (m.m[1][0] * u + m.m[1][1] * v + m.m[1][2]) / wf;
                        factor *= iluminacion.conSombra(x, y);
                    }
                    suma += factor;
                }
            }
            const double factor = suma / (n * n);
            const Color luzDe = conLuz ? tono : Color{1.0, 1.0, 1.0};
            const double canales[3] = {papel.b * factor * luzDe.b, papel.g * factor * luzDe.g, papel.r * factor};
            for (int k = 0; k < 3; ++k)
                (*planos[k])[f][c] = static_cast<std::uint8_t>(std::clamp(canales[k] + 0.5, 0.0, 255.0));
        }
    }
    return hoja;
}

std::optional<std::string> textoDeLaPagina(const Escena& escena) {
    if (!escena.conHoja || escena.puntosProsa == 0.0 || !parametrosValidos(escena)) return std::nullopt;
    auto prosa = componerProsa(escena.semilla, escena.anchoPapel, escena.altoPapel, escena.puntosProsa, false);
    if (!prosa) return std::nullopt;
    return std::move(prosa->texto);
}

}  // namespace escena
