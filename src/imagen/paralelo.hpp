#pragma once
// Work on a large picture split in two parts that run at once, or made on one thread while
// another uses what is done of it.

#include <atomic>
#include <exception>
#include <functional>
#include <limits>
#include <system_error>
#include <thread>

// Whether enDosMitades may start a second thread (by default it may). A program that already keeps
// every core busy with pictures of its own turns it off.
inline std::atomic<bool> dosMitadesALaVez{true};

// Runs trabajo(0, corte) on this thread and trabajo(corte, n) on a second one, and returns when
// both are done; when no thread can be had (or dosMitadesALaVez is off), both parts run here, one
// after the other. An exception from either part is thrown here, once both have ended. Each part
// must touch only what is its own or what neither writes.
template <class Trabajo>
void enDosPartes(int n, int corte, Trabajo&& trabajo) {
    std::exception_ptr falloOtra;
    std::thread otra;
    if (dosMitadesALaVez.load(std::memory_order_relaxed)) {
        try {
            otra = std::thread([&] {
                try {
                    trabajo(corte, n);
                } catch (...) {
                    falloOtra = std::current_exception();
                }
            });
        } catch (const std::system_error&) {
            // No thread to be had: the second part runs here below.
        }
    }
    if (!otra.joinable()) trabajo(corte, n);
    try {
        trabajo(0, corte);
    } catch (...) {
        if (otra.joinable()) otra.join();
        throw;
    }
    if (otra.joinable()) otra.join();
    if (falloOtra) std::rethrow_exception(falloOtra);
}

// enDosPartes cut at n / 2.
template <class Trabajo>
void enDosMitades(int n, Trabajo&& trabajo) {
    enDosPartes(n, n / 2, trabajo);
}

// Waits until the first n units of something being made are done (rows of a picture, say).
using Espera = std::function<void(int n)>;

// Runs hacer(avisar) on a second thread and usar(esperar) on this one, at once. hacer makes units
// in order and calls avisar(k) once its first k are done (k never going back); usar calls
// esperar(k) before it reads the first k, which returns once they are done. Without a second
// thread (or with dosMitadesALaVez off) hacer runs whole first. Returns when both have ended;
// an exception from either is thrown here then (when hacer fails, esperar stops waiting, and
// what usar makes meanwhile is lost with the exception).
template <class Hacer, class Usar>
void enCadena(Hacer&& hacer, Usar&& usar) {
    std::atomic<int> hechas{0};
    const auto avisar = [&](int k) {
        hechas.store(k, std::memory_order_release);
        hechas.notify_all();
    };
    const Espera esperar = [&](int k) {
        for (int visto = hechas.load(std::memory_order_acquire); visto < k;
             visto = hechas.load(std::memory_order_acquire)) {
            hechas.wait(visto, std::memory_order_acquire);
        }
    };
    std::exception_ptr falloOtra;
    std::thread otra;
    if (dosMitadesALaVez.load(std::memory_order_relaxed)) {
        try {
            otra = std::thread([&] {
                try {
                    hacer(avisar);
                } catch (...) {
                    falloOtra = std::current_exception();
                    avisar(std::numeric_limits<int>::max());
                }
            });
        } catch (const std::system_error&) {
            // No thread to be had: all is made here first.
        }
    }
    if (!otra.joinable()) {
        hacer(avisar);
        avisar(std::numeric_limits<int>::max());
    }
    try {
        usar(esperar);
    } catch (...) {
        if (otra.joinable()) otra.join();
        throw;
    }
    if (otra.joinable()) otra.join();
    if (falloOtra) std::rethrow_exception(falloOtra);
}
