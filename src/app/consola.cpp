#include "app/consola.hpp"

#include <cerrno>

#include <termios.h>
#include <unistd.h>

#include "sistema/senales.hpp"

void esperarTecla() {
    char c = 0;
    if (!isatty(STDIN_FILENO)) {
        [[maybe_unused]] const ssize_t n = read(STDIN_FILENO, &c, 1);
        return;
    }
    termios antes{};
    if (tcgetattr(STDIN_FILENO, &antes) != 0) return;
    termios crudo = antes;
    crudo.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    crudo.c_cc[VMIN] = 1;
    crudo.c_cc[VTIME] = 0;
    // A signal that ends the process during the wait puts the terminal back as it was.
    recordarTerminal(STDIN_FILENO, antes);
    if (tcsetattr(STDIN_FILENO, TCSANOW, &crudo) == 0) {
        ssize_t n = 0;
        do {
            n = read(STDIN_FILENO, &c, 1);
        } while (n < 0 && errno == EINTR);
    }
    tcsetattr(STDIN_FILENO, TCSANOW, &antes);
    olvidarTerminal();
}
