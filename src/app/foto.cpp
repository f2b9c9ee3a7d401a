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
#include "formatos/pdf.hpp"
#include "imagen/giro.hpp"
#include "ocr/ocr.hpp"
#include "pagina/pagina.hpp"
#include "sistema/archivos.hpp"
#include "sistema/comprobar.hpp"

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

// The text engine of this thread, made the first time a photo here needs it and kept for the
// photos after it: loading the languages takes longer than reading a page.
Resultado<MotorOcr*> motorDelHilo(const Opciones& o) {
    thread_local std::optional<MotorOcr> motor;
    if (!motor || motor->idiomas() != o.ocr || motor->orienta() != o.orientar) {
        motor.reset();
        Resultado<MotorOcr> nuevo = MotorOcr::crear(o.ocr, o.orientar);
        if (!nuevo) return nuevo.fallo();
        motor.emplace(std::move(*nuevo));
    }
    return &*motor;
}

// A word's box on the page, in inches from its top-left corner, from its pixels at `ppp`.
PalabraPdf enPulgadas(const PalabraLeida& p, double ppp) {
    return PalabraPdf{p.texto, p.x / ppp, p.y / ppp, p.ancho / ppp, p.alto / ppp};
}

Escaneo escanear(const Destino& d, const Opciones& o, bool paginaPdf) {
    Escaneo r;
    if (!d.esquinasMalas.empty()) {
        r.mensaje = entreComillas(d.foto) + ": " + d.esquinasMalas;
        r.esquinasRechazadas = true;
        return r;
    }
    LecturaFoto lectura = leerFoto(d.foto, static_cast<std::uint64_t>(o.maxMegapixeles) * 1000000);
    if (!lectura) {
        r.mensaje = lectura.mensaje();
        return r;
    }
    if (Hecho grosor = revisarGrosor(lectura->imagen, entreComillas(d.foto)); !grosor.ok()) {
        r.mensaje = grosor.mensaje();
        return r;
    }
    r.advertencia = lectura->advertencia;
    if (d.esquinas) {
        const ImagenBmp& foto = lectura->imagen;
        if (const Hecho buenas = comprobarEsquinas(*d.esquinas, foto.ancho(), foto.alto()); !buenas.ok()) {
            r.mensaje = entreComillas(d.foto) + ": las esquinas dadas no sirven: " + buenas.mensaje();
            r.esquinasRechazadas = true;
            return r;
        }
    }
    CarpetaEtapas carpeta;
    std::optional<fs::path> etapas;  // where the stage images are written
    if (d.etapas) {
        Resultado<CarpetaEtapas> abierta = abrirCarpetaEtapas(*d.etapas);
        if (!abierta) {
            r.mensaje = abierta.mensaje();
            return r;
        }
        carpeta = std::move(*abierta);
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
    std::optional<ImagenBmp> leida = std::move(lectura->imagen);
    const ImagenBmp& foto = *leida;
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
            Hecho grabada = grabarImagen(trabajo, *etapas / kImagenesEtapas[0]);
            if (grabada.ok())
                grabada = grabarContorno(std::move(trabajo), foto, recorrido.esquinas, *etapas / kImagenesEtapas[3]);
            if (!grabada.ok()) {
                r.mensaje = nombrada(grabada.mensaje());
                return r;
            }
        }
    } else if (o.detector == Detector::espec || o.cuenta || etapas) {
        recorrido = buscarHojaPorEtapas(foto, cuenta.f, etapas, Orientaciones::deBordes,
                                        o.detector == Detector::espec);
        if (recorrido.hallazgo == Hallazgo::error) {
            r.mensaje = nombrada(recorrido.fallo.mensaje);
            return r;
        }
    }
    if (!d.esquinas && o.detector == Detector::robusto) {
        const HojaDetectada h = detectarHojaRobusta(foto);
        recorrido.hallazgo = h.encontrada ? Hallazgo::hoja : Hallazgo::sinHoja;
        recorrido.esquinas = h.esquinas;
        if (h.encontrada && recorrido.trabajo) {
            Hecho grabado = grabarContorno(std::move(*recorrido.trabajo), foto, h.esquinas, *etapas / kImagenesEtapas[3]);
            if (!grabado.ok()) {
                r.mensaje = nombrada(grabado.mensaje());
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
    // rows: the given ones as they are, or the detector's as they are shown (comoSeMuestran).
    // Corners found that could not be given back (crossed, not convex, far outside: the fixed
    // thresholds can give such) make no page: no sheet was found.
    const int alto = foto.alto();
    Cuadrilatero enPantalla;
    if (d.esquinas) {
        enPantalla = *d.esquinas;
    } else {
        const Resultado<Cuadrilatero> mostradas = comoSeMuestranSiSirven(recorrido.esquinas, foto.ancho(), alto);
        if (!mostradas) {
            std::fprintf(cuenta.f, "\n\nLas esquinas halladas no forman una hoja: %s", mostradas.mensaje().c_str());
            if (o.cuenta) r.cuenta = cuenta.texto();
            r.hallazgo = Hallazgo::sinHoja;
            r.mensaje = entreComillas(d.foto) + ": las esquinas halladas no forman una hoja: " + mostradas.mensaje();
            return r;
        }
        enPantalla = *mostradas;
    }
    r.esquinas = enPantalla;
    recorrido.esquinas = desdePantalla(enPantalla, alto);

    // The page: the letter-size bilinear map of the run without arguments (an upright letter
    // page, with its account), or the sheet's own shape, size and orientation.
    double anchoPulgadas = 8.5, altoPulgadas = 11.0;
    OpcionesPagina opciones = o.pagina;
    opciones.focal35mm = lectura->focal35mm;
    const std::optional<FormaPagina> forma = formaDePagina(foto.ancho(), foto.alto(), recorrido.esquinas, opciones);
    if (!forma) {
        r.mensaje = entreComillas(d.foto) + ": no se pudo calcular la transformacion de la hoja";
        return r;
    }
    // The turn that makes the text upright, and the text, found on the sheet resampled from the
    // photo at the engine's scale in gray (the page itself may be too coarse to read).
    int giro = 0;
    std::optional<TextoLeido> leido;
    if (o.orientar || !o.ocr.empty()) {
        const Resultado<MotorOcr*> motor = motorDelHilo(o);
        if (!motor) {
            r.mensaje = entreComillas(d.foto) + ": " + motor.mensaje();
            return r;
        }
        std::optional<PlanoBytes> gris = hojaEnGris(foto, recorrido.esquinas, opciones.mapa, *forma, kPppOcr);
        if (!gris) {
            r.mensaje = entreComillas(d.foto) + ": no se pudo calcular la transformacion de la hoja";
            return r;
        }
        if (o.orientar) giro = (*motor)->orientacion(*gris, kPppOcr);
        if (!o.ocr.empty()) {
            if (giro != 0) *gris = girarPlano(*gris, giro);
            Resultado<TextoLeido> texto = (*motor)->reconocer(*gris, kPppOcr);
            if (!texto) {
                r.mensaje = entreComillas(d.foto) + ": " + texto.mensaje();
                return r;
            }
            leido = std::move(*texto);
        }
    }
    // A PNG page, kept as it is made, is made as its encoder reads it: the page in parts at once,
    // each compressed by the thread that made it. A page to be turned is turned whole first.
    std::optional<ArchivoCodificado> archivo;
    UsoDeImagen usar;
    if (!paginaPdf && d.formato == FormatoSalida::png && o.mejora == Mejora::ninguna && giro == 0) {
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
        if (Hecho grabada = grabarImagen(*recorrido.hoja, *etapas / kImagenesEtapas[4]); !grabada.ok()) {
            r.mensaje = nombrada(grabada.mensaje());
            return r;
        }
    }
    if (pagina->carta) contarHojaCarta(cuenta.f, etapas.has_value());
    leida.reset();
    // Every output gets the page turned upright; the stage images keep the page as the stages made it.
    if (giro != 0) {
        recorrido.hoja = girarImagen(*recorrido.hoja, giro);
        if (giro != 180) std::swap(anchoPulgadas, altoPulgadas);
    }
    if (o.cuenta) r.cuenta = cuenta.texto();
    ImagenBmp& hoja = *recorrido.hoja;
    if (!codificada) mejorarPagina(hoja, o.mejora);
    if (paginaPdf) {
        // A black-and-white page keeps one bit per pixel (G4), a gray one a gray JPEG.
        const ImagenPdf tipo = o.mejora == Mejora::bn     ? ImagenPdf::g4
                               : o.mejora == Mejora::gris ? ImagenPdf::jpegGris
                                                          : ImagenPdf::jpegColor;
        Resultado<PaginaPdf> pagina = ::paginaPdf(hoja, tipo, o.calidad, anchoPulgadas, altoPulgadas);
        if (!pagina) {
            r.mensaje = entreComillas(d.foto) + ": " + pagina.mensaje();
            return r;
        }
        r.pagina = std::move(*pagina);
        if (leido) {
            r.pagina.palabras.reserve(leido->palabras.size());
            for (const PalabraLeida& p : leido->palabras) r.pagina.palabras.push_back(enPulgadas(p, kPppOcr));
        }
    } else {
        if (!codificada) {
            switch (d.formato) {
                case FormatoSalida::png: archivo = codificarPng(hoja); break;
                case FormatoSalida::bmp: archivo = codificarBmp(hoja); break;
                case FormatoSalida::jpeg:
                case FormatoSalida::pdf: archivo = codificarJpeg(hoja, o.calidad); break;
            }
        }
        COMPROBAR(archivo.has_value());
        if (!archivo->ok()) {
            r.mensaje = entreComillas(d.foto) + ": " + archivo->mensaje();
            return r;
        }
        if (Hecho grabado = grabarArchivo(d.resultado, **archivo); !grabado.ok()) {
            r.mensaje = grabado.mensaje();
            return r;
        }
        if (leido && d.texto) {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(leido->texto.data());
            if (Hecho grabado = grabarArchivo(*d.texto, {bytes, leido->texto.size()}); !grabado.ok()) {
                r.mensaje = grabado.mensaje();
                return r;
            }
        }
    }
    r.giro = giro;
    if (leido) r.texto = std::move(leido->texto);
    r.hallazgo = Hallazgo::hoja;
    return r;
}

}  // namespace

Hecho prepararOcr(const Opciones& o) {
    if (!o.orientar && o.ocr.empty()) return {};
    const Resultado<MotorOcr*> motor = motorDelHilo(o);
    if (!motor) return motor.fallo();
    return {};
}

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
