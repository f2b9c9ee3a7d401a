// Measures the page's maps, paper sizes, sampling and scanned look on rendered scenes, and prints a
// table per goal; with --imagenes CARPETA it also writes the README's pictures there.
//   medir_pagina [--escenas N] [--solo mapas|papeles|fina|mejora] [--imagenes CARPETA]
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/recorrido.hpp"
#include "deteccion/deteccion.hpp"
#include "escena.hpp"
#include "formatos/formatos.hpp"
#include "medida_pagina.hpp"
#include "pagina/pagina.hpp"
#include "pagina/remuestreo.hpp"
#include "rectificacion/hoja.hpp"
#include "sistema/archivos.hpp"
#include "uso.hpp"

namespace {

using medida::esquinasDe;

// Runs f(0 .. n-1) on two threads.
template <class F>
void enParalelo(int n, F f) {
    std::atomic<int> siguiente{0};
    auto trabajo = [&] {
        for (int i; (i = siguiente.fetch_add(1)) < n;) f(i);
    };
    std::thread otro(trabajo);
    trabajo();
    otro.join();
}

enum Fuente { kDadas, kEspec, kRobusto, kFuentes };
const char* kNombreFuente[] = {"dadas", "espec", "robusto"};

std::optional<std::array<Esquina, 4>> esquinasHalladas(const ImagenBmp& foto, Fuente fuente,
                                                       const escena::Escena& e) {
    if (fuente == kDadas) return esquinasDe(e);
    if (fuente == kEspec) {
        std::FILE* nada = std::fopen("/dev/null", "w");
        const ResultadoRecorrido r = buscarHojaPorEtapas(foto, nada, std::nullopt);
        std::fclose(nada);
        if (r.hallazgo != Hallazgo::hoja) return std::nullopt;
        return r.esquinas;
    }
    const HojaDetectada h = detectarHojaRobusta(foto);
    if (!h.encontrada) return std::nullopt;
    return h.esquinas;
}

struct Suma {
    double diferencia = 0, nitidez = 0;
    int n = 0, fallos = 0;
    void sumar(double d, double s) {
        diferencia += d;
        nitidez += s;
        ++n;
    }
};

// Goal 1: per tilt band, both maps against the page front-on.
void medirBandas(int porBanda) {
    const double bandas[3][2] = {{0, 15}, {15, 30}, {30, 50}};
    std::printf("\n== Maps against the page front-on (%d scenes per band, 1280 x 960, letter) ==\n", porBanda);
    std::printf("block-mean difference (gray levels; lower is better) / edge sharpness on the text (1 = as the page)\n");
    std::printf("%-8s %-9s %8s %18s %18s %8s %10s\n", "band", "corners", "found", "bilineal", "perspectiva", "ratio",
                "goal");
    for (const auto& banda : bandas) {
        Suma sumas[kFuentes][2];
        std::mutex cerrojo;
        enParalelo(porBanda, [&](int i) {
            const auto ei = medida::escenaInclinada(1000 + i + 100000 * static_cast<std::uint64_t>(banda[0]), banda[0],
                                                    banda[1], escena::kCarta);
            if (!ei) return;
            const auto foto = escena::renderizarEscena(ei->escena);
            if (!foto) return;
            for (int fuente = 0; fuente < kFuentes; ++fuente) {
                const auto esquinas = esquinasHalladas(foto->imagen, static_cast<Fuente>(fuente), ei->escena);
                double d[2] = {0, 0}, s[2] = {0, 0};
                bool bien = esquinas.has_value();
                for (int mapa = 0; mapa < 2 && bien; ++mapa) {
                    OpcionesPagina o;
                    o.mapa = mapa == 0 ? Mapa::bilineal : Mapa::perspectiva;
                    const auto p = enderezarPagina(foto->imagen, *esquinas, o);
                    if (!p) {
                        bien = false;
                        break;
                    }
                    // The page front-on where the map puts the sheet's corners, at the output's size.
                    const int w = p->imagen.ancho(), h = p->imagen.alto();
                    const auto ref = escena::paginaDeFrente(
                        ei->escena, w, h, mapa == 0 ? medida::puntosBilineales(w, h) : medida::bordesDePagina(w, h), true);
                    d[mapa] = medida::diferenciaBloques(p->imagen, *ref);
                    s[mapa] = medida::nitidez(p->imagen, *ref);
                }
                const std::lock_guard<std::mutex> l(cerrojo);
                for (int mapa = 0; mapa < 2; ++mapa) {
                    if (bien) sumas[fuente][mapa].sumar(d[mapa], s[mapa]);
                    else ++sumas[fuente][mapa].fallos;
                }
            }
        });
        for (int fuente = 0; fuente < kFuentes; ++fuente) {
            const Suma& b = sumas[fuente][0];
            const Suma& p = sumas[fuente][1];
            if (b.n == 0) continue;
            const double db = b.diferencia / b.n, dp = p.diferencia / p.n;
            const bool alta = banda[0] >= 30;
            const bool cumple = alta ? dp <= db / 3 : dp <= db;
            std::printf("%2.0f-%-5.0f %-9s %4d/%-3d %8.2f / %6.3f %8.2f / %6.3f %8.2f %10s\n", banda[0], banda[1],
                        kNombreFuente[fuente], b.n, b.n + b.fallos, db, b.nitidez / b.n, dp, p.nitidez / p.n,
                        db > 0 ? dp / db : 0.0, fuente == kDadas ? (cumple ? (alta ? "<=1/3 ok" : "<= ok") : "MISSED") : "-");
        }
    }
}

// Goal 2: landscape sheets come out landscape; --papel auto tells A4 from letter.
void medirPapeles(int cuantas) {
    std::printf("\n== Orientation (%d landscape sheets, letter and A4, tilt 0-50) ==\n", cuantas);
    int apaisadas[kFuentes][2] = {}, total[kFuentes] = {};
    std::mutex cerrojo;
    enParalelo(cuantas, [&](int i) {
        const escena::Papel papel = i % 2 ? escena::kCartaApaisada : escena::kA4Apaisada;
        const auto ei = medida::escenaInclinada(5000 + i, 0, 50, papel);
        if (!ei) return;
        const auto foto = escena::renderizarEscena(ei->escena);
        if (!foto) return;
        for (int fuente = 0; fuente < kFuentes; ++fuente) {
            const auto esquinas = esquinasHalladas(foto->imagen, static_cast<Fuente>(fuente), ei->escena);
            if (!esquinas) continue;
            int bien[2] = {0, 0};
            for (int mapa = 0; mapa < 2; ++mapa) {
                OpcionesPagina o;
                o.mapa = mapa == 0 ? Mapa::bilineal : Mapa::perspectiva;
                const auto p = enderezarPagina(foto->imagen, *esquinas, o);
                bien[mapa] = p && p->imagen.ancho() > p->imagen.alto() && p->anchoPulgadas > p->altoPulgadas;
            }
            const std::lock_guard<std::mutex> l(cerrojo);
            ++total[fuente];
            apaisadas[fuente][0] += bien[0];
            apaisadas[fuente][1] += bien[1];
        }
    });
    std::printf("%-9s %8s %14s %14s\n", "corners", "found", "bilineal", "perspectiva");
    for (int fuente = 0; fuente < kFuentes; ++fuente)
        std::printf("%-9s %8d %13.1f%% %13.1f%%\n", kNombreFuente[fuente], total[fuente],
                    total[fuente] ? 100.0 * apaisadas[fuente][0] / total[fuente] : 0.0,
                    total[fuente] ? 100.0 * apaisadas[fuente][1] / total[fuente] : 0.0);

    std::printf("\n== --papel auto (%d sheets, letter or A4, portrait or landscape, tilt 0-40, 1280 x 960) ==\n",
                cuantas);
    struct Cuenta {
        int bien = 0, cerca = 0, n = 0;
        double peor = 0;
    };
    // Per source of corners: without EXIF, with the camera's focal length as EXIF would give it.
    Cuenta cuentas[kFuentes][2];
    enParalelo(cuantas, [&](int i) {
        const escena::Papel papeles[] = {escena::kCarta, escena::kA4, escena::kCartaApaisada, escena::kA4Apaisada};
        const escena::Papel papel = papeles[i % 4];
        const auto ei = medida::escenaInclinada(9000 + i, 0, 40, papel);
        if (!ei) return;
        const auto foto = escena::renderizarEscena(ei->escena);
        if (!foto) return;
        const bool a4 = papel.ancho == escena::kA4.ancho || papel.alto == escena::kA4.ancho;
        const double verdad = std::max(papel.ancho, papel.alto) / std::min(papel.ancho, papel.alto);
        for (int fuente = 0; fuente < kFuentes; ++fuente) {
            const auto esquinas = esquinasHalladas(foto->imagen, static_cast<Fuente>(fuente), ei->escena);
            for (int exif = 0; exif < 2; ++exif) {
                OpcionesPagina o;
                o.papel = Papel::automatico;
                if (exif) o.focal35mm = medida::focal35mmDe(ei->camara, ei->escena.ancho, ei->escena.alto);
                std::optional<FormaPagina> forma;
                if (esquinas) forma = formaDePagina(ei->escena.ancho, ei->escena.alto, *esquinas, o);
                const std::lock_guard<std::mutex> l(cerrojo);
                Cuenta& c = cuentas[fuente][exif];
                ++c.n;
                if (!forma || !forma->proporcionMedida) continue;
                c.bien += forma->papel == (a4 ? Papel::a4 : Papel::carta);
                const double error = std::abs(*forma->proporcionMedida / verdad - 1);
                c.cerca += error <= 0.02;
                c.peor = std::max(c.peor, error);
            }
        }
    });
    std::printf("%-9s %-22s %8s %14s %18s %8s\n", "corners", "focal length", "scenes", "paper right", "aspect within 2%",
                "worst");
    const char* nombres[] = {"measured / phone 26mm", "EXIF (the camera's)"};
    for (int fuente = 0; fuente < kFuentes; ++fuente)
        for (int exif = 0; exif < 2; ++exif) {
            const Cuenta& c = cuentas[fuente][exif];
            if (!c.n) continue;
            std::printf("%-9s %-22s %8d %13.1f%% %17.1f%% %7.1f%%\n", kNombreFuente[fuente], nombres[exif], c.n,
                        100.0 * c.bien / c.n, 100.0 * c.cerca / c.n, 100 * c.peor);
        }
}

// Today's sampling through any map: each output pixel interpolated bilinearly from the 4 photo
// pixels around the point the map sends it to, truncated (as the letter page samples).
ImagenBmp muestreoDeHoy(const ImagenBmp& foto, const Homografia& h, int ancho, int alto) {
    ImagenBmp r = imagenNueva(ancho, alto);
    const PlanoBytes* o[3] = {&foto.plano0, &foto.plano1, &foto.plano2};
    PlanoBytes* d[3] = {&r.plano0, &r.plano1, &r.plano2};
    for (int i = 0; i < alto; ++i)
        for (int j = 0; j < ancho; ++j) {
            const double w = h.g * j + h.h * i + 1;
            const double x = std::clamp((h.a * j + h.b * i + h.c) / w, 0.0, foto.ancho() - 2.0);
            const double y = std::clamp((h.d * j + h.e * i + h.f) / w, 0.0, foto.alto() - 2.0);
            const int c = static_cast<int>(x), f = static_cast<int>(y);
            const double fx = x - c, fy = y - f;
            for (int k = 0; k < 3; ++k) {
                const PlanoBytes& p = *o[k];
                const double v = (1 - fx) * (1 - fy) * p[f][c] + fx * (1 - fy) * p[f][c + 1] + (1 - fx) * fy * p[f + 1][c] +
                                 fx * fy * p[f + 1][c + 1];
                (*d[k])[i][j] = static_cast<std::uint8_t>(v);
            }
        }
    return r;
}

// Goal 3: fine print at 4000 x 3000 (a 17 x 22 inch sheet whose letters the letter-size page shows
// at half their size), today's sampling against the new one, through the same map.
void medirLetraFina() {
    std::printf("\n== Fine print at 4000 x 3000 (17 x 22 in sheet on a letter page: strokes about 1 px) ==\n");
    std::printf("pixel RMS difference from the page front-on (aliasing and blur; lower is better), "
                "edge sharpness (1 = as the page)\n");
    std::printf("%-6s %22s %22s\n", "scene", "today (4 pixels)", "new");
    double total[2][2] = {};
    const int cuantas = 3;
    for (int i = 0; i < cuantas; ++i) {
        escena::Camara c;
        c.rigida = true;
        c.proporcion = 17.0 / 22.0;
        c.centro = {2000 + 37.0 * i, 1500 - 23.0 * i};
        c.altoHoja = 2750;
        c.giro = 1.5 + 2.5 * i;
        escena::Escena e = escena::escenaConCamara(4000, 3000, c, 77 + i);
        e.anchoPapel = 17.0;
        e.altoPapel = 22.0;
        const auto foto = escena::renderizarEscena(e);
        const auto ref = escena::paginaDeFrente(e, kAnchoHoja, kAltoHoja, medida::bordesDePagina(kAnchoHoja, kAltoHoja), true);
        if (!foto || !ref) continue;
        OpcionesPagina o;
        const auto nueva = enderezarPagina(foto->imagen, esquinasDe(e), o);
        const ImagenBmp hoy =
            muestreoDeHoy(foto->imagen, *homografiaDePagina(esquinasDe(e), kAnchoHoja, kAltoHoja), kAnchoHoja, kAltoHoja);
        const double v[2][2] = {{medida::diferenciaRms(hoy, *ref), medida::nitidez(hoy, *ref)},
                                {medida::diferenciaRms(nueva->imagen, *ref), medida::nitidez(nueva->imagen, *ref)}};
        std::printf("%-6d", i + 1);
        for (int k = 0; k < 2; ++k) {
            std::printf(" %12.2f / %6.3f", v[k][0], v[k][1]);
            total[k][0] += v[k][0] / cuantas;
            total[k][1] += v[k][1] / cuantas;
        }
        std::printf("\n");
    }
    std::printf("%-6s", "mean");
    for (int k = 0; k < 2; ++k) std::printf(" %12.2f / %6.3f", total[k][0], total[k][1]);
    std::printf("\n");
}

// Goal 4: --mejorar on scenes with a shadow across the sheet.
void medirMejora(int cuantas) {
    std::printf("\n== --mejorar on %d shadow scenes (kind \"sombra\", corners given, perspective map) ==\n", cuantas);
    std::printf("paper brightness across the page: largest - smallest 32 x 32 block mean of paper (goal <= 8); "
                "mean ink gray\n");
    const char* nombres[] = {"none", "color", "gris", "bn"};
    struct Cuenta {
        double rango = 0, peor = 0, tinta = 0;
        int n = 0, dentro = 0;
    };
    Cuenta cuentas[4];
    std::mutex cerrojo;
    const auto escenas = escena::conjuntoDeEscenas("sombra", cuantas, 4242);
    enParalelo(static_cast<int>(escenas.size()), [&](int i) {
        const escena::Escena& e = escenas[static_cast<std::size_t>(i)].escena;
        const auto foto = escena::renderizarEscena(e);
        if (!foto) return;
        OpcionesPagina o;
        const auto p = enderezarPagina(foto->imagen, esquinasDe(e), o);
        if (!p) return;
        const int w = p->imagen.ancho(), h = p->imagen.alto();
        const auto sinLuz = escena::paginaDeFrente(e, w, h, medida::bordesDePagina(w, h), false);
        if (!sinLuz) return;
        for (int k = 0; k < 4; ++k) {
            ImagenBmp pagina = p->imagen;
            mejorarPagina(pagina, static_cast<Mejora>(k));
            const medida::Papel papel = medida::papelDeLaPagina(pagina, *sinLuz);
            const std::lock_guard<std::mutex> l(cerrojo);
            Cuenta& c = cuentas[k];
            const double rango = papel.mayor - papel.menor;
            c.rango += rango;
            c.peor = std::max(c.peor, rango);
            c.tinta += papel.tinta;
            c.dentro += rango <= 8.0;
            ++c.n;
            if (k > 0 && rango > 8.0)
                std::printf("  miss: scene %d, %s: range %.1f (shadow %.2f, softness %.0f px, band %.0f px)\n", i,
                            nombres[k], rango, e.sombra.fuerza, e.sombra.suavidad, e.sombra.ancho);
        }
    });
    std::printf("%-8s %8s %12s %12s %14s %12s\n", "mejorar", "scenes", "mean range", "worst range", "within 8", "ink gray");
    for (int k = 0; k < 4; ++k) {
        const Cuenta& c = cuentas[k];
        if (!c.n) continue;
        std::printf("%-8s %8d %12.1f %12.1f %13.1f%% %12.1f\n", nombres[k], c.n, c.rango / c.n, c.peor,
                    100.0 * c.dentro / c.n, c.tinta / c.n);
    }
}

// ---- Pictures for the README

// `imagen` reduced (area-averaged) to `alto` rows.
ImagenBmp reducida(const ImagenBmp& imagen, int alto) {
    const int ancho = std::max(2, static_cast<int>(std::lround(imagen.ancho() * double(alto) / imagen.alto())));
    const double x = imagen.ancho() - 0.5, y = imagen.alto() - 0.5;
    MapaDePagina m;
    m.homografia = *homografiaDePagina({{{-0.5, -0.5}, {x, -0.5}, {x, y}, {-0.5, y}}}, ancho, alto);
    return remuestrearPagina(imagen, m, ancho, alto);
}

// The images side by side on white, bottoms aligned, 8 pixels apart.
ImagenBmp lado(const std::vector<ImagenBmp>& imagenes) {
    int ancho = 8, alto = 0;
    for (const ImagenBmp& m : imagenes) {
        ancho += m.ancho() + 8;
        alto = std::max(alto, m.alto() + 16);
    }
    ImagenBmp r = imagenNueva(ancho, alto, 255);
    int x = 8;
    for (const ImagenBmp& m : imagenes) {
        const int y = (alto - m.alto()) / 2;
        for (int f = 0; f < m.alto(); ++f)
            for (int c = 0; c < m.ancho(); ++c) {
                r.plano0[y + f][x + c] = m.plano0[f][c];
                r.plano1[y + f][x + c] = m.plano1[f][c];
                r.plano2[y + f][x + c] = m.plano2[f][c];
            }
        x += m.ancho() + 8;
    }
    return r;
}

// Written with 32 levels per channel, which keeps the file small.
void grabarPng(ImagenBmp imagen, const std::filesystem::path& ruta) {
    for (PlanoBytes* p : {&imagen.plano0, &imagen.plano1, &imagen.plano2})
        for (std::uint8_t& v : p->datos) v = static_cast<std::uint8_t>(std::min(255, (v + 4) / 8 * 8));
    const ArchivoCodificado png = codificarPng(imagen);
    if (!png.ok() || !grabarArchivo(ruta, *png).ok()) {
        std::fprintf(stderr, "medir_pagina: no se pudo escribir %s\n", ruta.c_str());
        return;
    }
    std::printf("wrote %s (%zu bytes)\n", ruta.c_str(), png->size());
}

void imagenes(const std::filesystem::path& carpeta) {
    std::filesystem::create_directories(carpeta);
    {
        escena::Camara c;
        c.rigida = true;
        c.centro = {640, 470};
        c.altoHoja = 700;
        c.inclinacion = 42;
        c.ladeo = -12;
        c.giro = 4;
        c.distancia = 1.5;
        escena::Escena e = escena::escenaConCamara(1280, 960, c, 31);
        e.ruido = 1;  // a small PNG
        const auto foto = escena::renderizarEscena(e);
        OpcionesPagina o;
        o.mapa = Mapa::bilineal;
        const auto b = enderezarPagina(foto->imagen, esquinasDe(e), o);
        o.mapa = Mapa::perspectiva;
        const auto p = enderezarPagina(foto->imagen, esquinasDe(e), o);
        grabarPng(lado({reducida(foto->imagen, 300), reducida(b->imagen, 300), reducida(p->imagen, 300)}),
                  carpeta / "pagina-mapas.png");
    }
    {
        auto escenas = escena::conjuntoDeEscenas("sombra", 8, 4242);
        escena::Escena e = escenas[3].escena;
        e.ruido = 1;
        const auto foto = escena::renderizarEscena(e);
        OpcionesPagina o;
        const auto p = enderezarPagina(foto->imagen, esquinasDe(e), o);
        ImagenBmp color = p->imagen;
        mejorarPagina(color, Mejora::color);
        grabarPng(lado({reducida(p->imagen, 360), reducida(color, 360)}), carpeta / "pagina-mejora.png");
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Measures the page's goals on rendered scenes, or writes the README's pictures of it.",
                 "medir_pagina"};
    int escenas = 40;
    std::optional<std::filesystem::path> carpeta;
    std::string solo;
    app.add_option("--escenas", escenas, "scenes of each kind (40)")->check(CLI::Range(1, 100000));
    app.add_option("--solo", solo, "only one measure")->check(CLI::IsMember({"mapas", "papeles", "fina", "mejora"}));
    app.add_option("--imagenes", carpeta, "write the README's pictures into this folder instead");
    if (const auto fin = herramienta::leerArgumentos(app, argc, argv)) return *fin;
    if (carpeta) {
        imagenes(*carpeta);
        return 0;
    }
    if (solo.empty() || solo == "mapas") medirBandas(escenas);
    if (solo.empty() || solo == "papeles") medirPapeles(escenas);
    if (solo.empty() || solo == "fina") medirLetraFina();
    if (solo.empty() || solo == "mejora") medirMejora(escenas);
    return 0;
}
