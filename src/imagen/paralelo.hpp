#pragma once
// Work on a large picture split in two parts that run at once.

#include <atomic>
#include <exception>
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
