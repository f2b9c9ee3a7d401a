#pragma once

// The review page's web server: people check and move each photo's corners in a browser before
// the pages are written. It serves one page (pagina.html, built into the program) and the photos
// given, and knows them only by their index in the command line; what a photo shows, where its
// corners are, how its page will look and what "Guardar" does, it asks of `FotosRevision`, which
// the driver implements.
//
// Localhost is shared by every program and every web page the user's browser opens, so:
//   - it listens on 127.0.0.1 alone, on the port asked for or a free one;
//   - every request carries the run's secret token (at least 128 random bits, hex): as `?t=` in the
//     printed address, which the first load answers with an HttpOnly, SameSite=Strict cookie that
//     carries it afterwards; without it the answer is 403;
//   - a `Host` header other than 127.0.0.1:PORT or localhost:PORT is refused with 403 (a foreign
//     name that resolves to 127.0.0.1, DNS rebinding, never reaches the photos);
//   - photos are addressed as /api/foto/N, N the index from 0: nothing else names a file, and an
//     index out of range, or anything but decimal digits, is 404;
//   - a request body over kCuerpoMaximo bytes is refused (413) before it is read;
//   - corners are parsed strictly (four [x, y] pairs of finite numbers, in the display frame of the
//     full-size photo) and judged as the command line judges the ones it is given: a bad set is 400;
//   - no CORS header is ever sent, and every answer says not to be cached, sniffed or framed.
//
// Routes (all but the page answer JSON or JPEG):
//   GET  /                    the page
//   GET  /api/fotos           [{"nombre","estado":"pendiente"|"hoja"|"sin-hoja"|"error","ancho",
//                             "alto","esquinas":[[x,y] x 4]|null,"mensaje"}], one per photo in order
//   GET  /api/foto/N          the photo scaled for the screen (JPEG)
//   POST /api/vista/N         {"esquinas":[[x,y] x 4]}: the page as it will come out, small (JPEG)
//   POST /api/guardar         {"esquinas":[[[x,y] x 4] | null, ...]}, one per photo (null: as the
//                             command line would find them): writes everything; answers
//                             {"estado":N,"mensajes":[...]} and the server ends
//   POST /api/cerrar          the page is gone: unless a request comes within the grace period (a
//                             reload), the server ends without writing anything

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "geometria/cuadrilatero.hpp"
#include "sistema/fallo.hpp"

inline constexpr std::size_t kCuerpoMaximo = 64 * 1024;
inline constexpr std::size_t kBytesDeToken = 16;  // 128 bits

// What the driver knows of one photo so far.
enum class EstadoFoto { pendiente, hoja, sinHoja, error };
struct FotoEnRevision {
    EstadoFoto estado = EstadoFoto::pendiente;
    int ancho = 0, alto = 0;               // full size as a viewer shows it; 0 until read
    std::optional<Cuadrilatero> esquinas;  // display frame, full-size pixels, when found
    std::string mensaje;                   // why there is no sheet or no photo
};

// What "Guardar" did: the exit status the run ends with and the lines it reported.
struct Guardado {
    int estado = 0;
    std::vector<std::string> mensajes;
};

// The photos under review, as the driver holds them. Called from the server's threads, several
// at once.
class FotosRevision {
public:
    virtual ~FotosRevision() = default;
    virtual std::size_t cuantas() const = 0;
    virtual std::string nombre(std::size_t i) const = 0;
    // Never waits for the photo.
    virtual FotoEnRevision estado(std::size_t i) = 0;
    // The photo scaled for the screen, as JPEG bytes; may wait while it is made.
    virtual Resultado<std::vector<std::uint8_t>> imagen(std::size_t i) = 0;
    // The page for these corners (display frame, full size, already judged), small, as JPEG bytes.
    virtual Resultado<std::vector<std::uint8_t>> vista(std::size_t i, const Cuadrilatero& esquinas) = 0;
    // Writes every result, with these corners where given (already judged).
    virtual Guardado guardar(const std::vector<std::optional<Cuadrilatero>>& esquinas) = 0;
};

struct AjustesServidor {
    int puerto = 0;     // 0: a free one
    std::string token;  // hex; tokenAlAzar()
    std::chrono::milliseconds gracia{3000};  // after the page closes, for a reload
};

// How the review ended.
enum class FinRevision { guardado, cerrado };
struct Revision {
    FinRevision fin = FinRevision::cerrado;
    Guardado guardado;  // when fin is guardado
};

// A new token: kBytesDeToken bytes from the kernel's random source, as hex.
Resultado<std::string> tokenAlAzar();

// The corners in a request body's JSON value, or why they are refused: four [x, y] pairs of finite
// numbers, judged for a photo ancho x alto as the command line judges the corners it is given.
Resultado<Cuadrilatero> esquinasDeLaPagina(const std::string& json, int ancho, int alto);

// Serves the review of `fotos` until the page saves or closes. `escuchando` gets the address to
// open (with the token) once the server listens and before any request is answered. The failure to
// listen, as one line.
Resultado<Revision> servirRevision(FotosRevision& fotos, const AjustesServidor& ajustes,
                                   const std::function<void(const std::string& direccion)>& escuchando);
