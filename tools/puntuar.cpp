// Scores both sheet detectors on a folder of labelled photos.
//   puntuar [options] FOLDER
//   puntuar --help
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/recorrido.hpp"
#include "deteccion/deteccion.hpp"
#include "formatos/formatos.hpp"
#include "geometria/cuadrilatero.hpp"
#include "uso.hpp"

namespace {

constexpr char kDescripcion[] =
    "Runs both sheet detectors (espec: the fixed-threshold stages; robusto: the robust detector) on\n"
    "every photo listed in FOLDER/corners.csv and compares their corners with the labelled ones.\n"
    "corners.csv has a header line naming its columns; these are read:\n"
    "  file,width,height,tl_x,tl_y,tr_x,tr_y,br_x,br_y,bl_x,bl_y[,kind]\n"
    "corners in the picture as a viewer shows it (y down from the top row). Empty corners, or kind\n"
    "'sin-hoja', mean the photo shows no sheet. A photo's error is its largest corner distance as a\n"
    "fraction of the photo's diagonal, corners compared as a set (both ordered around the sheet).\n"
    "Outcomes: ok (error within the threshold), error (found, but farther), perdida (a sheet not\n"
    "found), sin-hoja (rightly none), falsa (a sheet reported where there is none).";

// Empty when the text is a percentage above 0 and at most 100, or else what is wrong.
std::string porcentajeValido(const std::string& texto) {
    char* fin = nullptr;
    const double x = std::strtod(texto.c_str(), &fin);
    if (texto.empty() || *fin != '\0' || !(x > 0.0 && x <= 100.0))
        return "needs a percentage above 0 and at most 100, got '" + texto + "'";
    return {};
}

std::vector<std::string> separar(const std::string& linea) {
    std::vector<std::string> campos;
    std::size_t desde = 0;
    while (true) {
        const std::size_t coma = linea.find(',', desde);
        std::string campo = linea.substr(desde, coma == std::string::npos ? std::string::npos : coma - desde);
        while (!campo.empty() && (campo.back() == '\r' || campo.back() == ' ')) campo.pop_back();
        while (!campo.empty() && campo.front() == ' ') campo.erase(campo.begin());
        campos.push_back(campo);
        if (coma == std::string::npos) return campos;
        desde = coma + 1;
    }
}

struct Caso {
    std::string archivo;
    std::string tipo;
    int ancho = 0, alto = 0;
    std::optional<Cuadrilatero> esquinas;  // as labelled: the display frame and order
};

enum class Veredicto { ok, error, perdida, sinHoja, falsa, ilegible };

const char* nombre(Veredicto r) {
    switch (r) {
        case Veredicto::ok: return "ok";
        case Veredicto::error: return "error";
        case Veredicto::perdida: return "perdida";
        case Veredicto::sinHoja: return "sin-hoja";
        case Veredicto::falsa: return "falsa";
        case Veredicto::ilegible: return "ilegible";
    }
    return "?";
}

struct Medida {
    Veredicto resultado = Veredicto::ilegible;
    double error = -1;  // fraction of the diagonal; -1 when not comparable
    double segundos = 0;
};

struct Fila {
    Medida espec, robusto;
    std::string nota;
};

// The largest corner distance, the corners matched around the sheet (the best of the four turns,
// so that a sheet near 45 degrees is not charged for which corner counts as the first). Both in
// the stored-row frame of a photo `alto` rows high.
double errorDeEsquinas(const Cuadrilatero& hallada, const Cuadrilatero& verdad, int alto) {
    const Cuadrilatero a = ordenarCuadrilatero(hallada, alto), b = ordenarCuadrilatero(verdad, alto);
    double mejor = 1e300;
    for (int giro = 0; giro < 4; ++giro) {
        double peor = 0;
        for (int i = 0; i < 4; ++i)
            peor = std::max(peor, std::hypot(a[(i + giro) % 4].x - b[i].x, a[(i + giro) % 4].y - b[i].y));
        mejor = std::min(mejor, peor);
    }
    return mejor;
}

Medida medir(bool encontrada, const Cuadrilatero& esquinas, const Caso& caso, int alto, double diagonal,
             double umbral) {
    Medida m;
    if (!caso.esquinas) {
        m.resultado = encontrada ? Veredicto::falsa : Veredicto::sinHoja;
        return m;
    }
    if (!encontrada) {
        m.resultado = Veredicto::perdida;
        return m;
    }
    m.error = errorDeEsquinas(esquinas, desdePantalla(*caso.esquinas, alto), alto) / diagonal;
    m.resultado = m.error <= umbral ? Veredicto::ok : Veredicto::error;
    return m;
}

Fila puntuarCaso(const std::filesystem::path& carpeta, const Caso& caso, double umbral) {
    Fila fila;
    LecturaFoto lectura = leerFoto(carpeta / caso.archivo);
    if (!lectura.imagen) {
        fila.nota = lectura.mensaje;
        return fila;
    }
    const ImagenBmp& foto = *lectura.imagen;
    if (caso.ancho > 0 && caso.alto > 0 && (foto.ancho() != caso.ancho || foto.alto() != caso.alto))
        fila.nota = "the photo is " + std::to_string(foto.ancho()) + "x" + std::to_string(foto.alto()) +
                    ", corners.csv says " + std::to_string(caso.ancho) + "x" + std::to_string(caso.alto);
    const double diagonal = std::hypot(foto.ancho(), foto.alto());
    using Reloj = std::chrono::steady_clock;
    {
        std::FILE* nada = std::fopen("/dev/null", "w");
        const auto inicio = Reloj::now();
        const ResultadoRecorrido r = buscarHojaPorEtapas(foto, nada ? nada : stderr, std::nullopt);
        const double s = std::chrono::duration<double>(Reloj::now() - inicio).count();
        if (nada) std::fclose(nada);
        if (r.hallazgo == Hallazgo::error) {
            fila.espec.resultado = Veredicto::ilegible;
        } else {
            fila.espec = medir(r.hallazgo == Hallazgo::hoja, r.esquinas, caso, foto.alto(), diagonal, umbral);
        }
        fila.espec.segundos = s;
    }
    {
        const auto inicio = Reloj::now();
        const HojaDetectada h = detectarHojaRobusta(foto);
        const double s = std::chrono::duration<double>(Reloj::now() - inicio).count();
        fila.robusto = medir(h.encontrada, h.esquinas, caso, foto.alto(), diagonal, umbral);
        fila.robusto.segundos = s;
    }
    return fila;
}

struct Totales {
    int fotos = 0, conHoja = 0, sinHoja = 0;
    int cuenta[2][6] = {};  // detector x outcome
    double segundos[2] = {0, 0};
    int espOkRobNo = 0;     // the fixed thresholds right, the robust detector not
};

std::string porcentaje(int parte, int todo) {
    if (todo == 0) return "-";
    char t[32];
    std::snprintf(t, sizeof t, "%.1f%%", 100.0 * parte / todo);
    return t;
}

std::string errorTexto(const Medida& m) {
    if (m.error < 0) return "-";
    char t[32];
    std::snprintf(t, sizeof t, "%.3f%%", 100.0 * m.error);
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{kDescripcion, "puntuar"};
    std::string porcentajeUmbral = "1";
    int hilos = 1;
    bool resumen = false;
    std::string entrada;
    app.add_option("FOLDER", entrada, "the folder with the photos and corners.csv")->required()->type_name("");
    app.add_option("-u,--umbral", porcentajeUmbral,
                   "the threshold in percent of the diagonal (default 1; use 1.5\n"
                   "for real photos)")
        ->check(CLI::Validator(porcentajeValido, ""))
        ->type_name("PCT");
    app.add_option("-j,--hilos", hilos, "photos scored at once (default 1)")->check(CLI::Range(1, 64))->type_name("N");
    app.add_flag("-q,--resumen", resumen, "the summary table only");
    app.footer("Status: 0 when scored, 1 when the folder or its corners.csv cannot be read, 2 on bad usage.");
    if (const auto fin = herramienta::leerArgumentos(app, argc, argv)) return *fin;
    const double umbral = std::strtod(porcentajeUmbral.c_str(), nullptr) / 100.0;
    const std::filesystem::path carpeta = entrada;

    std::ifstream csv(carpeta / "corners.csv");
    if (!csv) {
        std::fprintf(stderr, "puntuar: cannot read %s\n", (carpeta / "corners.csv").c_str());
        return 1;
    }
    std::string linea;
    if (!std::getline(csv, linea)) {
        std::fprintf(stderr, "puntuar: %s is empty\n", (carpeta / "corners.csv").c_str());
        return 1;
    }
    const std::vector<std::string> cabecera = separar(linea);
    std::map<std::string, std::size_t> columna;
    for (std::size_t i = 0; i < cabecera.size(); ++i) columna[cabecera[i]] = i;
    const char* necesarias[] = {"file", "tl_x", "tl_y", "tr_x", "tr_y", "br_x", "br_y", "bl_x", "bl_y"};
    for (const char* n : necesarias) {
        if (!columna.count(n)) {
            std::fprintf(stderr, "puntuar: corners.csv has no column '%s'\n", n);
            return 1;
        }
    }
    std::vector<Caso> casos;
    int numeroLinea = 1;
    while (std::getline(csv, linea)) {
        ++numeroLinea;
        if (linea.empty() || linea == "\r") continue;
        const std::vector<std::string> c = separar(linea);
        auto campo = [&](const char* n) -> std::string {
            const auto it = columna.find(n);
            return it != columna.end() && it->second < c.size() ? c[it->second] : std::string();
        };
        Caso caso;
        caso.archivo = campo("file");
        const std::string tipo = campo("kind");
        caso.tipo = tipo.empty() ? std::string(1, '-') : tipo;
        caso.ancho = std::atoi(campo("width").c_str());
        caso.alto = std::atoi(campo("height").c_str());
        const char* nombres[4][2] = {{"tl_x", "tl_y"}, {"tr_x", "tr_y"}, {"br_x", "br_y"}, {"bl_x", "bl_y"}};
        Cuadrilatero e{};
        int llenos = 0;
        bool malos = false;
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 2; ++j) {
                const std::string v = campo(nombres[i][j]);
                if (v.empty()) continue;
                char* fin = nullptr;
                (j == 0 ? e[i].x : e[i].y) = std::strtod(v.c_str(), &fin);
                if (*fin != '\0') malos = true;
                ++llenos;
            }
        }
        if (caso.archivo.empty() || malos || (llenos != 0 && llenos != 8)) {
            std::fprintf(stderr, "puntuar: corners.csv line %d cannot be read\n", numeroLinea);
            return 1;
        }
        if (llenos == 8 && caso.tipo != "sin-hoja") caso.esquinas = e;
        casos.push_back(caso);
    }

    std::vector<Fila> filas(casos.size());
    std::atomic<std::size_t> siguiente{0};
    auto trabajar = [&] {
        for (std::size_t i = siguiente++; i < casos.size(); i = siguiente++) filas[i] = puntuarCaso(carpeta, casos[i], umbral);
    };
    std::vector<std::thread> grupo;
    for (int h = 1; h < hilos; ++h) grupo.emplace_back(trabajar);
    trabajar();
    for (std::thread& t : grupo) t.join();

    if (!resumen) {
        std::printf("%-44s %-15s %-9s %-9s %-9s %-9s  %s\n", "photo", "kind", "espec", "error", "robusto", "error",
                    "note");
        for (std::size_t i = 0; i < casos.size(); ++i) {
            const Fila& f = filas[i];
            std::printf("%-44s %-15s %-9s %-9s %-9s %-9s  %s\n", casos[i].archivo.c_str(), casos[i].tipo.c_str(),
                        nombre(f.espec.resultado), errorTexto(f.espec).c_str(), nombre(f.robusto.resultado),
                        errorTexto(f.robusto).c_str(), f.nota.c_str());
        }
        std::printf("\n");
    }

    // Summary per kind, in the order the kinds first appear, then overall.
    std::vector<std::string> orden;
    std::map<std::string, Totales> porTipo;
    Totales total;
    for (std::size_t i = 0; i < casos.size(); ++i) {
        if (!porTipo.count(casos[i].tipo)) orden.push_back(casos[i].tipo);
        for (Totales* t : {&porTipo[casos[i].tipo], &total}) {
            ++t->fotos;
            (casos[i].esquinas ? t->conHoja : t->sinHoja) += 1;
            const Medida* m[2] = {&filas[i].espec, &filas[i].robusto};
            for (int d = 0; d < 2; ++d) {
                ++t->cuenta[d][static_cast<int>(m[d]->resultado)];
                t->segundos[d] += m[d]->segundos;
            }
            const bool espOk = m[0]->resultado == Veredicto::ok || m[0]->resultado == Veredicto::sinHoja;
            const bool robOk = m[1]->resultado == Veredicto::ok || m[1]->resultado == Veredicto::sinHoja;
            if (espOk && !robOk) ++t->espOkRobNo;
        }
    }
    std::printf("threshold %.2f%% of the diagonal; per detector: ok/error/perdida over photos with a sheet,\n"
                "sin-hoja/falsa over photos without; 'regress' = photos the fixed thresholds get right and the\n"
                "robust one does not\n",
                100.0 * umbral);
    std::printf("%-15s %5s | %-30s | %-30s | %7s\n", "kind", "fotos", "espec ok  err  perd  sinh fals",
                "robusto ok  err  perd  sinh fals", "regress");
    auto imprimir = [&](const std::string& tipo, const Totales& t) {
        std::string partes[2];
        for (int d = 0; d < 2; ++d) {
            char texto[128];
            const int* c = t.cuenta[d];
            std::snprintf(texto, sizeof texto, "%6s %4d %4d %4d %4d  (%s)", porcentaje(c[0], t.conHoja).c_str(), c[1],
                          c[2], c[3], c[4], porcentaje(c[3], t.sinHoja).c_str());
            partes[d] = texto;
        }
        std::printf("%-15s %5d | %-30s | %-30s | %7d\n", tipo.c_str(), t.fotos, partes[0].c_str(), partes[1].c_str(),
                    t.espOkRobNo);
    };
    for (const std::string& tipo : orden) imprimir(tipo, porTipo[tipo]);
    imprimir("total", total);
    std::printf("unreadable photos: %d; mean seconds per photo: espec %.3f, robusto %.3f\n", total.cuenta[0][5],
                total.fotos ? total.segundos[0] / total.fotos : 0.0, total.fotos ? total.segundos[1] / total.fotos : 0.0);
    return 0;
}
