#include "app/opciones.hpp"

#include <algorithm>
#include <charconv>
#include <map>
#include <system_error>

#include <CLI/CLI.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include "app/recorrido.hpp"

namespace fs = std::filesystem;

#ifndef ESCANER_VERSION
#define ESCANER_VERSION "sin version"
#endif

namespace {

// A whole number from `texto` between `minimo` and `maximo`, or nothing.
std::optional<int> entero(const std::string& texto, int minimo, int maximo) {
    int valor = 0;
    const char* fin = texto.data() + texto.size();
    const auto [resto, error] = std::from_chars(texto.data(), fin, valor);
    if (error != std::errc() || resto != fin || valor < minimo || valor > maximo) return std::nullopt;
    return valor;
}

// The name a path has as an existing file, or as it would have: two spellings of one file compare
// equal.
fs::path canonico(const fs::path& ruta) {
    std::error_code ec;
    fs::path c = fs::weakly_canonical(ruta, ec);
    return ec ? fs::absolute(ruta, ec).lexically_normal() : c;
}

bool esCarpeta(const fs::path& ruta) {
    std::error_code ec;
    return fs::is_directory(ruta, ec);
}

}  // namespace

LecturaOpciones leerOpciones(int argc, const char* const* argv) {
    LecturaOpciones r;
    Opciones& o = r.opciones;
    CLI::App app{"escaner"};
    app.set_help_flag();
    app.allow_extras();
    std::string salida, etapas, calidad, hilos;
    app.add_flag("-h,--help,--ayuda", o.ayuda);
    app.add_flag("--version", o.version);
    // Each option with a value is kept once: a second one, or an empty value, is refused below
    // (a script's unset variable must not send the results somewhere else).
    std::vector<std::pair<CLI::Option*, std::string*>> conValor;
    const auto opcion = [&](const char* nombres, std::string& valor) {
        CLI::Option* op = app.add_option(nombres, valor)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        conValor.emplace_back(op, &valor);
    };
    opcion("-o,--salida", salida);
    opcion("--calidad", calidad);
    opcion("--etapas", etapas);
    app.add_flag("--cuenta", o.cuenta);
    app.add_flag("--json", o.json);
    opcion("-j,--hilos", hilos);
    std::string detector, mapa, papel, ppp, mejora;
    opcion("--detector", detector);
    opcion("--mapa", mapa);
    opcion("--papel", papel);
    opcion("--ppp", ppp);
    opcion("--mejorar", mejora);
    std::string megapixeles;
    opcion("--max-megapixeles", megapixeles);
    std::string esquinas, esquinasDe, guardarEsquinas;
    opcion("--esquinas", esquinas);
    opcion("--esquinas-de", esquinasDe);
    opcion("--guardar-esquinas", guardarEsquinas);
    app.add_flag("--revisar", o.revisar);
    std::string puerto;
    opcion("--puerto", puerto);
    std::vector<std::string> fotos;
    app.add_option("fotos", fotos);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ArgumentMismatch& e) {
        r.error = "a una opcion le falta su valor (" + std::string(e.what()) + ")";
        return r;
    } catch (const CLI::ParseError& e) {
        r.error = "argumentos que no se entienden: " + std::string(e.what());
        return r;
    }
    if (o.ayuda || o.version) return r;
    // "--" ends the options (the arguments after it are all photos); the parser hands the mark back
    // among the arguments it did not take.
    bool finDeOpciones = false;
    for (const std::string& resto : app.remaining()) {
        if (resto == "--" && !finDeOpciones) {
            finDeOpciones = true;
            continue;
        }
        r.error = (resto.size() > 1 && resto[0] == '-' ? "opcion desconocida: " : "argumento de mas: ") + resto;
        return r;
    }
    for (const auto& [op, valor] : conValor) {
        if (op->count() > 1) {
            r.error = "la opcion " + op->get_name() + " se dio " + std::to_string(op->count()) + " veces; va una sola";
            return r;
        }
        if (op->count() == 1 && valor->empty()) {
            r.error = "la opcion " + op->get_name() + " se dio con un valor vacio";
            return r;
        }
    }
    for (const std::string& f : fotos) o.fotos.emplace_back(f);
    if (!salida.empty()) o.salida = salida;
    if (!etapas.empty()) o.etapas = etapas;
    if (!calidad.empty()) {
        const auto q = entero(calidad, 1, 100);
        if (!q) {
            r.error = "--calidad " + calidad + ": debe ser un entero de 1 a 100";
            return r;
        }
        o.calidad = *q;
    }
    if (!hilos.empty()) {
        const auto n = entero(hilos, 1, 1024);
        if (!n) {
            r.error = "--hilos " + hilos + ": debe ser un entero de 1 a 1024";
            return r;
        }
        o.hilos = *n;
    }
    // A word among the few an option takes.
    const auto palabra = [&](const char* opcion, const std::string& texto, const auto& valores, auto& destino) {
        if (texto.empty()) return true;
        std::string lista;
        for (const auto& [nombre, valor] : valores) {
            if (texto == nombre) {
                destino = valor;
                return true;
            }
            lista += (lista.empty() ? "" : ", ") + std::string(nombre);
        }
        r.error = std::string(opcion) + " " + texto + ": debe ser " + lista;
        return false;
    };
    const std::pair<const char*, Detector> detectores[] = {{"robusto", Detector::robusto}, {"espec", Detector::espec}};
    const std::pair<const char*, Mapa> mapas[] = {{"perspectiva", Mapa::perspectiva}, {"bilineal", Mapa::bilineal}};
    const std::pair<const char*, Papel> papeles[] = {
        {"carta", Papel::carta}, {"a4", Papel::a4}, {"oficio", Papel::oficio}, {"auto", Papel::automatico}};
    const std::pair<const char*, Mejora> mejoras[] = {{"color", Mejora::color}, {"gris", Mejora::gris}, {"bn", Mejora::bn}};
    if (!palabra("--detector", detector, detectores, o.detector) || !palabra("--mapa", mapa, mapas, o.pagina.mapa) ||
        !palabra("--papel", papel, papeles, o.pagina.papel) || !palabra("--mejorar", mejora, mejoras, o.mejora)) {
        return r;
    }
    if (!ppp.empty()) {
        const auto n = entero(ppp, 10, 1200);
        if (!n) {
            r.error = "--ppp " + ppp + ": debe ser un entero de 10 a 1200";
            return r;
        }
        o.pagina.ppp = *n;
    }
    if (!megapixeles.empty()) {
        const auto n = entero(megapixeles, 1, 900);
        if (!n) {
            r.error = "--max-megapixeles " + megapixeles + ": debe ser un entero de 1 a 900";
            return r;
        }
        o.maxMegapixeles = *n;
    }
    if (!puerto.empty()) {
        const auto n = entero(puerto, 1, 65535);
        if (!n) {
            r.error = "--puerto " + puerto + ": debe ser un entero de 1 a 65535";
            return r;
        }
        if (!o.revisar) {
            r.error = "--puerto va con --revisar";
            return r;
        }
        o.puerto = *n;
    }
    if (!esquinasDe.empty()) o.esquinasDe = esquinasDe;
    if (!guardarEsquinas.empty()) o.guardarEsquinas = guardarEsquinas;
    if (!esquinas.empty()) {
        Resultado<Cuadrilatero> leidas = leerEsquinasTexto(esquinas);
        if (!leidas) {
            r.error = "--esquinas " + esquinas + ": " + leidas.mensaje();
            return r;
        }
        o.esquinas = *leidas;
        if (o.esquinasDe) {
            r.error = "--esquinas y --esquinas-de no van juntas: --esquinas es para una foto, --esquinas-de para un lote";
            return r;
        }
    }
    if (o.fotos.empty()) {
        r.error = "falta la foto: escaner [OPCIONES] FOTO...";
    } else if (o.esquinas && o.fotos.size() > 1) {
        r.error = "--esquinas es para una sola foto, y se dieron " + std::to_string(o.fotos.size()) +
                  "; para un lote, --esquinas-de ARCHIVO";
    }
    return r;
}

std::string textoAyuda() {
    return "Uso: escaner [OPCIONES] FOTO...\n"
           "     escaner                 (sin argumentos: lee imagenDocumento.bmp de la carpeta actual,\n"
           "                              deja las cinco imagenes de las etapas y espera una tecla)\n"
           "\n"
           "Busca la hoja en cada foto (JPEG, PNG o BMP, reconocida por su contenido) y la deja derecha\n"
           "y de frente, como una pagina escaneada de 852 x 1103 pixeles.\n"
           "\n"
           "Opciones:\n"
           "  -o, --salida RUTA   donde va el resultado. Con una foto: un archivo cuya extension da el\n"
           "                      formato (.png, .jpg o .jpeg, .bmp, .pdf) o una carpeta que exista.\n"
           "                      Con varias: una carpeta (se crea si falta; NOMBRE-hoja.png por foto)\n"
           "                      o un .pdf con una pagina por foto, en el orden dado.\n"
           "                      Sin -o: NOMBRE-hoja.png junto a cada foto.\n"
           "      --calidad Q     calidad JPEG de los resultados .jpg y de las paginas del PDF,\n"
           "                      de 1 a 100 (por omision 90)\n"
           "      --etapas CARPETA  tambien las cinco imagenes de las etapas de cada foto, en\n"
           "                      CARPETA/NOMBRE/\n"
           "      --cuenta        la cuenta en espanol de cada foto en la salida estandar\n"
           "      --json          un objeto JSON por foto y linea en la salida estandar: foto, estado\n"
           "                      (\"ok\", \"sin-hoja\" o \"error\"), esquinas (pixeles de la foto como se\n"
           "                      ve, x a la derecha, y hacia abajo; arriba-izquierda, arriba-derecha,\n"
           "                      abajo-derecha, abajo-izquierda), salida, mensaje. Un nombre que no\n"
           "                      es UTF-8 va con U+FFFD por cada byte que no lo es, y todos sus bytes\n"
           "                      en hexadecimal en foto_bytes o salida_bytes\n"
           "  -j, --hilos N       hilos a usar: fotos a la vez, y una foto sola usa los que sobran\n"
           "                      (por omision, los nucleos disponibles); nunca mas fotos a la vez\n"
           "                      que nucleos, que solo sumarian memoria\n"
           "      --detector D    como se busca la hoja: robusto (por omision) o espec (umbrales fijos,\n"
           "                      como la corrida sin argumentos)\n"
           "      --mapa M        como se endereza: perspectiva (por omision) o bilineal\n"
           "      --papel P       tamano de la hoja: carta (por omision), a4, oficio o auto (medido)\n"
           "      --ppp N         pixeles por pulgada de la pagina (por omision, los de carta a 852 x 1103)\n"
           "      --mejorar M     aspecto de escaneo: color, gris o bn (blanco y negro)\n"
           "      --esquinas X1,Y1,X2,Y2,X3,Y3,X4,Y4  para una sola foto: las esquinas de la hoja\n"
           "                      dadas a mano, como las da --json (pixeles de la foto como se ve;\n"
           "                      arriba-izquierda, arriba-derecha, abajo-derecha, abajo-izquierda);\n"
           "                      no se busca la hoja\n"
           "      --esquinas-de ARCHIVO  las esquinas de cada foto, de lineas JSON como las de --json\n"
           "                      (se leen foto y esquinas); una foto sin linea, o con esquinas null,\n"
           "                      se busca como siempre\n"
           "      --guardar-esquinas ARCHIVO  tambien las lineas JSON de cada foto con las esquinas\n"
           "                      usadas, para rehacer el lote con --esquinas-de\n"
           "      --max-megapixeles N  no lee fotos de mas de N millones de pixeles, de 1 a 900\n"
           "                      (por omision 200)\n"
           "      --revisar       antes de escribir nada, una pagina de revision en el navegador: la\n"
           "                      primera linea de la salida estandar es la direccion a abrir (solo\n"
           "                      en esta maquina, con una clave secreta). Cada foto con sus cuatro\n"
           "                      esquinas para arrastrar (flechas: 1 pixel, Mayus: 10, Tab: la\n"
           "                      siguiente) y la pagina como saldra; \"Guardar\" escribe lo mismo que\n"
           "                      sin --revisar, con esas esquinas. Cerrar la pagina termina sin\n"
           "                      escribir nada (estado 1)\n"
           "      --puerto N      el puerto de la pagina de revision, de 1 a 65535 (por omision,\n"
           "                      uno libre)\n"
           "  -h, --help, --ayuda  esta ayuda\n"
           "      --version       la version\n"
           "  --                  fin de las opciones: lo que sigue son fotos (aunque empiece por -)\n"
           "\n"
           "Estado de salida: 0 si se escanearon todas las fotos; 1 si alguna no (cada una con una\n"
           "linea en la salida de errores; las demas se escanean igual); 2 si los argumentos no son\n"
           "validos.\n"
           "\n"
           "Ejemplos:\n"
           "  escaner foto.jpg                          deja foto-hoja.png junto a la foto\n"
           "  escaner -j 2 -o escaneos.pdf fotos/*.jpg  un PDF con una pagina por foto\n"
           "  escaner --revisar -o escaneos.pdf fotos/*.jpg  lo mismo, revisado antes en el navegador\n"
           "  escaner --json fotos/*.jpg > e.jsonl      las esquinas halladas, para revisarlas;\n"
           "  escaner --esquinas-de e.jsonl -o escaneo.pdf fotos/*.jpg   y el lote con ellas\n";
}

std::string textoVersion() { return std::string("escaner ") + ESCANER_VERSION + "\n"; }

int fotosALaVez(int hilos, std::size_t fotos, int nucleos) {
    const int limite = std::max(1, std::min(hilos > 0 ? hilos : nucleos, nucleos));
    return static_cast<int>(std::min<std::size_t>(fotos, static_cast<std::size_t>(limite)));
}

std::string nombreDeEtapas(const fs::path& foto) {
    std::string nombre = foto.stem().string();
    // "." and ".." would name the stage folder itself or the one above it; an empty name, the
    // stage folder itself. Their dots become underscores.
    if (nombre.empty() || nombre == "." || nombre == "..") {
        std::replace(nombre.begin(), nombre.end(), '.', '_');
        if (nombre.empty()) nombre = "_";
    }
    return nombre;
}

namespace {

// The identity of an existing file (symbolic links followed), or nothing when there is none.
std::optional<std::pair<dev_t, ino_t>> identidad(const fs::path& ruta) {
    struct stat st {};
    if (::stat(ruta.c_str(), &st) != 0) return std::nullopt;
    return std::pair{st.st_dev, st.st_ino};
}

// Why an existing `ruta` cannot take a result: something other than a file, a symbolic link or a
// folder (a folder fails on its own when written, and takes nothing with it). Nothing when it can.
std::optional<std::string> noEsArchivo(const fs::path& ruta) {
    struct stat st {};
    if (::lstat(ruta.c_str(), &st) != 0) return std::nullopt;
    if (S_ISFIFO(st.st_mode)) return ruta.string() + " es una tuberia (FIFO): no se escribe sobre ella";
    if (S_ISSOCK(st.st_mode)) return ruta.string() + " es un socket: no se escribe sobre el";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return ruta.string() + " es un dispositivo: no se escribe sobre el";
    return std::nullopt;
}

}  // namespace

Plan planear(const Opciones& o) {
    Plan plan;
    const bool varias = o.fotos.size() > 1;
    std::vector<bool> existe;
    for (const fs::path& foto : o.fotos) {
        existe.push_back(identidad(foto).has_value());
        if (!existe.back()) plan.faltan.push_back(foto);
    }
    std::optional<FormatoSalida> formatoArchivo;
    if (o.salida) {
        const fs::path& s = *o.salida;
        const bool pideCarpeta = esCarpeta(s) || s.filename().empty();
        formatoArchivo = pideCarpeta ? std::nullopt : formatoPorExtension(s);
        if (formatoArchivo == FormatoSalida::pdf) {
            plan.pdf = s;
        } else if (formatoArchivo && varias) {
            plan.error = "-o " + s.string() + ": con varias fotos, -o es una carpeta o un .pdf";
            return plan;
        } else if (!formatoArchivo && !pideCarpeta && !varias) {
            plan.error = "-o " + s.string() +
                         ": no es una carpeta y su extension no es .png, .jpg, .jpeg, .bmp ni .pdf";
            return plan;
        } else if (!formatoArchivo) {
            plan.carpeta = s;
        }
        if (formatoArchivo) {
            const fs::path padre = s.parent_path().empty() ? fs::path(".") : s.parent_path();
            if (!esCarpeta(padre)) {
                plan.error = "-o " + s.string() + ": no existe la carpeta " + padre.string();
                return plan;
            }
            if (::access(padre.c_str(), W_OK) != 0) {
                plan.error = "-o " + s.string() + ": no se puede escribir en la carpeta " + padre.string();
                return plan;
            }
        }
    }

    // The photos by name and, those that exist, by file: two names of one file (a link, another
    // spelling of the path) are the same photo. A photo that does not exist gives no result, so
    // it takes no name from the others; it fails on its own when its turn comes.
    std::map<fs::path, fs::path> fotos;                    // canonical name -> as given
    std::map<std::pair<dev_t, ino_t>, fs::path> archivos;  // file -> as given
    for (const fs::path& foto : o.fotos) {
        const auto id = identidad(foto);
        if (!fotos.emplace(canonico(foto), foto).second) {
            plan.error = "la foto " + foto.string() + " se nombra dos veces";
            return plan;
        }
        if (id) archivos.emplace(*id, foto);
    }
    // Every file the run would write, checked against every photo and against the others.
    std::map<fs::path, fs::path> usados;  // result, stage folder or stage image -> the photo that takes it
    const auto escribible = [&](const fs::path& ruta) {
        if (fotos.count(canonico(ruta))) {
            plan.error = ruta.string() + " es una de las fotos: no se escribe sobre ella";
            return false;
        }
        if (const auto id = identidad(ruta)) {
            if (const auto foto = archivos.find(*id); foto != archivos.end()) {
                plan.error = ruta.string() + " es la foto " + foto->second.string() + ": no se escribe sobre ella";
                return false;
            }
        }
        if (auto error = noEsArchivo(ruta)) {
            plan.error = std::move(*error);
            return false;
        }
        return true;
    };
    for (std::size_t i = 0; i < o.fotos.size(); ++i) {
        const fs::path& foto = o.fotos[i];
        Destino d;
        d.foto = foto;
        const std::string nombre = foto.stem().string();
        if (formatoArchivo && formatoArchivo != FormatoSalida::pdf) {
            d.resultado = *o.salida;
            d.formato = *formatoArchivo;
        } else if (plan.carpeta) {
            d.resultado = *plan.carpeta / (nombre + "-hoja.png");
        } else if (!plan.pdf) {
            d.resultado = foto.parent_path() / (nombre + "-hoja.png");
        }
        if (o.etapas) d.etapas = *o.etapas / nombreDeEtapas(foto);
        d.esquinas = o.esquinas;
        if (!existe[i]) {
            plan.destinos.push_back(std::move(d));
            continue;
        }
        std::vector<fs::path> escritos;
        if (!d.resultado.empty()) escritos.push_back(d.resultado);
        if (d.etapas) {
            escritos.push_back(*d.etapas);
            for (const char* etapa : kImagenesEtapas) escritos.push_back(*d.etapas / etapa);
        }
        for (const fs::path& usado : escritos) {
            if (!escribible(usado)) return plan;
            const auto [donde, nuevo] = usados.emplace(canonico(usado), foto);
            if (!nuevo) {
                plan.error = "las fotos " + donde->second.string() + " y " + foto.string() +
                             " darian el mismo resultado " + usado.string();
                return plan;
            }
        }
        plan.destinos.push_back(std::move(d));
    }
    if (plan.pdf && !escribible(*plan.pdf)) return plan;
    if (o.guardarEsquinas) {
        const fs::path& g = *o.guardarEsquinas;
        const fs::path padre = g.parent_path().empty() ? fs::path(".") : g.parent_path();
        if (esCarpeta(g) || g.filename().empty()) {
            plan.error = "--guardar-esquinas " + g.string() + ": es una carpeta; va el nombre de un archivo";
        } else if (!esCarpeta(padre)) {
            plan.error = "--guardar-esquinas " + g.string() + ": no existe la carpeta " + padre.string();
        } else if (::access(padre.c_str(), W_OK) != 0) {
            plan.error = "--guardar-esquinas " + g.string() + ": no se puede escribir en la carpeta " + padre.string();
        } else if (const auto otro = usados.find(canonico(g)); otro != usados.end()) {
            plan.error = "--guardar-esquinas " + g.string() + ": es el resultado de la foto " + otro->second.string();
        } else if (plan.pdf && canonico(*plan.pdf) == canonico(g)) {
            plan.error = "--guardar-esquinas " + g.string() + ": es el PDF de -o";
        } else {
            escribible(g);
        }
    }
    return plan;
}
