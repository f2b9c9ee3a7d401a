// Writes the bundled example photograph: a letter-size sheet with printed text lying on a wooden
// desk, seen at a slight angle, 1280 x 960. Usage: generar_ejemplo [output file]
// (default examples/imagenDocumento.bmp, relative to the current directory).

#include <cstddef>
#include <cstdio>
#include <filesystem>

#include "escena.hpp"

int main(int argc, char** argv) {
    const std::filesystem::path destino = argc > 1 ? argv[1] : "examples/imagenDocumento.bmp";

    const auto foto = escena::renderizarEscena(escena::escenaEjemplo());
    if (!foto) {
        std::fprintf(stderr, "generar_ejemplo: the scene could not be rendered\n");
        return 1;
    }
    if (const auto fallo = grabarImagen(foto->imagen, destino)) {
        std::fprintf(stderr, "generar_ejemplo: %s\n", fallo->c_str());
        return 1;
    }
    std::printf("%s: %d x %d, sheet corners (column, row in file order):\n", destino.string().c_str(),
                foto->imagen.ancho(), foto->imagen.alto());
    const char* nombres[4] = {"bottom-left", "bottom-right", "top-right", "top-left"};
    for (std::size_t i = 0; i < 4; ++i)
        std::printf("  %-12s (%.3f, %.3f)\n", nombres[i], foto->esquinas[i].x, foto->esquinas[i].y);
    return 0;
}
