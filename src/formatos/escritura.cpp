#include <algorithm>
#include <cctype>
#include <string>

#include "formatos/formatos.hpp"
#include "formatos/interno.hpp"

namespace formatos {

Hecho revisar(const ImagenBmp& imagen, const char* formato) {
    const std::int64_t ancho = imagen.ancho();
    const std::int64_t alto = imagen.alto();
    if (ancho < 1 || alto < 1 || ancho > kLadoMaximo || alto > kLadoMaximo) {
        return Fallo{std::string("no se puede hacer un ") + formato + " de una imagen de " + std::to_string(ancho) +
                     " x " + std::to_string(alto) + " pixeles"};
    }
    for (const PlanoBytes* p : {&imagen.plano0, &imagen.plano1, &imagen.plano2}) {
        if (p->ancho < ancho || p->alto < alto ||
            p->datos.size() < static_cast<std::size_t>(p->ancho) * static_cast<std::size_t>(p->alto)) {
            return Fallo{std::string("no se puede hacer un ") + formato + ": la imagen no mide lo que dice su cabecera"};
        }
    }
    return {};
}

void intercalar(const ImagenBmp& imagen, std::uint8_t* destino, std::size_t porFila) {
    intercalarFilas(imagen.plano0, imagen.plano1, imagen.plano2, imagen.ancho(), 0, imagen.alto(), porFila, destino);
}

}  // namespace formatos

std::optional<FormatoSalida> formatoPorExtension(const std::filesystem::path& archivo) {
    std::string extension = archivo.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".png") return FormatoSalida::png;
    if (extension == ".jpg" || extension == ".jpeg") return FormatoSalida::jpeg;
    if (extension == ".bmp") return FormatoSalida::bmp;
    if (extension == ".pdf") return FormatoSalida::pdf;
    return std::nullopt;
}
