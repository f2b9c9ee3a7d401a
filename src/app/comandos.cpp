#include "app/comandos.hpp"

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "app/foto.hpp"
#include "app/lote.hpp"
#include "app/opciones.hpp"
#include "app/salidas.hpp"
#include "formatos/pdf.hpp"
#include "sistema/archivos.hpp"

namespace fs = std::filesystem;

int ejecutarComandos(int argc, const char* const* argv, std::FILE* salida, std::FILE* errores) {
    const auto usoIncorrecto = [&](const std::string& mensaje) {
        std::fprintf(errores, "escaner: %s\nPruebe 'escaner --help' para ver las opciones.\n",
                     paraTerminal(mensaje).c_str());
        return kSalidaUso;
    };
    const LecturaOpciones lectura = leerOpciones(argc, argv);
    if (!lectura.error.empty()) return usoIncorrecto(lectura.error);
    const Opciones& o = lectura.opciones;
    if (o.ayuda || o.version) {
        std::fputs(o.ayuda ? textoAyuda().c_str() : textoVersion().c_str(), salida);
        if (std::fflush(salida) == 0 && !std::ferror(salida)) return 0;
        std::fprintf(errores, "escaner: no se pudo escribir en la salida estandar: %s\n", std::strerror(errno));
        return 1;
    }
    const Plan plan = planear(o);
    if (!plan.error.empty()) {
        // The photos that do not exist are told first: often they are what makes the rest wrong.
        for (const fs::path& foto : plan.faltan)
            std::fprintf(errores, "escaner: no existe la foto %s\n", paraTerminal(entreComillas(foto)).c_str());
        return usoIncorrecto(plan.error);
    }
    // The text engine's languages are checked on this thread's engine, which scans photos too.
    if (const Hecho ocr = prepararOcr(o); !ocr)
        return usoIncorrecto((o.ocr.empty() ? std::string("--orientar") : "--ocr " + o.ocr) + ": " + ocr.mensaje());
    if (plan.carpeta) {
        std::error_code ec;
        fs::create_directories(*plan.carpeta, ec);
        if (ec) return usoIncorrecto("-o " + plan.carpeta->string() + ": no se puede crear la carpeta: " + ec.message());
    }

    bool fallo = false;
    // With a PDF, the JSON lines wait for the document: until it is written, no page is done.
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
            if (Hecho hecho = escritor->agregar(e.pagina); !hecho) falloPdf = hecho.fallo();
        }
        e.pagina = PaginaPdf{};
    };
    const auto salidaDe = [&](const Destino& d) { return plan.pdf ? plan.pdf->string() : d.resultado.string(); };
    std::vector<Escaneo> escaneos = trabajarLote(plan, o, errores, [&](std::size_t i, Escaneo& e) {
        const Destino& d = plan.destinos[i];
        if (!e.advertencia.empty())
            std::fprintf(errores, "escaner: advertencia: %s\n", paraTerminal(e.advertencia).c_str());
        if (e.hallazgo != Hallazgo::hoja) {
            std::fprintf(errores, "escaner: %s\n", paraTerminal(e.mensaje).c_str());
            fallo = true;
        }
        if (plan.pdf && e.hallazgo == Hallazgo::hoja) agregarPagina(e);
        if (o.cuenta && !e.cuenta.empty()) {
            std::fprintf(salida, "\nFoto %s%s\n", paraTerminal(entreComillas(d.foto)).c_str(), e.cuenta.c_str());
            e.cuenta.clear();
        }
        if (o.json) {
            const std::string linea = lineaJson(d, e, salidaDe(d), o);
            if (plan.pdf) {
                jsonPendiente.push_back(linea);
            } else {
                std::fputs(linea.c_str(), salida);
            }
        }
        std::fflush(salida);
        std::fflush(errores);
    });

    if (plan.pdf) {
        if (escritor && !falloPdf) {
            if (Hecho hecho = escritor->terminar(); !hecho) falloPdf = hecho.fallo();
        }
        escritor.reset();
        if (falloPdf) {
            std::fprintf(errores, "escaner: %s\n", paraTerminal(falloPdf->mensaje).c_str());
            fallo = true;
            // The pages never reached their file.
            for (std::size_t i = 0; i < escaneos.size(); ++i) {
                Escaneo& e = escaneos[i];
                if (e.hallazgo != Hallazgo::hoja) continue;
                e.hallazgo = Hallazgo::error;
                e.mensaje = falloPdf->mensaje;
                if (o.json) jsonPendiente[i] = lineaJson(plan.destinos[i], e, "", o);
            }
        }
        for (const std::string& linea : jsonPendiente) std::fputs(linea.c_str(), salida);
    }
    if (std::fflush(salida) != 0 || std::ferror(salida)) {
        std::fprintf(errores, "escaner: no se pudo escribir en la salida estandar\n");
        return 1;
    }
    return fallo ? 1 : 0;
}
