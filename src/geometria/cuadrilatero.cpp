#include "geometria/cuadrilatero.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

Cuadrilatero ordenarCuadrilatero(const Cuadrilatero& esquinas, int alto) {
    double cx = 0, cy = 0;
    for (const Esquina& e : esquinas) {
        cx += e.x / 4;
        cy += e.y / 4;
    }
    // Counter-clockwise on screen (rows grow upward in file order, as on screen).
    Cuadrilatero ccw = esquinas;
    std::sort(ccw.begin(), ccw.end(), [&](const Esquina& a, const Esquina& b) {
        return std::atan2(a.y - cy, a.x - cx) < std::atan2(b.y - cy, b.x - cx);
    });
    int primera = 0;
    for (int i = 1; i < 4; ++i) {
        const double vi = ccw[i].x + ((alto - 1) - ccw[i].y);
        const double vp = ccw[primera].x + ((alto - 1) - ccw[primera].y);
        if (vi < vp) primera = i;
    }
    // From the top-left, counter-clockwise: top-left, bottom-left, bottom-right, top-right.
    Cuadrilatero slots{};
    slots[3] = ccw[primera];
    slots[0] = ccw[(primera + 1) % 4];
    slots[1] = ccw[(primera + 2) % 4];
    slots[2] = ccw[(primera + 3) % 4];
    return slots;
}

double distanciaEntreHojas(const Cuadrilatero& a, const Cuadrilatero& b, int alto) {
    const Cuadrilatero p = ordenarCuadrilatero(a, alto), q = ordenarCuadrilatero(b, alto);
    double mejor = std::numeric_limits<double>::infinity();
    for (int giro = 0; giro < 4; ++giro) {
        double peor = 0;
        for (int i = 0; i < 4; ++i)
            peor = std::max(peor, std::hypot(p[(i + giro) % 4].x - q[i].x, p[(i + giro) % 4].y - q[i].y));
        mejor = std::min(mejor, peor);
    }
    return mejor;
}

Cuadrilatero aPantalla(const Cuadrilatero& e, int alto) {
    // Slot n of the display order is slot 3 - n of the stored one, turned upside down.
    Cuadrilatero p{};
    for (int i = 0; i < 4; ++i) p[i] = {e[3 - i].x, (alto - 1) - e[3 - i].y};
    return p;
}

Cuadrilatero desdePantalla(const Cuadrilatero& p, int alto) {
    Cuadrilatero e{};
    for (int i = 0; i < 4; ++i) e[3 - i] = {p[i].x, (alto - 1) - p[i].y};
    return e;
}
