#include <gtest/gtest.h>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <future>
#include <mutex>
#include <set>
#include <thread>

#include "revision/servidor.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Two photos of 400 x 300 that a test scripts and watches: what the server asked for, and with
// which corners.
class FotosDePrueba final : public FotosRevision {
public:
    std::size_t cuantas() const override { return 2; }
    std::string nombre(std::size_t i) const override { return i == 0 ? "a.jpg" : "b\xff.jpg"; }
    FotoEnRevision estado(std::size_t i) override {
        FotoEnRevision f;
        f.ancho = 400;
        f.alto = 300;
        if (i == 0) {
            f.estado = EstadoFoto::hoja;
            f.esquinas = Cuadrilatero{{{10, 20}, {390, 15}, {380, 290}, {12, 280}}};
        } else {
            f.estado = EstadoFoto::sinHoja;
        }
        return f;
    }
    Resultado<std::vector<std::uint8_t>> imagen(std::size_t i) override {
        std::lock_guard c(mutex);
        imagenes.push_back(i);
        std::vector<std::uint8_t> jpeg{0xFF, 0xD8, static_cast<std::uint8_t>(i)};
        jpeg.resize(std::max<std::size_t>(3, tamanoImagen));
        return jpeg;
    }
    Resultado<std::vector<std::uint8_t>> vista(std::size_t i, const Cuadrilatero& q) override {
        std::lock_guard c(mutex);
        vistas.emplace_back(i, q);
        return std::vector<std::uint8_t>{0xFF, 0xD8, 0xFF};
    }
    Guardado guardar(const std::vector<std::optional<Cuadrilatero>>& esquinas) override {
        std::lock_guard c(mutex);
        guardadas.push_back(esquinas);
        return Guardado{1, {"\"b.jpg\": no se pudo"}};
    }

    std::size_t tamanoImagen = 3;
    std::mutex mutex;
    std::vector<std::size_t> imagenes;
    std::vector<std::pair<std::size_t, Cuadrilatero>> vistas;
    std::vector<std::vector<std::optional<Cuadrilatero>>> guardadas;
};

constexpr char kToken[] = "00112233445566778899aabbccddeeff";

// A server serving FotosDePrueba on a free port, in its own thread, until it saves or is closed.
struct ServidorDePrueba {
    FotosDePrueba fotos;
    std::promise<std::string> direccion;
    std::future<Resultado<Revision>> fin;
    int puerto = 0;

    explicit ServidorDePrueba(std::chrono::milliseconds gracia = std::chrono::milliseconds{0}) {
        AjustesServidor ajustes;
        ajustes.token = kToken;
        ajustes.gracia = gracia;
        fin = std::async(std::launch::async, [this, ajustes] {
            return servirRevision(fotos, ajustes, [this](const std::string& d) { direccion.set_value(d); });
        });
        const std::string d = direccion.get_future().get();
        puerto = std::stoi(d.substr(d.rfind(':') + 1));
        EXPECT_EQ(d, "http://127.0.0.1:" + std::to_string(puerto) + "/?t=" + kToken);
    }
    ~ServidorDePrueba() {
        if (fin.valid() && fin.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            httplib::Client c("127.0.0.1", puerto);
            (void)c.Post("/api/cerrar", conClave(), "", "text/plain");
            fin.wait();
        }
    }

    httplib::Client cliente() const {
        httplib::Client c("127.0.0.1", puerto);
        c.set_connection_timeout(5);
        c.set_read_timeout(20);
        return c;
    }
    static httplib::Headers conClave(httplib::Headers h = {}) {
        h.emplace("Cookie", std::string("escaner_token=") + kToken);
        return h;
    }
    httplib::Result pedir(const std::string& ruta, httplib::Headers h = conClave()) const {
        return cliente().Get(ruta, h);
    }
    httplib::Result enviar(const std::string& ruta, const std::string& cuerpo, httplib::Headers h = conClave()) const {
        return cliente().Post(ruta, h, cuerpo, "application/json");
    }
};

int estado(const httplib::Result& r) { return r ? r->status : -1; }

TEST(Servidor, SinLaClaveOConOtraNadaSeSirve) {
    ServidorDePrueba s;
    for (const char* ruta : {"/", "/api/fotos", "/api/foto/0"}) {
        SCOPED_TRACE(ruta);
        EXPECT_EQ(estado(s.pedir(ruta, {})), 403);
        EXPECT_EQ(estado(s.pedir(ruta, {{"Cookie", "escaner_token=00112233445566778899aabbccddeefe"}})), 403);
        EXPECT_EQ(estado(s.pedir(ruta, {{"Cookie", "otra=00112233445566778899aabbccddeeff"}})), 403);
        EXPECT_EQ(estado(s.pedir(std::string(ruta) + "?t=0011223344", {})), 403);
    }
    EXPECT_EQ(estado(s.enviar("/api/guardar", R"({"esquinas":[null,null]})", {})), 403);
    EXPECT_EQ(estado(s.enviar("/api/cerrar", "", {})), 403);
    EXPECT_TRUE(s.fotos.imagenes.empty());
    EXPECT_TRUE(s.fotos.guardadas.empty());
    EXPECT_EQ(s.fin.wait_for(std::chrono::seconds(0)), std::future_status::timeout);

    // The address's token opens the page and leaves the cookie that carries it afterwards.
    httplib::Result pagina = s.pedir(std::string("/?t=") + kToken, {});
    ASSERT_EQ(estado(pagina), 200);
    EXPECT_NE(pagina->body.find("<html"), std::string::npos);
    const std::string cookie = pagina->get_header_value("Set-Cookie");
    EXPECT_EQ(cookie.rfind(std::string("escaner_token=") + kToken + ";", 0), 0u) << cookie;
    EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
    EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
    EXPECT_EQ(estado(s.pedir("/api/fotos", {{"Cookie", "x=1; escaner_token=" + std::string(kToken)}})), 200);
}

TEST(Servidor, SoloAtiendeLaDireccionQueImprimio) {
    ServidorDePrueba s;
    const std::string p = std::to_string(s.puerto);
    EXPECT_EQ(estado(s.pedir("/api/fotos", s.conClave({{"Host", "127.0.0.1:" + p}}))), 200);
    EXPECT_EQ(estado(s.pedir("/api/fotos", s.conClave({{"Host", "localhost:" + p}}))), 200);
    // A name of the attacker's that resolves to 127.0.0.1 (DNS rebinding), or the right name on
    // another port or none.
    for (const std::string& host : std::vector<std::string>{"ataque.example:" + p, "ataque.example", "127.0.0.1", "localhost",
                                   "127.0.0.1:" + std::to_string(s.puerto + 1), "127.0.0.1:" + p + ".example",
                                   "LOCALHOST:" + p, "[::1]:" + p}) {
        SCOPED_TRACE(host);
        EXPECT_EQ(estado(s.pedir("/api/fotos", s.conClave({{"Host", host}}))), 403);
        EXPECT_EQ(estado(s.pedir(std::string("/?t=") + kToken, {{"Host", host}})), 403);
        EXPECT_EQ(estado(s.enviar("/api/guardar", R"({"esquinas":[null,null]})", s.conClave({{"Host", host}}))), 403);
    }
    EXPECT_TRUE(s.fotos.guardadas.empty());
}

TEST(Servidor, LasFotosSeNombranPorSuIndiceYNadaMas) {
    ServidorDePrueba s;
    httplib::Result r = s.pedir("/api/foto/1");
    ASSERT_EQ(estado(r), 200);
    EXPECT_EQ(r->get_header_value("Content-Type"), "image/jpeg");
    EXPECT_EQ(r->body, std::string("\xFF\xD8\x01", 3));
    EXPECT_EQ(estado(s.pedir("/api/foto/0")), 200);
    for (const char* ruta : {"/api/foto/2", "/api/foto/-1", "/api/foto/0x1", "/api/foto/1.0", "/api/foto/",
                             "/api/foto/1/", "/api/foto/a.jpg", "/api/foto/..%2F..%2Fetc%2Fpasswd",
                             "/api/foto/%2Fetc%2Fpasswd", "/api/foto/../../etc/passwd", "/etc/passwd",
                             "/a.jpg", "/api/foto/99999999999999999999", "/api/foto/0?ruta=/etc/passwd"}) {
        SCOPED_TRACE(ruta);
        const int e = estado(s.pedir(ruta));
        // The query string is not part of the route: index 0 with a stray parameter is photo 0.
        if (std::string(ruta) == "/api/foto/0?ruta=/etc/passwd") {
            EXPECT_EQ(e, 200);
        } else {
            EXPECT_TRUE(e == 404 || e == 400) << e;
        }
    }
    EXPECT_EQ(s.fotos.imagenes, (std::vector<std::size_t>{1, 0, 0}));
}

TEST(Servidor, UnNavegadorQueSeVaAMitadDeUnaRespuestaNoTerminaLaRevision) {
    ServidorDePrueba s;
    s.fotos.tamanoImagen = 32 << 20;
    for (int vez = 0; vez < 3; ++vez) {
        // The photo asked for, and the connection closed before a byte of it is read.
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_GE(fd, 0);
        sockaddr_in donde{};
        donde.sin_family = AF_INET;
        donde.sin_port = htons(static_cast<std::uint16_t>(s.puerto));
        donde.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&donde), sizeof donde), 0);
        const std::string pedido = "GET /api/foto/0 HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(s.puerto) +
                                   "\r\nCookie: escaner_token=" + kToken + "\r\n\r\n";
        ASSERT_EQ(::write(fd, pedido.data(), pedido.size()), static_cast<ssize_t>(pedido.size()));
        char poco[64];
        ASSERT_GT(::read(fd, poco, sizeof poco), 0);
        ::close(fd);
    }
    // Still serving, in this process.
    s.fotos.tamanoImagen = 3;
    EXPECT_EQ(estado(s.pedir("/api/fotos")), 200);
}

TEST(Servidor, LaListaDiceCadaFotoEnOrdenYEsJsonConCualquierNombre) {
    ServidorDePrueba s;
    httplib::Result r = s.pedir("/api/fotos");
    ASSERT_EQ(estado(r), 200);
    EXPECT_EQ(r->get_header_value("Content-Type"), "application/json; charset=utf-8");
    EXPECT_EQ(r->body,
              R"([{"alto":300,"ancho":400,"esquinas":[[10.0,20.0],[390.0,15.0],[380.0,290.0],[12.0,280.0]],)"
              R"("estado":"hoja","mensaje":"","nombre":"a.jpg"},)"
              R"({"alto":300,"ancho":400,"esquinas":null,"estado":"sin-hoja","mensaje":"","nombre":"b)"
              "\xEF\xBF\xBD"
              R"(.jpg"}])");
}

TEST(Servidor, UnCuerpoDemasiadoGrandeSeRechazaSinLeerlo) {
    ServidorDePrueba s;
    std::string grande = R"({"esquinas":[null,null]})";
    grande += std::string(kCuerpoMaximo, ' ');
    EXPECT_EQ(estado(s.enviar("/api/guardar", grande)), 413);
    EXPECT_EQ(estado(s.enviar("/api/vista/0", grande)), 413);
    EXPECT_TRUE(s.fotos.guardadas.empty());
    EXPECT_TRUE(s.fotos.vistas.empty());
    // Just under the bound is read.
    std::string justo = R"({"esquinas":[null,null]})";
    justo += std::string(kCuerpoMaximo - justo.size(), ' ');
    EXPECT_EQ(estado(s.enviar("/api/guardar", justo)), 200);
}

TEST(Servidor, LasEsquinasMalasSeRechazan) {
    ServidorDePrueba s;
    const std::string buenas = "[[10,20],[390,15],[380,290],[12,280]]";
    for (const std::string& malas : std::vector<std::string>{
             "", "{}", "[]", "null", R"({"esquinas":null})", R"({"esquinas":[[10,20],[390,15],[380,290]]})",
          R"({"esquinas":[[10,20],[390,15],[380,290],[12,280],[1,1]]})",
          R"({"esquinas":[[10,20],[390,15],[380,290],[12]]})", R"({"esquinas":[[10,20],[390,15],[380,290],[12,280,1]]})",
          R"({"esquinas":[["10",20],[390,15],[380,290],[12,280]]})",
          R"({"esquinas":[[10,20],[390,15],[380,290],[12,true]]})", R"({"esquinas":[[10,20],[390,15],[380,290],[12,1e400]]})",
          R"({"esquinas":[[10,20],[390,15],[380,290],[12,NaN]]})", R"({"esquinas":)" + buenas,
          // Crossed, and far outside the photo.
          R"({"esquinas":[[10,20],[380,290],[390,15],[12,280]]})",
          R"({"esquinas":[[10,20],[390,15],[380,29000],[12,280]]})",
          R"({"esquinas":[[10,20],[11,20],[11,21],[10,21]]})"}) {
        SCOPED_TRACE(malas);
        httplib::Result r = s.enviar("/api/vista/0", malas);
        EXPECT_EQ(estado(r), 400);
        if (r) {
            EXPECT_NE(r->body.find("\"error\""), std::string::npos);
        }
    }
    EXPECT_TRUE(s.fotos.vistas.empty());
    EXPECT_EQ(estado(s.enviar("/api/vista/2", R"({"esquinas":)" + buenas + "}")), 404);
    ASSERT_EQ(estado(s.enviar("/api/vista/1", R"({"esquinas":)" + buenas + "}")), 200);
    ASSERT_EQ(s.fotos.vistas.size(), 1u);
    EXPECT_EQ(s.fotos.vistas[0].first, 1u);
    EXPECT_EQ(s.fotos.vistas[0].second[2].x, 380);
    EXPECT_EQ(s.fotos.vistas[0].second[2].y, 290);

    // Saving: a body that is not what the page sends writes nothing at all.
    for (const std::string& malas : std::vector<std::string>{
             R"({"esquinas":[null]})", R"({"esquinas":[null,null,null]})", R"({"esquinas":[null,[[1,2]]]})",
          R"({"esquinas":[null,[[1,2],[3,4],[5,6],["7",8]]]})", R"({"esquinas":{"0":null,"1":null}})", "[null,null]"}) {
        SCOPED_TRACE(malas);
        EXPECT_EQ(estado(s.enviar("/api/guardar", malas)), 400);
    }
    EXPECT_TRUE(s.fotos.guardadas.empty());
    EXPECT_EQ(s.fin.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
}

TEST(Servidor, NingunaRespuestaLlevaCabecerasCors) {
    ServidorDePrueba s;
    const httplib::Headers desdeOtroSitio = s.conClave({{"Origin", "https://ataque.example"}});
    std::vector<httplib::Result> respuestas;
    respuestas.push_back(s.pedir("/", desdeOtroSitio));
    respuestas.push_back(s.pedir("/api/fotos", desdeOtroSitio));
    respuestas.push_back(s.pedir("/api/foto/0", desdeOtroSitio));
    respuestas.push_back(s.pedir("/api/fotos", {{"Origin", "https://ataque.example"}}));
    respuestas.push_back(s.enviar("/api/vista/0", R"({"esquinas":[[10,20],[390,15],[380,290],[12,280]]})", desdeOtroSitio));
    respuestas.push_back(s.cliente().Options("/api/guardar", desdeOtroSitio));
    for (const httplib::Result& r : respuestas) {
        ASSERT_TRUE(r);
        for (const auto& [nombre, valor] : r->headers) {
            std::string minusculas = nombre;
            for (char& c : minusculas) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            EXPECT_EQ(minusculas.rfind("access-control-", 0), std::string::npos)
                << nombre << ": " << valor;
        }
        EXPECT_EQ(r->get_header_value("Cache-Control"), "no-store");
    }
}

TEST(Servidor, GuardarPasaLasEsquinasTalCualYTermina) {
    ServidorDePrueba s;
    httplib::Result r = s.enviar("/api/guardar", R"({"esquinas":[[[10.25,20],[390,15.5],[380,290],[12,280.125]],null]})");
    ASSERT_EQ(estado(r), 200);
    EXPECT_EQ(r->body, R"({"estado":1,"mensajes":["\"b.jpg\": no se pudo"]})");
    Resultado<Revision> fin = s.fin.get();
    ASSERT_TRUE(fin.ok());
    EXPECT_EQ(fin->fin, FinRevision::guardado);
    EXPECT_EQ(fin->guardado.estado, 1);
    ASSERT_EQ(s.fotos.guardadas.size(), 1u);
    const auto& g = s.fotos.guardadas[0];
    ASSERT_EQ(g.size(), 2u);
    ASSERT_TRUE(g[0].has_value());
    EXPECT_FALSE(g[1].has_value());
    EXPECT_EQ((*g[0])[0].x, 10.25);
    EXPECT_EQ((*g[0])[1].y, 15.5);
    EXPECT_EQ((*g[0])[3].y, 280.125);
}

TEST(Servidor, CerrarLaPaginaTerminaSinGuardar) {
    ServidorDePrueba s;
    EXPECT_EQ(estado(s.enviar("/api/cerrar", "")), 204);
    Resultado<Revision> fin = s.fin.get();
    ASSERT_TRUE(fin.ok());
    EXPECT_EQ(fin->fin, FinRevision::cerrado);
    EXPECT_TRUE(s.fotos.guardadas.empty());
}

TEST(Servidor, UnaRecargaDentroDeLaGraciaSigueLaRevision) {
    ServidorDePrueba s(std::chrono::seconds(2));
    EXPECT_EQ(estado(s.enviar("/api/cerrar", "")), 204);
    // The page comes back: the close is forgotten, and the run ends only when it saves.
    EXPECT_EQ(estado(s.pedir("/")), 200);
    EXPECT_EQ(s.fin.wait_for(std::chrono::seconds(3)), std::future_status::timeout);
    EXPECT_EQ(estado(s.enviar("/api/guardar", R"({"esquinas":[null,null]})")), 200);
    Resultado<Revision> fin = s.fin.get();
    ASSERT_TRUE(fin.ok());
    EXPECT_EQ(fin->fin, FinRevision::guardado);
}

// Not even with SO_REUSEPORT on both sides: another listener could take requests meant for the page.
TEST(Servidor, UnPuertoOcupadoEsUnFalloConElPuerto) {
    ServidorDePrueba ocupado;
    FotosDePrueba fotos;
    AjustesServidor ajustes;
    ajustes.token = kToken;
    ajustes.puerto = ocupado.puerto;
    ajustes.gracia = std::chrono::milliseconds{0};
    bool escucho = false;
    std::atomic<bool> termino{false};
    std::thread cierre;
    // Should it listen all the same, the page is closed at once so that the test ends, and fails.
    Resultado<Revision> r = servirRevision(fotos, ajustes, [&](const std::string& d) {
        escucho = true;
        const int puerto = std::stoi(d.substr(d.rfind(':') + 1));
        cierre = std::thread([puerto, &termino] {
            // The port's two listeners share its requests: until this one has heard it.
            while (!termino) {
                httplib::Client c("127.0.0.1", puerto);
                (void)c.Post("/api/cerrar", ServidorDePrueba::conClave(), "", "text/plain");
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
    });
    termino = true;
    if (cierre.joinable()) cierre.join();
    ASSERT_FALSE(r.ok());
    EXPECT_FALSE(escucho);
    EXPECT_NE(r.mensaje().find("127.0.0.1:" + std::to_string(ocupado.puerto)), std::string::npos) << r.mensaje();
}

TEST(Servidor, ElTokenTiene128BitsAlAzarEnHexadecimal) {
    std::set<std::string> vistos;
    for (int i = 0; i < 8; ++i) {
        Resultado<std::string> t = tokenAlAzar();
        ASSERT_TRUE(t.ok());
        EXPECT_EQ(t->size(), 32u);
        EXPECT_EQ(t->find_first_not_of("0123456789abcdef"), std::string::npos) << *t;
        vistos.insert(*t);
    }
    EXPECT_EQ(vistos.size(), 8u);
}

TEST(Servidor, LasEsquinasDeLaPaginaSeLeenEnterasYSeJuzgan) {
    Resultado<Cuadrilatero> q = esquinasDeLaPagina("[[1.5,2],[300,3],[301,200],[0,199]]", 400, 300);
    ASSERT_TRUE(q.ok()) << q.mensaje();
    EXPECT_EQ((*q)[0].x, 1.5);
    EXPECT_EQ((*q)[3].y, 199);
    EXPECT_FALSE(esquinasDeLaPagina("[[1.5,2],[300,3],[301,200],[0,199]] x", 400, 300).ok());
    EXPECT_FALSE(esquinasDeLaPagina("[[1.5,2],[300,3],[301,200],[0,199e999]]", 400, 300).ok());
    EXPECT_FALSE(esquinasDeLaPagina("[[1.5,2],[301,200],[300,3],[0,199]]", 400, 300).ok());
}

}  // namespace
