// Writes a folder of synthetic photographs of sheets on desks, of the kinds the scene sets make,
// with a corners.csv labelling them.
//   escenas [options] FOLDER
//   escenas --help
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "escena.hpp"
#include "formatos/formatos.hpp"
#include "sistema/archivos.hpp"

namespace {

constexpr char kUso[] =
    "usage: escenas [OPTIONS] FOLDER\n"
    "Writes synthetic photographs of sheets on desks into FOLDER (made if missing), named\n"
    "KIND-NNN.png (or .bmp), and FOLDER/corners.csv with one line per photo:\n"
    "  file,width,height,tl_x,tl_y,tr_x,tr_y,br_x,br_y,bl_x,bl_y,kind,tilt,paper,turn,coverage,corners_out\n"
    "Corners are in the picture as a viewer shows it (x right, y down from the top row), clockwise\n"
    "from the corner nearest the top-left; tilt and turn are in degrees, paper is WIDTHxHEIGHT in\n"
    "inches as the page reads, coverage the sheet's share of the photo. A photo without a sheet\n"
    "leaves the corner, tilt, paper and turn fields empty.\n"
    "  -t, --tipos KINDS    comma-separated kinds, or 'todos' for all (default todos):\n"
    "                       oscuro, claro, bajo-contraste, textura, desorden, sombra, giro,\n"
    "                       perspectiva, fuera, apaisada, a4, sin-hoja, sombra-dura (a small\n"
    "                       sheet on black leather under a hard shadow), objetos-oscuros (no\n"
    "                       sheet: a keyboard, phone, tablet or dark book on a pale desk); and\n"
    "                       apart (not in\n"
    "                       'todos'): lado-fuera, a side of the sheet wholly outside the photo\n"
    "  -n, --cuantas N      photos of each kind (default 5)\n"
    "  -s, --semilla S      seed; the same seed gives the same photos (default 1)\n"
    "  -f, --formato F      png or bmp (default png)\n"
    "  -p, --paginas        also write each sheet's page front-on at 100 pixels per inch:\n"
    "                       KIND-NNN-pagina (paper and ink only) and KIND-NNN-pagina-luz (lit as\n"
    "                       in the photo)\n"
    "  -h, --help           this text\n";

int errorDeUso(const std::string& mensaje) {
    std::fprintf(stderr, "escenas: %s\n%s", mensaje.c_str(), kUso);
    return 2;
}

std::optional<std::uint64_t> numero(const char* texto, std::uint64_t maximo) {
    if (texto[0] < '0' || texto[0] > '9') return std::nullopt;
    errno = 0;
    char* fin = nullptr;
    const unsigned long long v = std::strtoull(texto, &fin, 10);
    if (errno != 0 || *fin != '\0' || v > maximo) return std::nullopt;
    return static_cast<std::uint64_t>(v);
}

std::vector<std::string> separar(const std::string& texto) {
    std::vector<std::string> r;
    std::size_t desde = 0;
    while (true) {
        const std::size_t coma = texto.find(',', desde);
        r.push_back(texto.substr(desde, coma == std::string::npos ? std::string::npos : coma - desde));
        if (coma == std::string::npos) return r;
        desde = coma + 1;
    }
}

// Writes `imagen` as PNG or BMP; the failure as one line.
std::optional<std::string> grabar(const ImagenBmp& imagen, const std::filesystem::path& ruta, bool png) {
    if (!png) return grabarImagen(imagen, ruta);
    const ArchivoCodificado archivo = codificarPng(imagen);
    if (!archivo.valido()) return archivo.mensaje;
    return grabarArchivo(ruta, std::span<const std::uint8_t>(archivo.bytes));
}

std::string decimal(double v, const char* formato = "%.2f") {
    char texto[64];
    std::snprintf(texto, sizeof texto, formato, v);
    return texto;
}

void campo(std::string& linea, const std::string& valor) {
    linea += ',';
    linea += valor;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> tipos = {"todos"};
    std::uint64_t cuantas = 5;
    std::uint64_t semilla = 1;
    bool png = true;
    bool paginas = false;
    std::vector<std::string> argumentos;
    bool opciones = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (opciones && (a == "-h" || a == "--help")) {
            std::fputs(kUso, stdout);
            return 0;
        }
        if (!opciones || a.empty() || a[0] != '-' || a == "-") {
            argumentos.push_back(a);
            continue;
        }
        if (a == "--") {
            opciones = false;
            continue;
        }
        // --name=value or --name value, -x value.
        std::string nombre = a;
        std::optional<std::string> valor;
        if (const auto igual = a.find('='); a.rfind("--", 0) == 0 && igual != std::string::npos) {
            nombre = a.substr(0, igual);
            valor = a.substr(igual + 1);
        }
        auto pedirValor = [&]() -> std::optional<std::string> {
            if (valor) return valor;
            if (i + 1 >= argc) return std::nullopt;
            return std::string(argv[++i]);
        };
        if (nombre == "-p" || nombre == "--paginas") {
            if (valor) return errorDeUso("option " + nombre + " takes no value");
            paginas = true;
        } else if (nombre == "-t" || nombre == "--tipos") {
            const auto v = pedirValor();
            if (!v) return errorDeUso("option " + nombre + " needs a value");
            tipos = separar(*v);
            for (const std::string& t : tipos) {
                const auto& conocidos = escena::tiposDeEscena();
                const auto& aparte = escena::tiposAparte();
                if (t != "todos" && std::find(conocidos.begin(), conocidos.end(), t) == conocidos.end() &&
                    std::find(aparte.begin(), aparte.end(), t) == aparte.end())
                    return errorDeUso("unknown kind '" + t + "'");
            }
        } else if (nombre == "-n" || nombre == "--cuantas") {
            const auto v = pedirValor();
            const auto n = v ? numero(v->c_str(), 100000) : std::nullopt;
            if (!n) return errorDeUso("option " + nombre + " needs a whole number from 0 to 100000");
            cuantas = *n;
        } else if (nombre == "-s" || nombre == "--semilla") {
            const auto v = pedirValor();
            const auto n = v ? numero(v->c_str(), UINT64_MAX) : std::nullopt;
            if (!n) return errorDeUso("option " + nombre + " needs a whole number");
            semilla = *n;
        } else if (nombre == "-f" || nombre == "--formato") {
            const auto v = pedirValor();
            if (!v || (*v != "png" && *v != "bmp")) return errorDeUso("option " + nombre + " needs png or bmp");
            png = *v == "png";
        } else {
            return errorDeUso("unknown option " + a);
        }
    }
    if (argumentos.size() != 1) return errorDeUso("give one output folder");
    if (std::find(tipos.begin(), tipos.end(), "todos") != tipos.end()) tipos = escena::tiposDeEscena();
    const std::filesystem::path carpeta = argumentos[0];
    std::error_code error;
    std::filesystem::create_directories(carpeta, error);
    if (error || !std::filesystem::is_directory(carpeta)) {
        std::fprintf(stderr, "escenas: cannot make the folder %s\n", carpeta.string().c_str());
        return 1;
    }

    const char* extension = png ? ".png" : ".bmp";
    std::string csv = "file,width,height,tl_x,tl_y,tr_x,tr_y,br_x,br_y,bl_x,bl_y,kind,tilt,paper,turn,coverage,corners_out\n";
    int escritas = 0;
    for (const std::string& tipo : tipos) {
        const auto conjunto = escena::conjuntoDeEscenas(tipo, static_cast<int>(cuantas), semilla);
        int indice = 0;
        for (const escena::EscenaEtiquetada& et : conjunto) {
            char base[96];
            std::snprintf(base, sizeof base, "%s-%03d", et.tipo.c_str(), indice++);
            const std::string nombre = std::string(base) + extension;
            const auto foto = escena::renderizarEscena(et.escena);
            if (!foto) {
                std::fprintf(stderr, "escenas: %s could not be rendered\n", nombre.c_str());
                return 1;
            }
            if (const auto fallo = grabar(foto->imagen, carpeta / nombre, png)) {
                std::fprintf(stderr, "escenas: %s\n", fallo->c_str());
                return 1;
            }
            const int alto = et.escena.alto;
            std::string linea = nombre;
            campo(linea, std::to_string(et.escena.ancho));
            campo(linea, std::to_string(alto));
            if (et.conHoja) {
                // As a viewer shows the picture: from the top-left, clockwise on screen.
                for (const Esquina& p : aPantalla(ordenarCuadrilatero(et.escena.esquinas, alto), alto)) {
                    campo(linea, decimal(p.x));
                    campo(linea, decimal(p.y));
                }
                campo(linea, et.tipo);
                campo(linea, decimal(et.inclinacion));
                campo(linea, decimal(et.papel.ancho, "%g"));
                linea += 'x';
                linea += decimal(et.papel.alto, "%g");
                campo(linea, decimal(et.giro));
                campo(linea, decimal(et.cobertura, "%.3f"));
                campo(linea, std::to_string(et.esquinasFuera));
            } else {
                linea += ",,,,,,,,,";
                linea += et.tipo;
                linea += ",,,,0,0";
            }
            csv += linea;
            csv += '\n';
            if (paginas && et.conHoja) {
                const int anchoPagina = static_cast<int>(et.escena.anchoPapel * escena::kTexelesPorPulgada + 0.5);
                const int altoPagina = static_cast<int>(et.escena.altoPapel * escena::kTexelesPorPulgada + 0.5);
                const auto puntos = escena::esquinasDeImagen(anchoPagina, altoPagina);
                for (const bool conLuz : {false, true}) {
                    const auto pagina = escena::paginaDeFrente(et.escena, anchoPagina, altoPagina, puntos, conLuz);
                    const std::string archivo = std::string(base) + (conLuz ? "-pagina-luz" : "-pagina") + extension;
                    if (!pagina) {
                        std::fprintf(stderr, "escenas: %s could not be rendered\n", archivo.c_str());
                        return 1;
                    }
                    if (const auto fallo = grabar(*pagina, carpeta / archivo, png)) {
                        std::fprintf(stderr, "escenas: %s\n", fallo->c_str());
                        return 1;
                    }
                }
            }
            ++escritas;
        }
    }
    const std::string textoCsv = csv;
    if (const auto fallo = grabarArchivo(carpeta / "corners.csv",
                                         std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(textoCsv.data()),
                                                                       textoCsv.size()))) {
        std::fprintf(stderr, "escenas: %s\n", fallo->c_str());
        return 1;
    }
    std::printf("%d photos and corners.csv in %s\n", escritas, carpeta.string().c_str());
    return 0;
}
