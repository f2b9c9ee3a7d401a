#include "app/foto.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <new>
#include <utility>

#include "deteccion/deteccion.hpp"
#include "filtros/reduccion.hpp"
#include "pagina/pagina.hpp"
#include "sistema/archivos.hpp"

namespace fs = std::filesystem;

namespace {

// The account of one photo, written as the stages go and kept in memory until the batch can print
// it whole.
struct TextoEnMemoria {
    char* datos = nullptr;
    std::size_t largo = 0;
    std::FILE* f = ::open_memstream(&datos, &largo);
    ~TextoEnMemoria() {
        if (f) std::fclose(f);
        std::free(datos);
    }
    std::string texto() {
        std::fflush(f);
        return std::string(datos, largo);
    }
};

// The corners to the nearest hundredth of a pixel.
Cuadrilatero centesimas(Cuadrilatero esquinas) {
    for (Esquina& e : esquinas) {
        e.x = std::round(e.x * 100) / 100;
        e.y = std::round(e.y * 100) / 100;
    }
    return esquinas;
}

Escaneo escanear(const Destino& d, const Opciones& o, bool paginaPdf) {
    Escaneo r;
    if (!d.esquinasMalas.empty()) {
        r.mensaje = entreComillas(d.foto) + ": " + d.esquinasMalas;
        r.esquinasRechazadas = true;
        return r;
    }
    LecturaFoto lectura = leerFoto(d.foto, static_cast<std::uint64_t>(o.maxMegapixeles) * 1000000);
    if (!lectura.imagen) {
        r.mensaje = lectura.mensaje;
        return r;
    }
    if (auto fina = fotoDemasiadoFina(*lectura.imagen, entreComillas(d.foto))) {
        r.mensaje = *fina;
        return r;
    }
    r.advertencia = lectura.advertencia;
    if (d.esquinas) {
        const ImagenBmp& foto = *lectura.imagen;
        if (const Hecho buenas = comprobarEsquinas(*d.esquinas, foto.ancho(), foto.alto()); !buenas) {
            r.mensaje = entreComillas(d.foto) + ": las esquinas dadas no sirven: " + buenas.mensaje();
            r.esquinasRechazadas = true;
            return r;
        }
    }
    CarpetaEtapas carpeta;
    std::optional<fs::path> etapas;  // where the stage images are written
    if (d.etapas) {
        carpeta = abrirCarpetaEtapas(*d.etapas);
        if (!carpeta.error.empty()) {
            r.mensaje = carpeta.error;
            return r;
        }
        etapas = carpeta.ruta;
    }
    // A failure to write a stage image names the folder as the user named it.
    const auto nombrada = [&](std::string mensaje) {
        const std::string abierta = carpeta.ruta.string(), dada = d.etapas ? d.etapas->string() : "";
        if (!etapas || abierta == dada) return mensaje;
        for (std::size_t i = 0; (i = mensaje.find(abierta, i)) != std::string::npos; i += dada.size())
            mensaje.replace(i, abierta.size(), dada);
        return mensaje;
    };

    // The sheet's corners: given, or from the fixed-threshold stages (whose account and stage images
    // are also wanted with --cuenta and --etapas, whichever detector is used), or from the robust
    // detector, whose corners the outline image then shows.
    TextoEnMemoria cuenta;
    const ImagenBmp& foto = *lectura.imagen;
    ResultadoRecorrido recorrido;
    if (d.esquinas) {
        // Corners given: no detector runs, so the stage images of its work (edges, Hough space)
        // do not exist; the working image and the outline of the given corners are written.
        recorrido.hallazgo = Hallazgo::hoja;
        recorrido.esquinas = desdePantalla(*d.esquinas, foto.alto());
        std::fprintf(cuenta.f, "\n\nEsquinas de la hoja dadas (pixeles de la foto como se ve, y hacia abajo):");
        for (const Esquina& e : *d.esquinas) std::fprintf(cuenta.f, "\n(%g,%g)", e.x, e.y);
        if (etapas) {
            ImagenBmp trabajo = reducirImagen(foto, factorDeReduccion(foto));
            auto error = grabarImagen(trabajo, *etapas / kImagenesEtapas[0]);
            if (!error) error = grabarContorno(std::move(trabajo), foto, recorrido.esquinas, *etapas / kImagenesEtapas[3]);
            if (error) {
                r.mensaje = nombrada(*error);
                return r;
            }
        }
    } else if (o.detector == Detector::espec || o.cuenta || etapas) {
        recorrido = buscarHojaPorEtapas(foto, cuenta.f, etapas, Orientaciones::deBordes,
                                        o.detector == Detector::espec);
        if (recorrido.hallazgo == Hallazgo::error) {
            r.mensaje = nombrada(recorrido.error);
            return r;
        }
    }
    if (!d.esquinas && o.detector == Detector::robusto) {
        const HojaDetectada h = detectarHojaRobusta(foto);
        recorrido.hallazgo = h.encontrada ? Hallazgo::hoja : Hallazgo::sinHoja;
        recorrido.esquinas = h.esquinas;
        if (h.encontrada && recorrido.trabajo) {
            auto error = grabarContorno(std::move(*recorrido.trabajo), foto, h.esquinas, *etapas / kImagenesEtapas[3]);
            if (error) {
                r.mensaje = nombrada(*error);
                return r;
            }
        }
        if (h.encontrada) {
            std::fprintf(cuenta.f, "\n\nEsquinas de la hoja segun el detector robusto (pixeles de la foto):");
            for (const Esquina& e : h.esquinas) std::fprintf(cuenta.f, "\n(%g,%g)", e.x, e.y);
        } else {
            std::fprintf(cuenta.f, "\n\nEl detector robusto no encontro la hoja: %s", h.motivo.c_str());
        }
    }
    if (recorrido.hallazgo == Hallazgo::sinHoja) {
        if (o.cuenta) r.cuenta = cuenta.texto();
        r.hallazgo = Hallazgo::sinHoja;
        r.mensaje = entreComillas(d.foto) + ": no se encontraron las cuatro esquinas de la hoja";
        return r;
    }
    // The page is made from the corners as the JSON line prints them, taken back to the stored
    // rows: the given ones as they are, or the detector's in their display order and to the
    // hundredth of a pixel (a hundredth is printed exactly, and reads back as the same number,
    // where a detector's full precision would not survive the turn between the two frames). Fed
    // those corners, a later run makes the very same page.
    const int alto = foto.alto();
    const Cuadrilatero enPantalla =
        d.esquinas ? *d.esquinas : centesimas(aPantalla(ordenarCuadrilatero(recorrido.esquinas, alto), alto));
    // Corners found that could not be given back (crossed, not convex, far outside: the fixed
    // thresholds can give such) make no page: no sheet was found.
    if (const Hecho buenas = comprobarEsquinas(enPantalla, foto.ancho(), alto); !d.esquinas && !buenas) {
        std::fprintf(cuenta.f, "\n\nLas esquinas halladas no forman una hoja: %s", buenas.mensaje().c_str());
        if (o.cuenta) r.cuenta = cuenta.texto();
        r.hallazgo = Hallazgo::sinHoja;
        r.mensaje = entreComillas(d.foto) + ": las esquinas halladas no forman una hoja: " + buenas.mensaje();
        return r;
    }
    r.esquinas = enPantalla;
    recorrido.esquinas = desdePantalla(enPantalla, alto);

    // The page: the letter-size bilinear map of the run without arguments (an upright letter
    // page, with its account), or the sheet's own shape, size and orientation.
    double anchoPulgadas = 8.5, altoPulgadas = 11.0;
    OpcionesPagina opciones = o.pagina;
    opciones.focal35mm = lectura.focal35mm;
    const std::optional<FormaPagina> forma = formaDePagina(foto.ancho(), foto.alto(), recorrido.esquinas, opciones);
    if (!forma) {
        r.mensaje = entreComillas(d.foto) + ": no se pudo calcular la transformacion de la hoja";
        return r;
    }
    // A PNG page, kept as it is made, is made as its encoder reads it: the page in parts at once,
    // each compressed by the thread that made it.
    ArchivoCodificado archivo;
    UsoDeImagen usar;
    if (!paginaPdf && d.formato == FormatoSalida::png && o.mejora == Mejora::ninguna) {
        usar = [&](const ImagenBmp& hoja, const HacerFilas& hacer) { archivo = codificarPng(hoja, hacer); };
    }
    const bool codificada = static_cast<bool>(usar);
    std::optional<PaginaEnderezada> pagina = enderezarPagina(foto, recorrido.esquinas, opciones.mapa, *forma, usar);
    if (!pagina) {
        r.mensaje = entreComillas(d.foto) + ": no se pudo calcular la transformacion de la hoja";
        return r;
    }
    // The letter page of the run without arguments comes with its account.
    if (pagina->carta) contarRectificacion(*pagina->carta, cuenta.f);
    anchoPulgadas = pagina->anchoPulgadas;
    altoPulgadas = pagina->altoPulgadas;
    recorrido.hoja = std::move(pagina->imagen);
    if (etapas) {
        if (auto error = grabarImagen(*recorrido.hoja, *etapas / kImagenesEtapas[4])) {
            r.mensaje = nombrada(*error);
            return r;
        }
    }
    if (pagina->carta) contarHojaCarta(cuenta.f, etapas.has_value());
    lectura.imagen.reset();
    if (o.cuenta) r.cuenta = cuenta.texto();
    ImagenBmp& hoja = *recorrido.hoja;
    if (!codificada) {
        mejorarPagina(hoja, o.mejora);
        // A PDF page is the sheet as JPEG; the document is made once every photo is done.
        switch (paginaPdf ? FormatoSalida::jpeg : d.formato) {
            case FormatoSalida::png: archivo = codificarPng(hoja); break;
            case FormatoSalida::bmp: archivo = codificarBmp(hoja); break;
            case FormatoSalida::jpeg:
            case FormatoSalida::pdf: archivo = codificarJpeg(hoja, o.calidad); break;
        }
    }
    if (!archivo.valido()) {
        r.mensaje = entreComillas(d.foto) + ": " + archivo.mensaje;
        return r;
    }
    if (paginaPdf) {
        r.pagina = PaginaPdf{std::move(archivo.bytes), anchoPulgadas, altoPulgadas, {}};
    } else if (auto error = grabarArchivo(d.resultado, archivo.bytes)) {
        r.mensaje = *error;
        return r;
    }
    r.hallazgo = Hallazgo::hoja;
    return r;
}

}  // namespace

Escaneo escanearFoto(const Destino& d, const Opciones& o, bool paginaPdf) {
    try {
        return escanear(d, o, paginaPdf);
    } catch (const std::bad_alloc&) {
        Escaneo r;
        r.mensaje = entreComillas(d.foto) + " no cabe en la memoria libre";
        return r;
    } catch (const std::exception& e) {
        Escaneo r;
        r.mensaje = entreComillas(d.foto) + ": fallo inesperado: " + e.what();
        return r;
    }
}
