#include "revision/servidor.hpp"

#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string_view>
#include <thread>

#include <httplib.h>
#include <pthread.h>
#include <signal.h>
#include <nlohmann/json.hpp>

#include "revision/pagina_html.hpp"
#include "sistema/archivos.hpp"

using json = nlohmann::json;

namespace {

constexpr char kCookie[] = "escaner_token";

// Equal strings, compared in a time that does not tell how much of them agreed.
bool igualesSinPrisa(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char diferencia = 0;
    for (std::size_t i = 0; i < a.size(); ++i) diferencia |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diferencia == 0;
}

// The value of cookie `nombre` in a Cookie header ("a=1; b=2"), or nothing.
std::optional<std::string_view> cookie(std::string_view cabecera, std::string_view nombre) {
    while (!cabecera.empty()) {
        const std::size_t fin = cabecera.find(';');
        std::string_view par = cabecera.substr(0, fin);
        cabecera = fin == std::string_view::npos ? std::string_view{} : cabecera.substr(fin + 1);
        while (!par.empty() && par.front() == ' ') par.remove_prefix(1);
        const std::size_t igual = par.find('=');
        if (igual != std::string_view::npos && par.substr(0, igual) == nombre) return par.substr(igual + 1);
    }
    return std::nullopt;
}

// A JSON text parsed, or nothing when it is not one.
std::optional<json> leerJson(const std::string& texto) {
    json valor = json::parse(texto, nullptr, /*allow_exceptions=*/false);
    if (valor.is_discarded()) return std::nullopt;
    return valor;
}

// Four [x, y] pairs of finite numbers, as they are.
Resultado<Cuadrilatero> cuatroPares(const json& valor) {
    const Fallo malas{"las esquinas deben ser cuatro pares [x, y] de numeros"};
    if (!valor.is_array() || valor.size() != 4) return malas;
    Cuadrilatero q;
    for (std::size_t i = 0; i < 4; ++i) {
        const json& par = valor[i];
        if (!par.is_array() || par.size() != 2 || !par[0].is_number() || !par[1].is_number()) return malas;
        q[i] = {par[0].get<double>(), par[1].get<double>()};
        if (!std::isfinite(q[i].x) || !std::isfinite(q[i].y)) return malas;
    }
    return q;
}

Resultado<Cuadrilatero> esquinasJuzgadas(const json& valor, int ancho, int alto) {
    Resultado<Cuadrilatero> q = cuatroPares(valor);
    if (!q) return q;
    if (Hecho juicio = comprobarEsquinas(*q, ancho, alto); !juicio.ok()) return juicio.fallo();
    return q;
}

json comoJson(const Cuadrilatero& q) {
    json pares = json::array();
    for (const Esquina& e : q) pares.push_back({e.x, e.y});
    return pares;
}

const char* nombreEstado(EstadoFoto estado) {
    switch (estado) {
        case EstadoFoto::pendiente: return "pendiente";
        case EstadoFoto::hoja: return "hoja";
        case EstadoFoto::sinHoja: return "sin-hoja";
        case EstadoFoto::error: return "error";
    }
    return "error";
}

// Names that are not UTF-8 still make valid JSON: their stray bytes become U+FFFD.
std::string texto(const json& valor) { return valor.dump(-1, ' ', false, json::error_handler_t::replace); }

void responderJson(httplib::Response& res, const json& valor, int estado = 200) {
    res.status = estado;
    res.set_content(texto(valor), "application/json; charset=utf-8");
}

void rechazar(httplib::Response& res, int estado, const std::string& mensaje) {
    responderJson(res, json{{"error", mensaje}}, estado);
}

// The photo index of a route, when it names one of the photos.
std::optional<std::size_t> indiceDe(const httplib::Request& req, std::size_t cuantas) {
    const std::string digitos = req.matches[1];
    std::size_t i = 0;
    for (char c : digitos) i = i * 10 + static_cast<std::size_t>(c - '0');
    if (i >= cuantas) return std::nullopt;
    return i;
}

// Where the run stands, shared by the server's threads and the one waiting for the end.
struct Desenlace {
    std::mutex mutex;
    std::condition_variable cambio;
    std::optional<Revision> final;
    std::optional<std::chrono::steady_clock::time_point> cierre;  // the page closed: end then
    bool guardando = false;
};

}  // namespace

Resultado<std::string> tokenAlAzar() { return hexAlAzar(kBytesDeToken); }

Resultado<Cuadrilatero> esquinasDeLaPagina(const std::string& texto, int ancho, int alto) {
    const std::optional<json> valor = leerJson(texto);
    if (!valor) return Fallo{"las esquinas deben ser cuatro pares [x, y] de numeros"};
    return esquinasJuzgadas(*valor, ancho, alto);
}

Resultado<Revision> servirRevision(FotosRevision& fotos, const AjustesServidor& ajustes,
                                   const std::function<void(const std::string& direccion)>& escuchando) {
    COMPROBAR(ajustes.token.size() >= 2 * kBytesDeToken);
    httplib::Server servidor;
    Desenlace desenlace;
    int puerto = 0;

    // Only SO_REUSEADDR, for a port just left: the library's SO_REUSEPORT would let a second
    // listener, another program of the user, share the port and take requests meant for this one.
    servidor.set_socket_options([](socket_t s) {
        int si = 1;
        ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &si, sizeof si);
    });
    servidor.set_payload_max_length(kCuerpoMaximo);
    // Connections kept open must not hold the end of the run for long.
    servidor.set_keep_alive_timeout(1);
    servidor.set_read_timeout(5);
    servidor.set_write_timeout(5);
    servidor.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty()) res.set_content("", "text/plain");
    });

    // Every request: the Host it was sent to, then the token; answers are never kept, sniffed,
    // framed or shared with other origins.
    servidor.set_pre_routing_handler([&](const httplib::Request& req, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        res.set_header("X-Content-Type-Options", "nosniff");
        res.set_header("X-Frame-Options", "DENY");
        res.set_header("Referrer-Policy", "no-referrer");
        const std::string host = req.get_header_value("Host");
        const std::string sufijo = std::string(":").append(std::to_string(puerto));
        if (host != "127.0.0.1" + sufijo && host != "localhost" + sufijo) {
            rechazar(res, 403, "direccion ajena");
            return httplib::Server::HandlerResponse::Handled;
        }
        const std::string enLaDireccion = req.get_param_value("t");
        const std::string cookies = req.get_header_value("Cookie");
        const auto enCookie = cookie(cookies, kCookie);
        if (!igualesSinPrisa(enLaDireccion, ajustes.token) &&
            !(enCookie && igualesSinPrisa(*enCookie, ajustes.token))) {
            rechazar(res, 403, "falta la clave de esta revision");
            return httplib::Server::HandlerResponse::Handled;
        }
        // Any request but the farewell is a page still open: a reload keeps the run going.
        if (req.path != "/api/cerrar") {
            std::lock_guard cerrojo(desenlace.mutex);
            desenlace.cierre.reset();
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });

    servidor.Get("/", [&](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", std::string(kCookie) + "=" + ajustes.token +
                                         "; Path=/; HttpOnly; SameSite=Strict");
        res.set_header("Content-Security-Policy",
                       "default-src 'none'; img-src 'self' blob:; connect-src 'self'; "
                       "style-src 'unsafe-inline'; script-src 'unsafe-inline'; frame-ancestors 'none'");
        res.set_content(std::string(kPaginaHtml), "text/html; charset=utf-8");
    });

    servidor.Get("/api/fotos", [&](const httplib::Request&, httplib::Response& res) {
        json lista = json::array();
        for (std::size_t i = 0; i < fotos.cuantas(); ++i) {
            const FotoEnRevision f = fotos.estado(i);
            lista.push_back({{"nombre", fotos.nombre(i)},
                             {"estado", nombreEstado(f.estado)},
                             {"ancho", f.ancho},
                             {"alto", f.alto},
                             {"esquinas", f.esquinas ? comoJson(*f.esquinas) : json(nullptr)},
                             {"mensaje", f.mensaje}});
        }
        responderJson(res, lista);
    });

    servidor.Get(R"(/api/foto/(\d{1,9}))", [&](const httplib::Request& req, httplib::Response& res) {
        const auto i = indiceDe(req, fotos.cuantas());
        if (!i) return rechazar(res, 404, "no hay tal foto");
        Resultado<std::vector<std::uint8_t>> jpeg = fotos.imagen(*i);
        if (!jpeg) return rechazar(res, 422, jpeg.mensaje());
        res.set_content(std::string(jpeg->begin(), jpeg->end()), "image/jpeg");
    });

    servidor.Post(R"(/api/vista/(\d{1,9}))", [&](const httplib::Request& req, httplib::Response& res) {
        const auto i = indiceDe(req, fotos.cuantas());
        if (!i) return rechazar(res, 404, "no hay tal foto");
        const FotoEnRevision f = fotos.estado(*i);
        if (f.ancho <= 0 || f.alto <= 0) return rechazar(res, 409, "la foto aun no se ha leido");
        const std::optional<json> cuerpo = leerJson(req.body);
        if (!cuerpo || !cuerpo->is_object() || !cuerpo->contains("esquinas"))
            return rechazar(res, 400, "se esperaba {\"esquinas\": [[x, y], ...]}");
        Resultado<Cuadrilatero> q = esquinasJuzgadas((*cuerpo)["esquinas"], f.ancho, f.alto);
        if (!q) return rechazar(res, 400, q.mensaje());
        Resultado<std::vector<std::uint8_t>> jpeg = fotos.vista(*i, *q);
        if (!jpeg) return rechazar(res, 422, jpeg.mensaje());
        res.set_content(std::string(jpeg->begin(), jpeg->end()), "image/jpeg");
    });

    servidor.Post("/api/guardar", [&](const httplib::Request& req, httplib::Response& res) {
        const std::optional<json> cuerpo = leerJson(req.body);
        if (!cuerpo || !cuerpo->is_object() || !cuerpo->contains("esquinas") ||
            !(*cuerpo)["esquinas"].is_array() || (*cuerpo)["esquinas"].size() != fotos.cuantas())
            return rechazar(res, 400, "se esperaban las esquinas de cada foto, o null");
        // Every set is read before anything is written: a body that is not what the page sends
        // writes nothing at all.
        std::vector<std::optional<Cuadrilatero>> esquinas(fotos.cuantas());
        for (std::size_t i = 0; i < fotos.cuantas(); ++i) {
            const json& valor = (*cuerpo)["esquinas"][i];
            if (valor.is_null()) continue;
            Resultado<Cuadrilatero> q = cuatroPares(valor);
            if (!q) return rechazar(res, 400, "foto " + std::to_string(i) + ": " + q.mensaje());
            esquinas[i] = *q;
        }
        {
            std::lock_guard cerrojo(desenlace.mutex);
            if (desenlace.guardando || desenlace.final) return rechazar(res, 409, "ya se esta guardando");
            desenlace.guardando = true;
        }
        // A set the command line would refuse is judged with the photo, which then fails alone.
        Guardado guardado = fotos.guardar(esquinas);
        responderJson(res, {{"estado", guardado.estado}, {"mensajes", guardado.mensajes}});
        std::lock_guard cerrojo(desenlace.mutex);
        desenlace.final = Revision{FinRevision::guardado, std::move(guardado)};
        desenlace.cambio.notify_all();
    });

    servidor.Post("/api/cerrar", [&](const httplib::Request&, httplib::Response& res) {
        std::lock_guard cerrojo(desenlace.mutex);
        // A second farewell does not put the end off.
        if (!desenlace.guardando && !desenlace.cierre)
            desenlace.cierre = std::chrono::steady_clock::now() + ajustes.gracia;
        desenlace.cambio.notify_all();
        res.status = 204;
    });

    puerto = ajustes.puerto == 0 ? servidor.bind_to_any_port("127.0.0.1")
                                 : (servidor.bind_to_port("127.0.0.1", ajustes.puerto) ? ajustes.puerto : -1);
    if (puerto <= 0) {
        const int error = errno;
        std::string donde = "127.0.0.1";
        if (ajustes.puerto) donde.append(":").append(std::to_string(ajustes.puerto));
        return Fallo{"no se pudo escuchar en " + donde + ": " + std::strerror(error)};
    }
    escuchando("http://127.0.0.1:" + std::to_string(puerto) + "/?t=" + ajustes.token);
    std::thread escucha([&] {
        // A browser that drops a connection while it is answered (a photo left before it came, a
        // reload) must not end the run: the library writes without MSG_NOSIGNAL, and SIGPIPE is
        // one of the signals that end the process. Blocked here, in the thread that makes the
        // server's threads and so for them too, a write to a closed connection fails with EPIPE.
        sigset_t tuberia;
        sigemptyset(&tuberia);
        sigaddset(&tuberia, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &tuberia, nullptr);
        servidor.listen_after_bind();
    });

    std::unique_lock cerrojo(desenlace.mutex);
    for (;;) {
        if (desenlace.final) break;
        if (desenlace.cierre) {
            if (std::chrono::steady_clock::now() >= *desenlace.cierre) {
                desenlace.final = Revision{};
                break;
            }
            desenlace.cambio.wait_until(cerrojo, *desenlace.cierre);
        } else {
            desenlace.cambio.wait(cerrojo);
        }
    }
    Revision final = std::move(*desenlace.final);
    cerrojo.unlock();
    servidor.stop();
    escucha.join();
    return final;
}
