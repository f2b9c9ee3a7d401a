#pragma once
// Work on a large picture split in two halves that run at once.

#include <exception>
#include <system_error>
#include <thread>

// Runs trabajo(0, n / 2) on this thread and trabajo(n / 2, n) on a second one, and returns when both
// are done; when no thread can be had, both halves run here, one after the other. An exception from
// either half is thrown here, once both have ended. Each half must touch only what is its own or
// what neither writes.
template <class Trabajo>
void enDosMitades(int n, Trabajo&& trabajo) {
    const int mitad = n / 2;
    std::exception_ptr falloOtra;
    std::thread otra;
    try {
        otra = std::thread([&] {
            try {
                trabajo(mitad, n);
            } catch (...) {
                falloOtra = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        trabajo(mitad, n);
    }
    try {
        trabajo(0, mitad);
    } catch (...) {
        if (otra.joinable()) otra.join();
        throw;
    }
    if (otra.joinable()) otra.join();
    if (falloOtra) std::rethrow_exception(falloOtra);
}
