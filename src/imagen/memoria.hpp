#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

// Blocks of at least this many bytes are taken straight from the system: under 4 MiB in small
// pages, every one faulted in at once (a fresh page costs a fault on first touch, and a plane is
// hundreds of them), from 4 MiB on in 2 MiB pages, faulted in where first written.
inline constexpr std::size_t kBloqueGrande = std::size_t{512} << 10;

// Built with ESCANER_MEMORIA_COMUN (the sanitizer and fuzzing builds), every plane comes from the
// ordinary heap, where the address sanitizer watches its bounds and its lifetime.
#ifdef ESCANER_MEMORIA_COMUN
inline constexpr bool kBloquesGrandes = false;
#else
inline constexpr bool kBloquesGrandes = true;
#endif

// Given-back blocks are kept for reuse up to this many bytes in all; past it, the oldest go back
// to the system. It bounds what the process holds beyond its live planes.
inline constexpr std::size_t kGuardadoMaximo = std::size_t{96} << 20;

// A block of `bytes` (>= kBloqueGrande) backed by large pages where the system has them, or
// nullptr; its contents are unspecified (a block given back earlier is handed out again as it was
// left). Give it back with liberarBloqueGrande and the same size. Both may be called from any
// thread.
void* reservarBloqueGrande(std::size_t bytes) noexcept;
void liberarBloqueGrande(void* bloque, std::size_t bytes) noexcept;

// Bytes currently kept for reuse.
std::size_t bytesGuardados() noexcept;

// The allocator of every pixel plane. Large blocks come from reservarBloqueGrande (when
// kBloquesGrandes holds), small ones from the heap. Its plain construct leaves values uninitialised,
// so a plane that is about to be overwritten whole is not cleared first.
template <class T>
struct Asignador {
    using value_type = T;

    Asignador() = default;
    template <class U>
    Asignador(const Asignador<U>&) noexcept {}

    T* allocate(std::size_t n) {
        const std::size_t bytes = n * sizeof(T);
        if (kBloquesGrandes && bytes >= kBloqueGrande) {
            if (void* p = reservarBloqueGrande(bytes)) return static_cast<T*>(p);
            throw std::bad_alloc();
        }
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* p, std::size_t n) noexcept {
        const std::size_t bytes = n * sizeof(T);
        if (kBloquesGrandes && bytes >= kBloqueGrande) {
            liberarBloqueGrande(p, bytes);
        } else {
            std::allocator<T>().deallocate(p, n);
        }
    }

    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }

    template <class U>
    bool operator==(const Asignador<U>&) const noexcept {
        return true;
    }
};
