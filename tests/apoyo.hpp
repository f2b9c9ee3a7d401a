#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "imagen/imagen_bmp.hpp"

namespace apoyo {

using Bytes = std::vector<std::uint8_t>;

// A fresh empty folder under the system's temporary folder, removed with everything in it.
struct CarpetaTemporal {
    std::filesystem::path ruta;
    CarpetaTemporal() {
        static int cuenta = 0;
        ruta = std::filesystem::temp_directory_path() /
               ("escaner-prueba-" + std::to_string(::getpid()) + "-" + std::to_string(cuenta++));
        std::filesystem::remove_all(ruta);
        std::filesystem::create_directories(ruta);
    }
    ~CarpetaTemporal() {
        std::error_code ec;
        std::filesystem::remove_all(ruta, ec);
    }
    CarpetaTemporal(const CarpetaTemporal&) = delete;
    CarpetaTemporal& operator=(const CarpetaTemporal&) = delete;
    std::filesystem::path operator/(const std::string& nombre) const { return ruta / nombre; }
};

inline Bytes leerArchivo(const std::filesystem::path& ruta) {
    std::ifstream f(ruta, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline void escribirArchivo(const std::filesystem::path& ruta, const Bytes& bytes) {
    std::ofstream f(ruta, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A shell command's run: its exit status (-1 when it did not start or end by itself) and what it
// wrote on its standard output.
struct Ejecucion {
    int estado = -1;
    std::string salida;
    bool ok() const { return estado == 0; }
};

inline Ejecucion ejecutar(const std::string& orden) {
    Ejecucion r;
    std::FILE* tubo = ::popen(orden.c_str(), "r");
    if (tubo == nullptr) return r;
    char trozo[4096];
    for (std::size_t n; (n = std::fread(trozo, 1, sizeof trozo, tubo)) > 0;) r.salida.append(trozo, n);
    const int estado = ::pclose(tubo);
    r.estado = WIFEXITED(estado) ? WEXITSTATUS(estado) : -1;
    return r;
}

// A picture of a PDF as `pdfimages -list` lists it.
struct ImagenListada {
    std::string tamano;  // "ANCHOxALTO" in pixels
    std::string color;   // gray, rgb, ...
    std::string bits;    // bits per component
    std::string codigo;  // ccitt, jpeg, ...
};

// The pictures in a `pdfimages -list` table, in page order.
inline std::vector<ImagenListada> imagenesListadas(const std::string& lista) {
    std::vector<ImagenListada> r;
    std::istringstream filas(lista);
    for (std::string fila; std::getline(filas, fila);) {
        // page num type width height color comp bpc enc ...
        std::istringstream campos(fila);
        std::string pagina, num, tipo, ancho, alto, color, comp, bpc, enc;
        if (campos >> pagina >> num >> tipo >> ancho >> alto >> color >> comp >> bpc >> enc &&
            pagina.find_first_not_of("0123456789") == std::string::npos)
            r.push_back({ancho + "x" + alto, color, bpc, enc});
    }
    return r;
}

// The values of a plane, row after row, as a plain vector.
template <class T>
std::vector<T> valores(const Plano<T>& plano) {
    return std::vector<T>(plano.datos.begin(), plano.datos.end());
}

// The sheet's corners in photo pixels as a run prints them: the right-hand sides of the eight
// equations of the mapping are x0, y0, x1, y1, ... of slots 0 to 3. Empty when no system was printed.
inline std::vector<std::array<double, 2>> esquinasImpresas(const std::string& consola) {
    std::vector<double> valores;
    for (std::size_t i = consola.find(" = "); i != std::string::npos; i = consola.find(" = ", i + 3))
        valores.push_back(std::strtod(consola.c_str() + i + 3, nullptr));
    std::vector<std::array<double, 2>> esquinas;
    for (std::size_t i = 0; i + 1 < valores.size(); i += 2) esquinas.push_back({valores[i], valores[i + 1]});
    return esquinas;
}

// One row of a corners.csv in the shared folder's columns (file,width,height,tl_x,tl_y,tr_x,tr_y,
// br_x,br_y,bl_x,bl_y): the sheet's corners top-left, top-right, bottom-right, bottom-left, with y
// counted from the top of the picture.
struct FotoMarcada {
    std::string archivo;
    int ancho = 0, alto = 0;
    std::array<double, 8> esquinas{};
};

inline std::vector<FotoMarcada> fotosMarcadas(const std::filesystem::path& csv) {
    std::vector<FotoMarcada> fotos;
    std::ifstream f(csv);
    std::string linea;
    std::getline(f, linea);  // the column names
    while (std::getline(f, linea)) {
        std::replace(linea.begin(), linea.end(), ',', ' ');
        std::istringstream campos(linea);
        FotoMarcada m;
        campos >> m.archivo >> m.ancho >> m.alto;
        for (double& v : m.esquinas) campos >> v;
        fotos.push_back(m);
    }
    return fotos;
}

// A stream that collects what is printed to it, for comparing console text.
struct Captura {
    std::FILE* f = std::tmpfile();
    ~Captura() { std::fclose(f); }
    Captura() = default;
    Captura(const Captura&) = delete;
    Captura& operator=(const Captura&) = delete;
    std::string texto() const {
        std::fflush(f);
        std::string s;
        std::rewind(f);
        for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f)) s.push_back(static_cast<char>(c));
        return s;
    }
};

// An image of `ancho` x `alto` whose pixel (r, c) is valor(r, c, plane).
template <class F>
ImagenBmp imagenDe(int ancho, int alto, F valor) {
    ImagenBmp img = imagenNueva(ancho, alto);
    PlanoBytes* planos[3] = {&img.plano0, &img.plano1, &img.plano2};
    for (int p = 0; p < 3; ++p) {
        for (int r = 0; r < alto; ++r)
            for (int c = 0; c < ancho; ++c) (*planos[p])[r][c] = static_cast<std::uint8_t>(valor(r, c, p));
    }
    return img;
}

// The shared folder with the conformance cases and test data: ESCANER_SHARED_DIR from the
// environment when set, else the folder the build was configured with. A test that needs a
// sub-folder skips, saying which folder is missing (or fails, where the build demands it).
inline std::filesystem::path carpetaCompartida() {
    const char* entorno = std::getenv("ESCANER_SHARED_DIR");
    return entorno != nullptr && *entorno != '\0' ? entorno : ESCANER_SHARED_DIR;
}

#define REQUIERE_CARPETA_COMPARTIDA(sub)                                                           \
    do {                                                                                           \
        if (!std::filesystem::is_directory(apoyo::carpetaCompartida() / (sub))) {                  \
            if (ESCANER_SHARED_OBLIGATORIO)                                                        \
                FAIL() << "missing " << (apoyo::carpetaCompartida() / (sub)).string();             \
            GTEST_SKIP() << "no folder " << (apoyo::carpetaCompartida() / (sub)).string()          \
                         << " (give the shared folder with ESCANER_SHARED_DIR=... or"              \
                         << " -DESCANER_SHARED_DIR=...)";                                          \
        }                                                                                          \
    } while (0)

}  // namespace apoyo
