#include "app/comandos.hpp"

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "app/esquinas_dadas.hpp"
#include "app/foto.hpp"
#include "app/lote.hpp"
#include "app/opciones.hpp"
#include "app/revision.hpp"
#include "app/salidas.hpp"
#include "formatos/pdf.hpp"
#include "sistema/archivos.hpp"

namespace fs = std::filesystem;

namespace {

// A usage error: its line and the hint to --help on `errores`, also kept in `mensajes` when given.
int usoIncorrecto(std::FILE* errores, const std::string& linea, std::vector<std::string>* mensajes = nullptr) {
    std::fprintf(errores, "escaner: %s\nPruebe 'escaner --help' para ver las opciones.\n", paraTerminal(linea).c_str());
    if (mensajes) mensajes->push_back(linea);
    return kSalidaUso;
}

}  // namespace

int ejecutarComandos(int argc, const char* const* argv, std::FILE* salida, std::FILE* errores) {
    const Resultado<Opciones> lectura = leerOpciones(argc, argv);
    if (!lectura) return usoIncorrecto(errores, lectura.mensaje());
    const Opciones& o = *lectura;
    if (o.ayuda || o.version) {
        std::fputs(o.ayuda ? textoAyuda().c_str() : textoVersion().c_str(), salida);
        if (std::fflush(salida) == 0 && !std::ferror(salida)) return 0;
        std::fprintf(errores, "escaner: no se pudo escribir en la salida estandar: %s\n", std::strerror(errno));
        return 1;
    }
    Plan plan = planear(o);
    if (plan.fallo) {
        // The photos that do not exist are told first: often they are what makes the rest wrong.
        for (const fs::path& foto : plan.faltan)
            std::fprintf(errores, "escaner: no existe la foto %s\n", paraTerminal(entreComillas(foto)).c_str());
        return usoIncorrecto(errores, plan.fallo->mensaje);
    }
    if (o.esquinasDe) {
        const Resultado<EsquinasAsignadas> asignadas = asignarEsquinasDe(*o.esquinasDe, plan.destinos);
        if (!asignadas) return usoIncorrecto(errores, "--esquinas-de: " + asignadas.mensaje());
        // A file none of whose lines names a photo given is most likely a mistake (the photos given
        // under other names): the run goes on, detecting every sheet, but says so.
        if (asignadas->lineas > 0 && asignadas->fotos == 0) {
            std::fprintf(errores,
                         "escaner: advertencia: ninguna linea de %s nombra una de las fotos dadas (los nombres se "
                         "comparan tal como se dieron); se busca la hoja de todas\n",
                         paraTerminal(entreComillas(*o.esquinasDe)).c_str());
        }
    }
    // The text engine's languages are checked on this thread's engine, which scans photos too.
    if (const Hecho ocr = prepararOcr(o); !ocr.ok())
        return usoIncorrecto(errores, (o.ocr.empty() ? std::string("--orientar") : "--ocr " + o.ocr) + ": " + ocr.mensaje());
    if (o.revisar) return ejecutarRevision(plan, o, salida, errores);
    return escanearPlan(plan, o, salida, errores);
}

int escanearPlan(const Plan& plan, const Opciones& o, std::FILE* salida, std::FILE* errores,
                 std::vector<std::string>* mensajes) {
    // Each line for the user goes to `errores`, and also to `mensajes` when it is given.
    const auto decir = [&](const std::string& linea) {
        std::fprintf(errores, "escaner: %s\n", paraTerminal(linea).c_str());
        if (mensajes) mensajes->push_back(linea);
    };
    if (plan.carpeta) {
        std::error_code ec;
        fs::create_directories(*plan.carpeta, ec);
        if (ec) return usoIncorrecto(errores, "-o " + plan.carpeta->string() + ": no se puede crear la carpeta: " + ec.message(),
                                 mensajes);
    }

    bool fallo = false;
    // Corners given with --esquinas that cannot make a page of the photo are a usage error, told
    // once the photo is read: nothing is written.
    bool esquinasRechazadas = false;
    // With a PDF, the JSON lines wait for the document: until it is written, no page is done. The
    // corners file saves the same lines.
    std::vector<std::string> jsonPendiente;
    // The PDF, opened with its first page; each page goes to it as soon as it and every one before
    // it are done. After a failure no more pages are written, and the document is never published.
    std::optional<EscritorPdf> escritor;
    std::optional<Fallo> falloPdf;
    const auto agregarPagina = [&](Escaneo& e) {
        if (!falloPdf && !escritor) {
            Resultado<EscritorPdf> abierto = EscritorPdf::abrir(*plan.pdf);
            if (abierto) {
                escritor.emplace(std::move(*abierto));
            } else {
                falloPdf = abierto.fallo();
            }
        }
        if (!falloPdf) {
            if (Hecho hecho = escritor->agregar(e.pagina); !hecho.ok()) falloPdf = hecho.fallo();
        }
        e.pagina = PaginaPdf{};
    };
    const bool lineas = o.json || o.guardarEsquinas.has_value();
    const auto salidaDe = [&](const Destino& d) { return plan.pdf ? plan.pdf->string() : d.resultado.string(); };
    std::vector<Escaneo> escaneos = trabajarLote(plan, o, errores, [&](std::size_t i, Escaneo& e) {
        const Destino& d = plan.destinos[i];
        if (o.esquinas && e.esquinasRechazadas) {
            esquinasRechazadas = true;
            usoIncorrecto(errores, "--esquinas: " + e.mensaje, mensajes);
            return;
        }
        if (!e.advertencia.empty()) decir("advertencia: " + e.advertencia);
        if (e.hallazgo != Hallazgo::hoja) {
            decir(e.mensaje);
            fallo = true;
        }
        if (plan.pdf && e.hallazgo == Hallazgo::hoja) agregarPagina(e);
        if (o.cuenta && !e.cuenta.empty()) {
            std::fprintf(salida, "\nFoto %s%s\n", paraTerminal(entreComillas(d.foto)).c_str(), e.cuenta.c_str());
            e.cuenta.clear();
        }
        if (lineas) {
            const std::string linea = lineaJson(d, e, salidaDe(d), o);
            if (o.json && !plan.pdf) std::fputs(linea.c_str(), salida);
            jsonPendiente.push_back(linea);
        }
        std::fflush(salida);
        std::fflush(errores);
    });
    if (esquinasRechazadas) return kSalidaUso;

    if (plan.pdf) {
        if (escritor && !falloPdf) {
            if (Hecho hecho = escritor->terminar(); !hecho.ok()) falloPdf = hecho.fallo();
        }
        escritor.reset();
        if (falloPdf) {
            decir(falloPdf->mensaje);
            fallo = true;
            // The pages never reached their file.
            for (std::size_t i = 0; i < escaneos.size(); ++i) {
                Escaneo& e = escaneos[i];
                if (e.hallazgo != Hallazgo::hoja) continue;
                e.hallazgo = Hallazgo::error;
                e.mensaje = falloPdf->mensaje;
                if (lineas) jsonPendiente[i] = lineaJson(plan.destinos[i], e, "", o);
            }
        }
        if (o.json)
            for (const std::string& linea : jsonPendiente) std::fputs(linea.c_str(), salida);
    }
    // The corners used for every photo (null where none was found), whole or not at all.
    if (o.guardarEsquinas) {
        std::string texto;
        for (const std::string& linea : jsonPendiente) texto += linea;
        const auto bytes = reinterpret_cast<const std::uint8_t*>(texto.data());
        if (const Hecho grabado = grabarArchivo(*o.guardarEsquinas, {bytes, texto.size()}); !grabado.ok()) {
            decir(grabado.mensaje());
            fallo = true;
        }
    }
    if (std::fflush(salida) != 0 || std::ferror(salida)) {
        std::fprintf(errores, "escaner: no se pudo escribir en la salida estandar\n");
        return 1;
    }
    return fallo ? 1 : 0;
}
