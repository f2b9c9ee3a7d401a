#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include <unistd.h>

#include "formatos/formatos.hpp"
#include "formatos/interno.hpp"
#include "sistema/archivos.hpp"

// A photo is recognised here by its first bytes and handed to its format's reader.

namespace formatos {

Fallo fallo(std::string mensaje) { return Fallo{std::move(mensaje)}; }

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

std::string mensajeMegapixeles(const std::string& nombre, std::int64_t ancho, std::int64_t alto,
                               std::uint64_t pixelesMaximos) {
    return nombre + " mide " + std::to_string(ancho) + " x " + std::to_string(alto) + " pixeles, mas de " +
           std::to_string(pixelesMaximos / 1000000) + " megapixeles: se leen fotos de hasta " +
           std::to_string(pixelesMaximos / 1000000) + " megapixeles (--max-megapixeles)";
}

bool demasiadosPixeles(std::int64_t ancho, std::int64_t alto, std::uint64_t pixelesMaximos) {
    return static_cast<std::uint64_t>(ancho) * static_cast<std::uint64_t>(alto) > pixelesMaximos;
}

}  // namespace formatos

using formatos::Archivo;
using formatos::demasiadosPixeles;
using formatos::fallo;
using formatos::ladosValidos;
using formatos::leerJpeg;
using formatos::leerPng;
using formatos::medirJpeg;
using formatos::mensajeMegapixeles;

namespace {

constexpr std::array<std::uint8_t, 8> kFirmaPng = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

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
    Resultado<Entrada> abierta = abrirEntrada(archivo);
    if (!abierta) return abierta.fallo();
    Entrada& entrada = *abierta;

    std::array<std::uint8_t, 26> firma{};
    const Resultado<std::size_t> leidos = leerCompleto(entrada.fd.valor, firma.data(), firma.size(), 0);
    if (!leidos) return fallo("no se puede leer " + nombre + ": " + leidos.mensaje());
    const std::size_t n = *leidos;
    std::optional<FormatoFoto> formato;
    if (n >= 2 && firma[0] == 'B' && firma[1] == 'M') {
        formato = FormatoFoto::bmp;
    } else if (n >= 3 && firma[0] == 0xFF && firma[1] == 0xD8 && firma[2] == 0xFF) {
        formato = FormatoFoto::jpeg;
    } else if (n >= kFirmaPng.size() && std::equal(kFirmaPng.begin(), kFirmaPng.end(), firma.begin())) {
        formato = FormatoFoto::png;
    }
    if (!formato) {
        return fallo(nombre + (n == 0 ? " esta vacio" : " no es una foto que se pueda leer") +
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
                return fallo(mensajeMegapixeles(nombre, ancho, alto, pixelesMaximos));
            }
        }
        Resultado<BmpLeido> bmp = leerImagen(archivo);
        if (!bmp) return Fallo{bmp.mensaje()};
        FotoLeida r;
        r.formato = FormatoFoto::bmp;
        r.imagen = std::move(bmp->imagen);
        r.advertencia = std::move(bmp->advertencia);
        return r;
    }

    // Read in pieces as the decoder asks for them, never whole.
    try {
        const Archivo abierto{entrada.fd.valor, entrada.tamano};
        return *formato == FormatoFoto::jpeg ? leerJpeg(nombre, abierto, pixelesMaximos)
                                             : leerPng(nombre, abierto, pixelesMaximos);
    } catch (const std::bad_alloc&) {
        return fallo(nombre + " no cabe en la memoria libre");
    }
}

std::optional<MedidaFoto> medirFoto(const std::filesystem::path& archivo) {
    const Resultado<Entrada> abierta = abrirEntrada(archivo);
    if (!abierta) return std::nullopt;
    const Entrada& entrada = *abierta;
    std::array<std::uint8_t, 26> cabecera{};
    const Resultado<std::size_t> leidos = leerCompleto(entrada.fd.valor, cabecera.data(), cabecera.size(), 0);
    if (!leidos || *leidos != cabecera.size()) return std::nullopt;
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
            const auto jpeg = medirJpeg(Archivo{entrada.fd.valor, entrada.tamano});
            if (!jpeg) return std::nullopt;
            m = *jpeg;
        } catch (const std::bad_alloc&) {
            return std::nullopt;
        }
    } else {
        return std::nullopt;
    }
    if (!ladosValidos(m.ancho, m.alto)) return std::nullopt;
    return m;
}
