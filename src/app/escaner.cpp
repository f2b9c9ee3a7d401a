#include "app/escaner.hpp"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "filtros/bordes.hpp"
#include "filtros/reduccion.hpp"
#include "geometria/contorno.hpp"
#include "geometria/esquinas.hpp"
#include "hough/acumulador.hpp"
#include "hough/imagen_hough.hpp"
#include "hough/rectas.hpp"
#include "imagen/imagen_bmp.hpp"
#include "rectificacion/hoja.hpp"
#include "sistema/archivos.hpp"

namespace {

// "Escaneo de documentos, ver. 1.0", kept backwards with every character code raised by one.
constexpr char kLineaInicio[] = "1/2!/sfw!-tpuofnvdpe!fe!pfobdtF";
constexpr int kLargoLineaInicio = 31;
static_assert(sizeof(kLineaInicio) == kLargoLineaInicio + 1);

constexpr double kDiagonalTrabajo = 720.0;

void imprimirInicio(std::FILE* salida) {
    std::fprintf(salida, "\nPROGRAMA PARA ESCANEAR UN DOCUMENTO A PARTIR DE UNA FOTO CON LA HOJA CARTA");
    std::fprintf(salida, "\nLA DETECCION DE LA HOJA ES INTELGENTE, ");
    std::fprintf(salida, "\nNO ES NECESARIO MARCAR LAS ESQUINAS DE LA MISMA");
    std::fprintf(salida, "\n\n");
    for (int i = kLargoLineaInicio - 1; i >= 0; --i) std::fprintf(salida, "%c", kLineaInicio[i] - 1);
}

void imprimirRectas(const ListaRectas& rectas, std::FILE* salida) {
    std::fprintf(salida,
                 "\nRectas (distancia,orientaci\xF3n) encontradas, usando la Transformada de Hough:");
    for (const Recta& recta : rectas) {
        if (finDeLista(recta)) break;
        std::fprintf(salida, "\n{%g,%g},", recta.distancia, recta.orientacion);
    }
}

const char* const kSalidas[] = {"imagenReducida.bmp", "imagenBordes.bmp", "imagen_Hough.bmp",
                                "imagenConBordesHojaCarta.bmp", "imagenHojaCarta.bmp"};

// Whether both streams show on the same terminal, where a message must not run on from the
// account's last line.
bool mismaTerminal(std::FILE* salida, std::FILE* errores) {
    const int a = fileno(salida);
    const int b = fileno(errores);
    if (a < 0 || b < 0 || !isatty(a) || !isatty(b)) return false;
    struct stat da {}, db {};
    return fstat(a, &da) == 0 && fstat(b, &db) == 0 && da.st_rdev == db.st_rdev;
}

// Everything a run needs to report a failure in one place.
struct Informe {
    std::FILE* salida;
    std::FILE* errores;
    bool mismaTerminal;

    // One line on the error stream, after what the account has printed so far.
    void linea(const char* tipo, const std::string& mensaje) const {
        std::fflush(salida);
        std::fprintf(errores, "%sescaner: %s%s\n", mismaTerminal ? "\n" : "", tipo, mensaje.c_str());
        std::fflush(errores);
    }
    int fallo(const std::string& mensaje) const {
        linea("", mensaje);
        return kSalidaFallo;
    }
    // The account is part of the job: output that could not be written is a failure.
    std::optional<std::string> cuentaPerdida() const {
        if (std::fflush(salida) == 0 && !std::ferror(salida)) return std::nullopt;
        const int numero = errno;
        return std::string("no se pudo escribir la cuenta en la salida estandar: ") + std::strerror(numero);
    }
};

}  // namespace

int ejecutarEscaner(const std::filesystem::path& carpeta, std::FILE* salida, std::FILE* errores,
                    const std::function<void()>& esperarTecla) {
    const Informe informe{salida, errores, mismaTerminal(salida, errores)};
    imprimirInicio(salida);

    LecturaBmp lectura = leerImagen(carpeta / "imagenDocumento.bmp");
    if (lectura.fallo == FalloLectura::headerCorto) {
        std::fprintf(salida, "\n Error: No se pudo leer el header");
        return informe.fallo(lectura.mensaje);
    }
    if (!lectura.imagen) return informe.fallo(lectura.mensaje);
    // The photograph is kept only until the sheet has been resampled from it.
    std::optional<ImagenBmp> fotografia = std::move(lectura.imagen);
    const ImagenBmp& foto = *fotografia;

    const double ancho = foto.ancho();
    const double alto = foto.alto();
    const double factorReduccion = std::sqrt(ancho * ancho + alto * alto) / kDiagonalTrabajo;
    // A very thin photo would give a working image without rows or columns.
    const TamanoReducido reducido = tamanoReducido(foto.ancho(), foto.alto(), factorReduccion);
    if (reducido.ancho < kLadoMinimo || reducido.alto < kLadoMinimo) {
        return informe.fallo(entreComillas(carpeta / "imagenDocumento.bmp") + " mide " + std::to_string(foto.ancho()) + " x " +
                             std::to_string(foto.alto()) + " pixeles: reducida quedaria de " +
                             std::to_string(reducido.ancho) + " x " + std::to_string(reducido.alto) +
                             "; cada lado debe quedar de al menos " + std::to_string(kLadoMinimo));
    }
    if (!lectura.advertencia.empty()) informe.linea("advertencia: ", lectura.advertencia);
    // From here on this run's results replace the last run's: an output this run does not write
    // must not be left standing beside the new ones.
    for (const char* nombre : kSalidas) ::unlink((carpeta / nombre).c_str());

    std::fprintf(salida, "\n  ");
    std::fprintf(salida, "\nLa imagen ha sido cargada ");
    std::fprintf(salida, "\n Ancho:%d Alto:%d  pixeles:%d", foto.ancho(), foto.alto(),
                 leerCampo32(foto.header, bmp::kTamanoImagen));

    std::fprintf(salida, "\n Factor de reducciOn de imagen para operarla: %f ", factorReduccion);

    ImagenBmp trabajo = reducirImagen(foto, factorReduccion);
    if (auto error = grabarImagen(trabajo, carpeta / "imagenReducida.bmp")) return informe.fallo(*error);

    const int anchoTrabajo = trabajo.ancho();
    const int altoTrabajo = trabajo.alto();
    // The edge maps and the accumulator serve only to find the lines; they go at the end of this
    // block, before the photograph is resampled.
    ListaRectas rectas{};
    {
        std::fprintf(salida, "\n\nSe extraen los bordes de la imagen con un detector tipo Sobel");
        const Bordes bordes = detectarBordes(trabajo);
        // The edge map stands as all three planes, under the working image's header.
        if (auto error = grabarPlanos(trabajo.header, bordes.mapa, bordes.mapa, bordes.mapa,
                                      carpeta / "imagenBordes.bmp")) {
            return informe.fallo(*error);
        }
        std::fprintf(salida, "\nSe ha grabado la imagen de bordes en \"imagenBordes.bmp\" ");

        std::fprintf(salida, "\n\nSe crea el Acumulador de Rectas en espacio Hough");
        PlanoReal acumulador =
            acumuladorHough(bordes.mapa, bordes.orientacion, anchoTrabajo, altoTrabajo);
        rectas = buscarRectas(acumulador);
        imprimirRectas(rectas, salida);
        {
            const ImagenBmp imagenHough = imagenEspacioHough(acumulador);
            if (auto error = grabarImagen(imagenHough, carpeta / "imagen_Hough.bmp")) {
                return informe.fallo(*error);
            }
        }
        std::fprintf(salida,
                     "\nSe ha guardado la imagen en el espacio Hough, \"imagen_Hough.bmp\" ");
    }

    ListaEsquinas esquinas = buscarEsquinas(rectas, anchoTrabajo, altoTrabajo);
    const bool hojaEncontrada = esquinas.cuantas >= 4;
    if (!hojaEncontrada) {
        std::fprintf(salida, "\n No se encontraron las cuatro esquinas de la hoja");
    } else {
        dibujarBordesHoja(esquinas.esquinas, trabajo, salida);
        // From pixels of the working image to pixels of the photograph.
        for (int i = 0; i < 4; ++i) {
            esquinas.esquinas[i].x *= factorReduccion;
            esquinas.esquinas[i].y *= factorReduccion;
        }
        if (auto error = grabarImagen(trabajo, carpeta / "imagenConBordesHojaCarta.bmp")) {
            return informe.fallo(*error);
        }
        const std::optional<ImagenBmp> hoja = rectificarHoja(foto, esquinas.esquinas, salida);
        fotografia.reset();  // `foto` is not used past this point
        if (!hoja) return informe.fallo("no se pudo calcular la transformacion de la hoja");
        if (auto error = grabarImagen(*hoja, carpeta / "imagenHojaCarta.bmp")) return informe.fallo(*error);
        std::fprintf(salida,
                     "\n\nSe ha rectificado la hoja carta con la transformaciOn. \nSe ha grabado la "
                     "imagen \"imagenHojaCarta.bmp\" ");
    }

    std::fprintf(salida, "\n\nApriete una tecla para concluir");
    if (auto error = informe.cuentaPerdida()) return informe.fallo(*error);
    esperarTecla();
    return hojaEncontrada ? kSalidaExito : kSalidaFallo;
}
