// The text road of the command line against the OCR engine alone, both on one thread: a
// 12-megapixel photo of a page of prose (46 full lines of 11-point DejaVu Sans, about 3,500
// characters, tilted 4 degrees) scanned
// with --ocr spa (read, sheet found, the sheet at 300 pixels per inch in gray, its orientation and
// text, the page made and encoded as a PDF page), with and without the orientation, and Tesseract
// reading the same 300 ppi page it is given as a Leptonica picture. The engines are made before the
// timing, as a batch makes them once per thread.
//
// The engine's OpenMP threads are held to one: the program starts itself again with
// OMP_THREAD_LIMIT=1 when it is not set (OpenMP reads it when the library is loaded).
#include <benchmark/benchmark.h>

#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/foto.hpp"
#include "deteccion/deteccion.hpp"
#include "imagen/paralelo.hpp"
#include "ocr/ocr.hpp"
#include "pagina/pagina.hpp"
#include "pagina_texto.hpp"
#include "sistema/archivos.hpp"

namespace {

namespace fs = std::filesystem;

struct Caso {
    fs::path carpeta;
    fs::path foto;
    PlanoBytes gris;  // the 300 ppi page the road reads

    Caso() {
        carpeta = fs::temp_directory_path() / ("escaner-ocr-bench-" + std::to_string(::getpid()));
        fs::create_directories(carpeta);
        foto = carpeta / "pagina.jpg";
        texto_prueba::Toma t;
        t.ancho = 4000;
        t.alto = 3000;
        t.pppHoja = 250.0;
        t.giro = 4.0;
        t.cuerpo = 11.0;
        t.lineas = 46;
        t.frasesPorLinea = 2;
        const ImagenBmp imagen = texto_prueba::fotoDeTexto(t);
        if (grabarArchivo(foto, codificarJpeg(imagen, 90).bytes)) std::abort();
        const HojaDetectada h = detectarHojaRobusta(imagen);
        if (!h.encontrada) std::abort();
        const auto forma = formaDePagina(imagen.ancho(), imagen.alto(), h.esquinas, OpcionesPagina{});
        gris = *hojaEnGris(imagen, h.esquinas, Mapa::perspectiva, *forma, kPppOcr);
    }
    ~Caso() {
        std::error_code ec;
        fs::remove_all(carpeta, ec);
    }
};

Caso& caso() {
    static Caso c;
    return c;
}

// escanearFoto as the command line calls it for a page of a PDF, on one thread.
void BM_escanerOcr(benchmark::State& estado) {
    dosMitadesALaVez = false;
    Opciones o;
    o.ocr = "spa";
    o.orientar = estado.range(0) != 0;
    Destino d;
    d.foto = caso().foto;
    d.formato = FormatoSalida::pdf;
    if (!prepararOcr(o)) std::abort();
    for (auto _ : estado) {
        Escaneo e = escanearFoto(d, o, true);
        if (e.hallazgo != Hallazgo::hoja || !e.texto || e.texto->empty()) estado.SkipWithError(e.mensaje.c_str());
        benchmark::DoNotOptimize(e);
    }
}
BENCHMARK(BM_escanerOcr)->ArgName("orientar")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Tesseract alone on the same page.
void BM_tesseractSolo(benchmark::State& estado) {
    const PlanoBytes& gris = caso().gris;
    Pix* pix = pixCreate(gris.ancho, gris.alto, 8);
    for (int f = 0; f < gris.alto; ++f) {
        l_uint32* fila = pixGetData(pix) + static_cast<std::ptrdiff_t>(f) * pixGetWpl(pix);
        for (int c = 0; c < gris.ancho; ++c) SET_DATA_BYTE(fila, c, gris[gris.alto - 1 - f][c]);
    }
    tesseract::TessBaseAPI api;
    api.SetVariable("debug_file", "/dev/null");
    if (api.Init(nullptr, "spa", tesseract::OEM_LSTM_ONLY) != 0) std::abort();
    for (auto _ : estado) {
        api.SetImage(pix);
        api.SetSourceResolution(300);
        char* texto = api.GetUTF8Text();
        benchmark::DoNotOptimize(texto);
        delete[] texto;
        api.Clear();
    }
    api.End();
    pixDestroy(&pix);
}
BENCHMARK(BM_tesseractSolo)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("OMP_THREAD_LIMIT")) {
        ::setenv("OMP_THREAD_LIMIT", "1", 1);
        ::execv("/proc/self/exe", argv);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
