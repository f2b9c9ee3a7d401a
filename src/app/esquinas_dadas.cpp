#include "app/esquinas_dadas.hpp"

#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "sistema/archivos.hpp"

namespace {

// The bytes a "foto_bytes" field spells in hex, or nothing when it is not even hex.
std::optional<std::string> desdeHex(const std::string& hex) {
    const auto cifra = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (hex.size() % 2 != 0) return std::nullopt;
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int alta = cifra(hex[i]), baja = cifra(hex[i + 1]);
        if (alta < 0 || baja < 0) return std::nullopt;
        bytes.push_back(static_cast<char>(alta * 16 + baja));
    }
    return bytes;
}

// Four [x, y] pairs of numbers, or nothing.
std::optional<Cuadrilatero> cuatroPares(const nlohmann::json& valor) {
    if (!valor.is_array() || valor.size() != 4) return std::nullopt;
    Cuadrilatero c{};
    for (std::size_t i = 0; i < 4; ++i) {
        const nlohmann::json& par = valor[i];
        if (!par.is_array() || par.size() != 2 || !par[0].is_number() || !par[1].is_number()) return std::nullopt;
        c[i] = {par[0].get<double>(), par[1].get<double>()};
    }
    return c;
}

}  // namespace

Resultado<EsquinasAsignadas> asignarEsquinasDe(const std::filesystem::path& archivo, std::vector<Destino>& destinos) {
    const std::string nombre = entreComillas(archivo);
    Entrada entrada = abrirEntrada(archivo);
    if (entrada.fd.valor < 0) return Fallo{entrada.mensaje};
    if (entrada.tamano > kBytesMaximosEsquinas) {
        return Fallo{nombre + " mide " + std::to_string(entrada.tamano) + " bytes: un archivo de esquinas no pasa de " +
                     std::to_string(kBytesMaximosEsquinas >> 20) + " MiB"};
    }
    std::string texto(entrada.tamano, '\0');
    const ssize_t leidos =
        leerCompleto(entrada.fd.valor, reinterpret_cast<std::uint8_t*>(texto.data()), texto.size(), 0);
    if (leidos < 0) return Fallo{"no se puede leer " + nombre + ": " + std::strerror(errno)};
    texto.resize(static_cast<std::size_t>(leidos));

    std::map<std::string, std::size_t> porNombre;  // a photo as given -> its place among `destinos`
    for (std::size_t i = 0; i < destinos.size(); ++i) porNombre.emplace(destinos[i].foto.string(), i);
    std::map<std::string, std::size_t> vistas;  // a photo named in the file -> its line
    std::size_t numero = 0;
    EsquinasAsignadas asignadas;
    for (std::size_t desde = 0; desde < texto.size();) {
        std::size_t fin = texto.find('\n', desde);
        if (fin == std::string::npos) fin = texto.size();
        const std::string_view linea(texto.data() + desde, fin - desde);
        desde = fin + 1;
        ++numero;
        const std::string donde = nombre + ", linea " + std::to_string(numero) + ": ";
        if (linea.find_first_not_of(" \t\r") == std::string_view::npos) continue;
        const nlohmann::json objeto = nlohmann::json::parse(linea, nullptr, false);
        if (objeto.is_discarded() || !objeto.is_object())
            return Fallo{donde + "no es un objeto JSON como los que escribe --json"};
        const auto foto = objeto.find("foto");
        const auto bytes = objeto.find("foto_bytes");
        const auto esquinas = objeto.find("esquinas");
        if (foto == objeto.end() || !foto->is_string()) return Fallo{donde + "falta \"foto\", el nombre de la foto"};
        if (esquinas == objeto.end())
            return Fallo{donde + "falta \"esquinas\" (null para que se busque la hoja)"};
        std::string cual = foto->get<std::string>();
        // A name that is not UTF-8 comes whole only as its bytes.
        if (bytes != objeto.end()) {
            std::optional<std::string> decodificado;
            if (bytes->is_string()) decodificado = desdeHex(bytes->get<std::string>());
            if (!decodificado) return Fallo{donde + "\"foto_bytes\" no son bytes en hexadecimal"};
            cual = std::move(*decodificado);
        }
        if (const auto [antes, nueva] = vistas.emplace(cual, numero); !nueva) {
            return Fallo{donde + "la foto " + entreComillas(cual) + " ya estaba en la linea " +
                         std::to_string(antes->second)};
        }
        ++asignadas.lineas;
        const auto destino = porNombre.find(cual);
        if (destino == porNombre.end()) continue;
        ++asignadas.fotos;
        if (esquinas->is_null()) continue;
        Destino& d = destinos[destino->second];
        if (const std::optional<Cuadrilatero> c = cuatroPares(*esquinas)) {
            d.esquinas = *c;
        } else {
            d.esquinasMalas = "las esquinas de " + nombre + ", linea " + std::to_string(numero) +
                              ", no son cuatro pares [x, y] de numeros";
        }
    }
    return asignadas;
}
