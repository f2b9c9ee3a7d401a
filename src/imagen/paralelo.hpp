#pragma once
// Work on a large picture split in two parts that run at once.

#include <atomic>
#include <exception>
#include <functional>
#include <system_error>
#include <thread>

// Whether enDosMitades may start a second thread (by default it may). A program that already keeps
// every core busy with pictures of its own turns it off.
inline std::atomic<bool> dosMitadesALaVez{true};

// Runs otra() on a second thread and aqui() on this one, and returns when both are done; when no
// thread can be had (or dosMitadesALaVez is off), otra() runs here first. An exception from
// either is thrown here, once both have ended; right after otra() fails on its thread, siFalla()
// runs there, to let go of whatever aqui() may be waiting for.
template <class Otra, class Aqui, class SiFalla>
void aLaVez(Otra&& otra, Aqui&& aqui, SiFalla&& siFalla) {
    std::exception_ptr falloOtra;
    std::thread hilo;
    if (dosMitadesALaVez.load(std::memory_order_relaxed)) {
        try {
            hilo = std::thread([&] {
                try {
                    otra();
                } catch (...) {
                    falloOtra = std::current_exception();
                    siFalla();
                }
            });
        } catch (const std::system_error&) {
            // No thread to be had: otra runs here below.
        }
    }
    if (!hilo.joinable()) otra();
    try {
        aqui();
    } catch (...) {
        if (hilo.joinable()) hilo.join();
        throw;
    }
    if (hilo.joinable()) hilo.join();
    if (falloOtra) std::rethrow_exception(falloOtra);
}

// Runs trabajo(0, corte) on this thread and trabajo(corte, n) on a second one, as aLaVez does.
// Each part must touch only what is its own or what neither writes.
template <class Trabajo>
void enDosPartes(int n, int corte, Trabajo&& trabajo) {
    aLaVez([&] { trabajo(corte, n); }, [&] { trabajo(0, corte); }, [] {});
}

// enDosPartes cut at n / 2.
template <class Trabajo>
void enDosMitades(int n, Trabajo&& trabajo) {
    enDosPartes(n, n / 2, trabajo);
}

// The same, only where the work is large enough to pay for a second thread (`vale`); otherwise
// trabajo(0, n), whole, here.
template <class Trabajo>
void enDosPartesSiVale(bool vale, int n, int corte, Trabajo&& trabajo) {
    if (vale)
        enDosPartes(n, corte, trabajo);
    else
        trabajo(0, n);
}
template <class Trabajo>
void enDosMitadesSiVale(bool vale, int n, Trabajo&& trabajo) {
    enDosPartesSiVale(vale, n, n / 2, trabajo);
}
