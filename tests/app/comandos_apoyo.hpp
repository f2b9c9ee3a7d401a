#pragma once

// What the command line's tests share: a run of the command line in this process, and photos to
// give it.

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spng.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "apoyo.hpp"
#include "app/comandos.hpp"
#include "app/escaner.hpp"
#include "app/recorrido.hpp"
#include "app/turnos.hpp"
#include "escena.hpp"
#include "hijo.hpp"
#include "formatos/formatos.hpp"
#include "geometria/cuadrilatero.hpp"
#include "rectificacion/hoja.hpp"
#include "imagen/paralelo.hpp"
#include "sistema/archivos.hpp"

namespace comandos_prueba {

namespace fs = std::filesystem;

struct Corrida {
    int estado = -1;
    std::string salida, errores;
};

inline Corrida correr(std::vector<std::string> argumentos) {
    argumentos.insert(argumentos.begin(), "escaner");
    std::vector<const char*> argv;
    for (const std::string& a : argumentos) argv.push_back(a.c_str());
    apoyo::Captura salida, errores;
    Corrida c;
    c.estado = ejecutarComandos(static_cast<int>(argv.size()), argv.data(), salida.f, errores.f);
    c.salida = salida.texto();
    c.errores = errores.texto();
    return c;
}

// "f3.png" from "f", 3 and ".png".
inline std::string numerado(const char* antes, int numero, const char* despues) {
    char nombre[64];
    std::snprintf(nombre, sizeof nombre, "%s%d%s", antes, numero, despues);
    return nombre;
}

inline long lineas(const std::string& texto) { return std::count(texto.begin(), texto.end(), '\n'); }

// A rendered photo of a sheet on a desk, small enough to keep the tests quick.
inline ImagenBmp fotoDeEscena(std::uint64_t semilla) {
    escena::Camara camara;
    camara.centro = {330.0, 245.0};
    camara.altoHoja = 380.0;
    camara.giro = 4.0 + static_cast<double>(semilla % 5);
    camara.inclinacion = 8.0;
    escena::Escena e = escena::escenaConCamara(640, 480, camara, semilla);
    e.fondo = 60;
    return escena::renderizarEscena(e)->imagen;
}

inline void grabarBytes(const fs::path& archivo, const ArchivoCodificado& a) {
    ASSERT_TRUE(a.ok()) << a.mensaje();
    ASSERT_TRUE(grabarArchivo(archivo, *a).ok());
}

// The sheet the run without arguments writes for `foto`.
inline apoyo::Bytes hojaSinArgumentos(const ImagenBmp& foto) {
    apoyo::CarpetaTemporal carpeta;
    EXPECT_TRUE(grabarImagen(foto, carpeta / "imagenDocumento.bmp").ok());
    apoyo::Captura salida, errores;
    EXPECT_EQ(ejecutarEscaner(carpeta.ruta, salida.f, errores.f, [] {}), kSalidaExito) << errores.texto();
    return apoyo::leerArchivo(carpeta / "imagenHojaCarta.bmp");
}

// The value of "clave": in a JSON line as this program writes it (no nesting but the corners).
inline std::string campo(const std::string& linea, const std::string& clave) {
    const std::string buscado = "\"" + clave + "\":";
    const std::size_t i = linea.find(buscado);
    if (i == std::string::npos) return "";
    std::size_t j = i + buscado.size();
    if (linea[j] == '"') {
        const std::size_t fin = linea.find('"', j + 1);
        return linea.substr(j + 1, fin - j - 1);
    }
    const std::size_t fin = linea[j] == '[' ? linea.find("]]", j) + 2 : linea.find_first_of(",}", j);
    return linea.substr(j, fin - j);
}

// The letter page the road of the run without arguments makes from the corners of a JSON line, as
// the run without arguments writes it; empty when the line has no corners.
inline apoyo::Bytes hojaCartaDeLinea(const ImagenBmp& foto, const std::string& linea, const std::filesystem::path& archivo) {
    const std::size_t i = linea.find("\"esquinas\":[[");
    double v[8];
    if (i == std::string::npos ||
        std::sscanf(linea.c_str() + i, "\"esquinas\":[[%lf,%lf],[%lf,%lf],[%lf,%lf],[%lf,%lf]]", &v[0], &v[1], &v[2],
                    &v[3], &v[4], &v[5], &v[6], &v[7]) != 8)
        return {};
    const Cuadrilatero enPantalla{{{v[0], v[1]}, {v[2], v[3]}, {v[4], v[5]}, {v[6], v[7]}}};
    const HojaRectificada h = rectificarHoja(foto, desdePantalla(enPantalla, foto.alto()));
    if (!h.hoja || !grabarImagen(*h.hoja, archivo).ok()) return {};
    return apoyo::leerArchivo(archivo);
}

// How many bytes of two files of one size differ, and by at most how much.
inline std::pair<long, int> diferencia(const apoyo::Bytes& a, const apoyo::Bytes& b) {
    long distintos = 0;
    int maxima = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        distintos += a[i] != b[i];
        maxima = std::max(maxima, std::abs(a[i] - b[i]));
    }
    return {distintos, maxima};
}

// Runs a poppler tool; its standard output, or nothing when it is not installed or fails.
inline std::optional<std::string> poppler(const std::string& orden) {
    apoyo::Ejecucion e = apoyo::ejecutar(orden + " 2>/dev/null");
    if (!e.ok()) return std::nullopt;
    return std::move(e.salida);
}

}  // namespace comandos_prueba
