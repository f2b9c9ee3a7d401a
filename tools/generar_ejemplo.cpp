// Writes a synthetic photograph: a letter-size sheet with printed text lying on a wooden desk, seen
// at a slight angle.
//   generar_ejemplo [output file]                the bundled example, 1280 x 960
//                                                (default examples/imagenDocumento.bmp)
//   generar_ejemplo output-file ancho alto       the same kind of scene at another size
//   generar_ejemplo --help                       the usage
// (`--` ends the options, for a file name that starts with '-'.)
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "escena.hpp"
#include "uso.hpp"

int main(int argc, char** argv) {
    CLI::App app{
        "Writes a synthetic photograph of a letter-size sheet on a desk as a 24-bit BMP: the bundled\n"
        "example (1280 x 960) to OUTPUT-FILE (default examples/imagenDocumento.bmp), or the same kind\n"
        "of scene at WIDTH x HEIGHT pixels. It prints the sheet's corners (column, row in file order).",
        "generar_ejemplo"};
    std::filesystem::path destino = "examples/imagenDocumento.bmp";
    std::vector<int> tamano;
    app.add_option("OUTPUT-FILE", destino, "the BMP file to write")->type_name("");
    app.add_option("WIDTH HEIGHT", tamano, "the photo's size in pixels (the example's: 1280 960)")
        ->expected(2)
        ->check(CLI::Range(1, 30000))
        ->type_name("");
    if (const auto fin = herramienta::leerArgumentos(app, argc, argv)) return *fin;

    escena::Escena pedida = escena::escenaEjemplo();
    if (!tamano.empty()) {
        const int ancho = tamano[0];
        const int alto = tamano[1];
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
        std::fprintf(stderr, "generar_ejemplo: the scene could not be rendered (each side from %d to %d pixels)\n",
                     static_cast<int>(kLadoMinimo), static_cast<int>(kLadoMaximo));
        return 1;
    }
    if (const Hecho grabada = grabarImagen(foto->imagen, destino); !grabada.ok()) {
        std::fprintf(stderr, "generar_ejemplo: %s\n", grabada.mensaje().c_str());
        return 1;
    }
    std::printf("%s: %d x %d, sheet corners (column, row in file order):\n", destino.string().c_str(),
                foto->imagen.ancho(), foto->imagen.alto());
    const char* nombres[4] = {"bottom-left", "bottom-right", "top-right", "top-left"};
    for (std::size_t i = 0; i < 4; ++i)
        std::printf("  %-12s (%.3f, %.3f)\n", nombres[i], foto->esquinas[i].x, foto->esquinas[i].y);
    return 0;
}
