#include "imagen/imagen_bmp.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "imagen/memoria.hpp"
#include "sistema/archivos.hpp"
#include "sistema/comprobar.hpp"

std::int32_t leerCampo32(const HeaderBmp& header, std::size_t offset) {
    const std::uint32_t v = static_cast<std::uint32_t>(header[offset]) |
                            static_cast<std::uint32_t>(header[offset + 1]) << 8 |
                            static_cast<std::uint32_t>(header[offset + 2]) << 16 |
                            static_cast<std::uint32_t>(header[offset + 3]) << 24;
    return static_cast<std::int32_t>(v);
}

std::uint16_t leerCampo16(const HeaderBmp& header, std::size_t offset) {
    return static_cast<std::uint16_t>(header[offset] | header[offset + 1] << 8);
}

void fijarCampo32(HeaderBmp& header, std::size_t offset, std::int32_t valor) {
    const auto v = static_cast<std::uint32_t>(valor);
    for (std::size_t i = 0; i < 4; ++i) header[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void fijarCampo16(HeaderBmp& header, std::size_t offset, std::uint16_t valor) {
    header[offset] = static_cast<std::uint8_t>(valor);
    header[offset + 1] = static_cast<std::uint8_t>(valor >> 8);
}

HeaderBmp headerNuevo(std::int32_t ancho, std::int32_t alto) {
    HeaderBmp h{};
    const auto tamanoImagen = static_cast<std::int32_t>(bmp::bytesPorFila(ancho) * static_cast<std::size_t>(alto));
    fijarCampo16(h, bmp::kFirma, 0x4D42);
    fijarCampo32(h, bmp::kTamanoArchivo, static_cast<std::int32_t>(kTamanoHeader) + tamanoImagen);
    fijarCampo32(h, bmp::kInicioPixeles, static_cast<std::int32_t>(kTamanoHeader));
    fijarCampo32(h, bmp::kTamanoInfo, 40);
    fijarCampo32(h, bmp::kAncho, ancho);
    fijarCampo32(h, bmp::kAlto, alto);
    fijarCampo16(h, bmp::kPlanos, 1);
    fijarCampo16(h, bmp::kBitsPorPixel, 24);
    fijarCampo32(h, bmp::kCompresion, 0);
    fijarCampo32(h, bmp::kTamanoImagen, tamanoImagen);
    fijarCampo32(h, bmp::kResolucionX, 3780);
    fijarCampo32(h, bmp::kResolucionY, 3780);
    return h;
}

ImagenBmp imagenNueva(int ancho, int alto, std::uint8_t valor) {
    ImagenBmp imagen;
    imagen.header = headerNuevo(ancho, alto);
    imagen.plano0 = PlanoBytes(ancho, alto, valor);
    imagen.plano1 = PlanoBytes(ancho, alto, valor);
    imagen.plano2 = PlanoBytes(ancho, alto, valor);
    return imagen;
}

ImagenBmp imagenSinIniciar(int ancho, int alto) {
    ImagenBmp imagen;
    imagen.header = headerNuevo(ancho, alto);
    imagen.plano0 = PlanoBytes::sinIniciar(ancho, alto);
    imagen.plano1 = PlanoBytes::sinIniciar(ancho, alto);
    imagen.plano2 = PlanoBytes::sinIniciar(ancho, alto);
    return imagen;
}

namespace {

Fallo fallo(FalloLectura tipo, std::string mensaje) { return Fallo{std::move(mensaje), static_cast<int>(tipo)}; }

// Splits one stored row of pixel triples into the three planes; only the first `presentes` bytes
// of `fila` exist, the rest of the row reads as 0.
void separarFila(const std::uint8_t* fila, std::size_t presentes, int ancho, std::uint8_t* p0,
                 std::uint8_t* p1, std::uint8_t* p2) {
    const int completos = static_cast<int>(presentes / 3);
    for (int c = 0; c < completos; ++c) {
        p0[c] = fila[3 * c];
        p1[c] = fila[3 * c + 1];
        p2[c] = fila[3 * c + 2];
    }
    if (completos >= ancho) return;
    std::uint8_t resto[3] = {0, 0, 0};
    for (std::size_t b = 3 * static_cast<std::size_t>(completos); b < presentes; ++b) resto[b % 3] = fila[b];
    p0[completos] = resto[0];
    p1[completos] = resto[1];
    p2[completos] = resto[2];
    for (int c = completos + 1; c < ancho; ++c) p0[c] = p1[c] = p2[c] = 0;
}

}  // namespace

Resultado<BmpLeido> leerImagen(const std::filesystem::path& archivo) {
    const std::string nombre = entreComillas(archivo);
    const Resultado<Entrada> entrada = abrirEntrada(archivo);
    if (!entrada) return fallo(FalloLectura::noSeAbre, entrada.mensaje());
    const Descriptor& fd = entrada->fd;

    HeaderBmp header{};
    const Resultado<std::size_t> leidos = leerCompleto(fd.valor, header.data(), header.size(), 0);
    if (!leidos) return fallo(FalloLectura::noSeAbre, "no se puede leer " + nombre + ": " + leidos.mensaje());
    if (*leidos != header.size()) {
        return fallo(FalloLectura::headerCorto, nombre + " mide menos de 54 bytes");
    }
    if (header[0] != 'B' || header[1] != 'M') {
        return fallo(FalloLectura::noEsBmp, nombre + " no es un archivo BMP: no empieza con \"BM\"");
    }
    const std::int32_t tamanoInfo = leerCampo32(header, bmp::kTamanoInfo);
    if (tamanoInfo < 40) {
        return fallo(FalloLectura::formatoNoSoportado,
                     nombre + " tiene una cabecera de informacion de " + std::to_string(tamanoInfo) +
                         " bytes; solo se leen cabeceras de 40 bytes o mas");
    }
    const int bits = leerCampo16(header, bmp::kBitsPorPixel);
    const std::int32_t compresion = leerCampo32(header, bmp::kCompresion);
    // A JPEG or PNG inside a BMP says 0 bits: its compression says more.
    if (bits != 24 && !(bits == 0 && compresion != 0)) {
        return fallo(FalloLectura::formatoNoSoportado,
                     nombre + " tiene " + std::to_string(bits) +
                         " bits por pixel; solo se leen imagenes de 24 bits");
    }
    if (compresion != 0) {
        return fallo(FalloLectura::formatoNoSoportado,
                     nombre + " esta comprimida (compresion " + std::to_string(compresion) +
                         "); solo se leen imagenes sin comprimir");
    }
    const std::int64_t ancho = leerCampo32(header, bmp::kAncho);
    const std::int64_t altoFirmado = leerCampo32(header, bmp::kAlto);
    const std::int64_t alto = altoFirmado < 0 ? -altoFirmado : altoFirmado;
    if (ancho < kLadoMinimo || alto < kLadoMinimo || ancho > kLadoMaximo || alto > kLadoMaximo) {
        return fallo(FalloLectura::tamanoInvalido,
                     nombre + " mide " + std::to_string(ancho) + " x " + std::to_string(altoFirmado) +
                         " pixeles; el ancho y el alto deben estar entre " +
                         std::to_string(kLadoMinimo) + " y " + std::to_string(kLadoMaximo));
    }
    const std::int64_t inicio = static_cast<std::uint32_t>(leerCampo32(header, bmp::kInicioPixeles));
    if (inicio < static_cast<std::int64_t>(kTamanoHeader)) {
        return fallo(FalloLectura::formatoNoSoportado,
                     nombre + " dice que sus pixeles empiezan en el byte " + std::to_string(inicio) +
                         ", dentro de su cabecera");
    }
    // A file that ends early is read with its missing bytes as 0, but one that holds less than
    // half of the pixels its header announces is refused: its planes would cost far more memory
    // than the file itself.
    const std::uint64_t anunciados = bmp::bytesPorFila(ancho) * static_cast<std::uint64_t>(alto);
    const std::uint64_t tamanoArchivo = entrada->tamano;
    const std::uint64_t presentes =
        tamanoArchivo > static_cast<std::uint64_t>(inicio) ? tamanoArchivo - static_cast<std::uint64_t>(inicio) : 0;
    if (presentes < anunciados / 2) {
        return fallo(FalloLectura::incompleto,
                     nombre + " tiene " + std::to_string(presentes) + " de los " +
                         std::to_string(anunciados) + " bytes de pixeles que anuncia su cabecera");
    }

    const int w = static_cast<int>(ancho);
    const int h = static_cast<int>(alto);
    const bool deArribaAbajo = altoFirmado < 0;
    fijarCampo32(header, bmp::kInicioPixeles, static_cast<std::int32_t>(kTamanoHeader));
    fijarCampo32(header, bmp::kTamanoInfo, 40);
    fijarCampo32(header, bmp::kAlto, h);

    BmpLeido r;
    ImagenBmp& img = r.imagen;
    img.header = header;
    img.plano0 = PlanoBytes::sinIniciar(w, h);
    img.plano1 = PlanoBytes::sinIniciar(w, h);
    img.plano2 = PlanoBytes::sinIniciar(w, h);

    // Whole rows are read into one reused 2 MiB buffer (a single large page); what the file does
    // not hold reads as 0.
    const std::size_t porFila = bmp::bytesPorFila(w);
    std::vector<std::uint8_t, Asignador<std::uint8_t>> bloque;
    bloque.resize(std::max(porFila, std::size_t{2} << 20));
    const int filasPorBloque = static_cast<int>(bloque.size() / porFila);
    bool incompleto = false;
    for (int primera = 0; primera < h; primera += filasPorBloque) {
        const int filas = std::min(filasPorBloque, h - primera);
        const std::uint64_t desde =
            static_cast<std::uint64_t>(inicio) + porFila * static_cast<std::uint64_t>(primera);
        const std::size_t pedidos = porFila * static_cast<std::size_t>(filas);
        const Resultado<std::size_t> n = leerCompleto(fd.valor, bloque.data(), pedidos, desde);
        if (!n) return fallo(FalloLectura::noSeAbre, "no se puede leer " + nombre + ": " + n.mensaje());
        const std::size_t enBloque = *n;
        if (enBloque < pedidos) incompleto = true;
        for (int i = 0; i < filas; ++i) {
            const int enArchivo = primera + i;
            const int fila = deArribaAbajo ? h - 1 - enArchivo : enArchivo;
            const std::size_t inicioFila = porFila * static_cast<std::size_t>(i);
            const std::size_t enFila = enBloque > inicioFila ? enBloque - inicioFila : 0;
            separarFila(bloque.data() + inicioFila, std::min(enFila, 3 * static_cast<std::size_t>(w)), w,
                        img.plano0[fila], img.plano1[fila], img.plano2[fila]);
        }
    }
    if (incompleto) {
        r.advertencia = nombre + " termina antes que sus pixeles; los bytes que faltan se toman como 0";
    }
    return r;
}

void intercalarFilas(const PlanoBytes& a, const PlanoBytes& b, const PlanoBytes& c, int ancho, int desde, int hasta,
                     std::size_t porFila, std::uint8_t* destino) {
    COMPROBAR_MAYOR_IGUAL(porFila, 3 * static_cast<std::size_t>(ancho));
    for (int r = desde; r < hasta; ++r, destino += porFila) {
        // Plain pointers: a byte store through a plane might change the plane, as far as the
        // compiler knows, and the loop would then not vectorise.
        const std::uint8_t* pa = a[r];
        const std::uint8_t* pb = b[r];
        const std::uint8_t* pc = c[r];
        for (int x = 0; x < ancho; ++x) {
            destino[3 * x] = pa[x];
            destino[3 * x + 1] = pb[x];
            destino[3 * x + 2] = pc[x];
        }
        std::fill(destino + 3 * static_cast<std::size_t>(ancho), destino + porFila, std::uint8_t{0});
    }
}

Hecho codificarPlanosBmp(const HeaderBmp& header, const PlanoBytes& plano0, const PlanoBytes& plano1,
                         const PlanoBytes& plano2, const std::function<Hecho(std::span<const std::uint8_t>)>& recibir) {
    const std::int32_t ancho = leerCampo32(header, bmp::kAncho);
    const std::int32_t alto = leerCampo32(header, bmp::kAlto);
    const bool hayPixeles = ancho > 0 && alto > 0;
    const std::size_t porFila = hayPixeles ? bmp::bytesPorFila(ancho) : 0;
    const int filas = hayPixeles ? alto : 0;
    for (const PlanoBytes* plano : {&plano0, &plano1, &plano2}) {
        if (!hayPixeles) break;
        COMPROBAR_MAYOR_IGUAL(plano->ancho, ancho);
        COMPROBAR_MAYOR_IGUAL(plano->alto, alto);
    }
    // Rows are interleaved into one reused buffer, handed on a buffer at a time.
    std::vector<std::uint8_t, Asignador<std::uint8_t>> bufer;
    bufer.resize(std::max(kTamanoHeader + porFila, std::size_t{2} << 20));
    std::copy(header.begin(), header.end(), bufer.begin());
    std::size_t lleno = kTamanoHeader;
    for (int r = 0; r < filas; ++r) {
        if (lleno + porFila > bufer.size()) {
            if (Hecho hecho = recibir({bufer.data(), lleno}); !hecho.ok()) return hecho;
            lleno = 0;
        }
        intercalarFilas(plano0, plano1, plano2, ancho, r, r + 1, porFila, bufer.data() + lleno);
        lleno += porFila;
    }
    return recibir({bufer.data(), lleno});
}

std::vector<std::uint8_t> codificarPlanosBmp(const HeaderBmp& header, const PlanoBytes& plano0,
                                             const PlanoBytes& plano1, const PlanoBytes& plano2) {
    std::vector<std::uint8_t> bytes;
    const std::int32_t ancho = leerCampo32(header, bmp::kAncho), alto = leerCampo32(header, bmp::kAlto);
    bytes.reserve(kTamanoHeader + (ancho > 0 && alto > 0 ? bmp::bytesPorFila(ancho) * static_cast<std::size_t>(alto) : 0));
    const Hecho hecho = codificarPlanosBmp(header, plano0, plano1, plano2, [&](std::span<const std::uint8_t> parte) {
        bytes.insert(bytes.end(), parte.begin(), parte.end());
        return Hecho{};
    });
    COMPROBAR(hecho.ok());
    return bytes;
}

Hecho grabarPlanos(const HeaderBmp& header, const PlanoBytes& plano0, const PlanoBytes& plano1,
                   const PlanoBytes& plano2, const std::filesystem::path& archivo) {
    // A new file of its own, which takes the output's name only when whole.
    Resultado<ArchivoNuevo> nuevo = ArchivoNuevo::crear(archivo);
    if (!nuevo) return nuevo.fallo();
    if (Hecho escrito = codificarPlanosBmp(header, plano0, plano1, plano2,
                                           [&](std::span<const std::uint8_t> parte) { return nuevo->escribir(parte); });
        !escrito.ok())
        return escrito;
    return nuevo->publicar();
}

Hecho grabarImagen(const ImagenBmp& imagen, const std::filesystem::path& archivo) {
    return grabarPlanos(imagen.header, imagen.plano0, imagen.plano1, imagen.plano2, archivo);
}
