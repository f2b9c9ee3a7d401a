// The two sheet detectors on the same 4000 x 3000 photo: the fixed-threshold stages (without
// their stage images) and the robust detector.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <optional>

#include "app/recorrido.hpp"
#include "deteccion/deteccion.hpp"
#include "escena.hpp"

namespace {

// A rendered photo of a turned, tilted sheet on a dark wooden desk, made once.
const ImagenBmp& fotoDeEscena() {
    static const ImagenBmp foto = [] {
        escena::Camara camara;
        camara.centro = {2000.0, 1500.0};
        camara.altoHoja = 2100.0;
        camara.giro = 8.0;
        camara.inclinacion = 15.0;
        camara.ladeo = 5.0;
        camara.rigida = true;
        const auto foto = escena::renderizarEscena(escena::escenaConCamara(4000, 3000, camara, 7));
        return foto ? foto->imagen : ImagenBmp{};
    }();
    return foto;
}

void BM_detectorEspec4000x3000(benchmark::State& estado) {
    const ImagenBmp& foto = fotoDeEscena();
    std::FILE* nulo = std::fopen("/dev/null", "w");
    for (auto _ : estado) benchmark::DoNotOptimize(buscarHojaPorEtapas(foto, nulo, std::nullopt));
    std::fclose(nulo);
}
BENCHMARK(BM_detectorEspec4000x3000)->Unit(benchmark::kMillisecond);

void BM_detectorRobusto4000x3000(benchmark::State& estado) {
    const ImagenBmp& foto = fotoDeEscena();
    for (auto _ : estado) benchmark::DoNotOptimize(detectarHojaRobusta(foto));
}
BENCHMARK(BM_detectorRobusto4000x3000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
