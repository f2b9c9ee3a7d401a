#include "geometria/cuadrilatero.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

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

Cuadrilatero comoSeMuestran(const Cuadrilatero& halladas, int alto) {
    Cuadrilatero p = aPantalla(ordenarCuadrilatero(halladas, alto), alto);
    for (Esquina& e : p) {
        e.x = std::round(e.x * 100) / 100;
        e.y = std::round(e.y * 100) / 100;
    }
    return p;
}

namespace {

// The corners by their place on screen, as messages name them.
constexpr const char* kLugares[4] = {"arriba a la izquierda", "arriba a la derecha", "abajo a la derecha",
                                     "abajo a la izquierda"};

std::string numero(double v) {
    char texto[32];
    std::snprintf(texto, sizeof texto, "%.2f", v);
    return texto;
}

std::string esquina(int i, const Esquina& e) {
    return std::string("la esquina de ") + kLugares[i] + " (" + numero(e.x) + ", " + numero(e.y) + ")";
}

}  // namespace

Hecho comprobarEsquinas(const Cuadrilatero& p, int ancho, int alto) {
    for (int i = 0; i < 4; ++i) {
        if (!std::isfinite(p[i].x) || !std::isfinite(p[i].y))
            return Fallo{std::string("la esquina de ") + kLugares[i] + " no es un par de numeros finitos"};
    }
    // The photo covers -0.5 .. ancho - 0.5 (pixel centres at whole numbers).
    const double margenX = kMargenDado * ancho, margenY = kMargenDado * alto;
    for (int i = 0; i < 4; ++i) {
        if (p[i].x < -0.5 - margenX || p[i].x > ancho - 0.5 + margenX || p[i].y < -0.5 - margenY ||
            p[i].y > alto - 0.5 + margenY) {
            return Fallo{esquina(i, p[i]) + " queda fuera de la foto (" + std::to_string(ancho) + " x " +
                         std::to_string(alto) + " pixeles) mas de un cuarto de su lado"};
        }
    }
    // Clockwise on screen (rows grow downward) every turn is to the right: a positive cross product.
    int derecha = 0, izquierda = 0, recta = -1;
    for (int i = 0; i < 4; ++i) {
        const Esquina& a = p[(i + 3) % 4];
        const Esquina& b = p[i];
        const Esquina& c = p[(i + 1) % 4];
        const double giro = (b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x);
        if (giro > 0) ++derecha;
        if (giro < 0) ++izquierda;
        if (giro == 0 && recta < 0) recta = i;
    }
    if (recta >= 0) return Fallo{esquina(recta, p[recta]) + " esta en linea con sus dos vecinas"};
    const std::string orden = "van arriba a la izquierda, arriba a la derecha, abajo a la derecha y abajo a la izquierda";
    if (derecha == 2 && izquierda == 2) return Fallo{"los lados del cuadrilatero se cruzan: las esquinas " + orden};
    if (izquierda == 4) return Fallo{"las esquinas dan la vuelta al reves: " + orden};
    if (derecha != 4) return Fallo{"el cuadrilatero no es convexo: una esquina entra hacia dentro"};
    double area = 0;
    for (int i = 0; i < 4; ++i) area += p[i].x * p[(i + 1) % 4].y - p[(i + 1) % 4].x * p[i].y;
    area = std::abs(area) / 2;
    const double minima = std::max(kAreaMinimaDada * ancho * alto, kAreaMinimaPixeles);
    if (!(area >= minima)) {
        return Fallo{"el cuadrilatero es demasiado pequeno para hacer una pagina: " + numero(area) +
                     " pixeles cuadrados, y hacen falta al menos " + numero(minima)};
    }
    return {};
}

Resultado<Cuadrilatero> leerEsquinasTexto(std::string_view texto) {
    std::vector<std::string_view> partes;
    for (std::size_t desde = 0;;) {
        const std::size_t coma = texto.find(',', desde);
        partes.push_back(texto.substr(desde, coma == std::string_view::npos ? std::string_view::npos : coma - desde));
        if (coma == std::string_view::npos) break;
        desde = coma + 1;
    }
    if (partes.size() != 8) {
        return Fallo{"van ocho numeros separados por comas (X1,Y1,X2,Y2,X3,Y3,X4,Y4), y hay " +
                     std::to_string(partes.size()) + (partes.size() == 1 ? " parte" : " partes")};
    }
    std::array<double, 8> v{};
    for (std::size_t i = 0; i < 8; ++i) {
        std::string_view parte = partes[i];
        while (!parte.empty() && (parte.front() == ' ' || parte.front() == '\t')) parte.remove_prefix(1);
        while (!parte.empty() && (parte.back() == ' ' || parte.back() == '\t')) parte.remove_suffix(1);
        std::string_view cifras = parte;
        if (cifras.size() > 1 && cifras[0] == '+' && cifras[1] != '-') cifras.remove_prefix(1);
        const char* fin = cifras.data() + cifras.size();
        const auto [resto, error] = std::from_chars(cifras.data(), fin, v[i]);
        std::string dado(1, '"');
        dado.append(parte).push_back('"');
        if (error == std::errc::result_out_of_range && resto == fin) return Fallo{dado + " esta fuera de rango"};
        if (parte.empty() || error != std::errc() || resto != fin) return Fallo{dado + " no es un numero"};
        if (!std::isfinite(v[i])) return Fallo{dado + " no es un numero finito"};
    }
    Cuadrilatero c{};
    for (int i = 0; i < 4; ++i) c[i] = {v[2 * i], v[2 * i + 1]};
    return c;
}

Resultado<Cuadrilatero> comoSeMuestranSiSirven(const Cuadrilatero& halladas, int ancho, int alto) {
    const Cuadrilatero mostradas = comoSeMuestran(halladas, alto);
    if (Hecho buenas = comprobarEsquinas(mostradas, ancho, alto); !buenas.ok()) return buenas.fallo();
    return mostradas;
}
