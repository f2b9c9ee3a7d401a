#pragma once
// Work run in a child process under an address-space limit (RLIMIT_AS), for tests of what a run
// takes in memory: the child's status says how it went, and whatever it does to its memory stays
// in it.

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>

// AddressSanitizer reserves its shadow and its allocator's regions as the process goes, so an
// address-space limit says nothing of what a run takes there: the tests that set one are skipped
// in such a build, and say why.
#if defined(__SANITIZE_ADDRESS__)
#define ESCANER_CON_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ESCANER_CON_ASAN 1
#endif
#endif
#define SALTAR_SI_NO_HAY_LIMITE_DE_MEMORIA()                                                        \
    do {                                                                                           \
        if (::apoyo::kConAddressSanitizer)                                                        \
            GTEST_SKIP() << "AddressSanitizer reserves address space as it goes: no address-space " \
                            "limit can measure a run in this build";                               \
    } while (false)

namespace apoyo {

#ifdef ESCANER_CON_ASAN
inline constexpr bool kConAddressSanitizer = true;
#else
inline constexpr bool kConAddressSanitizer = false;
#endif

// Runs `trabajo` in a child whose address space may grow by at most `deMas` bytes beyond what it
// holds when it starts; its exit status (trabajo's result, 0 .. 124; 125 when an exception left
// it), or 128 plus the signal that ended it. The child keeps to one malloc arena: a thread's own arena reserves 64 MB of address
// space, or not, as the limit allows at the moment, which would make the room left a matter of luck.
inline int conMemoriaLimitada(std::uint64_t deMas, const std::function<int()>& trabajo) {
    std::fflush(nullptr);
    const pid_t hijo = ::fork();
    if (hijo < 0) return -1;
    if (hijo == 0) {
        std::uint64_t paginas = 0;
        std::ifstream("/proc/self/statm") >> paginas;
        const rlim_t tope = paginas * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)) + deMas;
        const rlimit limite{tope, tope};
        if (paginas == 0 || ::setrlimit(RLIMIT_AS, &limite) != 0 || ::mallopt(M_ARENA_MAX, 1) != 1) ::_exit(126);
        int estado = 125;  // an exception that left the work
        try {
            estado = trabajo();
        } catch (...) {
        }
        std::fflush(nullptr);
        ::_exit(estado);
    }
    int estado = 0;
    if (::waitpid(hijo, &estado, 0) != hijo) return -1;
    return WIFEXITED(estado) ? WEXITSTATUS(estado) : 128 + WTERMSIG(estado);
}

}  // namespace apoyo
