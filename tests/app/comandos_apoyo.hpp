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


}  // namespace comandos_prueba
