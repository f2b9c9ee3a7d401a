#include "app/recorrido.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include <cerrno>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "filtros/bordes.hpp"
#include "filtros/reduccion.hpp"
#include "geometria/contorno.hpp"
#include "hough/acumulador.hpp"
#include "hough/imagen_hough.hpp"
#include "hough/rectas.hpp"
#include "rectificacion/hoja.hpp"

namespace {

void imprimirRectas(const ListaRectas& rectas, std::FILE* salida) {
    std::fprintf(salida,
                 "\nRectas (distancia,orientaci\xF3n) encontradas, usando la Transformada de Hough:");
    for (const Recta& recta : rectas) {
        if (finDeLista(recta)) break;
        std::fprintf(salida, "\n{%g,%g},", recta.distancia, recta.orientacion);
    }
}

void imprimirEsquinas(const std::array<Esquina, 4>& esquinas, std::FILE* salida) {
    std::fprintf(salida, "\nSaquemos las intersecciones de las rectas para obtener las esquinas: ");
    for (const Esquina& e : esquinas) std::fprintf(salida, "\n(%g,%g)", e.x, e.y);
}

}  // namespace

void contarRectificacion(const HojaRectificada& h, std::FILE* salida) {
    std::fprintf(salida,
                 "\n\nSe necesita llevar a cabo una transformaciOn perspectiva inversa para  \n"
                 "llevar las 4 esquinas de la hoja carta a las esquinas de la imagen.");
    std::fprintf(salida, "\nSe hace resolviendo el siguiente sistema de ecuaciones lineales:");
    for (const auto& fila : h.sistema) {
        std::fprintf(salida, "\n");
        for (int col = 0; col < 8; ++col) std::fprintf(salida, "%g  ", fila[col]);
        std::fprintf(salida, " = ");
        std::fprintf(salida, "%g  ", fila[8]);
    }
    if (!h.solucion) {
        std::fprintf(salida, "\n El sistema no se puede solucionar \n");
        return;
    }
    std::fprintf(salida, "\nSoluciOn al sistema de ecuaciones: \n");
    for (double v : *h.solucion) std::fprintf(salida, " %g", v);
}

void contarHojaCarta(std::FILE* cuenta, bool grabada) {
    std::fprintf(cuenta, "\n\nSe ha rectificado la hoja carta con la transformaciOn. ");
    if (grabada) std::fprintf(cuenta, "\nSe ha grabado la imagen \"imagenHojaCarta.bmp\" ");
}

void borrarImagenesEtapas(const std::filesystem::path& carpeta) {
    for (const char* nombre : kImagenesEtapas) ::unlink((carpeta / nombre).c_str());
}

Resultado<CarpetaEtapas> abrirCarpetaEtapas(const std::filesystem::path& carpeta) {
    CarpetaEtapas c;
    const auto fallo = [&](const std::string& por) {
        return Fallo{"no se puede usar la carpeta " + entreComillas(carpeta) + ": " + por};
    };
    std::error_code ec;
    if (carpeta.has_parent_path()) std::filesystem::create_directories(carpeta.parent_path(), ec);
    if (ec) return fallo(ec.message());
    if (::mkdir(carpeta.c_str(), 0777) != 0 && errno != EEXIST) return fallo(std::strerror(errno));
    c.fd = Descriptor(::open(carpeta.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (c.fd.valor < 0) {
        const int error = errno;
        struct stat st {};
        if (error == ELOOP || (::lstat(carpeta.c_str(), &st) == 0 && S_ISLNK(st.st_mode)))
            return fallo("es un enlace simbolico; las imagenes de las etapas no se escriben a traves de el");
        return fallo(error == ENOTDIR ? "no es una carpeta" : std::strerror(error));
    }
    for (const char* nombre : kImagenesEtapas) ::unlinkat(c.fd.valor, nombre, 0);
    // The descriptor's name in /proc stands for the folder opened, not for whatever its own name
    // comes to stand for.
    const std::filesystem::path propia = "/proc/self/fd/" + std::to_string(c.fd.valor);
    struct stat abierta {}, porNombre {};
    const bool mismo = ::fstat(c.fd.valor, &abierta) == 0 && ::stat(propia.c_str(), &porNombre) == 0 &&
                       abierta.st_dev == porNombre.st_dev && abierta.st_ino == porNombre.st_ino;
    c.ruta = mismo ? propia : carpeta;
    return c;
}

Hecho revisarGrosor(const ImagenBmp& foto, const std::string& nombre) {
    const TamanoReducido reducido = tamanoReducido(foto.ancho(), foto.alto(), factorDeReduccion(foto));
    if (reducido.ancho >= kLadoMinimo && reducido.alto >= kLadoMinimo) return {};
    return Fallo{nombre + " mide " + std::to_string(foto.ancho()) + " x " + std::to_string(foto.alto()) +
                 " pixeles: reducida quedaria de " + std::to_string(reducido.ancho) + " x " +
                 std::to_string(reducido.alto) + "; cada lado debe quedar de al menos " +
                 std::to_string(kLadoMinimo)};
}

namespace {

// Writes a stage image into the stage folder, when there is one; a failure is kept in `r`.
template <class Escribir>
bool grabarEtapa(const std::optional<std::filesystem::path>& carpeta, const char* nombre,
                 ResultadoRecorrido& r, const Escribir& escribir) {
    if (!carpeta) return true;
    Hecho escrito = escribir(*carpeta / nombre);
    if (escrito.ok()) return true;
    r.hallazgo = Hallazgo::error;
    r.fallo = escrito.fallo();
    return false;
}

bool grabarImagenEtapa(const std::optional<std::filesystem::path>& carpeta, const char* nombre,
                       ResultadoRecorrido& r, const ImagenBmp& imagen) {
    return grabarEtapa(carpeta, nombre, r,
                       [&](const std::filesystem::path& archivo) { return grabarImagen(imagen, archivo); });
}

}  // namespace

ResultadoRecorrido buscarHojaPorEtapas(const ImagenBmp& foto, std::FILE* cuenta,
                                       const std::optional<std::filesystem::path>& carpetaEtapas,
                                       Orientaciones cuales, bool contornoPropio) {
    ResultadoRecorrido r;
    std::fprintf(cuenta, "\n  ");
    std::fprintf(cuenta, "\nLa imagen ha sido cargada ");
    std::fprintf(cuenta, "\n Ancho:%d Alto:%d  pixeles:%d", foto.ancho(), foto.alto(),
                 leerCampo32(foto.header, bmp::kTamanoImagen));
    const double factorReduccion = factorDeReduccion(foto);
    std::fprintf(cuenta, "\n Factor de reducciOn de imagen para operarla: %f ", factorReduccion);

    ImagenBmp trabajo = reducirImagen(foto, factorReduccion);
    if (!grabarImagenEtapa(carpetaEtapas, kImagenesEtapas[0], r, trabajo)) return r;

    const int anchoTrabajo = trabajo.ancho();
    const int altoTrabajo = trabajo.alto();
    // The edge maps and the accumulator serve only to find the lines; they go at the end of this
    // block, before the photograph is resampled.
    ListaRectas rectas{};
    {
        std::fprintf(cuenta, "\n\nSe extraen los bordes de la imagen con un detector tipo Sobel");
        const Bordes bordes = detectarBordes(trabajo, cuales);
        // The edge map stands as all three planes, under the working image's header.
        if (!grabarEtapa(carpetaEtapas, kImagenesEtapas[1], r, [&](const std::filesystem::path& archivo) {
                return grabarPlanos(trabajo.header, bordes.mapa, bordes.mapa, bordes.mapa, archivo);
            })) {
            return r;
        }
        if (carpetaEtapas) std::fprintf(cuenta, "\nSe ha grabado la imagen de bordes en \"imagenBordes.bmp\" ");

        std::fprintf(cuenta, "\n\nSe crea el Acumulador de Rectas en espacio Hough");
        PlanoReal acumulador = acumuladorHough(bordes.mapa, bordes.orientacion, anchoTrabajo, altoTrabajo);
        rectas = buscarRectas(acumulador);
        imprimirRectas(rectas, cuenta);
        if (carpetaEtapas) {
            if (!grabarImagenEtapa(carpetaEtapas, kImagenesEtapas[2], r, imagenEspacioHough(acumulador))) return r;
            std::fprintf(cuenta, "\nSe ha guardado la imagen en el espacio Hough, \"imagen_Hough.bmp\" ");
        }
    }

    if (!contornoPropio && carpetaEtapas) r.trabajo = trabajo;
    ListaEsquinas esquinas = buscarEsquinas(rectas, anchoTrabajo, altoTrabajo);
    if (esquinas.cuantas < 4) {
        std::fprintf(cuenta, "\n No se encontraron las cuatro esquinas de la hoja");
        r.hallazgo = Hallazgo::sinHoja;
        return r;
    }
    imprimirEsquinas(dibujarBordesHoja(esquinas.esquinas, trabajo), cuenta);
    // From pixels of the working image to pixels of the photograph.
    for (int i = 0; i < 4; ++i) {
        esquinas.esquinas[i].x *= factorReduccion;
        esquinas.esquinas[i].y *= factorReduccion;
        r.esquinas[i] = esquinas.esquinas[i];
    }
    if (contornoPropio && !grabarImagenEtapa(carpetaEtapas, kImagenesEtapas[3], r, trabajo)) return r;
    r.hallazgo = Hallazgo::hoja;
    return r;
}

Hecho grabarContorno(ImagenBmp trabajo, const ImagenBmp& foto, const std::array<Esquina, 4>& esquinas,
                     const std::filesystem::path& archivo) {
    const double factor = factorDeReduccion(foto);
    const double xmax = trabajo.ancho() - 1, ymax = trabajo.alto() - 1;
    for (int k = 0; k < 4; ++k) {
        const Esquina& a = esquinas[k];
        const Esquina& b = esquinas[(k + 1) % 4];
        // The side in the working image's pixels, clipped to it (Liang-Barsky).
        const double x0 = a.x / factor, y0 = a.y / factor, dx = b.x / factor - x0, dy = b.y / factor - y0;
        double desde = 0.0, hasta = 1.0;
        const double p[4] = {-dx, dx, -dy, dy}, q[4] = {x0, xmax - x0, y0, ymax - y0};
        bool fuera = !std::isfinite(x0 + y0 + dx + dy);
        for (int i = 0; i < 4 && !fuera; ++i) {
            if (p[i] == 0.0) {
                fuera = q[i] < 0.0;
            } else if (p[i] < 0.0) {
                desde = std::max(desde, q[i] / p[i]);
            } else {
                hasta = std::min(hasta, q[i] / p[i]);
            }
        }
        if (fuera || desde > hasta) continue;
        // Rounded as the stages round their corners, and kept inside.
        const auto columna = [&](double t) { return static_cast<int>(std::clamp(x0 + t * dx, 0.0, xmax) + 0.5); };
        const auto fila = [&](double t) { return static_cast<int>(std::clamp(y0 + t * dy, 0.0, ymax) + 0.5); };
        trazarSegmento(trabajo, columna(desde), fila(desde), columna(hasta), fila(hasta));
    }
    return grabarImagen(trabajo, archivo);
}

namespace {

// The second half: the sheet through the bilinear map, its image last.
void rectificarPorEtapas(const ImagenBmp& foto, ResultadoRecorrido& r, std::FILE* cuenta,
                         const std::optional<std::filesystem::path>& carpetaEtapas) {
    HojaRectificada rectificada = rectificarHoja(foto, r.esquinas);
    contarRectificacion(rectificada, cuenta);
    r.hoja = std::move(rectificada.hoja);
    if (!r.hoja) {
        r.hallazgo = Hallazgo::error;
        r.fallo = Fallo{"no se pudo calcular la transformacion de la hoja"};
        return;
    }
    if (!grabarImagenEtapa(carpetaEtapas, kImagenesEtapas[4], r, *r.hoja)) return;
    contarHojaCarta(cuenta, carpetaEtapas.has_value());
}

}  // namespace

ResultadoRecorrido recorrerEtapas(ImagenBmp foto, std::FILE* cuenta,
                                  const std::optional<std::filesystem::path>& carpetaEtapas) {
    ResultadoRecorrido r = buscarHojaPorEtapas(foto, cuenta, carpetaEtapas);
    if (r.hallazgo == Hallazgo::hoja) rectificarPorEtapas(foto, r, cuenta, carpetaEtapas);
    return r;
}
