#include <algorithm>
#include <array>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstddef>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <unistd.h>

#include <jpeglib.h>
#include <jerror.h>

#include "formatos/interno.hpp"
#include "imagen/paralelo.hpp"
#include "sistema/archivos.hpp"

namespace formatos {

namespace {

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
        // The result is gone before the jump, which would skip its destructor.
        const Resultado<std::size_t> leidos = leerCompleto(
            f->fd, f->trozo.data(), static_cast<std::size_t>(std::min<std::uint64_t>(quedan, kTrozoJpeg)), f->siguiente);
        if (leidos) {
            n = static_cast<ssize_t>(*leidos);
        } else {
            auto* e = reinterpret_cast<ErroresJpeg*>(cinfo->err);
            std::snprintf(e->texto, sizeof e->texto, "%s", leidos.mensaje().c_str());
            n = -1;
        }
    }
    if (n < 0) {
        auto* e = reinterpret_cast<ErroresJpeg*>(cinfo->err);
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


}  // namespace

LecturaFoto leerJpeg(const std::string& nombre, const Archivo& archivo, std::uint64_t pixelesMaximos) {
    const auto refusar = [&](std::string texto) { return fallo(nombre + " " + texto); };
    DecodificadorJpeg d;
    jpeg_decompress_struct& c = d.cinfo;
    if (const auto e = abrirJpeg(d, archivo, true)) return refusar(*e);
    const std::int64_t ancho = c.image_width, alto = c.image_height;
    if (ancho <= 0 || alto <= 0) return refusar("no es un JPEG que se pueda leer: no dice su tamano");
    if (!ladosValidos(ancho, alto)) return fallo(mensajeTamano(nombre, ancho, alto));
    const std::uint64_t pixeles = static_cast<std::uint64_t>(ancho) * static_cast<std::uint64_t>(alto);
    if (pixeles > kPixelesPorByteJpeg * archivo.tamano) {
        return fallo(mensajeDesmedido(nombre, ancho, alto, archivo.tamano));
    }
    if (demasiadosPixeles(ancho, alto, pixelesMaximos)) {
        return fallo(mensajeMegapixeles(nombre, ancho, alto, pixelesMaximos));
    }
    if (c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK) {
        return refusar("es un JPEG en CMYK; solo se leen JPEG en color RGB o en grises");
    }

    const DatosExif exif = d.exif.empty() ? DatosExif{} : leerExif(d.exif.data(), d.exif.size());
    const int w = static_cast<int>(ancho), h = static_cast<int>(alto);
    FotoLeida r;
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

std::optional<MedidaFoto> medirJpeg(const Archivo& archivo) {
    DecodificadorJpeg d;
    if (abrirJpeg(d, archivo, false)) return std::nullopt;
    const jpeg_decompress_struct& c = d.cinfo;
    MedidaFoto m;
    m.ancho = c.image_width;
    m.alto = c.image_height;
    // A progressive picture is decoded from all its coefficients, kept at once: 64 of two bytes each
    // per block of every component.
    if (c.progressive_mode) {
        for (int i = 0; i < c.num_components; ++i) {
            m.bytesDecodificador +=
                std::uint64_t{128} * c.comp_info[i].width_in_blocks * c.comp_info[i].height_in_blocks;
        }
    }
    return m;
}

}  // namespace formatos
