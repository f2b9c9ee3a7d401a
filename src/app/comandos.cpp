#include "app/comandos.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <sched.h>
#include <unistd.h>

#include "app/opciones.hpp"
#include "app/recorrido.hpp"
#include "app/turnos.hpp"
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

    // The sheet's corners: the fixed-threshold stages (whose account and stage images are also
    // wanted with --cuenta and --etapas, whichever detector is used), or the robust detector, whose
    // corners the outline image then shows.
    Memoria cuenta;
    const ImagenBmp& foto = *lectura.imagen;
    ResultadoRecorrido recorrido;
    if (o.detector == Detector::espec || o.cuenta || etapas) {
        recorrido = buscarHojaPorEtapas(foto, cuenta.f, etapas, Orientaciones::deBordes,
                                        o.detector == Detector::espec);
        if (recorrido.hallazgo == Hallazgo::error) {
            r.mensaje = nombrada(recorrido.error);
            return r;
        }
    }
    if (o.detector == Detector::robusto) {
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
        rectificarPorEtapas(foto, recorrido, cuenta.f, etapas, usar);
        if (recorrido.hallazgo == Hallazgo::error) {
            r.mensaje = nombrada(recorrido.error);
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
        if (etapas) {
            if (auto error = grabarImagen(*recorrido.hoja, *etapas / kImagenesEtapas[4])) {
                r.mensaje = nombrada(*error);
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

// The length of the well-formed UTF-8 character at `texto[i]`, or 0 when the byte there starts none
// (a stray continuation byte, an overlong form, a surrogate, a code point above U+10FFFF, a cut
// sequence).
std::size_t caracterUtf8(const std::string& texto, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(texto[k]); };
    const unsigned char c = byte(i);
    if (c < 0x80) return 1;
    std::size_t largo = 0;
    unsigned char minimo = 0x80, maximo = 0xBF;  // the bounds of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        largo = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        largo = 3;
        if (c == 0xE0) minimo = 0xA0;
        if (c == 0xED) maximo = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        largo = 4;
        if (c == 0xF0) minimo = 0x90;
        if (c == 0xF4) maximo = 0x8F;
    } else {
        return 0;
    }
    if (i + largo > texto.size()) return 0;
    if (byte(i + 1) < minimo || byte(i + 1) > maximo) return 0;
    for (std::size_t k = 2; k < largo; ++k)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    return largo;
}

bool esUtf8(const std::string& texto) {
    for (std::size_t i = 0, n; i < texto.size(); i += n)
        if ((n = caracterUtf8(texto, i)) == 0) return false;
    return true;
}

// A JSON string: quotes, backslashes and control characters escaped; UTF-8 as it is, and each
// byte that is not part of a UTF-8 character as U+FFFD, so that every line is valid JSON.
std::string cadenaJson(const std::string& texto) {
    std::string s = "\"";
    for (std::size_t i = 0, n; i < texto.size(); i += n) {
        const unsigned char c = static_cast<unsigned char>(texto[i]);
        n = caracterUtf8(texto, i);
        if (n == 0) {
            s += "\xEF\xBF\xBD";
            n = 1;
        } else if (c == '"' || c == '\\') {
            s.push_back('\\');
            s.push_back(static_cast<char>(c));
        } else if (c < 0x20) {
            char codigo[8];
            std::snprintf(codigo, sizeof codigo, "\\u%04x", c);
            s += codigo;
        } else {
            s.append(texto, i, n);
        }
    }
    return s + "\"";
}

// The bytes of a name, two hex digits each: how a name that is not UTF-8 is given whole in JSON.
std::string bytesHex(const std::string& texto) {
    static const char kHex[] = "0123456789abcdef";
    std::string s;
    for (unsigned char c : texto) {
        s.push_back(kHex[c >> 4]);
        s.push_back(kHex[c & 15]);
    }
    return s;
}

// A message as it may reach a terminal, on one line: control characters (C0, DEL and C1) and
// bytes that are not UTF-8 as \n, \t, \r or \xHH, so that a file name can neither break the line nor
// send the terminal an escape sequence.
std::string paraTerminal(const std::string& texto) {
    std::string s;
    for (std::size_t i = 0, n; i < texto.size(); i += n) {
        const unsigned char c = static_cast<unsigned char>(texto[i]);
        n = caracterUtf8(texto, i);
        const bool c1 = n == 2 && c == 0xC2 && static_cast<unsigned char>(texto[i + 1]) < 0xA0;
        if (n == 0 || c1) {
            n = n == 0 ? 1 : n;
            for (std::size_t k = 0; k < n; ++k) {
                char codigo[8];
                std::snprintf(codigo, sizeof codigo, "\\x%02x", static_cast<unsigned char>(texto[i + k]));
                s += codigo;
            }
        } else if (c < 0x20 || c == 0x7F) {
            char codigo[8];
            std::snprintf(codigo, sizeof codigo, "\\x%02x", c);
            s += c == '\n' ? "\\n" : c == '\t' ? "\\t" : c == '\r' ? "\\r" : codigo;
        } else {
            s.append(texto, i, n);
        }
    }
    return s;
}

// A name as a JSON field: "clave":"name", and when the name is not UTF-8 (its field then shows
// U+FFFD for the bytes that are not), also "clave_bytes":"hex of every byte", to find the file by.
std::string campoNombre(const char* clave, const std::string& nombre) {
    std::string j = std::string("\"") + clave + "\":" + cadenaJson(nombre);
    if (!esUtf8(nombre)) j += std::string(",\"") + clave + "_bytes\":\"" + bytesHex(nombre) + "\"";
    return j;
}

std::string lineaJson(const Destino& d, const Resultado& r, const std::string& salida) {
    std::string j = "{";
    j += campoNombre("foto", d.foto.string());
    j += ",\"estado\":\"";
    j += nombreEstado(r.estado);
    j += "\",\"esquinas\":";
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
    j += ",";
    j += r.estado == Estado::ok ? campoNombre("salida", salida) : std::string("\"salida\":null");
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
            if (!r.advertencia.empty())
                std::fprintf(errores, "escaner: advertencia: %s\n", paraTerminal(r.advertencia).c_str());
            if (r.estado != Estado::ok) {
                std::fprintf(errores, "escaner: %s\n", paraTerminal(r.mensaje).c_str());
                fallo = true;
            }
            if (o.cuenta && !r.cuenta.empty()) {
                std::fprintf(salida, "\nFoto %s%s\n", paraTerminal(entreComillas(d.foto)).c_str(), r.cuenta.c_str());
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

    // At most N threads: N photos at once, or fewer when there are fewer photos or cores, and then
    // a photo may take a thread to spare for its two halves, while there are cores for it.
    const int nucleos = nucleosDisponibles();
    const int limite = o.hilos > 0 ? o.hilos : nucleos;
    const int hilos = fotosALaVez(o.hilos, total, nucleos);
    const auto sobranHilos = [&](int enUso) { return enUso < limite && enUso < nucleos; };
    dosMitadesALaVez = sobranHilos(hilos);
    std::atomic<int> ocupados{hilos};  // threads still taking photos

    // Photos start in the order given, each once the ones being worked leave memory for it.
    TurnosDeMemoria turnos(memoriaDisponible(hilos));
    std::atomic<std::size_t> siguiente{0};
    const auto trabajar = [&] {
        for (std::size_t i; (i = siguiente.fetch_add(1)) < total;) {
            {
                const std::lock_guard<std::mutex> l(cerrojo);
                progreso.actual = paraTerminal(plan.destinos[i].foto.string());
                progreso.dibujar();
            }
            const Destino& d = plan.destinos[i];
            const std::uint64_t costo = memoriaDeFoto(medirFoto(d.foto).value_or(MedidaFoto{}), o.pagina);
            turnos.entrar(i, costo);
            // Memory that runs out fails this photo alone: what it held is freed on the way out.
            Resultado r;
            try {
                r = escanear(d, o, plan.pdf.has_value());
            } catch (const std::bad_alloc&) {
                r = Resultado{};
                r.mensaje = entreComillas(d.foto) + " no cabe en la memoria libre";
            } catch (const std::exception& e) {
                r = Resultado{};
                r.mensaje = entreComillas(d.foto) + ": fallo inesperado: " + e.what();
            }
            turnos.salir(costo);
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
    for (int h = 1; h < hilos; ++h) {
        try {
            trabajadores.emplace_back(trabajar);
        } catch (const std::system_error&) {
            // No more threads to be had: the photos go to the ones there are.
            ocupados -= hilos - h;
            break;
        }
    }
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
            std::fprintf(errores, "escaner: %s\n", paraTerminal(error).c_str());
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
