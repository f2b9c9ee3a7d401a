#include "deteccion/deteccion.hpp"

#include <cstdio>

#include "app/recorrido.hpp"

HojaDetectada detectarHojaRobusta(const ImagenBmp& foto) {
    HojaDetectada h;
    std::FILE* nada = std::fopen("/dev/null", "w");
    const ResultadoRecorrido r = buscarHojaPorEtapas(foto, nada, std::nullopt);
    if (nada) std::fclose(nada);
    h.encontrada = r.hallazgo == Hallazgo::hoja;
    h.esquinas = r.esquinas;
    if (!h.encontrada) h.motivo = "no se encontraron las cuatro esquinas de la hoja";
    return h;
}
