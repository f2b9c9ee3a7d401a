#include "app/escaner.hpp"

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "app/recorrido.hpp"
#include "imagen/imagen_bmp.hpp"
#include "sistema/archivos.hpp"

namespace {

// "Escaneo de documentos, ver. 1.0", kept backwards with every character code raised by one.
constexpr char kLineaInicio[] = "1/2!/sfw!-tpuofnvdpe!fe!pfobdtF";
constexpr int kLargoLineaInicio = 31;
static_assert(sizeof(kLineaInicio) == kLargoLineaInicio + 1);

void imprimirInicio(std::FILE* salida) {
    std::fprintf(salida, "\nPROGRAMA PARA ESCANEAR UN DOCUMENTO A PARTIR DE UNA FOTO CON LA HOJA CARTA");
    std::fprintf(salida, "\nLA DETECCION DE LA HOJA ES INTELGENTE, ");
    std::fprintf(salida, "\nNO ES NECESARIO MARCAR LAS ESQUINAS DE LA MISMA");
    std::fprintf(salida, "\n\n");
    for (int i = kLargoLineaInicio - 1; i >= 0; --i) std::fprintf(salida, "%c", kLineaInicio[i] - 1);
}

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
    Hecho cuentaEntera() const {
        if (std::fflush(salida) == 0 && !std::ferror(salida)) return {};
        const int numero = errno;
        return Fallo{std::string("no se pudo escribir la cuenta en la salida estandar: ") + std::strerror(numero)};
    }
};

}  // namespace

int ejecutarEscaner(const std::filesystem::path& carpeta, std::FILE* salida, std::FILE* errores,
                    const std::function<void()>& esperarTecla) {
    const Informe informe{salida, errores, mismaTerminal(salida, errores)};
    imprimirInicio(salida);

    const std::filesystem::path archivo = carpeta / "imagenDocumento.bmp";
    Resultado<BmpLeido> lectura = leerImagen(archivo);
    if (!lectura) {
        if (lectura.fallo().causa == static_cast<int>(FalloLectura::headerCorto))
            std::fprintf(salida, "\n Error: No se pudo leer el header");
        return informe.fallo(lectura.mensaje());
    }
    if (Hecho grosor = revisarGrosor(lectura->imagen, entreComillas(archivo)); !grosor.ok())
        return informe.fallo(grosor.mensaje());
    if (!lectura->advertencia.empty()) informe.linea("advertencia: ", lectura->advertencia);
    // From here on this run's results replace the last run's: an output this run does not write
    // must not be left standing beside the new ones.
    borrarImagenesEtapas(carpeta);

    const ResultadoRecorrido r = recorrerEtapas(std::move(lectura->imagen), salida, carpeta);
    if (r.hallazgo == Hallazgo::error) return informe.fallo(r.fallo.mensaje);

    std::fprintf(salida, "\n\nApriete una tecla para concluir");
    if (const Hecho cuenta = informe.cuentaEntera(); !cuenta.ok()) return informe.fallo(cuenta.mensaje());
    esperarTecla();
    return r.hallazgo == Hallazgo::hoja ? kSalidaExito : kSalidaFallo;
}
