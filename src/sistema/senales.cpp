#include "sistema/senales.hpp"

#include <atomic>
#include <climits>
#include <cstring>

#include <unistd.h>

namespace {

constexpr int kSenales[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGTERM, SIGPIPE,   SIGALRM,
                            SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF};

// One slot per file being written at a time: a name is copied in while the slot is claimed but not
// yet marked in use, so the handler never reads a half-written name.
constexpr int kRanuras = 256;
struct Ranura {
    std::atomic<int> estado{0};  // 0 free, 1 being filled or emptied, 2 holds a name
    char ruta[PATH_MAX] = {};
};
constinit Ranura ranuras[kRanuras];

std::atomic<bool> hayTerminal{false};
int fdTerminal = -1;
termios ajustesTerminal{};

void alTerminar(int senal) {
    for (Ranura& r : ranuras) {
        if (r.estado.load(std::memory_order_acquire) == 2) ::unlink(r.ruta);
    }
    if (hayTerminal.load(std::memory_order_acquire)) ::tcsetattr(fdTerminal, TCSANOW, &ajustesTerminal);
    // Now end as the signal would have ended the process.
    struct sigaction normal {};
    normal.sa_handler = SIG_DFL;
    sigemptyset(&normal.sa_mask);
    ::sigaction(senal, &normal, nullptr);
    sigset_t esta;
    sigemptyset(&esta);
    sigaddset(&esta, senal);
    ::pthread_sigmask(SIG_UNBLOCK, &esta, nullptr);
    ::raise(senal);
}

sigset_t senalesManejadas() {
    sigset_t conjunto;
    sigemptyset(&conjunto);
    for (int s : kSenales) sigaddset(&conjunto, s);
    return conjunto;
}

}  // namespace

void instalarLimpieza() {
    struct sigaction accion {};
    accion.sa_handler = alTerminar;
    // While one signal is handled the others wait, so cleaning happens once.
    accion.sa_mask = senalesManejadas();
    for (int s : kSenales) {
        struct sigaction previa {};
        ::sigaction(s, nullptr, &previa);
        // A signal the caller chose to ignore (nohup, a pipe reader that does not care) stays ignored.
        if (previa.sa_handler == SIG_IGN) continue;
        ::sigaction(s, &accion, nullptr);
    }
}

int registrarTemporal(const char* ruta) {
    const std::size_t largo = std::strlen(ruta);
    if (largo >= PATH_MAX) return -1;
    for (int i = 0; i < kRanuras; ++i) {
        int libre = 0;
        if (!ranuras[i].estado.compare_exchange_strong(libre, 1, std::memory_order_acquire)) continue;
        std::memcpy(ranuras[i].ruta, ruta, largo + 1);
        ranuras[i].estado.store(2, std::memory_order_release);
        return i;
    }
    return -1;
}

void olvidarTemporal(int ranura) {
    if (ranura < 0 || ranura >= kRanuras) return;
    ranuras[ranura].estado.store(0, std::memory_order_release);
}

SenalesBloqueadas::SenalesBloqueadas() {
    const sigset_t conjunto = senalesManejadas();
    ::pthread_sigmask(SIG_BLOCK, &conjunto, &antes_);
}

SenalesBloqueadas::~SenalesBloqueadas() { ::pthread_sigmask(SIG_SETMASK, &antes_, nullptr); }

void recordarTerminal(int fd, const termios& ajustes) {
    hayTerminal.store(false, std::memory_order_release);
    fdTerminal = fd;
    ajustesTerminal = ajustes;
    hayTerminal.store(true, std::memory_order_release);
}

void olvidarTerminal() { hayTerminal.store(false, std::memory_order_release); }
