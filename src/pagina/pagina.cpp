#include "pagina/pagina.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "pagina/forma.hpp"
#include "pagina/remuestreo.hpp"
#include "rectificacion/hoja.hpp"

namespace {

struct Medidas {
    Papel papel;
    double corto, largo;  // inches
};
constexpr Medidas kPapeles[] = {
    {Papel::carta, 8.5, 11.0},
    {Papel::a4, 210.0 / 25.4, 297.0 / 25.4},
    {Papel::oficio, 8.5, 14.0},
};

double distancia(const Esquina& p, const Esquina& q) { return std::hypot(q.x - p.x, q.y - p.y); }

// Copies the pixels just inside a 15-pixel frame over it: sides first, then bottom and top.
void rellenarMarco(PlanoBytes& p) {
    const int ultimaColumna = p.ancho - 1 - kMarcoHoja;
    const int ultimaFila = p.alto - 1 - kMarcoHoja;
    if (ultimaColumna < kMarcoHoja || ultimaFila < kMarcoHoja) return;
    for (int r = kMarcoHoja; r <= ultimaFila; ++r) {
        std::uint8_t* fila = p[r];
        for (int c = 0; c < kMarcoHoja; ++c) fila[c] = fila[kMarcoHoja];
        for (int c = ultimaColumna + 1; c < p.ancho; ++c) fila[c] = fila[ultimaColumna];
    }
    for (int r = 0; r < kMarcoHoja; ++r) std::copy_n(p[kMarcoHoja], p.ancho, p[r]);
    for (int r = ultimaFila + 1; r < p.alto; ++r) std::copy_n(p[ultimaFila], p.ancho, p[r]);
}

}  // namespace

std::optional<FormaPagina> formaDePagina(int anchoFoto, int altoFoto, const std::array<Esquina, 4>& esquinas,
                                         const OpcionesPagina& opciones) {
    FormaPagina forma;
    const double porOmision = focalEnPixeles(kFocalTelefono35mm, anchoFoto, altoFoto);
    std::optional<double> conocida;
    if (opciones.focal35mm && *opciones.focal35mm > 0)
        conocida = focalEnPixeles(*opciones.focal35mm, anchoFoto, altoFoto);
    // The sheet's true proportion tells a landscape sheet even when a strong tilt makes it look
    // taller than wide; the bilinear map, which does not need it, falls back on the sides' lengths
    // in the photo when it cannot be measured.
    const std::optional<Proporcion> proporcion = medirProporcion(esquinas, principalDeFoto(anchoFoto, altoFoto), conocida, porOmision);
    if (!proporcion && (opciones.mapa == Mapa::perspectiva || opciones.papel == Papel::automatico))
        return std::nullopt;
    if (proporcion) {
        forma.apaisada = proporcion->valor > 1.0;
    } else {
        const double ancho = distancia(esquinas[0], esquinas[1]) + distancia(esquinas[3], esquinas[2]);
        const double alto = distancia(esquinas[0], esquinas[3]) + distancia(esquinas[1], esquinas[2]);
        forma.apaisada = ancho > alto;
    }

    double corto = 8.5, largo = 11.0;
    forma.papel = opciones.papel;
    if (opciones.papel == Papel::automatico) {
        const double medida = std::max(proporcion->valor, 1.0 / proporcion->valor);
        forma.proporcionMedida = medida;
        double mejor = kToleranciaPapel;
        corto = 11.0 / medida;
        for (const Medidas& m : kPapeles) {
            const double error = std::abs(std::log(medida * m.corto / m.largo));
            if (error <= mejor) {
                mejor = error;
                forma.papel = m.papel;
                corto = m.corto;
                largo = m.largo;
            }
        }
    } else {
        for (const Medidas& m : kPapeles) {
            if (m.papel == opciones.papel) {
                corto = m.corto;
                largo = m.largo;
            }
        }
    }

    int ladoCorto, ladoLargo;
    if (opciones.ppp > 0) {
        ladoCorto = static_cast<int>(std::lround(corto * opciones.ppp));
        ladoLargo = static_cast<int>(std::lround(largo * opciones.ppp));
    } else if (forma.papel == Papel::carta) {
        ladoCorto = kAnchoHoja;
        ladoLargo = kAltoHoja;
    } else {
        ladoCorto = static_cast<int>(std::lround(corto * kPppCarta));
        ladoLargo = static_cast<int>(std::lround(largo * kPppCarta));
    }
    ladoCorto = std::clamp(ladoCorto, kLadoMinimo, kLadoMaximo);
    ladoLargo = std::clamp(ladoLargo, kLadoMinimo, kLadoMaximo);
    forma.ancho = forma.apaisada ? ladoLargo : ladoCorto;
    forma.alto = forma.apaisada ? ladoCorto : ladoLargo;
    forma.anchoPulgadas = forma.apaisada ? largo : corto;
    forma.altoPulgadas = forma.apaisada ? corto : largo;
    forma.hojaCarta = opciones.mapa == Mapa::bilineal && forma.ancho == kAnchoHoja && forma.alto == kAltoHoja;
    return forma;
}

std::optional<PaginaEnderezada> enderezarPagina(const ImagenBmp& foto, const std::array<Esquina, 4>& esquinas,
                                                const OpcionesPagina& opciones) {
    const std::optional<FormaPagina> forma = formaDePagina(foto.ancho(), foto.alto(), esquinas, opciones);
    if (!forma) return std::nullopt;
    return enderezarPagina(foto, esquinas, opciones.mapa, *forma);
}

std::optional<PaginaEnderezada> enderezarPagina(const ImagenBmp& foto, const std::array<Esquina, 4>& esquinas,
                                                Mapa mapaPedido, const FormaPagina& forma, const UsoDeImagen& usar) {
    if (foto.ancho() < 2 || foto.alto() < 2) return std::nullopt;
    const bool bilineal = mapaPedido == Mapa::bilineal;

    if (forma.hojaCarta) {
        // The letter page itself.
        HojaRectificada rectificada = rectificarHoja(foto, esquinas, usar);
        if (!rectificada.hoja) return std::nullopt;
        ImagenBmp hoja = std::move(*rectificada.hoja);
        rectificada.hoja.reset();
        return PaginaEnderezada{std::move(hoja), forma.anchoPulgadas, forma.altoPulgadas, std::move(rectificada)};
    }

    MapaDePagina mapa;
    mapa.perspectiva = !bilineal;
    if (bilineal) {
        const auto b = bilinealDePagina(esquinas, forma.ancho, forma.alto);
        if (!b) return std::nullopt;
        mapa.bilineal = *b;
    } else {
        const auto h = homografiaDePagina(esquinas, forma.ancho, forma.alto);
        if (!h) return std::nullopt;
        mapa.homografia = *h;
    }
    if (!bilineal) {
        // No frame to fill: the page can be used while it is made.
        ImagenBmp pagina = remuestrearPagina(foto, mapa, forma.ancho, forma.alto, usar);
        return PaginaEnderezada{std::move(pagina), forma.anchoPulgadas, forma.altoPulgadas, std::nullopt};
    }
    ImagenBmp pagina = remuestrearPagina(foto, mapa, forma.ancho, forma.alto);
    rellenarMarco(pagina.plano0);
    rellenarMarco(pagina.plano1);
    rellenarMarco(pagina.plano2);
    // Made whole before it is used: nothing is left for its user to make.
    if (usar) usar(pagina, [](int, int) {});
    return PaginaEnderezada{std::move(pagina), forma.anchoPulgadas, forma.altoPulgadas, std::nullopt};
}

std::optional<PlanoBytes> hojaEnGris(const ImagenBmp& foto, const std::array<Esquina, 4>& esquinas, Mapa mapa,
                                     const FormaPagina& forma, double ppp) {
    FormaPagina otra = forma;
    otra.ancho = std::clamp(static_cast<int>(std::lround(forma.anchoPulgadas * ppp)), kLadoMinimo, kLadoMaximo);
    otra.alto = std::clamp(static_cast<int>(std::lround(forma.altoPulgadas * ppp)), kLadoMinimo, kLadoMaximo);
    // The letter page's own map is the bilinear one at any other size too.
    otra.hojaCarta = false;
    std::optional<PaginaEnderezada> hoja = enderezarPagina(foto, esquinas, mapa, otra);
    if (!hoja) return std::nullopt;
    const ImagenBmp& color = hoja->imagen;
    PlanoBytes gris = PlanoBytes::sinIniciar(otra.ancho, otra.alto);
    for (int f = 0; f < otra.alto; ++f) {
        const std::uint8_t* b = color.plano0[f];
        const std::uint8_t* g = color.plano1[f];
        const std::uint8_t* r = color.plano2[f];
        std::uint8_t* d = gris[f];
        for (int c = 0; c < otra.ancho; ++c) d[c] = static_cast<std::uint8_t>((77 * r[c] + 150 * g[c] + 29 * b[c] + 128) >> 8);
    }
    return gris;
}
