#include "app/lote.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include <sched.h>
#include <unistd.h>

#include "app/salidas.hpp"
#include "app/turnos.hpp"
#include "imagen/paralelo.hpp"

namespace {

// The progress line on a terminal: done / total, the photo last started, the time left.
struct Progreso {
    bool activo = false;
    std::FILE* f = nullptr;
    std::size_t total = 0, hechas = 0;
    std::string actual;
    std::chrono::steady_clock::time_point inicio = std::chrono::steady_clock::now();

    void borrar() const {
        if (activo) std::fputs("\r\x1b[K", f);
    }
    void dibujar() const {
        if (!activo) return;
        std::string queda = "calculando";
        if (hechas > 0) {
            const double pasado = std::chrono::duration<double>(std::chrono::steady_clock::now() - inicio).count();
            const auto segundos = static_cast<long>(pasado / static_cast<double>(hechas) *
                                                    static_cast<double>(total - hechas) + 0.5);
            queda = segundos >= 60 ? std::to_string(segundos / 60) + " min " + std::to_string(segundos % 60) + " s"
                                   : std::to_string(segundos) + " s";
        }
        std::fprintf(f, "\r\x1b[K%zu/%zu  %s  quedan %s", hechas, total, actual.c_str(), queda.c_str());
        std::fflush(f);
    }
};

int nucleosDisponibles() {
    cpu_set_t cpus;
    if (::sched_getaffinity(0, sizeof cpus, &cpus) == 0) return std::max(1, CPU_COUNT(&cpus));
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

}  // namespace

std::vector<Escaneo> trabajarLote(const Plan& plan, const Opciones& o, std::FILE* errores, const Informe& informar) {
    const std::size_t total = plan.destinos.size();
    std::vector<std::optional<Escaneo>> escaneos(total);
    std::mutex cerrojo;
    Progreso progreso;
    progreso.activo = total > 1 && ::isatty(fileno(errores));
    progreso.f = errores;
    progreso.total = total;
    std::size_t informadas = 0;  // photos already reported, in the order given

    // Reports, in the order given, every photo that is ready; called with the lock held.
    std::condition_variable avanzan;  // told when photos are reported
    const auto informarListas = [&] {
        progreso.borrar();
        const std::size_t antes = informadas;
        for (; informadas < total && escaneos[informadas]; ++informadas) informar(informadas, *escaneos[informadas]);
        progreso.dibujar();
        if (informadas != antes) avanzan.notify_all();
    };

    // At most N threads: N photos at once, or fewer when there are fewer photos or cores, and then
    // a photo may take a thread to spare for its two halves, while there are cores for it.
    const int nucleos = nucleosDisponibles();
    const int limite = o.hilos > 0 ? o.hilos : nucleos;
    const int hilos = fotosALaVez(o.hilos, total, nucleos);
    const auto sobranHilos = [&](int enUso) { return enUso < limite && enUso < nucleos; };
    dosMitadesALaVez = sobranHilos(hilos);
    std::atomic<int> ocupados{hilos};  // threads still taking photos

    // Photos start in the order given, each once the ones being worked leave memory for it.
    TurnosDeMemoria turnos(memoriaDisponible(hilos));
    std::atomic<std::size_t> siguiente{0};
    // A PDF's pages go to it in the order given, so a page done ahead of one still being worked
    // waits in memory: a photo starts only within a few of the first not yet reported, and the
    // pages waiting stay as few as the photos at once, whatever the batch.
    const std::size_t adelanto = plan.pdf ? 2 * static_cast<std::size_t>(hilos) : total;
    const auto trabajar = [&] {
        for (std::size_t i; (i = siguiente.fetch_add(1)) < total;) {
            {
                std::unique_lock<std::mutex> l(cerrojo);
                avanzan.wait(l, [&] { return i < informadas + adelanto; });
                progreso.actual = paraTerminal(plan.destinos[i].foto.string());
                progreso.dibujar();
            }
            const Destino& d = plan.destinos[i];
            const std::uint64_t costo = memoriaDeFoto(medirFoto(d.foto).value_or(MedidaFoto{}), o.pagina,
                                                 o.orientar || !o.ocr.empty());
            turnos.entrar(i, costo);
            Escaneo e = escanearFoto(d, o, plan.pdf.has_value());
            turnos.salir(costo);
            const std::lock_guard<std::mutex> l(cerrojo);
            escaneos[i] = std::move(e);
            ++progreso.hechas;
            informarListas();
        }
        // No photo left to take: the last ones, still being scanned, may use the thread this frees.
        const int quedan = ocupados.fetch_sub(1) - 1;
        if (quedan > 0 && sobranHilos(quedan)) dosMitadesALaVez = true;
    };
    std::vector<std::thread> trabajadores;
    for (int h = 1; h < hilos; ++h) {
        try {
            trabajadores.emplace_back(trabajar);
        } catch (const std::system_error&) {
            // No more threads to be had: the photos go to the ones there are.
            ocupados -= hilos - h;
            break;
        }
    }
    trabajar();
    for (std::thread& t : trabajadores) t.join();
    progreso.borrar();

    std::vector<Escaneo> todos;
    todos.reserve(total);
    for (std::optional<Escaneo>& e : escaneos) todos.push_back(std::move(*e));
    return todos;
}
