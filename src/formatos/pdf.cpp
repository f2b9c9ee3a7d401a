#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string>

#include <cairo-pdf.h>
#include <cairo.h>
#include <leptonica/allheaders.h>
#include <turbojpeg.h>

#include "formatos/interno.hpp"
#include "formatos/pdf.hpp"
#include "sistema/archivos.hpp"

namespace {

constexpr double kPuntosPorPulgada = 72.0;
// The sides a PDF viewer accepts for a page, in points.
constexpr double kLadoMinimoPagina = 3.0;
constexpr double kLadoMaximoPagina = 14400.0;
// Bytes gathered before they go to the file: cairo writes in small pieces.
constexpr std::size_t kTamanoTampon = 1 << 16;

std::string textoCairo(cairo_status_t estado) {
    if (estado == CAIRO_STATUS_NO_MEMORY) return "no hay memoria";
    return std::string("error de cairo: ") + cairo_status_to_string(estado);
}

struct BorrarTurbo {
    void operator()(void* h) const { tjDestroy(h); }
};

// A JPEG's sides and whether it is gray, from its header; nothing when it is not a JPEG that can be
// embedded as it is (a baseline or progressive JPEG, gray or YCbCr).
struct CabeceraJpeg {
    int ancho = 0, alto = 0;
    bool gris = false;
};
std::optional<CabeceraJpeg> cabeceraJpeg(const std::vector<std::uint8_t>& datos) {
    if (datos.size() < 4 || datos.size() > std::numeric_limits<unsigned long>::max()) return std::nullopt;
    std::unique_ptr<void, BorrarTurbo> tj(tjInitDecompress());
    if (!tj) throw std::bad_alloc();
    int ancho = 0, alto = 0, submuestreo = 0, espacio = 0;
    if (tjDecompressHeader3(tj.get(), datos.data(), static_cast<unsigned long>(datos.size()), &ancho, &alto,
                            &submuestreo, &espacio) != 0)
        return std::nullopt;
    if (espacio != TJCS_GRAY && espacio != TJCS_YCbCr) return std::nullopt;
    return CabeceraJpeg{ancho, alto, espacio == TJCS_GRAY};
}

// Leptonica's messages go nowhere: its failures come back as values here.
void callarLeptonica() {
    static std::once_flag una;
    std::call_once(una, [] { setMsgSeverity(L_SEVERITY_NONE); });
}

struct BorrarPix {
    void operator()(PIX* p) const { pixDestroy(&p); }
};
struct BorrarDatosComprimidos {
    void operator()(L_COMP_DATA* c) const { l_CIDataDestroy(&c); }
};

// The picture as 1-bit CCITT Group 4 data, black (a set bit in leptonica's picture) where the mean
// of the three planes is under 128.
Resultado<std::vector<std::uint8_t>> codificarG4(const ImagenBmp& imagen) {
    callarLeptonica();
    if (Hecho medida = formatos::revisar(imagen, "G4"); !medida.ok()) return medida.fallo();
    const int ancho = imagen.ancho(), alto = imagen.alto();
    std::unique_ptr<PIX, BorrarPix> pix(pixCreate(ancho, alto, 1));
    if (!pix) throw std::bad_alloc();
    l_uint32* datos = pixGetData(pix.get());
    const int porFila = pixGetWpl(pix.get());
    for (int fila = 0; fila < alto; ++fila) {
        // Leptonica's rows go top-down; the planes keep them bottom-up.
        const int f = alto - 1 - fila;
        const std::uint8_t *b = imagen.plano0[f], *g = imagen.plano1[f], *r = imagen.plano2[f];
        l_uint32* linea = datos + static_cast<std::size_t>(fila) * static_cast<std::size_t>(porFila);
        for (int c = 0; c < ancho; ++c)
            if (b[c] + g[c] + r[c] < 3 * 128) SET_DATA_BIT(linea, c);
    }
    L_COMP_DATA* crudo = nullptr;
    if (pixGenerateCIData(pix.get(), L_G4_ENCODE, 0, 0, &crudo) != 0 || crudo == nullptr)
        return Fallo{"no se puede hacer una imagen G4: leptonica no pudo comprimirla"};
    std::unique_ptr<L_COMP_DATA, BorrarDatosComprimidos> cid(crudo);
    if (cid->datacomp == nullptr || cid->nbytescomp == 0 || cid->w != ancho || cid->h != alto)
        return Fallo{"no se puede hacer una imagen G4: leptonica dio otra imagen"};
    return std::vector<std::uint8_t>(cid->datacomp, cid->datacomp + cid->nbytescomp);
}

// The metrics of the words' font at size 1: how far its ascenders rise over the baseline and its
// descenders fall under it (ink, not the font's line spacing).
struct MetricaFuente {
    double ascenso = 0.76, descenso = 0.24;
};

// A run of words on one text line, as they come in reading order.
struct Renglon {
    std::size_t desde = 0, hasta = 0;  // words [desde, hasta)
    double arriba = 0, abajo = 0;      // inches from the page's top
};

// How far short of its box's right edge a word is drawn, in parts of the line's font size: more
// than the gap (a tenth of the size) past which pdftotext parts two words, and little enough that
// the words of a line stay one line for it.
constexpr double kHolguraPalabra = 0.15;

// A word with text and a box of some size on a page of the largest size; any other is left out (a
// font scaled to nothing or past any page would put the page's drawing in error).
bool palabraDibujable(const PalabraPdf& p) {
    const double minimo = 0.1 / kPuntosPorPulgada, maximo = kLadoMaximoPagina / kPuntosPorPulgada;
    const auto dentro = [&](double v, double desde, double hasta) { return v >= desde && v <= hasta; };
    return !p.texto.empty() && dentro(p.x, -maximo, maximo) && dentro(p.y, -maximo, maximo) &&
           dentro(p.ancho, minimo, maximo) && dentro(p.alto, minimo, maximo);
}

// The words gathered into lines: a word stays on the line of the one before while it starts right
// of it and the two overlap in height by at least half the lower one.
std::vector<Renglon> renglones(const std::vector<PalabraPdf>& palabras) {
    std::vector<Renglon> r;
    for (std::size_t i = 0; i < palabras.size(); ++i) {
        const PalabraPdf& p = palabras[i];
        if (!r.empty()) {
            Renglon& ultimo = r.back();
            const PalabraPdf& antes = palabras[ultimo.hasta - 1];
            const double comun = std::min(antes.y + antes.alto, p.y + p.alto) - std::max(antes.y, p.y);
            if (p.x > antes.x && comun >= 0.5 * std::min(antes.alto, p.alto)) {
                ultimo.hasta = i + 1;
                ultimo.arriba = std::min(ultimo.arriba, p.y);
                ultimo.abajo = std::max(ultimo.abajo, p.y + p.alto);
                continue;
            }
        }
        r.push_back({i, i + 1, p.y, p.y + p.alto});
    }
    return r;
}

// Whether cairo takes `texto` as UTF-8 (asked of the font, so that a word it refuses never puts
// the page's drawing in error).
bool utf8Valido(cairo_t* cr, const std::string& texto) {
    if (texto.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return false;
    cairo_glyph_t* glifos = nullptr;
    int cuantos = 0;
    const cairo_status_t s = cairo_scaled_font_text_to_glyphs(cairo_get_scaled_font(cr), 0, 0, texto.data(),
                                                              static_cast<int>(texto.size()), &glifos, &cuantos,
                                                              nullptr, nullptr, nullptr);
    cairo_glyph_free(glifos);
    return s == CAIRO_STATUS_SUCCESS;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

Resultado<PaginaPdf> paginaPdf(const ImagenBmp& imagen, ImagenPdf tipo, int calidad, double anchoPulgadas,
                               double altoPulgadas) {
    PaginaPdf p;
    p.tipo = tipo;
    p.anchoPixeles = imagen.ancho();
    p.altoPixeles = imagen.alto();
    p.anchoPulgadas = anchoPulgadas;
    p.altoPulgadas = altoPulgadas;
    if (tipo == ImagenPdf::g4) {
        Resultado<std::vector<std::uint8_t>> g4 = codificarG4(imagen);
        if (!g4) return g4.fallo();
        p.datos = std::move(*g4);
        return p;
    }
    ArchivoCodificado jpeg = tipo == ImagenPdf::jpegGris ? codificarJpegGris(imagen, calidad) : codificarJpeg(imagen, calidad);
    if (!jpeg) return jpeg.fallo();
    p.datos = std::move(*jpeg);
    return p;
}

// ---------------------------------------------------------------------------------------------

struct EscritorPdf::Estado {
    std::filesystem::path destino;
    std::optional<ArchivoNuevo> archivo;
    cairo_surface_t* superficie = nullptr;
    std::vector<std::uint8_t> tampon;
    std::optional<Fallo> fallo;   // the first failure; the writer is spent after it
    std::string errorEscritura;   // why the file refused bytes, while cairo reports only that it did
    std::size_t paginas = 0;
    std::optional<MetricaFuente> metrica;

    ~Estado() {
        if (superficie != nullptr) {
            // Nothing more reaches the file: it is dropped unpublished.
            fallo = Fallo{"descartado"};
            cairo_surface_destroy(superficie);
        }
    }

    Fallo fallar(const std::string& motivo) {
        if (!fallo) fallo = Fallo{"no se puede hacer " + entreComillas(destino) + ": " + motivo};
        return *fallo;
    }

    bool vaciar() {
        if (tampon.empty()) return true;
        if (Hecho escrito = archivo->escribir(tampon); !escrito.ok()) {
            errorEscritura = escrito.mensaje();
            return false;
        }
        tampon.clear();
        return true;
    }

    static cairo_status_t escribir(void* cierre, const unsigned char* datos, unsigned int largo) {
        auto* e = static_cast<Estado*>(cierre);
        if (e->fallo || !e->errorEscritura.empty()) return CAIRO_STATUS_WRITE_ERROR;
        try {
            e->tampon.insert(e->tampon.end(), datos, datos + largo);
        } catch (const std::bad_alloc&) {
            return CAIRO_STATUS_NO_MEMORY;
        }
        if (e->tampon.size() >= kTamanoTampon && !e->vaciar()) return CAIRO_STATUS_WRITE_ERROR;
        return CAIRO_STATUS_SUCCESS;
    }

    // The failure of the surface, told by the file when it was the file that failed.
    Fallo falloSuperficie(cairo_status_t estado) {
        if (!errorEscritura.empty()) {
            if (!fallo) fallo = Fallo{errorEscritura};
            return *fallo;
        }
        return fallar(textoCairo(estado));
    }

    void dibujarPalabras(cairo_t* cr, const std::vector<PalabraPdf>& todas);
};

void EscritorPdf::Estado::dibujarPalabras(cairo_t* cr, const std::vector<PalabraPdf>& todas) {
    std::vector<PalabraPdf> palabras;
    for (const PalabraPdf& p : todas)
        if (palabraDibujable(p)) palabras.push_back(p);
    if (palabras.empty()) return;
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    if (!metrica) {
        // Measured once, on letters that reach the ascender and the descender lines.
        cairo_set_font_size(cr, 1.0);
        cairo_text_extents_t alta, baja;
        cairo_text_extents(cr, "d", &alta);
        cairo_text_extents(cr, "p", &baja);
        MetricaFuente m;
        if (alta.height > 0 && baja.height > 0) {
            m.ascenso = -alta.y_bearing;
            m.descenso = baja.y_bearing + baja.height;
        }
        metrica = m;
    }
    const double tinta = metrica->ascenso + metrica->descenso;
    cairo_set_source_rgb(cr, 0, 0, 0);
    for (const Renglon& renglon : renglones(palabras)) {
        // One size and one baseline for the whole line, so that readers of the text keep it one
        // line; each word is stretched across to its own width.
        const double tamano = (renglon.abajo - renglon.arriba) * kPuntosPorPulgada / tinta;
        const double base = renglon.arriba * kPuntosPorPulgada + metrica->ascenso * tamano;
        for (std::size_t i = renglon.desde; i < renglon.hasta; ++i) {
            const PalabraPdf& p = palabras[i];
            cairo_matrix_t m;
            cairo_matrix_init_scale(&m, tamano, tamano);
            cairo_set_font_matrix(cr, &m);
            if (!utf8Valido(cr, p.texto)) continue;
            cairo_text_extents_t medida;
            cairo_text_extents(cr, p.texto.c_str(), &medida);
            if (!(medida.x_advance > 0)) continue;
            // Each word stops a little short of its box's right edge: two words whose boxes touch,
            // as an engine gives "a" right after "empezo", still stand apart for readers of the text.
            const double ancho = std::max(p.ancho * kPuntosPorPulgada - kHolguraPalabra * tamano,
                                          0.5 * p.ancho * kPuntosPorPulgada);
            cairo_matrix_init_scale(&m, tamano * ancho / medida.x_advance, tamano);
            cairo_set_font_matrix(cr, &m);
            cairo_move_to(cr, p.x * kPuntosPorPulgada, base);
            cairo_show_text(cr, p.texto.c_str());
        }
    }
}

EscritorPdf::EscritorPdf(std::unique_ptr<Estado> estado) : e_(std::move(estado)) {}
EscritorPdf::EscritorPdf(EscritorPdf&&) noexcept = default;
EscritorPdf& EscritorPdf::operator=(EscritorPdf&&) noexcept = default;
EscritorPdf::~EscritorPdf() = default;

std::size_t EscritorPdf::paginas() const { return e_ ? e_->paginas : 0; }

Resultado<EscritorPdf> EscritorPdf::abrir(const std::filesystem::path& destino) {
    auto e = std::make_unique<Estado>();
    e->destino = destino;
    Resultado<ArchivoNuevo> archivo = ArchivoNuevo::crear(destino);
    if (!archivo) return archivo.fallo();
    e->archivo.emplace(std::move(*archivo));
    e->tampon.reserve(kTamanoTampon);
    // The first page's size is set when it is added.
    e->superficie = cairo_pdf_surface_create_for_stream(&Estado::escribir, e.get(), 612, 792);
    if (const cairo_status_t s = cairo_surface_status(e->superficie); s != CAIRO_STATUS_SUCCESS)
        return e->fallar(textoCairo(s));
    cairo_pdf_surface_restrict_to_version(e->superficie, CAIRO_PDF_VERSION_1_5);
    // No creation date (cairo puts the time of writing by default): the same pages make the same
    // bytes, whenever they are written.
    cairo_pdf_surface_set_metadata(e->superficie, CAIRO_PDF_METADATA_CREATE_DATE, "");
    cairo_surface_set_fallback_resolution(e->superficie, 72, 72);
    return EscritorPdf(std::move(e));
}

Hecho EscritorPdf::agregar(const PaginaPdf& pagina) {
    Estado& e = *e_;
    if (e.fallo) return *e.fallo;
    const std::string cual = "la pagina " + std::to_string(e.paginas + 1);
    const double ancho = pagina.anchoPulgadas * kPuntosPorPulgada;
    const double alto = pagina.altoPulgadas * kPuntosPorPulgada;
    if (!(ancho >= kLadoMinimoPagina && ancho <= kLadoMaximoPagina && alto >= kLadoMinimoPagina &&
          alto <= kLadoMaximoPagina)) {
        return e.fallar(cual + " mide " + std::to_string(pagina.anchoPulgadas) + " x " +
                        std::to_string(pagina.altoPulgadas) + " pulgadas");
    }
    if (pagina.datos.empty()) return e.fallar(cual + " no tiene imagen");

    // The picture's sides, and the data as cairo embeds them.
    int columnas = pagina.anchoPixeles, filas = pagina.altoPixeles;
    const char* tipoMime = CAIRO_MIME_TYPE_JPEG;
    std::string parametros;
    if (pagina.tipo == ImagenPdf::g4) {
        if (columnas < 1 || filas < 1) return e.fallar(cual + ": su imagen G4 no dice sus lados");
        tipoMime = CAIRO_MIME_TYPE_CCITT_FAX;
        parametros = "Columns=" + std::to_string(columnas) + " Rows=" + std::to_string(filas) + " K=-1";
    } else {
        const std::optional<CabeceraJpeg> cabecera = cabeceraJpeg(pagina.datos);
        const bool gris = pagina.tipo == ImagenPdf::jpegGris;
        if (!cabecera || cabecera->gris != gris)
            return e.fallar(cual + ": su imagen no es un JPEG " + (gris ? "gris" : "en color") +
                            " que se pueda poner");
        columnas = cabecera->ancho;
        filas = cabecera->alto;
    }

    // The picture: a surface of its sides whose pixels are never read (nor touched: its memory is
    // the system's zeroed pages until something writes them), carrying the data cairo embeds.
    cairo_surface_t* imagen = cairo_image_surface_create(CAIRO_FORMAT_RGB24, columnas, filas);
    const auto soltarImagen = [&] { cairo_surface_destroy(imagen); };
    if (const cairo_status_t s = cairo_surface_status(imagen); s != CAIRO_STATUS_SUCCESS) {
        soltarImagen();
        return e.fallar(cual + ": " + textoCairo(s));
    }
    const auto darDatos = [&](const char* mime, const void* datos, std::size_t largo) {
        auto* copia = static_cast<unsigned char*>(std::malloc(largo));
        if (copia == nullptr) return CAIRO_STATUS_NO_MEMORY;
        std::memcpy(copia, datos, largo);
        const cairo_status_t s = cairo_surface_set_mime_data(imagen, mime, copia, largo, std::free, copia);
        if (s != CAIRO_STATUS_SUCCESS) std::free(copia);
        return s;
    };
    cairo_status_t s = darDatos(tipoMime, pagina.datos.data(), pagina.datos.size());
    if (s == CAIRO_STATUS_SUCCESS && !parametros.empty())
        s = darDatos(CAIRO_MIME_TYPE_CCITT_FAX_PARAMS, parametros.data(), parametros.size());
    if (s != CAIRO_STATUS_SUCCESS) {
        soltarImagen();
        return e.fallar(cual + ": " + textoCairo(s));
    }

    cairo_pdf_surface_set_size(e.superficie, ancho, alto);
    cairo_t* cr = cairo_create(e.superficie);
    // The words first, then the picture over them: the text is in the page, to be found, selected
    // and copied, but the opaque picture hides it.
    e.dibujarPalabras(cr, pagina.palabras);
    cairo_new_path(cr);
    cairo_save(cr);
    cairo_scale(cr, ancho / columnas, alto / filas);
    cairo_set_source_surface(cr, imagen, 0, 0);
    // A 1-bit picture is shown as its pixels are: no smoothing between them.
    if (pagina.tipo == ImagenPdf::g4) cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_FAST);
    cairo_paint(cr);
    cairo_restore(cr);
    const cairo_status_t dibujo = cairo_status(cr);
    if (dibujo == CAIRO_STATUS_SUCCESS) cairo_show_page(cr);
    cairo_destroy(cr);
    soltarImagen();
    if (dibujo != CAIRO_STATUS_SUCCESS) return e.fallar(cual + ": " + textoCairo(dibujo));
    if (const cairo_status_t h = cairo_surface_status(e.superficie); h != CAIRO_STATUS_SUCCESS)
        return e.falloSuperficie(h);
    ++e.paginas;
    return {};
}

Hecho EscritorPdf::terminar() {
    Estado& e = *e_;
    if (e.fallo) return *e.fallo;
    if (e.paginas == 0) return e.fallar("no tiene paginas");
    cairo_surface_finish(e.superficie);
    const cairo_status_t s = cairo_surface_status(e.superficie);
    cairo_surface_destroy(e.superficie);
    e.superficie = nullptr;
    if (s != CAIRO_STATUS_SUCCESS) return e.falloSuperficie(s);
    if (!e.vaciar()) return e.falloSuperficie(CAIRO_STATUS_WRITE_ERROR);
    if (Hecho publicado = e.archivo->publicar(); !publicado.ok()) {
        e.fallo = publicado.fallo();
        return *e.fallo;
    }
    e.fallo = Fallo{"no se puede hacer " + entreComillas(e.destino) + ": ya se termino"};
    return {};
}
