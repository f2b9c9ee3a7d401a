// Prose typeset with FreeType: each character's glyph rendered anti-aliased at the page's
// resolution and laid on a baseline, words wrapped at spaces, nothing hyphenated.
#include "escena_prosa.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <map>
#include <memory>

#include <ft2build.h>
#include FT_FREETYPE_H

#include "palabras.hpp"

namespace escena::interno {

namespace {

// One rendered glyph: its coverage (0 .. 255, rows top down) and where it sits on the pen.
struct Glifo {
    int avance = 0;     // 1/64 texel
    int izquierda = 0;  // texels right of the pen
    int arriba = 0;     // texels above the baseline
    int ancho = 0;
    int alto = 0;
    std::vector<std::uint8_t> cobertura;
};

struct Biblioteca {
    FT_Library ft = nullptr;
    Biblioteca() {
        if (FT_Init_FreeType(&ft) != 0) ft = nullptr;
    }
    ~Biblioteca() {
        if (ft) FT_Done_FreeType(ft);
    }
    Biblioteca(const Biblioteca&) = delete;
    Biblioteca& operator=(const Biblioteca&) = delete;
};

// A font at one size, its glyphs rendered once each.
class Fuente {
public:
    Fuente(FT_Library ft, const char* archivo, double puntos) {
        if (!ft || FT_New_Face(ft, archivo, 0, &cara_) != 0) {
            cara_ = nullptr;
            return;
        }
        const auto tamano = static_cast<FT_F26Dot6>(std::lround(puntos * 64.0));
        if (FT_Set_Char_Size(cara_, 0, tamano, kTexelesProsa, kTexelesProsa) != 0) {
            FT_Done_Face(cara_);
            cara_ = nullptr;
        }
    }
    ~Fuente() {
        if (cara_) FT_Done_Face(cara_);
    }
    Fuente(const Fuente&) = delete;
    Fuente& operator=(const Fuente&) = delete;

    bool valida() const { return cara_ != nullptr; }
    int ascenso() const { return static_cast<int>(cara_->size->metrics.ascender >> 6); }

    const Glifo& glifo(wchar_t caracter) {
        auto en = glifos_.find(caracter);
        if (en != glifos_.end()) return en->second;
        Glifo g;
        if (FT_Load_Char(cara_, static_cast<FT_ULong>(caracter), FT_LOAD_RENDER) == 0) {
            const FT_GlyphSlot s = cara_->glyph;
            g.avance = static_cast<int>(s->advance.x);
            g.izquierda = s->bitmap_left;
            g.arriba = s->bitmap_top;
            g.ancho = static_cast<int>(s->bitmap.width);
            g.alto = static_cast<int>(s->bitmap.rows);
            g.cobertura.resize(static_cast<std::size_t>(g.ancho) * static_cast<std::size_t>(g.alto));
            for (int f = 0; f < g.alto; ++f)
                for (int c = 0; c < g.ancho; ++c)
                    g.cobertura[static_cast<std::size_t>(f * g.ancho + c)] = s->bitmap.buffer[f * s->bitmap.pitch + c];
        }
        return glifos_.emplace(caracter, std::move(g)).first->second;
    }

    // The width of a run of characters, in 1/64 texel.
    long anchoDe(const std::wstring& texto) {
        long w = 0;
        for (const wchar_t c : texto) w += glifo(c).avance;
        return w;
    }

private:
    FT_Face cara_ = nullptr;
    std::map<wchar_t, Glifo> glifos_;
};

// Lays `texto` on the page from pen position x (1/64 texel) on the baseline, in ink `tinta`.
void escribir(Pagina& pagina, Fuente& fuente, const std::wstring& texto, long x, int base, std::uint8_t tinta) {
    const double claridad = tinta / 255.0;
    for (const wchar_t caracter : texto) {
        const Glifo& g = fuente.glifo(caracter);
        const int x0 = static_cast<int>((x + 32) >> 6) + g.izquierda;
        const int y0 = base - g.arriba;
        for (int f = 0; f < g.alto; ++f) {
            const int fila = y0 + f;
            if (fila < 0 || fila >= pagina.alto) continue;
            for (int c = 0; c < g.ancho; ++c) {
                const int columna = x0 + c;
                if (columna < 0 || columna >= pagina.ancho) continue;
                const double a = g.cobertura[static_cast<std::size_t>(f * g.ancho + c)] / 255.0;
                std::uint8_t& t = pagina.en(columna, fila);
                t = static_cast<std::uint8_t>(t * (1.0 - a * (1.0 - claridad)) + 0.5);
            }
        }
        x += g.avance;
    }
}

std::vector<std::string> palabrasDe(const std::string& parrafo) {
    std::vector<std::string> r;
    std::size_t desde = 0;
    while (desde < parrafo.size()) {
        std::size_t hasta = parrafo.find(' ', desde);
        if (hasta == std::string::npos) hasta = parrafo.size();
        if (hasta > desde) r.push_back(parrafo.substr(desde, hasta - desde));
        desde = hasta + 1;
    }
    return r;
}

}  // namespace

std::optional<PaginaDeProsa> componerProsa(std::uint64_t semilla, double anchoPapel, double altoPapel, double puntos,
                                           bool dibujar) {
    const Biblioteca biblioteca;
    Fuente cuerpo(biblioteca.ft, kFuenteProsa, puntos);
    Fuente negrita(biblioteca.ft, kFuenteProsaNegrita, puntos * 1.5);
    if (!cuerpo.valida() || !negrita.valida()) return std::nullopt;

    PaginaDeProsa r;
    Pagina& pagina = r.pagina;
    pagina.ancho = static_cast<int>(std::lround(anchoPapel * kTexelesProsa));
    pagina.alto = static_cast<int>(std::lround(altoPapel * kTexelesProsa));
    if (dibujar) {
        pagina.reflejo.resize(static_cast<std::size_t>(pagina.ancho) * static_cast<std::size_t>(pagina.alto));
        // Paper is not perfectly even (the same grain as the drawn pages have, at this resolution).
        const double escalaGrano = 13.0 * kTexelesProsa / kTexelesPorPulgada;
        for (int f = 0; f < pagina.alto; ++f)
            for (int c = 0; c < pagina.ancho; ++c) {
                const double n = ruidoSuave(semilla ^ 0x5A5Aull, c / escalaGrano, f / escalaGrano);
                pagina.en(c, f) = static_cast<std::uint8_t>(250.0 + 5.0 * n);
            }
    }
    // Lays a run of text on the page, or only sets it when the page is not drawn.
    const auto escribirSi = [&](Fuente& fuente, const std::wstring& texto, long x, int base, std::uint8_t tinta) {
        if (dibujar) escribir(pagina, fuente, texto, x, base, tinta);
    };

    Generador gen{semilla ^ 0x9805Aull};
    const auto tinta = static_cast<std::uint8_t>(gen.entre(25, 50));
    const long margen = kTexelesProsa;  // one inch each side
    const long derecha = (pagina.ancho - margen) * 64;
    const double texelesPorPunto = kTexelesProsa / 72.0;
    const int paso = static_cast<int>(std::lround(1.3 * puntos * texelesPorPunto));
    const int fondo = pagina.alto - kTexelesProsa;  // no baseline below the bottom margin

    // Heading, centred.
    const auto& titulos = titulosDeProsa();
    const std::string& titulo = titulos[static_cast<std::size_t>(gen.entre(0, static_cast<int>(titulos.size()) - 1))];
    const std::wstring tituloW = palabras::caracteres(titulo);
    int base = static_cast<int>(margen) + negrita.ascenso();
    escribirSi(negrita, tituloW, pagina.ancho * 32 - negrita.anchoDe(tituloW) / 2, base, tinta);
    r.texto = titulo + "\n\n";
    base += 2 * paso;

    // Paragraphs in the seed's order, as many as fit.
    std::vector<std::size_t> orden(parrafosDeProsa().size());
    for (std::size_t i = 0; i < orden.size(); ++i) orden[i] = i;
    for (std::size_t i = orden.size() - 1; i > 0; --i)
        std::swap(orden[i], orden[static_cast<std::size_t>(gen.entre(0, static_cast<int>(i)))]);
    const long espacio = cuerpo.glifo(L' ').avance;
    const long sangria = kTexelesProsa * 64 * 3 / 10;
    bool lleno = false;
    for (std::size_t k = 0; k < orden.size() && !lleno; ++k) {
        const std::vector<std::string> palabras = palabrasDe(parrafosDeProsa()[orden[k]]);
        std::size_t i = 0;
        bool primera = true;
        while (i < palabras.size()) {
            if (base > fondo) {
                lleno = true;
                break;
            }
            // As many words as fit on the line (at least one).
            const long inicio = margen * 64 + (primera ? sangria : 0);
            std::string linea = palabras[i];
            long fin = inicio + cuerpo.anchoDe(palabras::caracteres(palabras[i]));
            std::size_t j = i + 1;
            while (j < palabras.size()) {
                const long w = cuerpo.anchoDe(palabras::caracteres(palabras[j]));
                if (fin + espacio + w > derecha) break;
                fin += espacio + w;
                linea += ' ';
                linea += palabras[j];
                ++j;
            }
            escribirSi(cuerpo, palabras::caracteres(linea), inicio, base, tinta);
            r.texto += linea + "\n";
            base += paso;
            i = j;
            primera = false;
        }
        // A blank line after a paragraph, unless none of it fitted.
        if (!primera) {
            base += paso / 2;
            r.texto += "\n";
        }
    }

    // The page number at the foot.
    const std::string numero = std::to_string(gen.entre(1, 40));
    const std::wstring numeroW = palabras::caracteres(numero);
    escribirSi(cuerpo, numeroW, pagina.ancho * 32 - cuerpo.anchoDe(numeroW) / 2,
             pagina.alto - kTexelesProsa / 2, tinta);
    r.texto += numero + "\n";
    return r;
}

std::optional<Pagina> paginaDeEscena(const Escena& escena) {
    if (escena.puntosProsa <= 0.0) return dibujarPagina(escena.semilla, escena.anchoPapel, escena.altoPapel);
    auto prosa = componerProsa(escena.semilla, escena.anchoPapel, escena.altoPapel, escena.puntosProsa, true);
    if (!prosa) return std::nullopt;
    return std::move(prosa->pagina);
}

}  // namespace escena::interno
