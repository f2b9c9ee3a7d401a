#include "deteccion/deteccion.hpp"

#include <algorithm>
#include <cmath>

#include "deteccion/interno.hpp"
#include "filtros/bordes.hpp"
#include "filtros/reduccion.hpp"
#include "geometria/contorno.hpp"
#include "geometria/esquinas.hpp"
#include "hough/acumulador.hpp"
#include "hough/rectas.hpp"

using namespace deteccion;

namespace {

// The diagonal of this detector's working image, in pixels: enough for the lines; the photo gives
// the precision. (The fixed-threshold stages work on one of kDiagonalTrabajo.)
constexpr double kDiagonalRobusta = 800.0;

// The verdict: every side covered by edges over at least kCoberturaLado of its visible part and
// kCoberturaMedia on average; an inside that differs from its surroundings by kContrasteMinimo. (A
// sheet's side is covered nearly whole; the top of a block of text, broken between the words,
// about half.)
constexpr double kCoberturaLado = 0.6;
constexpr double kCoberturaMedia = 0.7;
constexpr double kContrasteMinimo = 8.0;
constexpr double kCromaMaxima = 60.0;
// Paper is lighter than what it lies on, or at least not much darker: an inside under
// kLuzRelativaMinima of its surroundings' brightness is a dark thing on a lighter desk (a keyboard's
// keys, a phone's or a tablet's screen in its frame, a dark book), never a sheet. Sheets on every
// kind of desk, pale wood and white tables included, come out at 0.98 or above.
constexpr double kLuzRelativaMinima = 0.8;
// A side whose own outside differs from the inside by less than kContrasteLado of the whole ring's
// difference (kContrasteLadoFuerte where that difference reaches kContrasteFuerte) does not part
// the sheet from its surroundings.
constexpr double kContrasteLado = 0.3;
constexpr double kContrasteLadoFuerte = 0.5;
constexpr double kContrasteFuerte = 60.0;
// A side whose inner strip is clearly more like the strip outside it than like the inside (its
// difference from the outside under kInteriorComoFuera of that from the inside), and differs from
// the inside by more than kInteriorLado, has the surroundings on its inner hand.
constexpr double kInteriorLado = 0.5 * kContrasteMinimo;
constexpr double kInteriorComoFuera = 0.5;

struct Eleccion {
    Candidato candidato;
    Region region;
    double puntaje = 0.0;
    double confianza = 0.0;
    bool convence = false;
};

Eleccion juzgar(const Rasgos& r, const Candidato& c) {
    Eleccion e;
    e.candidato = c;
    e.region = evaluarRegion(r, c.esquinas);
    const Region& g = e.region;
    double media = 0, minima = 1;
    for (double v : c.cobertura) {
        media += v / 4;
        minima = std::min(minima, v);
    }
    // A sheet differs from what it lies on; when the photo shows nothing around it (the sheet
    // fills the photo) its sides alone must speak.
    const bool rodeada = g.muestrasFuera >= 0.25;
    const double contraste = rodeada ? g.contraste : kContrasteMinimo * 2;
    // The inside only breaks near ties: a sheet differs from its surroundings, is brighter and
    // even (text spreads its brightness, so lightly).
    double factor = contraste >= kContrasteMinimo ? 1.0 : 0.5;
    if (rodeada && g.luzDentro < g.luzFuera) factor *= 0.9;
    factor *= 1.0 - 0.1 * std::clamp(g.dispersionDentro / 60.0, 0.0, 1.0);
    // Paper is near gray, or takes the colour of the light: a strongly coloured inside, hardly less
    // coloured than what lies around it, is a book, a card or the desk itself, unless it stands out
    // strongly, brighter than its surroundings, and has the colour of the photo's brightest things
    // (a warm lamp turns paper orange; a stretch of a coloured desk hardly stands out from the rest).
    const double cromaSinTinte =
        rodeada && g.luzDentro > g.luzFuera && g.contraste >= kContrasteFuerte
            ? std::hypot(g.croma1Dentro - r.tinte1 * g.luzDentro, g.croma2Dentro - r.tinte2 * g.luzDentro)
            : g.cromaDentro;
    // Nor is it clearly darker than its surroundings (keys, a phone, a tablet, a dark notebook).
    // Nor is it darker than its surroundings and clearly coloured at once (a notebook's cover).
    const bool coloreada = (g.cromaDentro > kCromaMaxima && g.cromaDentro > 0.6 * g.cromaFuera &&
                            cromaSinTinte > kCromaMaxima) ||
                           (rodeada && g.luzDentro < kLuzRelativaMinima * g.luzFuera) ||
                           (rodeada && g.luzDentro < g.luzFuera && g.cromaDentro > 0.5 * kCromaMaxima);
    if (coloreada) factor *= 0.5;
    // Every side parts the sheet from something else: a side with paper on both hands (a line of
    // text or a fold standing in for a side that lies outside the photo) is not one of the sheet's.
    bool ladoDebil = false;
    if (rodeada)
        for (double cl : g.contrasteLado) {
            // Where the sheet stands out strongly, every side must stand out clearly; on a pale
            // desk the light alone makes the sides differ more.
            const double parte = g.contraste >= kContrasteFuerte ? kContrasteLadoFuerte : kContrasteLado;
            ladoDebil = ladoDebil || (cl >= 0 && cl < parte * g.contraste);
        }
    if (ladoDebil) factor *= 0.5;
    // Nor does a side that ends outside the photo with the surroundings on its inner hand: it runs
    // past the sheet, along a line of the desk beyond a corner that cannot be seen, and another
    // quadrilateral follows the sheet closer. (Where both corners are seen, the bare stretch past
    // the corner already tells; and a shadow across the sheet can darken a side's inner strip
    // like the desk.)
    const auto visible = [&](const Esquina& q) {
        return q.x >= 0 && q.y >= 0 && q.x <= r.ancho - 1 && q.y <= r.alto - 1;
    };
    bool ladoDeMas = false;
    if (rodeada)
        for (int s = 0; s < 4; ++s)
            ladoDeMas = ladoDeMas || ((!visible(c.esquinas[s]) || !visible(c.esquinas[(s + 1) % 4])) &&
                                      g.interiorLado[s] >= 0 && g.interiorLado[s] > kInteriorLado &&
                                      g.interiorFuera[s] < kInteriorComoFuera * g.interiorLado[s]);
    if (ladoDeMas) factor *= 0.5;
    e.convence = minima >= kCoberturaLado && media >= kCoberturaMedia && contraste >= kContrasteMinimo &&
                 !coloreada && !ladoDebil;
    e.puntaje = c.puntaje * factor;
    e.confianza = std::clamp(media * std::min(1.0, contraste / (3 * kContrasteMinimo)), 0.0, 1.0);
    return e;
}

// Within `radio` of the estimate at both ends of the side.
bool cerca(const RectaNormal& fina, const Esquina& a, const Esquina& b, double radio) {
    const double da = std::fabs(fina.a * a.x + fina.b * a.y - fina.c);
    const double db = std::fabs(fina.a * b.x + fina.b * b.y - fina.c);
    return std::max(da, db) <= 2.0 * radio;
}

// The corners the fixed thresholds of the stages find (as the run without arguments does, on its
// working image), in the photo's pixels and in slots; nothing when they find no four.
std::optional<Cuadrilatero> esquinasFijas(const ImagenBmp& foto) {
    const double factor = factorDeReduccion(foto);
    const TamanoReducido tamano = tamanoReducido(foto.ancho(), foto.alto(), factor);
    if (tamano.ancho < 2 || tamano.alto < 2) return std::nullopt;
    const ImagenBmp trabajo = reducirImagen(foto, factor);
    ListaEsquinas esquinas;
    {
        const Bordes bordes = detectarBordes(trabajo, Orientaciones::deBordes);
        PlanoReal acumulador = acumuladorHough(bordes.mapa, bordes.orientacion, trabajo.ancho(), trabajo.alto());
        esquinas = buscarEsquinas(buscarRectas(acumulador), trabajo.ancho(), trabajo.alto());
    }
    if (esquinas.cuantas < 4) return std::nullopt;
    ordenarEsquinas(esquinas.esquinas);
    Cuadrilatero r{};
    for (int i = 0; i < 4; ++i)
        r[i] = {(esquinas.esquinas[i].x + trabajo.ancho() / 2) * factor,
                (esquinas.esquinas[i].y + trabajo.alto() / 2) * factor};
    return r;
}

// Within a few degrees of each other.
bool paralelas(const RectaNormal& p, const RectaNormal& q) { return std::fabs(p.a * q.b - p.b * q.a) <= 0.07; }

}  // namespace

HojaDetectada detectarHojaRobusta(const ImagenBmp& foto) {
    comprobarPlanos(foto);
    HojaDetectada hoja;
    const int ancho = foto.ancho(), alto = foto.alto();
    if (ancho < 16 || alto < 16) {
        hoja.motivo = "la foto es demasiado pequena para buscar la hoja";
        return hoja;
    }
    const double factor = std::max(1.0, std::hypot(ancho, alto) / kDiagonalRobusta);
    const Rasgos rasgos = calcularRasgos(foto, factor);
    const std::vector<LineaDeBordes> lineas = buscarLineas(rasgos);
    const std::vector<Candidato> candidatos = buscarCandidatos(rasgos, lineas, 12);
    Eleccion mejor;
    for (const Candidato& c : candidatos) {
        Eleccion e = juzgar(rasgos, c);
        if (e.puntaje > mejor.puntaje) mejor = e;
    }
    // To the photo and back: a working pixel is the mean of its cell of the photo.
    const double fx = static_cast<double>(ancho) / rasgos.ancho, fy = static_cast<double>(alto) / rasgos.alto;
    if (!mejor.convence) {
        // Nothing convincing among the lines found here: the quadrilateral the fixed thresholds find,
        // when it passes the same judgement of a sheet (what they find cleanly is never lost).
        std::optional<Eleccion> respaldo;
        if (const auto fijas = esquinasFijas(foto)) {
            Cuadrilatero enTrabajo{};
            for (int i = 0; i < 4; ++i) enTrabajo[i] = {((*fijas)[i].x + 0.5) / fx - 0.5, ((*fijas)[i].y + 0.5) / fy - 0.5};
            if (const auto c = candidatoDeEsquinas(rasgos, enTrabajo))
                if (Eleccion e = juzgar(rasgos, *c); e.convence) respaldo = e;
        }
        if (!respaldo) {
            hoja.motivo = candidatos.empty() ? "no hay cuatro lados rectos que formen una hoja"
                                             : "ningun cuadrilatero de la foto convence como hoja";
            return hoja;
        }
        mejor = *respaldo;
    }

    Cuadrilatero gruesas{};
    for (int i = 0; i < 4; ++i)
        gruesas[i] = {(mejor.candidato.esquinas[i].x + 0.5) * fx - 0.5, (mejor.candidato.esquinas[i].y + 0.5) * fy - 0.5};
    Esquina centro{};
    for (const Esquina& e : gruesas) {
        centro.x += e.x / 4;
        centro.y += e.y / 4;
    }
    // Side s runs from corner s - 1 to corner s; refitted on the photo when it can be, whole and
    // by halves: a corner is where the halves of its two sides meet, which follows a sheet that is
    // not quite flat to its tip.
    std::array<RectaNormal, 4> lados{};
    std::array<std::vector<PuntoDeLado>, 4> puntos;
    const double radio = std::max(4.0, 2.5 * factor);
    for (int s = 0; s < 4; ++s) {
        const Esquina& a = gruesas[(s + 3) % 4];
        const Esquina& b = gruesas[s];
        lados[s] = rectaPor(a, b);
        puntos[s] = puntosDeLado(foto, a, b, centro, radio);
        if (auto fina = ajustarLado(puntos[s], 0.0, 1.0); fina && cerca(*fina, a, b, radio)) lados[s] = *fina;
    }
    Cuadrilatero finas{};
    for (int s = 0; s < 4; ++s) {
        const int t = (s + 1) % 4;
        if (!intersectar(lados[s], lados[t], finas[s]) ||
            std::hypot(finas[s].x - gruesas[s].x, finas[s].y - gruesas[s].y) > 3.0 * radio)
            finas[s] = gruesas[s];
        const auto final = ajustarLado(puntos[s], 0.5, 1.0);
        const auto inicio = ajustarLado(puntos[t], 0.0, 0.5);
        Esquina punta;
        if (final && inicio && paralelas(*final, lados[s]) && paralelas(*inicio, lados[t]) &&
            intersectar(*final, *inicio, punta) &&
            std::hypot(punta.x - finas[s].x, punta.y - finas[s].y) <= 0.05 * std::hypot(ancho, alto))
            finas[s] = punta;
    }
    hoja.encontrada = true;
    hoja.esquinas = ordenarCuadrilatero(finas, alto);
    hoja.confianza = mejor.confianza;
    return hoja;
}
