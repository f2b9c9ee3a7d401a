// libFuzzer target. Each input is the whole content of a photo file of any kind: it is written to a
// private folder and handed to leerFoto, which recognises it by its first bytes and decodes it as a
// JPEG, PNG or BMP. What it returns must keep the reader's promises; a photo that is read is then
// written as PNG and read back (it must come back the same), and as JPEG and BMP.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

#include "comun.hpp"
#include "formatos/formatos.hpp"

namespace {

namespace fs = std::filesystem;
using fuzz::carpeta;
using fuzz::escribirArchivo;
using fuzz::fallar;
using fuzz::mismosPlanos;

constexpr std::int64_t kPixelesIdaYVuelta = 1 << 18;  // largest image written back and read again


// What the reader promises of anything it returns.
void revisarLectura(const LecturaFoto& lectura) {
    if (!lectura) {
        if (lectura.mensaje().empty() || lectura.mensaje().find('\n') != std::string::npos) {
            fallar("el mensaje de una lectura fallida no es una linea: \"" + lectura.mensaje() + "\"");
        }
        return;
    }
    if (lectura->orientacion < 1 || lectura->orientacion > 8) {
        fallar("orientacion " + std::to_string(lectura->orientacion));
    }
    const ImagenBmp& imagen = lectura->imagen;
    const int ancho = imagen.ancho();
    const int alto = imagen.alto();
    if (ancho < kLadoMinimo || ancho > kLadoMaximo || alto < kLadoMinimo || alto > kLadoMaximo) {
        fallar("imagen leida de " + std::to_string(ancho) + " x " + std::to_string(alto));
    }
    if (lectura->formato != FormatoFoto::bmp && imagen.header != headerNuevo(ancho, alto)) {
        fallar("la cabecera de una foto decodificada no es la de una imagen nueva");
    }
    for (const PlanoBytes* plano : {&imagen.plano0, &imagen.plano1, &imagen.plano2}) {
        if (plano->ancho != ancho || plano->alto != alto ||
            plano->datos.size() != static_cast<std::size_t>(ancho) * static_cast<std::size_t>(alto)) {
            fallar("un plano leido no mide lo que dice la cabecera");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::prepararCarpeta("foto_fuzzer", "escaner-fuzz-fotos");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* datos, std::size_t cantidad) {
    const fs::path entrada = carpeta / "foto";
    escribirArchivo(entrada, datos, cantidad);
    const LecturaFoto lectura = leerFoto(entrada);
    revisarLectura(lectura);
    if (!lectura) return 0;
    const ImagenBmp& foto = lectura->imagen;
    if (static_cast<std::int64_t>(foto.ancho()) * foto.alto() > kPixelesIdaYVuelta) return 0;

    // The encoders take whatever the readers give.
    const ArchivoCodificado png = codificarPng(foto);
    if (!png.ok()) fallar("no se pudo hacer un PNG: " + png.mensaje());
    escribirArchivo(carpeta / "copia", png->data(), png->size());
    const LecturaFoto copia = leerFoto(carpeta / "copia");
    if (!copia) fallar("el PNG hecho no se puede leer: " + copia.mensaje());
    if (copia->formato != FormatoFoto::png) fallar("el PNG hecho no se lee como PNG");
    if (copia->imagen.ancho() != foto.ancho() || copia->imagen.alto() != foto.alto() ||
        !mismosPlanos(copia->imagen, foto)) {
        fallar("el PNG hecho no se lee igual que la foto");
    }
    const ArchivoCodificado jpeg = codificarJpeg(foto, kCalidadJpeg);
    if (!jpeg.ok()) fallar("no se pudo hacer un JPEG: " + jpeg.mensaje());
    const ArchivoCodificado bmp = codificarBmp(foto);
    if (!bmp.ok()) fallar("no se pudo hacer un BMP: " + bmp.mensaje());
    return 0;
}
