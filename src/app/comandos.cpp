#include "app/comandos.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sched.h>
#include <unistd.h>

#include "app/opciones.hpp"
#include "app/recorrido.hpp"
#include "deteccion/deteccion.hpp"
#include "formatos/formatos.hpp"
#include "imagen/paralelo.hpp"
#include "pagina/pagina.hpp"
#include "sistema/archivos.hpp"

namespace fs = std::filesystem;

namespace {

enum class Estado { ok, sinHoja, error };

const char* nombreEstado(Estado e) {
    switch (e) {
        case Estado::ok: return "ok";
        case Estado::sinHoja: return "sin-hoja";
        case Estado::error: return "error";
    }
    return "error";
}

// What scanning one photo gave.
struct Resultado {
    Estado estado = Estado::error;
    std::string mensaje;      // why it was not scanned
    std::string advertencia;  // read all the same
    std::optional<std::array<std::array<double, 2>, 4>> esquinas;  // as a viewer shows the photo
    std::string cuenta;       // the account, when asked for
    PaginaPdf pagina;         // its page of the PDF
};

// The account of one photo, in memory until it can be printed whole.
struct Memoria {
    char* datos = nullptr;
    std::size_t largo = 0;
    std::FILE* f = ::open_memstream(&datos, &largo);
    ~Memoria() {
        if (f) std::fclose(f);
        std::free(datos);
    }
    std::string texto() {
        std::fflush(f);
        return std::string(datos, largo);
    }
};

// Corners from photograph pixels (rows in file order, bottom row first) to the picture as a viewer
// shows it (y down), ordered top-left, top-right, bottom-right, bottom-left as the sheet appears:
// clockwise around their centre, from the one nearest the picture's top-left.
std::array<std::array<double, 2>, 4> esquinasVisibles(const std::array<Esquina, 4>& esquinas, int alto) {
    std::array<std::array<double, 2>, 4> p{};
    double cx = 0, cy = 0;
    for (int i = 0; i < 4; ++i) {
        p[i] = {esquinas[i].x, (alto - 1) - esquinas[i].y};
        cx += p[i][0] / 4;
        cy += p[i][1] / 4;
    }
    std::sort(p.begin(), p.end(), [&](const auto& a, const auto& b) {
        return std::atan2(a[1] - cy, a[0] - cx) < std::atan2(b[1] - cy, b[0] - cx);
    });
    const auto primera = std::min_element(p.begin(), p.end(), [](const auto& a, const auto& b) {
        return a[0] + a[1] < b[0] + b[1];
    });
    std::rotate(p.begin(), primera, p.end());
    return p;
}

Resultado escanear(const Destino& d, const Opciones& o, bool paginaPdf) {
    Resultado r;
    LecturaFoto lectura = leerFoto(d.foto);
    if (!lectura.imagen) {
        r.mensaje = lectura.mensaje;
        return r;
    }
    if (auto fina = fotoDemasiadoFina(*lectura.imagen, entreComillas(d.foto))) {
        r.mensaje = *fina;
        return r;
    }
    r.advertencia = lectura.advertencia;
    if (d.etapas) {
        std::error_code ec;
        fs::create_directories(*d.etapas, ec);
        if (ec) {
            r.mensaje = "no se puede crear la carpeta " + entreComillas(*d.etapas) + ": " + ec.message();
            return r;
        }
        borrarImagenesEtapas(*d.etapas);
    }

    // The sheet's corners: the fixed-threshold stages (whose account and stage images are also
    // wanted with --cuenta and --etapas, whichever detector is used), or the robust detector, whose
    // corners the outline image then shows.
    Memoria cuenta;
    const ImagenBmp& foto = *lectura.imagen;
    ResultadoRecorrido recorrido;
    if (o.detector == Detector::espec || o.cuenta || d.etapas) {
        recorrido = buscarHojaPorEtapas(foto, cuenta.f, d.etapas, Orientaciones::deBordes,
                                        o.detector == Detector::espec);
        if (recorrido.hallazgo == Hallazgo::error) {
            r.mensaje = recorrido.error;
            return r;
        }
    }
    if (o.detector == Detector::robusto) {
        const HojaDetectada h = detectarHojaRobusta(foto);
        recorrido.hallazgo = h.encontrada ? Hallazgo::hoja : Hallazgo::sinHoja;
        recorrido.esquinas = h.esquinas;
        if (h.encontrada && recorrido.trabajo) {
            auto error = grabarContorno(std::move(*recorrido.trabajo), foto, h.esquinas, *d.etapas / kImagenesEtapas[3]);
            if (error) {
                r.mensaje = *error;
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
        r.estado = Estado::sinHoja;
        r.mensaje = entreComillas(d.foto) + ": no se encontraron las cuatro esquinas de la hoja";
        return r;
    }
    r.esquinas = esquinasVisibles(recorrido.esquinas, foto.alto());

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
    if (forma->hojaCarta) {
        rectificarPorEtapas(foto, recorrido, cuenta.f, d.etapas, usar);
        if (recorrido.hallazgo == Hallazgo::error) {
            r.mensaje = recorrido.error;
            return r;
        }
    } else {
        std::optional<PaginaEnderezada> pagina = enderezarPagina(foto, recorrido.esquinas, opciones.mapa, *forma, usar);
        if (!pagina) {
            r.mensaje = entreComillas(d.foto) + ": no se pudo calcular la transformacion de la hoja";
            return r;
        }
        anchoPulgadas = pagina->anchoPulgadas;
        altoPulgadas = pagina->altoPulgadas;
        recorrido.hoja = std::move(pagina->imagen);
        if (d.etapas) {
            if (auto error = grabarImagen(*recorrido.hoja, *d.etapas / kImagenesEtapas[4])) {
                r.mensaje = *error;
                return r;
            }
        }
    }
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
        r.pagina = PaginaPdf{std::move(archivo.bytes), anchoPulgadas, altoPulgadas};
    } else if (auto error = grabarArchivo(d.resultado, archivo.bytes)) {
        r.mensaje = *error;
        return r;
    }
    r.estado = Estado::ok;
    return r;
}

// A JSON string: quotes, backslashes and control characters escaped; other bytes as they are.
std::string cadenaJson(const std::string& texto) {
    std::string s = "\"";
    for (unsigned char c : texto) {
        if (c == '"' || c == '\\') {
            s.push_back('\\');
            s.push_back(static_cast<char>(c));
        } else if (c < 0x20) {
            char codigo[8];
            std::snprintf(codigo, sizeof codigo, "\\u%04x", c);
            s += codigo;
        } else {
            s.push_back(static_cast<char>(c));
        }
    }
    return s + "\"";
}

std::string lineaJson(const Destino& d, const Resultado& r, const std::string& salida) {
    std::string j = "{\"foto\":" + cadenaJson(d.foto.string()) + ",\"estado\":\"" + nombreEstado(r.estado) +
                    "\",\"esquinas\":";
    if (r.esquinas) {
        j += "[";
        for (int i = 0; i < 4; ++i) {
            char par[64];
            std::snprintf(par, sizeof par, "%s[%.2f,%.2f]", i ? "," : "", (*r.esquinas)[i][0], (*r.esquinas)[i][1]);
            j += par;
        }
        j += "]";
    } else {
        j += "null";
    }
    j += ",\"salida\":" + (r.estado == Estado::ok ? cadenaJson(salida) : std::string("null"));
    j += ",\"mensaje\":" + cadenaJson(r.mensaje) + "}\n";
    return j;
}

// The progress line on a terminal: done / total, the photo last started, the time left.
struct Progreso {
    bool activo = false;
    std::FILE* f = nullptr;
    std::size_t total = 0, hechas = 0;
    std::string actual;
    std::chrono::steady_clock::time_point inicio = std::chrono::steady_clock::now();

    void borrar() const {
        if (activo) std::fputs("\r\x1b[K", f);
    }
    void dibujar() const {
        if (!activo) return;
        std::string queda = "calculando";
        if (hechas > 0) {
            const double pasado = std::chrono::duration<double>(std::chrono::steady_clock::now() - inicio).count();
            const auto segundos = static_cast<long>(pasado / static_cast<double>(hechas) *
                                                    static_cast<double>(total - hechas) + 0.5);
            queda = segundos >= 60 ? std::to_string(segundos / 60) + " min " + std::to_string(segundos % 60) + " s"
                                   : std::to_string(segundos) + " s";
        }
        std::fprintf(f, "\r\x1b[K%zu/%zu  %s  quedan %s", hechas, total, actual.c_str(), queda.c_str());
        std::fflush(f);
    }
};

int nucleosDisponibles() {
    cpu_set_t cpus;
    if (::sched_getaffinity(0, sizeof cpus, &cpus) == 0) return std::max(1, CPU_COUNT(&cpus));
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

}  // namespace

int ejecutarComandos(int argc, const char* const* argv, std::FILE* salida, std::FILE* errores) {
    const auto usoIncorrecto = [&](const std::string& mensaje) {
        std::fprintf(errores, "escaner: %s\nPruebe 'escaner --help' para ver las opciones.\n", mensaje.c_str());
        return kSalidaUso;
    };
    const LecturaOpciones lectura = leerOpciones(argc, argv);
    if (!lectura.error.empty()) return usoIncorrecto(lectura.error);
    const Opciones& o = lectura.opciones;
    if (o.ayuda || o.version) {
        std::fputs(o.ayuda ? textoAyuda().c_str() : textoVersion().c_str(), salida);
        return std::fflush(salida) == 0 ? 0 : 1;
    }
    const Plan plan = planear(o);
    if (!plan.error.empty()) return usoIncorrecto(plan.error);
    if (plan.carpeta) {
        std::error_code ec;
        fs::create_directories(*plan.carpeta, ec);
        if (ec) return usoIncorrecto("-o " + plan.carpeta->string() + ": no se puede crear la carpeta: " + ec.message());
    }

    const std::size_t total = plan.destinos.size();
    std::vector<std::optional<Resultado>> resultados(total);
    std::mutex cerrojo;
    Progreso progreso;
    progreso.activo = total > 1 && ::isatty(fileno(errores));
    progreso.f = errores;
    progreso.total = total;
    std::size_t impresas = 0;  // results already reported, in the order given
    bool fallo = false;
    // With a PDF, the JSON lines wait for the document: until it is written, no page is done.
    std::vector<std::string> jsonPendiente;

    // Reports, in the order given, every result that is ready; called with the lock held.
    const auto informar = [&] {
        progreso.borrar();
        for (; impresas < total && resultados[impresas]; ++impresas) {
            const Destino& d = plan.destinos[impresas];
            Resultado& r = *resultados[impresas];
            if (!r.advertencia.empty()) std::fprintf(errores, "escaner: advertencia: %s\n", r.advertencia.c_str());
            if (r.estado != Estado::ok) {
                std::fprintf(errores, "escaner: %s\n", r.mensaje.c_str());
                fallo = true;
            }
            if (o.cuenta && !r.cuenta.empty()) {
                std::fprintf(salida, "\nFoto %s%s\n", entreComillas(d.foto).c_str(), r.cuenta.c_str());
                r.cuenta.clear();
            }
            if (o.json) {
                const std::string linea = lineaJson(d, r, plan.pdf ? plan.pdf->string() : d.resultado.string());
                if (plan.pdf) {
                    jsonPendiente.push_back(linea);
                } else {
                    std::fputs(linea.c_str(), salida);
                }
            }
        }
        std::fflush(salida);
        std::fflush(errores);
        progreso.dibujar();
    };

    // At most N threads: N photos at once, or fewer when there are fewer photos, and then a photo
    // may take a thread to spare for its two halves, while there are cores for it.
    const int nucleos = nucleosDisponibles();
    const int limite = o.hilos > 0 ? o.hilos : nucleos;
    const int hilos = static_cast<int>(std::min<std::size_t>(total, limite));
    const auto sobranHilos = [&](int enUso) { return enUso < limite && enUso < nucleos; };
    dosMitadesALaVez = sobranHilos(hilos);
    std::atomic<int> ocupados{hilos};  // threads still taking photos

    std::atomic<std::size_t> siguiente{0};
    const auto trabajar = [&] {
        for (std::size_t i; (i = siguiente.fetch_add(1)) < total;) {
            {
                const std::lock_guard<std::mutex> l(cerrojo);
                progreso.actual = plan.destinos[i].foto.string();
                progreso.dibujar();
            }
            Resultado r = escanear(plan.destinos[i], o, plan.pdf.has_value());
            const std::lock_guard<std::mutex> l(cerrojo);
            resultados[i] = std::move(r);
            ++progreso.hechas;
            informar();
        }
        // No photo left to take: the last ones, still being scanned, may use the thread this frees.
        const int quedan = ocupados.fetch_sub(1) - 1;
        if (quedan > 0 && sobranHilos(quedan)) dosMitadesALaVez = true;
    };
    std::vector<std::thread> trabajadores;
    for (int h = 1; h < hilos; ++h) trabajadores.emplace_back(trabajar);
    trabajar();
    for (std::thread& t : trabajadores) t.join();
    progreso.borrar();
    progreso.activo = false;

    if (plan.pdf) {
        std::vector<PaginaPdf> paginas;
        for (std::optional<Resultado>& r : resultados) {
            if (r->estado == Estado::ok) paginas.push_back(std::move(r->pagina));
        }
        std::string error;
        if (!paginas.empty()) {
            ArchivoCodificado pdf = codificarPdf(paginas);
            if (!pdf.valido()) {
                error = "no se pudo hacer " + entreComillas(*plan.pdf) + ": " + pdf.mensaje;
            } else if (auto e = grabarArchivo(*plan.pdf, pdf.bytes)) {
                error = *e;
            }
        }
        if (!error.empty()) {
            std::fprintf(errores, "escaner: %s\n", error.c_str());
            fallo = true;
            // The pages never reached their file.
            for (std::size_t i = 0; i < total; ++i) {
                Resultado& r = *resultados[i];
                if (r.estado != Estado::ok) continue;
                r.estado = Estado::error;
                r.mensaje = error;
                if (o.json) jsonPendiente[i] = lineaJson(plan.destinos[i], r, "");
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
