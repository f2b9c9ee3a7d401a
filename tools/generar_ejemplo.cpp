// Writes a synthetic photograph: a letter-size sheet with printed text lying on a wooden desk, seen
// at a slight angle.
//   generar_ejemplo [output file]                the bundled example, 1280 x 960
//                                                (default examples/imagenDocumento.bmp)
//   generar_ejemplo output-file ancho alto       the same kind of scene at another size
//   generar_ejemplo --help                       the usage
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <vector>

#include "escena.hpp"

namespace {

constexpr char kUso[] =
    "usage: generar_ejemplo [OUTPUT-FILE [WIDTH HEIGHT]]\n"
    "Writes a synthetic photograph of a letter-size sheet on a desk as a 24-bit BMP: the bundled\n"
    "example (1280 x 960) to OUTPUT-FILE (default examples/imagenDocumento.bmp), or the same kind\n"
    "of scene at WIDTH x HEIGHT pixels. It prints the sheet's corners (column, row in file order).\n"
    "  -h, --help   this text\n"
    "  --           ends the options (for a file name that starts with '-')\n";

int errorDeUso(const char* mensaje, const char* argumento) {
    std::fprintf(stderr, "generar_ejemplo: %s%s\n%s", mensaje, argumento, kUso);
    return 2;
}

// A whole positive number, all of the text.
std::optional<int> lado(const char* texto) {
    errno = 0;
    char* fin = nullptr;
    const long v = std::strtol(texto, &fin, 10);
    if (errno != 0 || fin == texto || *fin != '\0' || v <= 0 || v > INT_MAX) return std::nullopt;
    return static_cast<int>(v);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<const char*> argumentos;
    bool opciones = true;
    for (int i = 1; i < argc; ++i) {
        if (opciones && (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)) {
            std::fputs(kUso, stdout);
            return 0;
        }
        if (opciones && std::strcmp(argv[i], "--") == 0) {
            opciones = false;
        } else if (opciones && argv[i][0] == '-' && argv[i][1] != '\0') {
            return errorDeUso("unknown option ", argv[i]);
        } else {
            argumentos.push_back(argv[i]);
        }
    }
    if (argumentos.size() == 2 || argumentos.size() > 3) return errorDeUso("wrong number of arguments", "");

    const std::filesystem::path destino = argumentos.empty() ? "examples/imagenDocumento.bmp" : argumentos[0];
    escena::Escena pedida = escena::escenaEjemplo();
    if (argumentos.size() == 3) {
        const std::optional<int> anchoPedido = lado(argumentos[1]);
        const std::optional<int> altoPedido = lado(argumentos[2]);
        if (!anchoPedido) return errorDeUso("the width is not a whole positive number: ", argumentos[1]);
        if (!altoPedido) return errorDeUso("the height is not a whole positive number: ", argumentos[2]);
        const int ancho = *anchoPedido;
        const int alto = *altoPedido;
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
