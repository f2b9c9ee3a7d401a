#include <algorithm>
#include <array>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <unistd.h>

#include <libexif/exif-data.h>
#include <spng.h>
#include <jpeglib.h>
#include <jerror.h>

#include "formatos/formatos.hpp"
#include "imagen/paralelo.hpp"
#include "sistema/archivos.hpp"

namespace {

using Bytes = std::vector<std::uint8_t, Asignador<std::uint8_t>>;

constexpr std::array<std::uint8_t, 8> kFirmaPng = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

LecturaFoto fallo(std::optional<FormatoFoto> formato, std::string mensaje) {
    LecturaFoto r;
    r.formato = formato;
    r.mensaje = std::move(mensaje);
    return r;
}

// A library's text as part of one line: line breaks become spaces, trailing ones go.
std::string enUnaLinea(std::string texto) {
    std::replace(texto.begin(), texto.end(), '\n', ' ');
    std::replace(texto.begin(), texto.end(), '\r', ' ');
    while (!texto.empty() && texto.back() == ' ') texto.pop_back();
    return texto;
}

std::string mensajeTamano(const std::string& nombre, std::int64_t ancho, std::int64_t alto) {
    return nombre + " mide " + std::to_string(ancho) + " x " + std::to_string(alto) +
           " pixeles; el ancho y el alto deben estar entre " + std::to_string(kLadoMinimo) + " y " +
           std::to_string(kLadoMaximo);
}

bool ladosValidos(std::int64_t ancho, std::int64_t alto) {
    return ancho >= kLadoMinimo && alto >= kLadoMinimo && ancho <= kLadoMaximo && alto <= kLadoMaximo;
}

std::string mensajeDesmedido(const std::string& nombre, std::int64_t ancho, std::int64_t alto,
                             std::uint64_t bytes) {
    return nombre + " anuncia " + std::to_string(ancho) + " x " + std::to_string(alto) +
           " pixeles en solo " + std::to_string(bytes) + " bytes: no puede contener esa imagen";
}

// ---------------------------------------------------------------------------------------------
// EXIF

struct DatosExif {
    int orientacion = 1;
    std::optional<double> focal35mm;
};

struct BorrarExif {
    void operator()(ExifData* d) const { exif_data_unref(d); }
};

// The orientation and the 35 mm focal length of an EXIF block: `datos` is either a whole JPEG file
// (libexif finds its APP1 segment) or "Exif\0\0" followed by the TIFF structure.
DatosExif leerExif(const std::uint8_t* datos, std::size_t cantidad) {
    DatosExif r;
    std::unique_ptr<ExifData, BorrarExif> exif(exif_data_new());
    if (!exif || cantidad > 0xFFFFFFFFu) return r;
    // Read the tags as they are: no mandatory entries added, nothing "fixed".
    exif_data_unset_option(exif.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_load_data(exif.get(), datos, static_cast<unsigned int>(cantidad));
    const ExifByteOrder orden = exif_data_get_byte_order(exif.get());
    const auto corto = [&](ExifIfd ifd, ExifTag etiqueta) -> std::optional<int> {
        ExifEntry* e = exif_content_get_entry(exif->ifd[ifd], etiqueta);
        if (e == nullptr || e->format != EXIF_FORMAT_SHORT || e->components < 1 || e->data == nullptr ||
            e->size < 2) {
            return std::nullopt;
        }
        return exif_get_short(e->data, orden);
    };
    if (const auto o = corto(EXIF_IFD_0, EXIF_TAG_ORIENTATION); o && *o >= 1 && *o <= 8) r.orientacion = *o;
    if (const auto f = corto(EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH_IN_35MM_FILM); f && *f > 0) {
        r.focal35mm = *f;
    }
    return r;
}

// ---------------------------------------------------------------------------------------------
// Pixels into planes

// The planes of the picture as a viewer shows it (bottom-up rows, the EXIF `orientacion`
// applied), filled from the stored picture: `alto` rows of `ancho` pixels, top-down, each pixel
// kCanales bytes with blue, green and red at the offsets kAzul, kVerde and kRojo (fixed when
// compiled, so that the copying loops vectorise). Stored rows arrive in bands, in order; each byte
// goes straight to its place.
template <int kCanales, int kAzul, int kVerde, int kRojo>
class PlanosOrientados {
public:
    PlanosOrientados(int ancho, int alto, int orientacion)
        : imagen_(orientacion >= 5 ? imagenSinIniciar(alto, ancho) : imagenSinIniciar(ancho, alto)),
          ancho_(ancho), alto_(alto), orientacion_(orientacion) {}

    // Stored rows primera .. primera + filas - 1, `salto` bytes apart from `pixeles` on.
    void banda(const std::uint8_t* pixeles, std::size_t salto, int primera, int filas) {
        // Kept in locals: a store through a byte pointer could change a member, as far as the
        // compiler knows, and the row loops would then be left unvectorised.
        const int o = orientacion_, ancho = ancho_, alto = alto_;
        const bool volteada = o == 2 || o == 3 || o == 6 || o == 7;
        constexpr std::ptrdiff_t c = kCanales;
        if (o <= 4) {
            // A stored row is a row of the picture seen, perhaps mirrored and perhaps upside down.
            const bool alReves = o == 3 || o == 4;
            for (int j = 0; j < filas; ++j) {
                const int y = primera + j;
                const int visto = alReves ? alto - 1 - y : y;
                const int fila = alto - 1 - visto;
                std::uint8_t* b = imagen_.plano0[fila];
                std::uint8_t* g = imagen_.plano1[fila];
                std::uint8_t* r = imagen_.plano2[fila];
                const std::uint8_t* p = pixeles + j * salto;
                if (!volteada) {
                    for (int x = 0; x < ancho; ++x, p += c) {
                        b[x] = p[kAzul];
                        g[x] = p[kVerde];
                        r[x] = p[kRojo];
                    }
                } else {
                    for (int x = ancho - 1; x >= 0; --x, p += c) {
                        b[x] = p[kAzul];
                        g[x] = p[kVerde];
                        r[x] = p[kRojo];
                    }
                }
            }
            return;
        }
        // A stored row is a column of the picture seen: stored column x is seen row x (5, 6) or
        // ancho - 1 - x (7, 8), stored row y is seen column y (5, 8) or alto - 1 - y (6, 7).
        const bool filaInvertida = o == 7 || o == 8;
        for (int x = 0; x < ancho; ++x) {
            const int visto = filaInvertida ? ancho - 1 - x : x;
            const int fila = ancho - 1 - visto;
            std::uint8_t* b = imagen_.plano0[fila];
            std::uint8_t* g = imagen_.plano1[fila];
            std::uint8_t* r = imagen_.plano2[fila];
            const std::uint8_t* p = pixeles + x * c;
            for (int j = 0; j < filas; ++j, p += salto) {
                const int y = primera + j;
                const int columna = volteada ? alto - 1 - y : y;
                b[columna] = p[kAzul];
                g[columna] = p[kVerde];
                r[columna] = p[kRojo];
            }
        }
    }

    // The pixels x0, x0 + paso, ... of stored row y, as they stand at those places of `fila` (a
    // pass of an interlaced picture).
    void puntos(const std::uint8_t* fila, int y, int x0, int paso) {
        const int o = orientacion_, ancho = ancho_, alto = alto_;
        const bool volteada = o == 2 || o == 3 || o == 6 || o == 7;
        for (int x = x0; x < ancho; x += paso) {
            int filaPlano = 0, columna = 0;
            if (o <= 4) {
                const int visto = o == 3 || o == 4 ? alto - 1 - y : y;
                filaPlano = alto - 1 - visto;
                columna = volteada ? ancho - 1 - x : x;
            } else {
                const int visto = o == 7 || o == 8 ? ancho - 1 - x : x;
                filaPlano = ancho - 1 - visto;
                columna = volteada ? alto - 1 - y : y;
            }
            const std::uint8_t* p = fila + static_cast<std::ptrdiff_t>(x) * kCanales;
            imagen_.plano0[filaPlano][columna] = p[kAzul];
            imagen_.plano1[filaPlano][columna] = p[kVerde];
            imagen_.plano2[filaPlano][columna] = p[kRojo];
        }
    }

    ImagenBmp tomar() { return std::move(imagen_); }

private:
    ImagenBmp imagen_;
    int ancho_, alto_, orientacion_;
};

// The picture `derecha` (as stored, planes as every image here) turned as the EXIF `orientacion` says.
ImagenBmp orientada(const ImagenBmp& derecha, int orientacion);

// Stored rows go to PlanosOrientados in bands of this many: a turned picture then writes each band
// as runs of this many bytes along every plane row.
constexpr int kFilasPorBanda = 16;

ImagenBmp orientada(const ImagenBmp& derecha, int orientacion) {
    const int ancho = derecha.ancho(), alto = derecha.alto();
    PlanosOrientados<3, 0, 1, 2> planos(ancho, alto, orientacion);
    const std::size_t porFila = static_cast<std::size_t>(ancho) * 3;
    std::vector<std::uint8_t> banda(porFila * kFilasPorBanda);
    for (int y = 0; y < alto; y += kFilasPorBanda) {
        const int filas = std::min(kFilasPorBanda, alto - y);
        for (int j = 0; j < filas; ++j) {
            const int fila = alto - 1 - (y + j);
            std::uint8_t* p = banda.data() + static_cast<std::size_t>(j) * porFila;
            for (int x = 0; x < ancho; ++x, p += 3) {
                p[0] = derecha.plano0[fila][x];
                p[1] = derecha.plano1[fila][x];
                p[2] = derecha.plano2[fila][x];
            }
        }
        planos.banda(banda.data(), porFila, y, filas);
    }
    return planos.tomar();
}

// ---------------------------------------------------------------------------------------------
// JPEG

// libjpeg reports a fault by calling error_exit, which must not return; it jumps back to the
// call that was running. Warnings (data cut short, corrupt data) are faults here too: such a photo
// has grey or repeated blocks where the picture was, and is refused rather than scanned.
struct ErroresJpeg {
    jpeg_error_mgr base{};
    std::jmp_buf salto{};
    char texto[JMSG_LENGTH_MAX] = {};
    bool sinMemoria = false;  // the decoder could not have the memory it asked for
    bool lectura = false;     // the file could not be read (`texto` is the system's reason)
};

// A progressive file may hold at most this many scans, so that a small file cannot keep the
// decoder busy for minutes.
constexpr int kEscaneosMaximos = 500;

struct ProgresoJpeg {
    jpeg_progress_mgr base{};
};

[[noreturn]] void salirJpeg(j_common_ptr cinfo) {
    auto* e = reinterpret_cast<ErroresJpeg*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, e->texto);
    e->sinMemoria = cinfo->err->msg_code == JERR_OUT_OF_MEMORY;
    std::longjmp(e->salto, 1);
}

void avisoJpeg(j_common_ptr cinfo, int nivel) {
    if (nivel < 0) salirJpeg(cinfo);
}

void progresoJpeg(j_common_ptr cinfo) {
    if (cinfo->is_decompressor &&
        reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kEscaneosMaximos) {
        auto* e = reinterpret_cast<ErroresJpeg*>(cinfo->err);
        std::snprintf(e->texto, sizeof e->texto, "tiene mas de %d barridos progresivos", kEscaneosMaximos);
        std::longjmp(e->salto, 1);
    }
}

// The file read in pieces, up to the size it had when it was opened (a file that grows meanwhile is
// read to that size; one that shrinks, as far as it goes). Each decoder keeps its own place in it,
// so that two may read one file at once; the file is never held whole.
constexpr std::size_t kTrozoJpeg = std::size_t{64} << 10;

struct FuenteJpeg {
    jpeg_source_mgr base{};
    int fd = -1;
    std::uint64_t siguiente = 0;  // where the next piece starts
    std::uint64_t fin = 0;
    std::vector<JOCTET> trozo = std::vector<JOCTET>(kTrozoJpeg);
};

boolean llenarJpeg(j_decompress_ptr cinfo) {
    auto* f = reinterpret_cast<FuenteJpeg*>(cinfo->src);
    const std::uint64_t quedan = f->fin > f->siguiente ? f->fin - f->siguiente : 0;
    ssize_t n = 0;
    if (quedan > 0) {
        n = leerCompleto(f->fd, f->trozo.data(), static_cast<std::size_t>(std::min<std::uint64_t>(quedan, kTrozoJpeg)),
                         f->siguiente);
    }
    if (n < 0) {
        auto* e = reinterpret_cast<ErroresJpeg*>(cinfo->err);
        std::snprintf(e->texto, sizeof e->texto, "%s", std::strerror(errno));
        e->lectura = true;
        std::longjmp(e->salto, 1);
    }
    if (n == 0) {
        // The end of the file inside the picture: a warning, and an end marker in place of the
        // data, as libjpeg's own sources do.
        WARNMS(cinfo, JWRN_JPEG_EOF);
        f->trozo[0] = 0xFF;
        f->trozo[1] = JPEG_EOI;
        n = 2;
    } else {
        f->siguiente += static_cast<std::uint64_t>(n);
    }
    f->base.next_input_byte = f->trozo.data();
    f->base.bytes_in_buffer = static_cast<std::size_t>(n);
    return TRUE;
}

void saltarJpeg(j_decompress_ptr cinfo, long cuantos) {
    if (cuantos <= 0) return;
    auto* f = reinterpret_cast<FuenteJpeg*>(cinfo->src);
    const auto n = static_cast<std::uint64_t>(cuantos);
    if (n <= f->base.bytes_in_buffer) {
        f->base.next_input_byte += n;
        f->base.bytes_in_buffer -= static_cast<std::size_t>(n);
        return;
    }
    f->siguiente += n - f->base.bytes_in_buffer;
    f->base.bytes_in_buffer = 0;
}

void nadaJpeg(j_decompress_ptr) {}

// The decoder and its fault handling. `protegido` runs one step of libjpeg and answers whether it
// ended without a fault; the step must hold nothing that needs destroying, since a fault leaves it
// by a jump.
struct DecodificadorJpeg {
    jpeg_decompress_struct cinfo{};
    ErroresJpeg errores;
    ProgresoJpeg progreso;
    FuenteJpeg fuente;
    std::vector<std::uint8_t> exif;  // the first APP1 segment that holds EXIF ("Exif\0\0" on), if asked
    bool creado = false;

    DecodificadorJpeg() {
        cinfo.err = jpeg_std_error(&errores.base);
        errores.base.error_exit = salirJpeg;
        errores.base.emit_message = avisoJpeg;
        progreso.base.progress_monitor = progresoJpeg;
        fuente.base.init_source = nadaJpeg;
        fuente.base.fill_input_buffer = llenarJpeg;
        fuente.base.skip_input_data = saltarJpeg;
        fuente.base.resync_to_restart = jpeg_resync_to_restart;
        fuente.base.term_source = nadaJpeg;
    }
    ~DecodificadorJpeg() {
        if (creado) jpeg_destroy_decompress(&cinfo);
    }
    DecodificadorJpeg(const DecodificadorJpeg&) = delete;
    DecodificadorJpeg& operator=(const DecodificadorJpeg&) = delete;

    template <class Paso>
    bool protegido(Paso&& paso) {
        if (setjmp(errores.salto) != 0) return false;
        paso();
        return true;
    }
    std::string motivo() const { return enUnaLinea(errores.texto); }
};

// A byte of the file, for a marker's reader (the source never suspends: at the end of the file it
// gives an end marker, after the warning that stops the decoding).
int byteJpeg(j_decompress_ptr cinfo) {
    jpeg_source_mgr* f = cinfo->src;
    if (f->bytes_in_buffer == 0) (*f->fill_input_buffer)(cinfo);
    --f->bytes_in_buffer;
    return *f->next_input_byte++;
}

// Keeps the first APP1 segment that holds EXIF and passes over every other one: a file of many such
// segments takes no more memory than one.
boolean leerApp1(j_decompress_ptr cinfo) {
    auto* d = static_cast<DecodificadorJpeg*>(cinfo->client_data);
    const int alto = byteJpeg(cinfo);
    const long largo = static_cast<long>(alto) << 8 | byteJpeg(cinfo);
    long resto = largo - 2;
    if (resto <= 0) return TRUE;
    static constexpr std::uint8_t kCabecera[] = {'E', 'x', 'i', 'f', 0, 0};
    if (d->exif.empty() && resto >= static_cast<long>(sizeof kCabecera)) {
        // Room for the largest segment was made beforehand: nothing is allocated in here.
        for (; resto > 0; --resto) d->exif.push_back(static_cast<std::uint8_t>(byteJpeg(cinfo)));
        if (!std::equal(std::begin(kCabecera), std::end(kCabecera), d->exif.begin())) d->exif.clear();
        return TRUE;
    }
    (*cinfo->src->skip_input_data)(cinfo, resto);
    return TRUE;
}

// An open file: its descriptor and its size when it was opened.
struct Archivo {
    int fd = -1;
    std::uint64_t tamano = 0;
};

using PlanosJpeg = PlanosOrientados<3, 0, 1, 2>;

// What a fault of the decoder means to the user, after `texto` (what was being done).
std::string faltaJpeg(const DecodificadorJpeg& d, const std::string& texto) {
    if (d.errores.sinMemoria) return "no cabe en la memoria libre";
    if (d.errores.lectura) return "no se puede leer: " + d.motivo();
    return texto + d.motivo();
}

// Starts `d` on the file and reads its header, keeping the EXIF segment when `conExif`; the text of
// the fault when it cannot.
std::optional<std::string> abrirJpeg(DecodificadorJpeg& d, const Archivo& archivo, bool conExif) {
    jpeg_decompress_struct& c = d.cinfo;
    if (!d.protegido([&] {
            jpeg_create_decompress(&c);
            d.creado = true;
        })) {
        return "no se puede leer: no hay memoria para el decodificador JPEG";
    }
    c.progress = &d.progreso.base;
    c.client_data = &d;
    d.fuente.fd = archivo.fd;
    d.fuente.fin = archivo.tamano;
    c.src = &d.fuente.base;
    if (conExif) {
        d.exif.reserve(0xFFFF);
        jpeg_set_marker_processor(&c, JPEG_APP0 + 1, leerApp1);
    }
    if (!d.protegido([&] { jpeg_read_header(&c, TRUE); })) {
        return faltaJpeg(d, "no es un JPEG que se pueda leer: ");
    }
    return std::nullopt;
}

// How the decoding of some rows ended: whole, or with the decoder's fault.
struct ParteJpeg {
    bool bien = false;
    bool sinFilas = false;  // the decoder gave no more rows, without a fault
    std::string motivo;
    std::string ajeno;      // the whole text, when the fault is not in the data (memory, reading)
};

// Stored rows [desde, hasta) into `planos`, by `d` with its header read. The rows above `desde` are
// passed over: their codes are read, not turned into pixels. The part that reaches the last row
// reads the file to its end.
ParteJpeg decodificarFilas(DecodificadorJpeg& d, int desde, int hasta, PlanosJpeg& planos) {
    jpeg_decompress_struct& c = d.cinfo;
    const auto fallida = [&] {
        return ParteJpeg{false, false, d.motivo(),
                         d.errores.sinMemoria || d.errores.lectura ? faltaJpeg(d, "") : std::string()};
    };
    // The exact inverse transform and smooth chroma upsampling: the decoder's defaults, named here
    // because the pixels depend on them.
    c.out_color_space = JCS_EXT_BGR;
    c.dct_method = JDCT_ISLOW;
    c.do_fancy_upsampling = TRUE;
    if (!d.protegido([&] { jpeg_start_decompress(&c); })) return fallida();
    if (desde > 0) {
        JDIMENSION pasadas = 0;
        if (!d.protegido([&] { pasadas = jpeg_skip_scanlines(&c, static_cast<JDIMENSION>(desde)); })) {
            return fallida();
        }
        if (pasadas != static_cast<JDIMENSION>(desde)) return ParteJpeg{false, true, {}, {}};
    }
    const std::size_t porFila = static_cast<std::size_t>(c.output_width) * 3;
    std::vector<std::uint8_t> banda(kFilasPorBanda * porFila);
    std::array<JSAMPROW, kFilasPorBanda> filas{};
    for (int j = 0; j < kFilasPorBanda; ++j) filas[j] = banda.data() + j * porFila;
    while (static_cast<int>(c.output_scanline) < hasta) {
        const int primera = static_cast<int>(c.output_scanline);
        const int quedan = std::min(kFilasPorBanda, hasta - primera);
        int leidas = 0;
        while (leidas < quedan) {
            JDIMENSION n = 0;
            if (!d.protegido([&] {
                    n = jpeg_read_scanlines(&c, filas.data() + leidas, static_cast<JDIMENSION>(quedan - leidas));
                })) {
                return fallida();
            }
            if (n == 0) return ParteJpeg{false, true, {}, {}};
            leidas += static_cast<int>(n);
        }
        planos.banda(banda.data(), porFila, primera, leidas);
    }
    if (hasta == static_cast<int>(c.output_height) && !d.protegido([&] { jpeg_finish_decompress(&c); })) {
        return fallida();
    }
    return ParteJpeg{true, false, {}, {}};
}

// Photos of at least this many pixels are decoded in two parts at once, when they are stored in one
// pass of Huffman codes: the lower part's decoder reads the upper part's codes without making its
// pixels, which costs it about four tenths of the time the pixels would, so the upper part is the
// larger one, 5/8 of the rows.
constexpr std::uint64_t kPixelesJpegEnDosPartes = 1024 * 1024;

std::string mensajeMegapixeles(const std::string& nombre, std::int64_t ancho, std::int64_t alto,
                               std::uint64_t pixelesMaximos) {
    return nombre + " mide " + std::to_string(ancho) + " x " + std::to_string(alto) + " pixeles, mas de " +
           std::to_string(pixelesMaximos / 1000000) + " megapixeles: se leen fotos de hasta " +
           std::to_string(pixelesMaximos / 1000000) + " megapixeles (--max-megapixeles)";
}

bool demasiadosPixeles(std::int64_t ancho, std::int64_t alto, std::uint64_t pixelesMaximos) {
    return static_cast<std::uint64_t>(ancho) * static_cast<std::uint64_t>(alto) > pixelesMaximos;
}

LecturaFoto leerJpeg(const std::string& nombre, const Archivo& archivo, std::uint64_t pixelesMaximos) {
    const auto refusar = [&](std::string texto) { return fallo(FormatoFoto::jpeg, nombre + " " + texto); };
    DecodificadorJpeg d;
    jpeg_decompress_struct& c = d.cinfo;
    if (const auto e = abrirJpeg(d, archivo, true)) return refusar(*e);
    const std::int64_t ancho = c.image_width, alto = c.image_height;
    if (ancho <= 0 || alto <= 0) return refusar("no es un JPEG que se pueda leer: no dice su tamano");
    if (!ladosValidos(ancho, alto)) return fallo(FormatoFoto::jpeg, mensajeTamano(nombre, ancho, alto));
    const std::uint64_t pixeles = static_cast<std::uint64_t>(ancho) * static_cast<std::uint64_t>(alto);
    if (pixeles > kPixelesPorByteJpeg * archivo.tamano) {
        return fallo(FormatoFoto::jpeg, mensajeDesmedido(nombre, ancho, alto, archivo.tamano));
    }
    if (demasiadosPixeles(ancho, alto, pixelesMaximos)) {
        return fallo(FormatoFoto::jpeg, mensajeMegapixeles(nombre, ancho, alto, pixelesMaximos));
    }
    if (c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK) {
        return refusar("es un JPEG en CMYK; solo se leen JPEG en color RGB o en grises");
    }

    const DatosExif exif = d.exif.empty() ? DatosExif{} : leerExif(d.exif.data(), d.exif.size());
    const int w = static_cast<int>(ancho), h = static_cast<int>(alto);
    LecturaFoto r;
    r.formato = FormatoFoto::jpeg;
    r.orientacion = exif.orientacion;
    r.focal35mm = exif.focal35mm;
    PlanosJpeg planos(w, h, exif.orientacion);

    // The upper part on `d`, the lower one on a decoder of its own. A fault in the upper part is
    // the one reported, as a decoding from the top would meet it first.
    ParteJpeg arriba, abajo{true, false, {}, {}};
    const bool enDos = pixeles >= kPixelesJpegEnDosPartes && !c.progressive_mode && !c.arith_code &&
                       dosMitadesALaVez.load(std::memory_order_relaxed);
    enDosPartesSiVale(enDos, h, h * 5 / 8 / 16 * 16, [&](int desde, int hasta) {
        if (desde == 0) {
            arriba = decodificarFilas(d, desde, hasta, planos);
            return;
        }
        DecodificadorJpeg otro;
        if (const auto e = abrirJpeg(otro, archivo, false)) {
            abajo = ParteJpeg{false, false, {}, *e};
        } else {
            abajo = decodificarFilas(otro, desde, hasta, planos);
        }
    });
    const ParteJpeg& parte = !arriba.bien ? arriba : abajo;
    if (!parte.bien) {
        if (!parte.ajeno.empty()) return refusar(parte.ajeno);
        if (parte.sinFilas) return refusar("es un JPEG danado: el decodificador no da mas filas");
        if (parte.motivo.find("Premature end") != std::string::npos) {
            return refusar("esta cortada: el JPEG termina antes que sus datos (" + parte.motivo + ")");
        }
        return refusar("es un JPEG danado: " + parte.motivo);
    }
    r.imagen = planos.tomar();
    return r;
}

// ---------------------------------------------------------------------------------------------
// PNG

struct BorrarSpng {
    void operator()(spng_ctx* c) const { spng_ctx_free(c); }
};

int canalesPng(std::uint8_t tipo) {
    switch (tipo) {
        case SPNG_COLOR_TYPE_GRAYSCALE: return 1;
        case SPNG_COLOR_TYPE_TRUECOLOR: return 3;
        case SPNG_COLOR_TYPE_INDEXED: return 1;
        case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA: return 2;
        case SPNG_COLOR_TYPE_TRUECOLOR_ALPHA: return 4;
        default: return 4;
    }
}

// The file through spng's stream reader, up to the size it had when it was opened.
struct FuentePng {
    Archivo archivo;
    std::uint64_t siguiente = 0;
    int numero = 0;  // errno of a failed read
};

int leerTrozoPng(spng_ctx*, void* datos, void* destino, std::size_t cantidad) {
    auto* f = static_cast<FuentePng*>(datos);
    if (f->siguiente >= f->archivo.tamano || cantidad > f->archivo.tamano - f->siguiente) return SPNG_IO_EOF;
    const ssize_t n = leerCompleto(f->archivo.fd, static_cast<std::uint8_t*>(destino), cantidad, f->siguiente);
    if (n < 0) {
        f->numero = errno;
        return SPNG_IO_ERROR;
    }
    if (static_cast<std::size_t>(n) < cantidad) return SPNG_IO_EOF;
    f->siguiente += cantidad;
    return 0;
}

// Where each pass of an interlaced (Adam7) picture puts its pixels along a row.
constexpr int kInicioAdam7[7] = {0, 4, 0, 2, 0, 1, 0};
constexpr int kPasoAdam7[7] = {8, 8, 4, 4, 2, 2, 1};

// Transparent pixels over a white sheet of paper: `cuantos` RGBA pixels, `paso` pixels apart.
void sobreBlanco(std::uint8_t* rgba, std::size_t cuantos, std::size_t paso) {
    for (std::size_t k = 0; k < cuantos; ++k) {
        std::uint8_t* p = rgba + 4 * k * paso;
        const unsigned a = p[3];
        if (a == 255) continue;
        for (std::size_t c = 0; c < 3; ++c) {
            p[c] = static_cast<std::uint8_t>((p[c] * a + 255 * (255 - a) + 127) / 255);
        }
    }
}

LecturaFoto leerPng(const std::string& nombre, const Archivo& archivo, std::uint64_t pixelesMaximos) {
    const auto refusar = [&](std::string texto) { return fallo(FormatoFoto::png, nombre + " " + texto); };
    const auto falla = [&](int e, const char* danado) {
        if (e == SPNG_EMEM) return refusar("no cabe en la memoria libre");
        return refusar(danado + enUnaLinea(spng_strerror(e)));
    };
    std::unique_ptr<spng_ctx, BorrarSpng> ctx(spng_ctx_new(0));
    if (!ctx) return refusar("no se puede leer: no hay memoria para el decodificador PNG");
    // Sides beyond the limit are refused on reading the header; no chunk may claim more than the
    // file holds, nor may the kept ancillary chunks together.
    spng_set_image_limits(ctx.get(), kLadoMaximo, kLadoMaximo);
    const std::size_t tope = static_cast<std::size_t>(std::min<std::uint64_t>(archivo.tamano, SIZE_MAX));
    spng_set_chunk_limits(ctx.get(), tope, tope);
    FuentePng fuente{archivo};
    spng_set_png_stream(ctx.get(), leerTrozoPng, &fuente);
    const auto leida = [&](int e) {
        if (e == SPNG_IO_ERROR && fuente.numero != 0) return refusar(std::string("no se puede leer: ") + std::strerror(fuente.numero));
        return LecturaFoto{};
    };

    spng_ihdr ihdr{};
    if (const int e = spng_get_ihdr(ctx.get(), &ihdr); e != 0) {
        if (e == SPNG_EWIDTH || e == SPNG_EHEIGHT || e == SPNG_EUSER_WIDTH || e == SPNG_EUSER_HEIGHT) {
            // The sides as the header gives them (big-endian, right after "IHDR").
            std::array<std::uint8_t, 8> lados{};
            if (leerCompleto(archivo.fd, lados.data(), lados.size(), 16) == 8) {
                const auto lado = [&](std::size_t en) {
                    return static_cast<std::int64_t>(lados[en]) << 24 | lados[en + 1] << 16 | lados[en + 2] << 8 |
                           lados[en + 3];
                };
                return fallo(FormatoFoto::png, mensajeTamano(nombre, lado(0), lado(4)));
            }
        }
        if (LecturaFoto r = leida(e); !r.mensaje.empty()) return r;
        return falla(e, "no es un PNG que se pueda leer: ");
    }
    if (!ladosValidos(ihdr.width, ihdr.height)) {
        return fallo(FormatoFoto::png, mensajeTamano(nombre, ihdr.width, ihdr.height));
    }
    const std::uint64_t bitsFila =
        static_cast<std::uint64_t>(ihdr.width) * canalesPng(ihdr.color_type) * ihdr.bit_depth;
    const std::uint64_t filas = static_cast<std::uint64_t>(ihdr.height) * (1 + (bitsFila + 7) / 8);
    if (filas > kRazonDeflate * archivo.tamano) {
        return fallo(FormatoFoto::png, mensajeDesmedido(nombre, ihdr.width, ihdr.height, archivo.tamano));
    }
    if (demasiadosPixeles(ihdr.width, ihdr.height, pixelesMaximos)) {
        return fallo(FormatoFoto::png, mensajeMegapixeles(nombre, ihdr.width, ihdr.height, pixelesMaximos));
    }

    // The orientation, from an eXIf chunk before the pixels.
    int orientacion = 1;
    spng_exif exif{};
    const int errorExif = spng_get_exif(ctx.get(), &exif);
    const bool conExif = errorExif == 0 && exif.data != nullptr && exif.length > 0;
    if (conExif) {
        std::vector<std::uint8_t> bloque = {'E', 'x', 'i', 'f', 0, 0};
        bloque.insert(bloque.end(), exif.data, exif.data + exif.length);
        orientacion = leerExif(bloque.data(), bloque.size()).orientacion;
    }

    // Rows decoded one at a time as RGBA, a band of them at a time into the planes: the photo costs
    // its planes and a band.
    if (int e = spng_decode_image(ctx.get(), nullptr, 0, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE);
        e != 0) {
        // A fault in the chunks before the pixels stops the decoder; it was met looking for eXIf.
        if (e == SPNG_EBADSTATE && errorExif != 0 && errorExif != SPNG_ECHUNKAVAIL) e = errorExif;
        if (LecturaFoto r = leida(e); !r.mensaje.empty()) return r;
        if (e == SPNG_EOF || e == SPNG_IO_EOF) return refusar("esta cortada: el PNG termina antes que sus datos");
        return falla(e, "es un PNG danado: ");
    }
    const int w = static_cast<int>(ihdr.width), h = static_cast<int>(ihdr.height);
    const std::size_t porFila = static_cast<std::size_t>(w) * 4;
    const bool entrelazada = ihdr.interlace_method != SPNG_INTERLACE_NONE;
    Bytes banda(porFila * (entrelazada ? 1 : kFilasPorBanda));
    PlanosOrientados<4, 2, 1, 0> planos(w, h, orientacion);
    int enBanda = 0, primera = 0;
    for (;;) {
        spng_row_info fila{};
        int e = spng_get_row_info(ctx.get(), &fila);
        if (e == 0) e = spng_decode_row(ctx.get(), banda.data() + enBanda * porFila, porFila);
        if (e != 0 && e != SPNG_EOI) {
            if (LecturaFoto r = leida(e); !r.mensaje.empty()) return r;
            if (e == SPNG_EOF || e == SPNG_IO_EOF) return refusar("esta cortada: el PNG termina antes que sus datos");
            return falla(e, "es un PNG danado: ");
        }
        if (entrelazada) {
            // A pass fills every kPasoAdam7-th pixel of the row from kInicioAdam7 on; only those go.
            const int x0 = kInicioAdam7[fila.pass], paso = kPasoAdam7[fila.pass];
            if (x0 < w) {
                const auto cuantos = static_cast<std::size_t>((w - x0 + paso - 1) / paso);
                sobreBlanco(banda.data() + 4 * static_cast<std::size_t>(x0), cuantos, static_cast<std::size_t>(paso));
                planos.puntos(banda.data(), static_cast<int>(fila.row_num), x0, paso);
            }
        } else {
            if (enBanda == 0) primera = static_cast<int>(fila.row_num);
            ++enBanda;
            if (enBanda == kFilasPorBanda || e == SPNG_EOI) {
                sobreBlanco(banda.data(), porFila / 4 * static_cast<std::size_t>(enBanda), 1);
                planos.banda(banda.data(), porFila, primera, enBanda);
                enBanda = 0;
            }
        }
        if (e == SPNG_EOI) break;
    }

    LecturaFoto r;
    r.formato = FormatoFoto::png;
    r.imagen = planos.tomar();
    // An eXIf chunk may also come after the pixels (the chunks there are read once they are
    // decoded; a fault among them leaves the picture as it is): the picture is then turned as it
    // says, through a copy.
    if (!conExif && spng_decode_chunks(ctx.get()) == 0 && spng_get_exif(ctx.get(), &exif) == 0 &&
        exif.data != nullptr && exif.length > 0) {
        std::vector<std::uint8_t> bloque = {'E', 'x', 'i', 'f', 0, 0};
        bloque.insert(bloque.end(), exif.data, exif.data + exif.length);
        orientacion = leerExif(bloque.data(), bloque.size()).orientacion;
        if (orientacion != 1) r.imagen = orientada(*r.imagen, orientacion);
    }
    r.orientacion = orientacion;
    return r;
}

}  // namespace

const char* nombreFormato(FormatoFoto formato) {
    switch (formato) {
        case FormatoFoto::bmp: return "BMP";
        case FormatoFoto::jpeg: return "JPEG";
        case FormatoFoto::png: return "PNG";
    }
    return "?";
}

LecturaFoto leerFoto(const std::filesystem::path& archivo, std::uint64_t pixelesMaximos) {
    const std::string nombre = entreComillas(archivo);
    Entrada entrada = abrirEntrada(archivo);
    if (entrada.fd.valor < 0) return fallo(std::nullopt, entrada.mensaje);

    std::array<std::uint8_t, 26> firma{};
    const ssize_t leidos = leerCompleto(entrada.fd.valor, firma.data(), firma.size(), 0);
    if (leidos < 0) {
        return fallo(std::nullopt, "no se puede leer " + nombre + ": " + std::strerror(errno));
    }
    const auto n = static_cast<std::size_t>(leidos);
    std::optional<FormatoFoto> formato;
    if (n >= 2 && firma[0] == 'B' && firma[1] == 'M') {
        formato = FormatoFoto::bmp;
    } else if (n >= 3 && firma[0] == 0xFF && firma[1] == 0xD8 && firma[2] == 0xFF) {
        formato = FormatoFoto::jpeg;
    } else if (n >= kFirmaPng.size() && std::equal(kFirmaPng.begin(), kFirmaPng.end(), firma.begin())) {
        formato = FormatoFoto::png;
    }
    if (!formato) {
        return fallo(std::nullopt, nombre + (n == 0 ? " esta vacio" : " no es una foto que se pueda leer") +
                                       ": se leen JPEG, PNG y BMP");
    }

    if (*formato == FormatoFoto::bmp) {
        entrada.fd = Descriptor{};
        // Its sides from the header, when it has them, against the limit before any pixel is read;
        // the reader judges everything else.
        if (n == firma.size()) {
            const auto lado = [&](std::size_t en) {
                return std::abs(static_cast<std::int64_t>(static_cast<std::int32_t>(
                    firma[en] | firma[en + 1] << 8 | firma[en + 2] << 16 | static_cast<std::uint32_t>(firma[en + 3]) << 24)));
            };
            const std::int64_t ancho = lado(bmp::kAncho), alto = lado(bmp::kAlto);
            if (ladosValidos(ancho, alto) && demasiadosPixeles(ancho, alto, pixelesMaximos)) {
                return fallo(formato, mensajeMegapixeles(nombre, ancho, alto, pixelesMaximos));
            }
        }
        LecturaBmp bmp = leerImagen(archivo);
        LecturaFoto r;
        r.formato = FormatoFoto::bmp;
        r.imagen = std::move(bmp.imagen);
        r.mensaje = std::move(bmp.mensaje);
        r.advertencia = std::move(bmp.advertencia);
        return r;
    }

    // Read in pieces as the decoder asks for them, never whole.
    try {
        const Archivo abierto{entrada.fd.valor, entrada.tamano};
        return *formato == FormatoFoto::jpeg ? leerJpeg(nombre, abierto, pixelesMaximos)
                                             : leerPng(nombre, abierto, pixelesMaximos);
    } catch (const std::bad_alloc&) {
        return fallo(formato, nombre + " no cabe en la memoria libre");
    }
}

std::optional<MedidaFoto> medirFoto(const std::filesystem::path& archivo) {
    Entrada entrada = abrirEntrada(archivo);
    if (entrada.fd.valor < 0) return std::nullopt;
    std::array<std::uint8_t, 26> cabecera{};
    if (leerCompleto(entrada.fd.valor, cabecera.data(), cabecera.size(), 0) != static_cast<ssize_t>(cabecera.size())) {
        return std::nullopt;
    }
    MedidaFoto m;
    if (cabecera[0] == 'B' && cabecera[1] == 'M') {
        const auto lado = [&](std::size_t en) {
            return std::abs(static_cast<std::int64_t>(static_cast<std::int32_t>(
                cabecera[en] | cabecera[en + 1] << 8 | cabecera[en + 2] << 16 |
                static_cast<std::uint32_t>(cabecera[en + 3]) << 24)));
        };
        m.ancho = lado(bmp::kAncho);
        m.alto = lado(bmp::kAlto);
    } else if (std::equal(kFirmaPng.begin(), kFirmaPng.end(), cabecera.begin())) {
        const auto lado = [&](std::size_t en) {
            return static_cast<std::int64_t>(cabecera[en]) << 24 | cabecera[en + 1] << 16 | cabecera[en + 2] << 8 |
                   cabecera[en + 3];
        };
        m.ancho = lado(16);
        m.alto = lado(20);
    } else if (cabecera[0] == 0xFF && cabecera[1] == 0xD8 && cabecera[2] == 0xFF) {
        try {
            DecodificadorJpeg d;
            if (abrirJpeg(d, Archivo{entrada.fd.valor, entrada.tamano}, false)) return std::nullopt;
            const jpeg_decompress_struct& c = d.cinfo;
            m.ancho = c.image_width;
            m.alto = c.image_height;
            // A progressive picture is decoded from all its coefficients, kept at once: 64 of two
            // bytes each per block of every component.
            if (c.progressive_mode) {
                for (int i = 0; i < c.num_components; ++i) {
                    m.bytesDecodificador += std::uint64_t{128} * c.comp_info[i].width_in_blocks *
                                            c.comp_info[i].height_in_blocks;
                }
            }
        } catch (const std::bad_alloc&) {
            return std::nullopt;
        }
    } else {
        return std::nullopt;
    }
    if (!ladosValidos(m.ancho, m.alto)) return std::nullopt;
    return m;
}
