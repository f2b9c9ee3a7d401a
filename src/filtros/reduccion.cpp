#include "filtros/reduccion.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "imagen/paralelo.hpp"

namespace {

// Photos of at least this many pixels are reduced in two halves at once.
constexpr std::int64_t kPixelesEnDosMitades = 1024 * 1024;

}  // namespace

TamanoReducido tamanoReducido(int ancho, int alto, double factorReduccion) {
    return {static_cast<int>(ancho / factorReduccion), static_cast<int>(alto / factorReduccion)};
}

double factorDeReduccion(const ImagenBmp& foto) {
    const double ancho = foto.ancho();
    const double alto = foto.alto();
    return std::sqrt(ancho * ancho + alto * alto) / kDiagonalTrabajo;
}

ImagenBmp reducirImagen(const ImagenBmp& foto, double factorReduccion) {
    const double f = factorReduccion;
    const int ancho = foto.ancho();
    const int alto = foto.alto();
    // A factor under 1 would give an empty block: such a photo is enlarged by nearest neighbour.
    const int k = std::max(1, static_cast<int>(f));
    const auto divisor = static_cast<std::uint32_t>(k * k);
    const TamanoReducido tamano = tamanoReducido(ancho, alto, f);
    const int anchoNuevo = tamano.ancho, altoNuevo = tamano.alto;

    ImagenBmp salida;
    salida.header = foto.header;
    const auto tamanoImagen =
        static_cast<std::int32_t>(bmp::bytesPorFila(anchoNuevo) * static_cast<std::size_t>(altoNuevo));
    fijarCampo32(salida.header, bmp::kAncho, anchoNuevo);
    fijarCampo32(salida.header, bmp::kAlto, altoNuevo);
    fijarCampo32(salida.header, bmp::kTamanoImagen, tamanoImagen);
    fijarCampo32(salida.header, bmp::kTamanoArchivo, static_cast<std::int32_t>(kTamanoHeader) + tamanoImagen);
    salida.plano0 = PlanoBytes::sinIniciar(anchoNuevo, altoNuevo);
    salida.plano1 = PlanoBytes::sinIniciar(anchoNuevo, altoNuevo);
    salida.plano2 = PlanoBytes::sinIniciar(anchoNuevo, altoNuevo);

    // First column of every block; the same for every row. The clamp only guards against rounding
    // at the far edge: with whole-block positions it never moves a block.
    std::vector<int> x0(static_cast<std::size_t>(anchoNuevo));
    for (int x = 0; x < anchoNuevo; ++x) x0[x] = std::min(static_cast<int>(x * f), ancho - k);

    const PlanoBytes* entrada[3] = {&foto.plano0, &foto.plano1, &foto.plano2};
    PlanoBytes* resultado[3] = {&salida.plano0, &salida.plano1, &salida.plano2};
    // Sums of whole bytes are exact, so integer sums give the same quotient as double ones.
    // Output rows [desde, hasta); a large photo is read in two halves at once.
    const auto filas = [&](int desde, int hasta) {
        // The sides and the block in locals of this call: a byte store below could change a
        // captured one, as far as the compiler knows, and the loops would then not vectorise.
        const int columnas = ancho, columnasNuevas = anchoNuevo, lado = k;
        std::vector<std::uint32_t> sumas(static_cast<std::size_t>(columnas));
        for (int y = desde; y < hasta; ++y) {
            const int y0 = std::min(static_cast<int>(y * f), alto - lado);
            for (int p = 0; p < 3; ++p) {
                const PlanoBytes& plano = *entrada[p];
                std::uint8_t* destino = (*resultado[p])[y];
                if (lado == 1) {
                    const std::uint8_t* fila = plano[y0];
                    for (int x = 0; x < columnasNuevas; ++x) destino[x] = fila[x0[x]];
                    continue;
                }
                // Column sums of the block rows, then the k columns of each block.
                std::fill(sumas.begin(), sumas.end(), 0u);
                for (int fila = y0; fila < y0 + lado; ++fila) {
                    const std::uint8_t* origen = plano[fila];
                    for (int c = 0; c < columnas; ++c) sumas[c] += origen[c];
                }
                for (int x = 0; x < columnasNuevas; ++x) {
                    std::uint32_t s = 0;
                    for (int c = x0[x]; c < x0[x] + lado; ++c) s += sumas[c];
                    destino[x] = static_cast<std::uint8_t>(s / divisor);
                }
            }
        }
    };
    enDosMitadesSiVale(static_cast<std::int64_t>(ancho) * alto >= kPixelesEnDosMitades, altoNuevo, filas);
    return salida;
}
