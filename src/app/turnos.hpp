#pragma once

// Memory for the photos of a batch worked at once: each photo's road is estimated from its header
// before it starts, and a photo waits while the ones being worked would not fit in the memory
// available with it. One photo alone always starts (and fails with its own line if memory runs out).

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "formatos/formatos.hpp"
#include "pagina/pagina.hpp"

// The memory a photo's road takes at its peak, in bytes, from what its header says: its planes
// and what the stages hold beside them, its decoder's own memory, and the page with its encoded
// file (the largest paper at the page's pixels per inch); with `texto` (--ocr, --orientar), also
// the sheet the text is read on and what the engine holds to read it.
std::uint64_t memoriaDeFoto(const MedidaFoto& medida, const OpcionesPagina& pagina, bool texto);

// The memory a batch of `hilos` photos at once may take, in bytes: the least of what the system
// has available (MemAvailable), what the process's control group still allows, and what its
// address-space limit leaves (less every thread's stack and malloc arena), less what the planes'
// allocator may keep for reuse. UINT64_MAX when nothing limits it.
std::uint64_t memoriaDisponible(int hilos);

// Turns for the photos of a batch, taken in the order given: photo `i` enters once photos
// 0 .. i - 1 have, and when the photos being worked leave room for its `bytes` (or none is).
class TurnosDeMemoria {
public:
    explicit TurnosDeMemoria(std::uint64_t disponible) : disponible_(disponible) {}

    void entrar(std::size_t i, std::uint64_t bytes);
    void salir(std::uint64_t bytes);

private:
    std::mutex cerrojo_;
    std::condition_variable cambio_;
    std::uint64_t disponible_;
    std::uint64_t enUso_ = 0;
    int dentro_ = 0;
    std::size_t turno_ = 0;  // the next photo to enter
};
