// Writes a folder of synthetic photographs of sheets on desks, of the kinds the scene sets make,
// with a corners.csv labelling them.
//   escenas [options] FOLDER
//   escenas --help
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "escena.hpp"
#include "formatos/formatos.hpp"
#include "sistema/archivos.hpp"
#include "uso.hpp"

namespace {

constexpr char kDescripcion[] =
    "Writes synthetic photographs of sheets on desks into FOLDER (made if missing), named\n"
    "KIND-NNN.png (or .jpg, .bmp), and FOLDER/corners.csv with one line per photo:\n"
    "  file,width,height,tl_x,tl_y,tr_x,tr_y,br_x,br_y,bl_x,bl_y,kind,tilt,paper,turn,coverage,corners_out\n"
    "Corners are in the picture as a viewer shows it (x right, y down from the top row), clockwise\n"
    "from the corner nearest the top-left; tilt and turn are in degrees, paper is WIDTHxHEIGHT in\n"
    "inches as the page reads, coverage the sheet's share of the photo. A photo without a sheet\n"
    "leaves the corner, tilt, paper and turn fields empty. A page of prose (kind texto) has its words\n"
    "as set beside its photo, in KIND-NNN.txt (UTF-8).";

constexpr char kAyudaTipos[] =
    "comma-separated kinds, or 'todos' for all (default todos):\n"
    "oscuro, claro, bajo-contraste, textura, desorden, sombra,\n"
    "giro, perspectiva, fuera, apaisada, a4, sin-hoja, sombra-dura\n"
    "(a small sheet on black leather under a hard shadow),\n"
    "objetos-oscuros (no sheet: a keyboard, phone, tablet or dark\n"
    "book on a pale desk); and apart (not in 'todos'): lado-fuera,\n"
    "a side of the sheet wholly outside the photo; texto, a page of\n"
    "Spanish prose on an 8 or 12 megapixel photo, tilted up to 40\n"
    "degrees, upright, upside down, sideways or at any angle";

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

// Empty when the text is a whole number written in digits (no sign, which would wrap around), or
// else what is wrong.
std::string cifras(const std::string& texto) {
    if (texto.empty() || texto.find_first_not_of("0123456789") != std::string::npos)
        return "needs a whole number, got '" + texto + "'";
    return {};
}

// Empty when every kind in the comma-separated list is known, or else what is wrong.
std::string tiposConocidos(const std::string& lista) {
    const auto& conocidos = escena::tiposDeEscena();
    const auto& aparte = escena::tiposAparte();
    for (const std::string& t : separar(lista)) {
        if (t != "todos" && std::find(conocidos.begin(), conocidos.end(), t) == conocidos.end() &&
            std::find(aparte.begin(), aparte.end(), t) == aparte.end())
            return "unknown kind '" + t + "'";
    }
    return {};
}

// Writes `imagen` as PNG, JPEG or BMP.
Hecho grabar(const ImagenBmp& imagen, const std::filesystem::path& ruta, const std::string& formato) {
    if (formato == "bmp") return grabarImagen(imagen, ruta);
    const ArchivoCodificado archivo = formato == "jpg" ? codificarJpeg(imagen) : codificarPng(imagen);
    if (!archivo.ok()) return archivo.fallo();
    return grabarArchivo(ruta, *archivo);
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
    CLI::App app{kDescripcion, "escenas"};
    std::string listaTipos = "todos";
    std::uint64_t cuantas = 5;
    std::uint64_t semilla = 1;
    std::string formato = "png";
    bool paginas = false;
    int ppp = escena::kTexelesPorPulgada;
    std::string salida;
    app.add_option("FOLDER", salida, "the folder to write into")->required()->type_name("");
    app.add_option("-t,--tipos", listaTipos, kAyudaTipos)
        ->check(CLI::Validator(tiposConocidos, ""))
        ->type_name("KINDS");
    app.add_option("-n,--cuantas", cuantas, "photos of each kind (default 5)")
        ->check(CLI::Validator(cifras, ""))
        ->check(CLI::Range(std::uint64_t{0}, std::uint64_t{100000}))
        ->type_name("N");
    app.add_option("-s,--semilla", semilla, "seed; the same seed gives the same photos (default 1)")
        ->check(CLI::Validator(cifras, ""))
        ->type_name("S");
    app.add_option("-f,--formato", formato, "png, jpg (quality 90, as a phone's) or bmp (default png)")
        ->check(CLI::IsMember({"png", "jpg", "bmp"}))
        ->type_name("F");
    app.add_flag("-p,--paginas", paginas,
                 "also write each sheet's page front-on (at --ppp):\n"
                 "KIND-NNN-pagina (paper and ink only) and\n"
                 "KIND-NNN-pagina-luz (lit as in the photo)");
    app.add_option("--ppp", ppp, "pixels per inch of the pages that -p writes (default 100)")
        ->check(CLI::Range(10, 600))
        ->type_name("N");
    if (const auto fin = herramienta::leerArgumentos(app, argc, argv)) return *fin;

    std::vector<std::string> tipos = separar(listaTipos);
    if (std::find(tipos.begin(), tipos.end(), "todos") != tipos.end()) tipos = escena::tiposDeEscena();
    const std::filesystem::path carpeta = salida;
    std::error_code error;
    std::filesystem::create_directories(carpeta, error);
    if (error || !std::filesystem::is_directory(carpeta)) {
        std::fprintf(stderr, "escenas: cannot make the folder %s\n", carpeta.string().c_str());
        return 1;
    }

    const std::string extension = "." + formato;
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
                if (et.escena.puntosProsa > 0.0)
                    std::fprintf(stderr, "escenas: %s could not be rendered: cannot read the font %s (apt-get install fonts-dejavu-core)\n",
                                 nombre.c_str(), escena::kFuenteProsa);
                else
                    std::fprintf(stderr, "escenas: %s could not be rendered\n", nombre.c_str());
                return 1;
            }
            if (const Hecho grabada = grabar(foto->imagen, carpeta / nombre, formato); !grabada.ok()) {
                std::fprintf(stderr, "escenas: %s\n", grabada.mensaje().c_str());
                return 1;
            }
            if (et.escena.puntosProsa > 0.0) {
                const auto texto = escena::textoDeLaPagina(et.escena);
                const std::string archivo = std::string(base) + ".txt";
                if (!texto) {
                    std::fprintf(stderr, "escenas: the words of %s could not be set\n", archivo.c_str());
                    return 1;
                }
                if (const Hecho grabado = grabarArchivo(
                        carpeta / archivo,
                        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(texto->data()), texto->size()));
                    !grabado.ok()) {
                    std::fprintf(stderr, "escenas: %s\n", grabado.mensaje().c_str());
                    return 1;
                }
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
                const int anchoPagina = static_cast<int>(et.escena.anchoPapel * ppp + 0.5);
                const int altoPagina = static_cast<int>(et.escena.altoPapel * ppp + 0.5);
                const auto puntos = escena::esquinasDeImagen(anchoPagina, altoPagina);
                for (const bool conLuz : {false, true}) {
                    const auto pagina = escena::paginaDeFrente(et.escena, anchoPagina, altoPagina, puntos, conLuz);
                    const std::string archivo = std::string(base) + (conLuz ? "-pagina-luz" : "-pagina") + extension;
                    if (!pagina) {
                        std::fprintf(stderr, "escenas: %s could not be rendered\n", archivo.c_str());
                        return 1;
                    }
                    if (const Hecho grabada = grabar(*pagina, carpeta / archivo, formato); !grabada.ok()) {
                        std::fprintf(stderr, "escenas: %s\n", grabada.mensaje().c_str());
                        return 1;
                    }
                }
            }
            ++escritas;
        }
    }
    const std::string textoCsv = csv;
    if (const Hecho grabado = grabarArchivo(carpeta / "corners.csv",
                                            std::span<const std::uint8_t>(
                                                reinterpret_cast<const std::uint8_t*>(textoCsv.data()), textoCsv.size()));
        !grabado.ok()) {
        std::fprintf(stderr, "escenas: %s\n", grabado.mensaje().c_str());
        return 1;
    }
    std::printf("%d photos and corners.csv in %s\n", escritas, carpeta.string().c_str());
    return 0;
}
