#pragma once

// The run without arguments started as a user's shell starts it, in a child process, and brought
// to its closing prompt, where it waits for a key.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <initializer_list>
#include <string>

namespace espera {

struct EnLaEspera {
    pid_t hijo = -1;
    int tecla = -1;   // its standard input: a byte written here is the key
    int salida = -1;  // its standard output, read up to the prompt
    std::string texto;  // what it printed up to the prompt (all of it, when it ended first)
    bool esperando() const { return texto.find("Apriete una tecla") != std::string::npos; }
};

// Starts the program in `carpeta` with `porOmision` at their default action and `ignoradas`
// ignored (as the caller's shell or nohup would leave them), and reads its output until it waits
// at the prompt or ends.
inline EnLaEspera empezar(const std::filesystem::path& carpeta, std::initializer_list<int> porOmision,
                          std::initializer_list<int> ignoradas) {
    EnLaEspera e;
    int entrada[2], salida[2];
    if (::pipe(entrada) != 0 || ::pipe(salida) != 0) return e;
    e.hijo = ::fork();
    if (e.hijo == 0) {
        ::dup2(entrada[0], STDIN_FILENO);
        ::dup2(salida[1], STDOUT_FILENO);
        ::close(entrada[1]);
        ::close(salida[0]);
        if (::chdir(carpeta.c_str()) != 0) ::_exit(126);
        for (int s : porOmision) ::signal(s, SIG_DFL);
        for (int s : ignoradas) ::signal(s, SIG_IGN);
        ::execl(ESCANER_BINARIO, "escaner", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(entrada[0]);
    ::close(salida[1]);
    e.tecla = entrada[1];
    e.salida = salida[0];
    char bloque[4096];
    for (ssize_t n; !e.esperando() && (n = ::read(e.salida, bloque, sizeof bloque)) > 0;)
        e.texto.append(bloque, static_cast<std::size_t>(n));
    return e;
}

// Waits for the child to end; its status as waitpid gives it. Closes both pipes.
inline int terminar(EnLaEspera& e) {
    int estado = 0;
    ::waitpid(e.hijo, &estado, 0);
    ::close(e.tecla);
    ::close(e.salida);
    return estado;
}

}  // namespace espera
