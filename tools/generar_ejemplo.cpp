// Writes a synthetic photograph: a letter-size sheet with printed text lying on a wooden desk, seen
// at a slight angle.
//   generar_ejemplo [output file]                the bundled example, 1280 x 960
//                                                (default examples/imagenDocumento.bmp)
//   generar_ejemplo output-file ancho alto       the same kind of scene at another size
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "escena.hpp"

int main(int argc, char** argv) {
    const std::filesystem::path destino = argc > 1 ? argv[1] : "examples/imagenDocumento.bmp";

    escena::Escena pedida = escena::escenaEjemplo();
    if (argc > 3) {
        const int ancho = std::atoi(argv[2]);
        const int alto = std::atoi(argv[3]);
        // The example's framing, scaled to the new size.
        escena::Camara camara;
        camara.centro = {0.5 * ancho, 0.49 * alto};
        camara.altoHoja = 0.63 * alto;
        camara.giro = 6.5;
        camara.inclinacion = 12.0;
        camara.ladeo = 5.0;
        pedida = escena::escenaConCamara(ancho, alto, camara, 2024);
    }
    const auto foto = escena::renderizarEscena(pedida);
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
