// Timings of the page's resampling against the letter page's bilinear sampling, on a 12-megapixel
// photo whose sheet is about 2.3 times the page's size.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstdio>

#include "imagen/imagen_bmp.hpp"
#include "pagina/pagina.hpp"
#include "rectificacion/hoja.hpp"

namespace {

ImagenBmp fotoDePrueba(int ancho, int alto) {
    ImagenBmp img = imagenNueva(ancho, alto);
    std::uint32_t semilla = 12345;
    for (int r = 0; r < alto; ++r)
        for (int c = 0; c < ancho; ++c) {
            semilla = semilla * 1664525u + 1013904223u;
            const auto valor = static_cast<std::uint8_t>(((c / 3 + r / 5) % 2 ? 210 : 40) + (semilla >> 28));
            img.plano0[r][c] = valor;
            img.plano1[r][c] = valor;
            img.plano2[r][c] = static_cast<std::uint8_t>(valor - 10);
        }
    return img;
}

// A sheet tilted a little, as the stages' benchmark has it.
constexpr std::array<Esquina, 4> kEsquinas{{{1100.5, 520.25}, {2950.75, 610.5}, {2890.25, 2480.75}, {1040.5, 2400.25}}};

void BM_rectificarHoja(benchmark::State& estado) {
    const ImagenBmp foto = fotoDePrueba(4000, 3000);
    for (auto _ : estado) benchmark::DoNotOptimize(rectificarHoja(foto, kEsquinas));
}
BENCHMARK(BM_rectificarHoja)->Unit(benchmark::kMillisecond);

// 0: the command line's default, the letter page through the perspective map (as many pixels as
// the letter page above); 1: the bilinear map on an A4 page (the letter page through it is the
// one above); 2: a letter page at 40 pixels per inch, 5 photo pixels to each of its pixels (the
// coarser box levels).
void BM_enderezarPagina(benchmark::State& estado) {
    const ImagenBmp foto = fotoDePrueba(4000, 3000);
    OpcionesPagina opciones;
    if (estado.range(0) == 1) {
        opciones.mapa = Mapa::bilineal;
        opciones.papel = Papel::a4;
    }
    if (estado.range(0) == 2) opciones.ppp = 40;
    for (auto _ : estado) benchmark::DoNotOptimize(enderezarPagina(foto, kEsquinas, opciones));
}
BENCHMARK(BM_enderezarPagina)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_mejorarPagina(benchmark::State& estado) {
    const ImagenBmp hoja = fotoDePrueba(852, 1103);
    for (auto _ : estado) {
        ImagenBmp copia = hoja;
        mejorarPagina(copia, static_cast<Mejora>(estado.range(0)));
        benchmark::DoNotOptimize(copia);
    }
}
BENCHMARK(BM_mejorarPagina)->Arg(static_cast<int>(Mejora::color))->Arg(static_cast<int>(Mejora::bn))->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
