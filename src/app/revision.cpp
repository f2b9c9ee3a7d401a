#include "app/revision.hpp"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/comandos.hpp"
#include "app/recorrido.hpp"
#include "app/salidas.hpp"
#include "deteccion/deteccion.hpp"
#include "formatos/formatos.hpp"
#include "pagina/pagina.hpp"
#include "revision/servidor.hpp"
#include "sistema/archivos.hpp"

namespace {

constexpr int kCalidadPantalla = 85;

// A photo made ready for the page: scaled for the screen, as JPEG, with what its preview needs.
struct Preparada {
    ImagenBmp pantalla;
    std::vector<std::uint8_t> jpeg;
    int ancho = 0, alto = 0;  // the full-size photo
    std::optional<double> focal35mm;
};

struct Foto {
    std::shared_ptr<const Preparada> preparada;
    bool leyendo = false;  // some thread is reading it to prepare it
    FotoEnRevision estado;
};

// The sheet's corners in `foto` (stored-row frame), by the detector the options choose, or nothing.
std::optional<Cuadrilatero> detectar(const ImagenBmp& foto, const Opciones& o) {
    if (o.detector == Detector::robusto) {
        const HojaDetectada h = detectarHojaRobusta(foto);
        if (!h.encontrada) return std::nullopt;
        return h.esquinas;
    }
    std::FILE* nada = std::fopen("/dev/null", "w");
    if (!nada) return std::nullopt;
    const ResultadoRecorrido r = buscarHojaPorEtapas(foto, nada, std::nullopt, Orientaciones::deBordes, true);
    std::fclose(nada);
    if (r.hallazgo != Hallazgo::hoja) return std::nullopt;
    return r.esquinas;
}

class FotosDelPlan final : public FotosRevision {
public:
    FotosDelPlan(const Plan& plan, const Opciones& o, std::FILE* salida, std::FILE* errores)
        : plan_(plan), o_(o), salida_(salida), errores_(errores), fotos_(plan.destinos.size()) {
        detector_ = std::thread([this] { detectarTodas(); });
    }
    ~FotosDelPlan() override { parar(); }

    std::size_t cuantas() const override { return fotos_.size(); }
    std::string nombre(std::size_t i) const override { return plan_.destinos[i].foto.string(); }

    FotoEnRevision estado(std::size_t i) override {
        std::lock_guard cerrojo(mutex_);
        return fotos_[i].estado;
    }

    Resultado<std::vector<std::uint8_t>> imagen(std::size_t i) override {
        Resultado<std::shared_ptr<const Preparada>> p = preparada(i);
        if (!p) return p.fallo();
        return (*p)->jpeg;
    }

    Resultado<std::vector<std::uint8_t>> vista(std::size_t i, const Cuadrilatero& enPantalla) override {
        std::shared_ptr<const Preparada> p;
        {
            std::lock_guard cerrojo(mutex_);
            p = fotos_[i].preparada;
        }
        if (!p) return Fallo{"la foto aun no se ha leido"};
        // The shape from the full-size photo, as the page will have it; the pixels from the photo
        // on the screen, at a preview's size.
        OpcionesPagina opciones = o_.pagina;
        opciones.focal35mm = p->focal35mm;
        const Cuadrilatero completa = desdePantalla(enPantalla, p->alto);
        std::optional<FormaPagina> forma = formaDePagina(p->ancho, p->alto, completa, opciones);
        if (!forma) return Fallo{"no se pudo calcular la transformacion de la hoja"};
        const double f = static_cast<double>(kLadoVista) / std::max(forma->ancho, forma->alto);
        forma->ancho = std::max(2, static_cast<int>(std::lround(forma->ancho * f)));
        forma->alto = std::max(2, static_cast<int>(std::lround(forma->alto * f)));
        forma->hojaCarta = false;
        const double sx = static_cast<double>(p->pantalla.ancho()) / p->ancho;
        const double sy = static_cast<double>(p->pantalla.alto()) / p->alto;
        Cuadrilatero enLaPantalla = enPantalla;
        for (Esquina& e : enLaPantalla) e = {(e.x + 0.5) * sx - 0.5, (e.y + 0.5) * sy - 0.5};
        std::optional<PaginaEnderezada> pagina = enderezarPagina(
            p->pantalla, desdePantalla(enLaPantalla, p->pantalla.alto()), opciones.mapa, *forma);
        if (!pagina) return Fallo{"no se pudo calcular la transformacion de la hoja"};
        mejorarPagina(pagina->imagen, o_.mejora);
        ArchivoCodificado jpeg = codificarJpeg(pagina->imagen, kCalidadPantalla);
        if (!jpeg) return jpeg.fallo();
        return std::move(*jpeg);
    }

    Guardado guardar(const std::vector<std::optional<Cuadrilatero>>& esquinas) override {
        parar();
        // The corners on the page stand in for any given with the options; a set the photo
        // cannot take fails that photo alone, as a corners file's would.
        Plan plan = plan_;
        Opciones o = o_;
        o.esquinas.reset();
        for (std::size_t i = 0; i < esquinas.size(); ++i) {
            if (!esquinas[i]) continue;
            plan.destinos[i].esquinas = esquinas[i];
            plan.destinos[i].esquinasMalas.clear();
        }
        Guardado g;
        g.estado = escanearPlan(plan, o, salida_, errores_, &g.mensajes);
        return g;
    }

    // Ends the background work; what it is detecting is finished first.
    void parar() {
        {
            std::lock_guard cerrojo(mutex_);
            parar_ = true;
        }
        cambio_.notify_all();
        if (detector_.joinable()) detector_.join();
    }

private:
    // Reads photo i, prepares it for the screen unless it already is, and hands the full photo
    // back for the detector; a failure marks the photo.
    std::optional<ImagenBmp> leer(std::size_t i) {
        const Destino& d = plan_.destinos[i];
        std::optional<ImagenBmp> completa;
        std::string mensaje;
        std::shared_ptr<Preparada> p;
        try {
            LecturaFoto lectura = leerFoto(d.foto, static_cast<std::uint64_t>(o_.maxMegapixeles) * 1000000);
            if (!lectura) {
                mensaje = lectura.mensaje();
            } else if (Hecho grosor = revisarGrosor(lectura->imagen, entreComillas(d.foto)); !grosor.ok()) {
                mensaje = grosor.mensaje();
            } else {
                p = std::make_shared<Preparada>();
                p->ancho = lectura->imagen.ancho();
                p->alto = lectura->imagen.alto();
                p->focal35mm = lectura->focal35mm;
                bool hecha = false;
                {
                    std::lock_guard cerrojo(mutex_);
                    hecha = fotos_[i].preparada != nullptr;
                }
                if (!hecha) {
                    p->pantalla = aEscala(lectura->imagen, kLadoPantalla);
                    ArchivoCodificado jpeg = codificarJpeg(p->pantalla, kCalidadPantalla);
                    if (!jpeg) {
                        mensaje = entreComillas(d.foto) + ": " + jpeg.mensaje();
                        p.reset();
                    } else {
                        p->jpeg = std::move(*jpeg);
                    }
                } else {
                    p.reset();
                }
                completa = std::move(lectura->imagen);
            }
        } catch (const std::bad_alloc&) {
            mensaje = entreComillas(d.foto) + " no cabe en la memoria libre";
            completa.reset();
        } catch (const std::exception& e) {
            mensaje = entreComillas(d.foto) + ": fallo inesperado: " + e.what();
            completa.reset();
        }
        std::lock_guard cerrojo(mutex_);
        Foto& f = fotos_[i];
        f.leyendo = false;
        if (!mensaje.empty()) {
            f.estado.estado = EstadoFoto::error;
            f.estado.mensaje = mensaje;
        } else if (p && !f.preparada) {
            f.preparada = std::move(p);
            f.estado.ancho = f.preparada->ancho;
            f.estado.alto = f.preparada->alto;
        }
        cambio_.notify_all();
        return completa;
    }

    // The photo ready for the screen: made by whoever asks first, waited for by the others.
    Resultado<std::shared_ptr<const Preparada>> preparada(std::size_t i) {
        std::unique_lock cerrojo(mutex_);
        for (;;) {
            Foto& f = fotos_[i];
            if (f.preparada) return f.preparada;
            if (f.estado.estado == EstadoFoto::error) return Fallo{f.estado.mensaje};
            if (parar_) return Fallo{"la revision termino"};
            if (!f.leyendo) break;
            cambio_.wait(cerrojo);
        }
        fotos_[i].leyendo = true;
        cerrojo.unlock();
        leer(i);
        cerrojo.lock();
        if (fotos_[i].preparada) return fotos_[i].preparada;
        return Fallo{fotos_[i].estado.mensaje};
    }

    // In the background, in the order given: each photo read (and made ready for the screen) and
    // its sheet found.
    void detectarTodas() {
        for (std::size_t i = 0; i < fotos_.size(); ++i) {
            {
                std::unique_lock cerrojo(mutex_);
                if (parar_) return;
                // A photo being read for the screen is waited for, then read again for its sheet.
                cambio_.wait(cerrojo, [&] { return !fotos_[i].leyendo || parar_; });
                if (parar_) return;
                if (fotos_[i].estado.estado == EstadoFoto::error) continue;
                fotos_[i].leyendo = true;
            }
            std::optional<ImagenBmp> completa = leer(i);
            if (!completa) continue;
            const int alto = completa->alto();
            // Corners given with the options are shown as they are; the others are found.
            std::optional<Cuadrilatero> esquinas = plan_.destinos[i].esquinas;
            std::string mensaje;
            if (!esquinas) {
                try {
                    // Found corners that make no page are no sheet, as for the command line.
                    if (auto halladas = detectar(*completa, o_))
                        if (Resultado<Cuadrilatero> mostradas = comoSeMuestranSiSirven(*halladas, completa->ancho(), alto))
                            esquinas = *mostradas;
                } catch (const std::bad_alloc&) {
                    mensaje = entreComillas(plan_.destinos[i].foto) + " no cabe en la memoria libre";
                } catch (const std::exception& e) {
                    mensaje = entreComillas(plan_.destinos[i].foto) + ": fallo inesperado: " + e.what();
                }
            }
            completa.reset();
            std::lock_guard cerrojo(mutex_);
            FotoEnRevision& e = fotos_[i].estado;
            if (!mensaje.empty()) {
                e.estado = EstadoFoto::error;
                e.mensaje = mensaje;
            } else if (esquinas) {
                e.estado = EstadoFoto::hoja;
                e.esquinas = esquinas;
            } else {
                e.estado = EstadoFoto::sinHoja;
                e.mensaje = entreComillas(plan_.destinos[i].foto) + ": no se encontraron las cuatro esquinas de la hoja";
            }
        }
    }

    const Plan& plan_;
    const Opciones& o_;
    std::FILE* salida_;
    std::FILE* errores_;
    std::mutex mutex_;
    std::condition_variable cambio_;
    std::vector<Foto> fotos_;
    bool parar_ = false;
    std::thread detector_;
};

}  // namespace

ImagenBmp aEscala(const ImagenBmp& foto, int lado) {
    const int ancho = foto.ancho(), alto = foto.alto();
    const int largo = std::max(ancho, alto);
    if (largo <= lado) return foto;
    const double f = static_cast<double>(lado) / largo;
    FormaPagina forma;
    forma.ancho = std::max(2, static_cast<int>(std::lround(ancho * f)));
    forma.alto = std::max(2, static_cast<int>(std::lround(alto * f)));
    forma.hojaCarta = false;
    // The whole photo, its corners on its outer pixel edges, as a page of the scaled size.
    const double derecha = ancho - 0.5, arriba = alto - 0.5;
    const Cuadrilatero marco{{{-0.5, -0.5}, {derecha, -0.5}, {derecha, arriba}, {-0.5, arriba}}};
    std::optional<PaginaEnderezada> pagina = enderezarPagina(foto, marco, Mapa::perspectiva, forma);
    COMPROBAR(pagina.has_value());
    return std::move(pagina->imagen);
}

int ejecutarRevision(const Plan& plan, const Opciones& o, std::FILE* salida, std::FILE* errores) {
    Resultado<std::string> token = tokenAlAzar();
    if (!token) {
        std::fprintf(errores, "escaner: %s\n", token.mensaje().c_str());
        return 1;
    }
    FotosDelPlan fotos(plan, o, salida, errores);
    AjustesServidor ajustes;
    ajustes.puerto = o.puerto;
    ajustes.token = *token;
    Resultado<Revision> revision = servirRevision(fotos, ajustes, [&](const std::string& direccion) {
        std::fprintf(salida, "%s\n", direccion.c_str());
        std::fflush(salida);
        std::fprintf(errores, "escaner: abra esa direccion en un navegador de esta maquina para revisar las esquinas\n");
        std::fflush(errores);
    });
    fotos.parar();
    if (!revision) {
        std::fprintf(errores, "escaner: %s\n", paraTerminal(revision.mensaje()).c_str());
        return 1;
    }
    if (revision->fin == FinRevision::cerrado) {
        std::fprintf(errores, "escaner: se cerro la pagina de revision sin guardar; no se escribio nada\n");
        return 1;
    }
    return revision->guardado.estado;
}
