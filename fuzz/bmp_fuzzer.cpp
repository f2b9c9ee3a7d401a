// libFuzzer target. Each input is the whole content of a photo file: it is written to a private
// folder and handed to the BMP reader. An image that is read is written back and read again, and must
// come back the same; a small one (at most 64 x 64) then goes through the stages of a run as the
// driver chains them, and every image they make is written to the folder.

#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

#include "comun.hpp"
#include "filtros/bordes.hpp"
#include "filtros/reduccion.hpp"
#include "geometria/contorno.hpp"
#include "geometria/esquinas.hpp"
#include "hough/acumulador.hpp"
#include "hough/imagen_hough.hpp"
#include "hough/rectas.hpp"
#include "imagen/imagen_bmp.hpp"
#include "rectificacion/hoja.hpp"

namespace {

namespace fs = std::filesystem;
using fuzz::carpeta;
using fuzz::escribirArchivo;
using fuzz::fallar;
using fuzz::mismosPlanos;

constexpr int kLadoEtapas = 64;                      // largest side that goes through the stages
constexpr std::int64_t kPixelesIdaYVuelta = 1 << 20;  // largest image written back and read again


void grabar(const ImagenBmp& imagen, const char* nombre) {
    if (const Hecho grabada = grabarImagen(imagen, carpeta / nombre); !grabada.ok()) fallar(grabada.mensaje());
}

// What the reader promises of any image it returns.
void revisarLectura(const Resultado<BmpLeido>& lectura) {
    if (!lectura) {
        if (lectura.fallo().causa == static_cast<int>(FalloLectura::ninguno)) fallar("una lectura fallida sin causa");
        if (lectura.mensaje().empty() || lectura.mensaje().find('\n') != std::string::npos) {
            fallar("el mensaje de una lectura fallida no es una linea: \"" + lectura.mensaje() + "\"");
        }
        return;
    }
    const ImagenBmp& imagen = lectura->imagen;
    const int ancho = imagen.ancho();
    const int alto = imagen.alto();
    if (ancho < kLadoMinimo || ancho > kLadoMaximo || alto < kLadoMinimo || alto > kLadoMaximo) {
        fallar("imagen leida de " + std::to_string(ancho) + " x " + std::to_string(alto));
    }
    for (const PlanoBytes* plano : {&imagen.plano0, &imagen.plano1, &imagen.plano2}) {
        if (plano->ancho != ancho || plano->alto != alto ||
            plano->datos.size() != static_cast<std::size_t>(ancho) * static_cast<std::size_t>(alto)) {
            fallar("un plano leido no mide lo que dice la cabecera");
        }
    }
}

// The working image's stages, then the sheet's when four corners are found.
void recorrerEtapas(const ImagenBmp& foto) {
    const double factorReduccion = factorDeReduccion(foto);

    ImagenBmp trabajo = reducirImagen(foto, factorReduccion);
    grabar(trabajo, "imagenReducida.bmp");
    const int anchoTrabajo = trabajo.ancho();
    const int altoTrabajo = trabajo.alto();

    ListaRectas rectas{};
    {
        const Bordes bordes = detectarBordes(trabajo);
        if (const Hecho grabada = grabarPlanos(trabajo.header, bordes.mapa, bordes.mapa, bordes.mapa,
                                               carpeta / "imagenBordes.bmp");
            !grabada.ok()) {
            fallar(grabada.mensaje());
        }
        PlanoReal acumulador =
            acumuladorHough(bordes.mapa, bordes.orientacion, anchoTrabajo, altoTrabajo);
        rectas = buscarRectas(acumulador);
        grabar(imagenEspacioHough(acumulador), "imagen_Hough.bmp");
    }

    ListaEsquinas esquinas = buscarEsquinas(rectas, anchoTrabajo, altoTrabajo);
    if (esquinas.cuantas < 4) return;
    dibujarBordesHoja(esquinas.esquinas, trabajo);
    for (int i = 0; i < 4; ++i) {
        esquinas.esquinas[i].x *= factorReduccion;
        esquinas.esquinas[i].y *= factorReduccion;
    }
    grabar(trabajo, "imagenConBordesHojaCarta.bmp");
    const std::optional<ImagenBmp> hoja =
        rectificarHoja(foto, {esquinas.esquinas[0], esquinas.esquinas[1], esquinas.esquinas[2], esquinas.esquinas[3]})
            .hoja;
    if (!hoja) return;
    if (hoja->ancho() != kAnchoHoja || hoja->alto() != kAltoHoja) fallar("la hoja no mide 852 x 1103");
    grabar(*hoja, "imagenHojaCarta.bmp");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::prepararCarpeta("bmp_fuzzer", "escaner-fuzz");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* datos, std::size_t cantidad) {
    const fs::path entrada = carpeta / "imagenDocumento.bmp";
    escribirArchivo(entrada, datos, cantidad);
    const Resultado<BmpLeido> lectura = leerImagen(entrada);
    revisarLectura(lectura);
    if (!lectura) return 0;
    const ImagenBmp& foto = lectura->imagen;

    if (static_cast<std::int64_t>(foto.ancho()) * foto.alto() <= kPixelesIdaYVuelta) {
        grabar(foto, "copia.bmp");
        const Resultado<BmpLeido> copia = leerImagen(carpeta / "copia.bmp");
        if (!copia) fallar("la copia grabada no se puede leer: " + copia.mensaje());
        if (!copia->advertencia.empty()) fallar("la copia grabada esta incompleta: " + copia->advertencia);
        if (copia->imagen.header != foto.header || !mismosPlanos(copia->imagen, foto)) {
            fallar("la copia grabada no se lee igual que la imagen");
        }
    }

    if (foto.ancho() <= kLadoEtapas && foto.alto() <= kLadoEtapas) recorrerEtapas(foto);
    return 0;
}
