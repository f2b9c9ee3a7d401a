#include "app/consola.hpp"

#include <termios.h>
#include <unistd.h>

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
    if (tcsetattr(STDIN_FILENO, TCSANOW, &crudo) == 0) {
        [[maybe_unused]] const ssize_t n = read(STDIN_FILENO, &c, 1);
        tcsetattr(STDIN_FILENO, TCSANOW, &antes);
    }
}
