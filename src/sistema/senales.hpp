#pragma once

// Ending well when the process is told to end. Termination signals that can be caught (SIGHUP,
// SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF)
// are handled once `instalarLimpieza` has run: the handler removes every temporary output file
// still registered, puts back the terminal settings that were saved, and then the process ends by
// the same signal, as it would have without the handler (in a shell: status 128 + signal).
// Everything the handler touches is set up beforehand, so it does only async-signal-safe calls.

#include <signal.h>
#include <termios.h>

void instalarLimpieza();

// Names of temporary files to remove on a signal; any number of threads may use them. `registrar`
// returns the slot, or -1 when all slots are taken (the name is then not removed on a signal).
// A name longer than the slots hold is not registered either.
int registrarTemporal(const char* ruta);
void olvidarTemporal(int ranura);

// Blocks the handled signals in this thread while it lives, so that a step and its registration
// happen together as seen from the handler.
struct SenalesBloqueadas {
    SenalesBloqueadas();
    ~SenalesBloqueadas();
    SenalesBloqueadas(const SenalesBloqueadas&) = delete;
    SenalesBloqueadas& operator=(const SenalesBloqueadas&) = delete;

private:
    sigset_t antes_;
};

// The terminal settings to put back if a signal ends the process while `fd`'s are changed.
void recordarTerminal(int fd, const termios& ajustes);
void olvidarTerminal();
