// Timings of the costly stages on inputs the benchmark makes itself.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "filtros/bordes.hpp"
#include "filtros/convolucion.hpp"
#include "filtros/reduccion.hpp"
#include "hough/acumulador.hpp"
#include "hough/rectas.hpp"
#include "imagen/imagen_bmp.hpp"
#include "rectificacion/hoja.hpp"

namespace {

// A photo-like image: a bright tilted quadrilateral on a darker, slightly textured ground.
ImagenBmp fotoDePrueba(int ancho, int alto) {
    ImagenBmp img = imagenNueva(ancho, alto);
    std::uint32_t semilla = 12345;
    for (int r = 0; r < alto; ++r) {
        for (int c = 0; c < ancho; ++c) {
            semilla = semilla * 1664525u + 1013904223u;
            const double u = (c - 0.5 * ancho) / ancho;
            const double v = (r - 0.5 * alto) / alto;
            const double ur = u * 0.995 + v * 0.1;
            const double vr = v * 0.995 - u * 0.1;
            const bool hoja = ur > -0.25 && ur < 0.25 && vr > -0.35 && vr < 0.35;
            const int ruido = static_cast<int>(semilla >> 28);
            const auto valor = static_cast<std::uint8_t>((hoja ? 215 : 60) + ruido);
            img.plano0[r][c] = valor;
            img.plano1[r][c] = valor;
            img.plano2[r][c] = static_cast<std::uint8_t>(valor - 10);
        }
    }
    return img;
}

// A scratch file name in the system's temporary folder.
std::filesystem::path archivoTemporal(const char* nombre) {
    return std::filesystem::temp_directory_path() / nombre;
}

void BM_leerImagen4000x3000(benchmark::State& estado) {
    const auto ruta = archivoTemporal("escaner-bench-lectura.bmp");
    if (!grabarImagen(fotoDePrueba(4000, 3000), ruta).ok()) {
        estado.SkipWithError("cannot write the photo");
        return;
    }
    for (auto _ : estado) benchmark::DoNotOptimize(leerImagen(ruta));
    std::filesystem::remove(ruta);
}
BENCHMARK(BM_leerImagen4000x3000)->Unit(benchmark::kMillisecond);

void BM_grabarImagen852x1103(benchmark::State& estado) {
    const auto ruta = archivoTemporal("escaner-bench-escritura.bmp");
    const ImagenBmp hoja = fotoDePrueba(852, 1103);
    for (auto _ : estado) benchmark::DoNotOptimize(grabarImagen(hoja, ruta));
    std::filesystem::remove(ruta);
}
BENCHMARK(BM_grabarImagen852x1103)->Unit(benchmark::kMillisecond);

void BM_convolucionar15(benchmark::State& estado) {
    PlanoReal plano(576, 432);
    for (std::size_t i = 0; i < plano.datos.size(); ++i) plano.datos[i] = static_cast<double>(i % 251);
    const Nucleo nucleo = nucleoGaussiano(3.0, 15);
    for (auto _ : estado) benchmark::DoNotOptimize(convolucionar(plano, nucleo));
}
BENCHMARK(BM_convolucionar15)->Unit(benchmark::kMillisecond);

void BM_detectarBordes(benchmark::State& estado) {
    const ImagenBmp trabajo = fotoDePrueba(576, 432);
    for (auto _ : estado) benchmark::DoNotOptimize(detectarBordes(trabajo));
}
BENCHMARK(BM_detectarBordes)->Unit(benchmark::kMillisecond);

void BM_acumuladorHough(benchmark::State& estado) {
    const ImagenBmp trabajo = fotoDePrueba(576, 432);
    const Bordes bordes = detectarBordes(trabajo);
    for (auto _ : estado)
        benchmark::DoNotOptimize(acumuladorHough(bordes.mapa, bordes.orientacion, 576, 432));
}
BENCHMARK(BM_acumuladorHough)->Unit(benchmark::kMillisecond);

void BM_buscarRectas(benchmark::State& estado) {
    const ImagenBmp trabajo = fotoDePrueba(576, 432);
    const Bordes bordes = detectarBordes(trabajo);
    const PlanoReal acumulador = acumuladorHough(bordes.mapa, bordes.orientacion, 576, 432);
    PlanoReal copia = acumulador;
    for (auto _ : estado) {
        // The search thresholds in place: every round starts from the same accumulator.
        estado.PauseTiming();
        copia.datos = acumulador.datos;
        estado.ResumeTiming();
        benchmark::DoNotOptimize(buscarRectas(copia));
    }
}
BENCHMARK(BM_buscarRectas)->Unit(benchmark::kMillisecond);

void BM_reducirImagen4000x3000(benchmark::State& estado) {
    const ImagenBmp foto = fotoDePrueba(4000, 3000);
    for (auto _ : estado) benchmark::DoNotOptimize(reducirImagen(foto, 5000.0 / 720.0));
}
BENCHMARK(BM_reducirImagen4000x3000)->Unit(benchmark::kMillisecond);

void BM_rectificarHoja4000x3000(benchmark::State& estado) {
    const ImagenBmp foto = fotoDePrueba(4000, 3000);
    const std::array<Esquina, 4> esquinas{{{1100.5, 520.25}, {2950.75, 610.5}, {2890.25, 2480.75}, {1040.5, 2400.25}}};
    for (auto _ : estado) benchmark::DoNotOptimize(rectificarHoja(foto, esquinas));
}
BENCHMARK(BM_rectificarHoja4000x3000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
