#include <algorithm>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include <png.h>
#include <zlib.h>

#include "formatos/formatos.hpp"
#include "formatos/interno.hpp"
#include "imagen/paralelo.hpp"

using formatos::Pixeles;
using formatos::revisar;

namespace {

// The rows of a PNG's image data from `desde` to `hasta`, counted from the top, deflated with
// Huffman codes only: each row a filter byte and the row taken against the one above it, but for
// the first one, taken as it is, so that no part reads a row of another. A photographed page is
// mostly paper with a little noise: that gives a letter page of about 1.33 MB, as small as
// deflate's default with every filter tried gives in ten times the time, and twice as fast as
// deflate's fastest level.
//
// A large picture's zlib stream is made in two parts at once, as pigz does. Huffman codes alone
// look back at nothing, so each part is deflated on its own: the first with zlib's header, ending
// on a byte boundary without closing the stream (Z_SYNC_FLUSH); the last one raw and closed. The
// two checksums are joined with adler32_combine, and the sum ends the stream.
struct ParteDeflate {
    Pixeles bytes;  // grown uncleared: deflate writes every byte that is kept
    uLong adler = 1;
    uLong crudos = 0;  // bytes of image data that went in
    int error = Z_OK;
};

void deflatarFilas(const ImagenBmp& imagen, int desde, int hasta, bool primera, bool ultima, ParteDeflate& parte) {
    const int ancho = imagen.ancho();
    const int alto = imagen.alto();
    const std::size_t porFila = 3 * static_cast<std::size_t>(ancho);
    z_stream z{};
    parte.error = deflateInit2(&z, 1, Z_DEFLATED, primera ? 15 : -15, 8, Z_HUFFMAN_ONLY);
    if (parte.error != Z_OK) return;
    // Room for rows that barely compress; the bytes grow if they do not.
    const std::size_t entrada = (porFila + 1) * static_cast<std::size_t>(hasta - desde);
    try {
        parte.bytes.resize(deflateBound(&z, static_cast<uLong>(std::min<std::size_t>(entrada, 1u << 30))) / 2 + 64);
    } catch (const std::bad_alloc&) {
        parte.error = Z_MEM_ERROR;
    }
    // The first row is taken against a row of zeros: filter "None" for it, "Up" for the others.
    // (Plain pointers: a byte store through a vector might change the vector, as far as the
    // compiler knows, and the loop would then not vectorise.)
    std::vector<std::uint8_t> filas(2 * porFila, 0), filtrada(porFila + 1);
    std::uint8_t* arriba = filas.data();
    std::uint8_t* fila = filas.data() + porFila;
    std::uint8_t* diferencias = filtrada.data() + 1;
    for (int y = desde; y < hasta && parte.error == Z_OK; ++y) {
        const int r = alto - 1 - y;
        intercalarFilas(imagen.plano2, imagen.plano1, imagen.plano0, ancho, r, r + 1, porFila, fila);
        filtrada[0] = y == desde ? 0 : 2;
        for (std::size_t i = 0; i < porFila; ++i) diferencias[i] = static_cast<std::uint8_t>(fila[i] - arriba[i]);
        std::swap(fila, arriba);
        if (!primera) parte.adler = adler32(parte.adler, filtrada.data(), static_cast<uInt>(filtrada.size()));
        parte.crudos += static_cast<uLong>(filtrada.size());
        z.next_in = filtrada.data();
        z.avail_in = static_cast<uInt>(filtrada.size());
        const int final = y + 1 < hasta ? Z_NO_FLUSH : (ultima ? Z_FINISH : Z_SYNC_FLUSH);
        // Until deflate has taken the whole row (and, at the end, given out everything).
        for (;;) {
            if (z.total_out == parte.bytes.size()) {
                try {
                    parte.bytes.resize(parte.bytes.size() * 2);
                } catch (const std::bad_alloc&) {
                    parte.error = Z_MEM_ERROR;
                    break;
                }
            }
            z.next_out = parte.bytes.data() + z.total_out;
            z.avail_out = static_cast<uInt>(std::min<std::size_t>(parte.bytes.size() - z.total_out, 1u << 30));
            const int e = deflate(&z, final);
            if (e == Z_STREAM_END) break;
            if (e != Z_OK && e != Z_BUF_ERROR) {
                parte.error = e;
                break;
            }
            if (z.avail_in == 0 && z.avail_out != 0) break;
        }
    }
    if (primera) parte.adler = z.adler;
    parte.bytes.resize(z.total_out);
    deflateEnd(&z);
}

// libpng writes the file; its failures come back through a jump, so the function that calls it
// holds nothing that would need destroying.
void errorPng(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void avisoPng(png_structp, png_const_charp) {}
void escribirPng(png_structp png, png_bytep datos, png_size_t cuantos) {
    auto* v = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    bool sinMemoria = false;
    try {
        v->insert(v->end(), datos, datos + cuantos);
    } catch (const std::bad_alloc&) {
        sinMemoria = true;
    }
    if (sinMemoria) png_error(png, "no hay memoria");
}
void vaciarPng(png_structp) {}

// IDAT chunks of at most this many bytes.
constexpr std::size_t kTrozoIdat = 1 << 20;

bool escribirArchivoPng(std::vector<std::uint8_t>* salida, int ancho, int alto, const Pixeles* const* partes,
                        int cuantas) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, errorPng, avisoPng);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, salida, escribirPng, vaciarPng);
    png_set_IHDR(png, info, static_cast<png_uint_32>(ancho), static_cast<png_uint_32>(alto), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    // The image data as it was deflated: chunk boundaries mean nothing to the stream they carry.
    for (int p = 0; p < cuantas; ++p) {
        const Pixeles& bytes = *partes[p];
        for (std::size_t i = 0; i < bytes.size(); i += kTrozoIdat) {
            png_write_chunk(png, reinterpret_cast<png_const_bytep>("IDAT"), bytes.data() + i,
                            std::min(kTrozoIdat, bytes.size() - i));
        }
    }
    png_write_chunk(png, reinterpret_cast<png_const_bytep>("IEND"), nullptr, 0);
    png_destroy_write_struct(&png, &info);
    return true;
}

// Pictures of at least this many pixels are deflated in two parts at once.
constexpr std::int64_t kPixelesEnDosPartes = 256 * 1024;

}  // namespace

ArchivoCodificado codificarPng(const ImagenBmp& imagen, const HacerFilas& hacer) {
    if (Hecho bien = revisar(imagen, "PNG"); !bien.ok()) return bien.fallo();
    const int ancho = imagen.ancho();
    const int alto = imagen.alto();
    // Each part makes its rows, when they are still to be made, and deflates them.
    ParteDeflate partes[2];
    const auto parte = [&](int desde, int hasta, bool primera, bool ultima) {
        if (hacer) hacer(desde, hasta);
        deflatarFilas(imagen, desde, hasta, primera, ultima, partes[primera ? 0 : 1]);
    };
    if (alto >= 2 && static_cast<std::int64_t>(ancho) * alto >= kPixelesEnDosPartes) {
        enDosMitades(alto, [&](int desde, int hasta) { parte(desde, hasta, desde == 0, desde != 0); });
    } else {
        parte(0, alto, true, true);
    }
    for (const ParteDeflate& p : partes) {
        if (p.error == Z_MEM_ERROR) return Fallo{"no se puede hacer un PNG: no hay memoria"};
        if (p.error != Z_OK) return Fallo{std::string("no se puede hacer un PNG: ") + zError(p.error)};
    }
    int cuantas = 1;
    if (partes[1].crudos > 0) {
        // The checksum of the whole image data closes the stream.
        const uLong adler = adler32_combine(partes[0].adler, partes[1].adler, static_cast<z_off_t>(partes[1].crudos));
        for (int corrimiento = 24; corrimiento >= 0; corrimiento -= 8) {
            partes[1].bytes.push_back(static_cast<std::uint8_t>(adler >> corrimiento));
        }
        cuantas = 2;
    }
    std::vector<std::uint8_t> bytes;
    try {
        // The file's bytes: the image data and a few chunks around it.
        bytes.reserve(partes[0].bytes.size() + partes[1].bytes.size() + 1024);
    } catch (const std::bad_alloc&) {
        return Fallo{"no se puede hacer un PNG: no hay memoria"};
    }
    const Pixeles* datos[2] = {&partes[0].bytes, &partes[1].bytes};
    if (!escribirArchivoPng(&bytes, ancho, alto, datos, cuantas)) return Fallo{"no se puede hacer un PNG: no hay memoria"};
    return bytes;
}
