#include "geometria/contorno.hpp"

#include <cstdlib>

namespace {

// The slot a corner belongs in, or -1 for a corner on an axis through the centre.
int cuadrante(const Esquina& e) {
    if (e.x < 0 && e.y < 0) return 0;
    if (e.x > 0 && e.y < 0) return 1;
    if (e.x > 0 && e.y > 0) return 2;
    if (e.x < 0 && e.y > 0) return 3;
    return -1;
}

int redondear(double v) { return static_cast<int>(v + 0.5); }

}  // namespace

void ordenarEsquinas(std::array<Esquina, kMaxEsquinas>& esquinas) {
    // Four corners in four quadrants: the quadrant order, whatever order they came in.
    std::array<Esquina, 4> porCuadrante{};
    bool ocupado[4] = {false, false, false, false};
    bool cuatroCuadrantes = true;
    for (int i = 0; i < 4 && cuatroCuadrantes; ++i) {
        const int q = cuadrante(esquinas[i]);
        if (q < 0 || ocupado[q]) {
            cuatroCuadrantes = false;
        } else {
            ocupado[q] = true;
            porCuadrante[q] = esquinas[i];
        }
    }
    if (cuatroCuadrantes) {
        for (int i = 0; i < 4; ++i) esquinas[i] = porCuadrante[i];
        return;
    }

    // Otherwise one pass of exchanges, each slot visited once.
    for (int i = 0; i < 4; ++i) {
        const int t = cuadrante(esquinas[i]);
        if (t < 0) continue;
        const Esquina e = esquinas[i];
        esquinas[i] = esquinas[t];
        esquinas[t] = e;
    }
}

bool trazarSegmento(ImagenBmp& imagen, int x1, int y1, int x2, int y2) {
    const int ancho = imagen.ancho();
    const int alto = imagen.alto();
    if (x1 < 0 || x1 > ancho - 1 || x2 < 0 || x2 > ancho - 1 || y1 < 0 || y1 > alto - 1 || y2 < 0 ||
        y2 > alto - 1) {
        return false;
    }
    // Walk towards equal or higher rows, so both directions give the same pixels.
    int sx = x1, sy = y1, tx = x2, ty = y2;
    if (y1 > y2) {
        sx = x2; sy = y2; tx = x1; ty = y1;
    }
    const int dy = ty - sy;
    const int dx = std::abs(tx - sx);
    const int paso = tx > sx ? 1 : -1;

    PlanoBytes& plano = imagen.plano1;
    plano[sy][sx] = 255;
    int x = sx, y = sy, err = 0;
    if (dx > dy) {
        while (x != tx) {
            err += dy;
            if (err >= dx) {
                err %= dx;
                y += 1;
            }
            x += paso;
            plano[y][x] = 255;
        }
    } else {
        while (y != ty) {
            err += dx;
            if (err >= dy) {
                err %= dy;
                x += paso;
            }
            y += 1;
            plano[y][x] = 255;
        }
    }
    return true;
}

std::array<Esquina, 4> dibujarBordesHoja(std::array<Esquina, kMaxEsquinas>& esquinas, ImagenBmp& imagen) {
    ordenarEsquinas(esquinas);
    std::array<Esquina, 4> centradas{};
    const int mitadAncho = imagen.ancho() / 2;
    const int mitadAlto = imagen.alto() / 2;
    for (int i = 0; i < 4; ++i) {
        centradas[i] = esquinas[i];
        esquinas[i].x += static_cast<double>(mitadAncho);
        esquinas[i].y += static_cast<double>(mitadAlto);
    }
    for (int k = 1; k <= 4; ++k) {
        const Esquina& a = esquinas[k - 1];
        const Esquina& b = esquinas[k % 4];
        trazarSegmento(imagen, redondear(a.x), redondear(a.y), redondear(b.x), redondear(b.y));
    }
    return centradas;
}
