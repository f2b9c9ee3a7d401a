#include "app/opciones.hpp"

#include <algorithm>
#include <charconv>
#include <map>
#include <system_error>

#include <CLI/CLI.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include "app/recorrido.hpp"
#include "ocr/ocr.hpp"

namespace fs = std::filesystem;

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

Resultado<Opciones> leerOpciones(int argc, const char* const* argv) {
    Opciones o;
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
    opcion("--ocr", o.ocr);
    app.add_flag("--orientar", o.orientar);
    app.add_flag("--revisar", o.revisar);
    std::string puerto;
    opcion("--puerto", puerto);
    std::vector<std::string> fotos;
    app.add_option("fotos", fotos);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ArgumentMismatch& e) {
        return Fallo{"a una opcion le falta su valor (" + std::string(e.what()) + ")"};
    } catch (const CLI::ParseError& e) {
        return Fallo{"argumentos que no se entienden: " + std::string(e.what())};
    }
    if (o.ayuda || o.version) return o;
    // "--" ends the options (the arguments after it are all photos); the parser hands the mark back
    // among the arguments it did not take.
    bool finDeOpciones = false;
    for (const std::string& resto : app.remaining()) {
        if (resto == "--" && !finDeOpciones) {
            finDeOpciones = true;
            continue;
        }
        return Fallo{(resto.size() > 1 && resto[0] == '-' ? "opcion desconocida: " : "argumento de mas: ") + resto};
    }
    for (const auto& [op, valor] : conValor) {
        if (op->count() > 1) {
            return Fallo{"la opcion " + op->get_name() + " se dio " + std::to_string(op->count()) + " veces; va una sola"};
        }
        if (op->count() == 1 && valor->empty()) {
            return Fallo{"la opcion " + op->get_name() + " se dio con un valor vacio"};
        }
    }
    for (const std::string& f : fotos) o.fotos.emplace_back(f);
    if (!salida.empty()) o.salida = salida;
    if (!etapas.empty()) o.etapas = etapas;
    if (!calidad.empty()) {
        const auto q = entero(calidad, 1, 100);
        if (!q) {
            return Fallo{"--calidad " + calidad + ": debe ser un entero de 1 a 100"};
        }
        o.calidad = *q;
    }
    if (!hilos.empty()) {
        const auto n = entero(hilos, 1, 1024);
        if (!n) {
            return Fallo{"--hilos " + hilos + ": debe ser un entero de 1 a 1024"};
        }
        o.hilos = *n;
    }
    // A word among the few an option takes.
    std::optional<Fallo> malaPalabra;  // the first word of a list that is none of its words
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
        malaPalabra = Fallo{std::string(opcion) + " " + texto + ": debe ser " + lista};
        return false;
    };
    const std::pair<const char*, Detector> detectores[] = {{"robusto", Detector::robusto}, {"espec", Detector::espec}};
    const std::pair<const char*, Mapa> mapas[] = {{"perspectiva", Mapa::perspectiva}, {"bilineal", Mapa::bilineal}};
    const std::pair<const char*, Papel> papeles[] = {
        {"carta", Papel::carta}, {"a4", Papel::a4}, {"oficio", Papel::oficio}, {"auto", Papel::automatico}};
    const std::pair<const char*, Mejora> mejoras[] = {{"color", Mejora::color}, {"gris", Mejora::gris}, {"bn", Mejora::bn}};
    if (!palabra("--detector", detector, detectores, o.detector) || !palabra("--mapa", mapa, mapas, o.pagina.mapa) ||
        !palabra("--papel", papel, papeles, o.pagina.papel) || !palabra("--mejorar", mejora, mejoras, o.mejora)) {
        return *malaPalabra;
    }
    if (!ppp.empty()) {
        const auto n = entero(ppp, 10, 1200);
        if (!n) {
            return Fallo{"--ppp " + ppp + ": debe ser un entero de 10 a 1200"};
        }
        o.pagina.ppp = *n;
    }
    if (!megapixeles.empty()) {
        const auto n = entero(megapixeles, 1, 900);
        if (!n) {
            return Fallo{"--max-megapixeles " + megapixeles + ": debe ser un entero de 1 a 900"};
        }
        o.maxMegapixeles = *n;
    }
    if (!puerto.empty()) {
        const auto n = entero(puerto, 1, 65535);
        if (!n) {
            return Fallo{"--puerto " + puerto + ": debe ser un entero de 1 a 65535"};
        }
        if (!o.revisar) {
            return Fallo{"--puerto va con --revisar"};
        }
        o.puerto = *n;
    }
    if (!esquinasDe.empty()) o.esquinasDe = esquinasDe;
    if (!guardarEsquinas.empty()) o.guardarEsquinas = guardarEsquinas;
    if (!esquinas.empty()) {
        Resultado<Cuadrilatero> leidas = leerEsquinasTexto(esquinas);
        if (!leidas) {
            return Fallo{"--esquinas " + esquinas + ": " + leidas.mensaje()};
        }
        o.esquinas = *leidas;
        if (o.esquinasDe) {
            return Fallo{"--esquinas y --esquinas-de no van juntas: --esquinas es para una foto, --esquinas-de para un lote"};
        }
    }
    if (!o.ocr.empty()) {
        if (!idiomasBienEscritos(o.ocr)) {
            return Fallo{"--ocr " + o.ocr + ": debe ser uno o mas idiomas de Tesseract unidos por +, como spa o spa+eng"};
        }
        // Text is read on the page as it stands upright.
        o.orientar = true;
    }
    if (o.fotos.empty()) return Fallo{"falta la foto: escaner [OPCIONES] FOTO..."};
    if (o.esquinas && o.fotos.size() > 1) {
        return Fallo{"--esquinas es para una sola foto, y se dieron " + std::to_string(o.fotos.size()) +
                     "; para un lote, --esquinas-de ARCHIVO"};
    }
    return o;
}

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

// Fails where an existing `ruta` cannot take a result: something other than a file, a symbolic
// link or a folder (a folder fails on its own when written, and takes nothing with it).
Hecho puedeSerResultado(const fs::path& ruta) {
    struct stat st {};
    if (::lstat(ruta.c_str(), &st) != 0) return {};
    if (S_ISFIFO(st.st_mode)) return Fallo{ruta.string() + " es una tuberia (FIFO): no se escribe sobre ella"};
    if (S_ISSOCK(st.st_mode)) return Fallo{ruta.string() + " es un socket: no se escribe sobre el"};
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return Fallo{ruta.string() + " es un dispositivo: no se escribe sobre el"};
    return {};
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
            plan.fallo = Fallo{"-o " + s.string() + ": con varias fotos, -o es una carpeta o un .pdf"};
            return plan;
        } else if (!formatoArchivo && !pideCarpeta && !varias) {
            plan.fallo = Fallo{"-o " + s.string() +
                         ": no es una carpeta y su extension no es .png, .jpg, .jpeg, .bmp ni .pdf"};
            return plan;
        } else if (!formatoArchivo) {
            plan.carpeta = s;
        }
        if (formatoArchivo) {
            const fs::path padre = s.parent_path().empty() ? fs::path(".") : s.parent_path();
            if (!esCarpeta(padre)) {
                plan.fallo = Fallo{"-o " + s.string() + ": no existe la carpeta " + padre.string()};
                return plan;
            }
            if (::access(padre.c_str(), W_OK) != 0) {
                plan.fallo = Fallo{"-o " + s.string() + ": no se puede escribir en la carpeta " + padre.string()};
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
            plan.fallo = Fallo{"la foto " + foto.string() + " se nombra dos veces"};
            return plan;
        }
        if (id) archivos.emplace(*id, foto);
    }
    // Every file the run would write, checked against every photo and against the others.
    std::map<fs::path, fs::path> usados;  // result, stage folder or stage image -> the photo that takes it
    const auto escribible = [&](const fs::path& ruta) {
        if (fotos.count(canonico(ruta))) {
            plan.fallo = Fallo{ruta.string() + " es una de las fotos: no se escribe sobre ella"};
            return false;
        }
        if (const auto id = identidad(ruta)) {
            if (const auto foto = archivos.find(*id); foto != archivos.end()) {
                plan.fallo = Fallo{ruta.string() + " es la foto " + foto->second.string() + ": no se escribe sobre ella"};
                return false;
            }
        }
        if (const Hecho puede = puedeSerResultado(ruta); !puede.ok()) {
            plan.fallo = Fallo{puede.mensaje()};
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
        if (!o.ocr.empty() && !d.resultado.empty()) {
            d.texto = fs::path(d.resultado).replace_extension(".txt");
            escritos.push_back(*d.texto);
        }
        if (d.etapas) {
            escritos.push_back(*d.etapas);
            for (const char* etapa : kImagenesEtapas) escritos.push_back(*d.etapas / etapa);
        }
        for (const fs::path& usado : escritos) {
            if (!escribible(usado)) return plan;
            const auto [donde, nuevo] = usados.emplace(canonico(usado), foto);
            if (!nuevo) {
                plan.fallo = Fallo{"las fotos " + donde->second.string() + " y " + foto.string() +
                             " darian el mismo resultado " + usado.string()};
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
            plan.fallo = Fallo{"--guardar-esquinas " + g.string() + ": es una carpeta; va el nombre de un archivo"};
        } else if (!esCarpeta(padre)) {
            plan.fallo = Fallo{"--guardar-esquinas " + g.string() + ": no existe la carpeta " + padre.string()};
        } else if (::access(padre.c_str(), W_OK) != 0) {
            plan.fallo = Fallo{"--guardar-esquinas " + g.string() + ": no se puede escribir en la carpeta " + padre.string()};
        } else if (const auto otro = usados.find(canonico(g)); otro != usados.end()) {
            plan.fallo = Fallo{"--guardar-esquinas " + g.string() + ": es el resultado de la foto " + otro->second.string()};
        } else if (plan.pdf && canonico(*plan.pdf) == canonico(g)) {
            plan.fallo = Fallo{"--guardar-esquinas " + g.string() + ": es el PDF de -o"};
        } else {
            escribible(g);
        }
    }
    return plan;
}
