#include <algorithm>
#include <cstdio>
#include <limits>
#include <string>

#include <hpdf.h>

#include "formatos/formatos.hpp"

namespace {

// The first error libHaru reports, kept for the failure line instead of being printed.
struct ErrorHaru {
    HPDF_STATUS numero = HPDF_OK;
    HPDF_STATUS detalle = 0;
};

void alFallar(HPDF_STATUS numero, HPDF_STATUS detalle, void* datos) {
    auto* error = static_cast<ErrorHaru*>(datos);
    if (error->numero == HPDF_OK) {
        error->numero = numero;
        error->detalle = detalle;
    }
}

std::string codigo(const ErrorHaru& error) {
    char texto[48];
    std::snprintf(texto, sizeof texto, "error 0x%04X de libHaru, detalle %u",
                  static_cast<unsigned>(error.numero), static_cast<unsigned>(error.detalle));
    return texto;
}

struct Documento {
    HPDF_Doc doc;
    ~Documento() { HPDF_Free(doc); }
};

constexpr double kPuntosPorPulgada = 72.0;
// libHaru's limits for a page side, in points.
constexpr double kLadoMinimoPagina = 3.0;
constexpr double kLadoMaximoPagina = 14400.0;

}  // namespace

ArchivoCodificado codificarPdf(const std::vector<PaginaPdf>& paginas, ReservaPdf reservar, LiberacionPdf liberar) {
    std::vector<std::uint8_t> bytes;
    const auto falla = [&](std::string mensaje) { return Fallo{"no se puede hacer el PDF: " + std::move(mensaje)}; };
    if (paginas.empty()) return falla("no tiene paginas");

    ErrorHaru error;
    const bool propia = reservar != nullptr && liberar != nullptr;
    Documento pdf{HPDF_NewEx(alFallar, propia ? reservar : nullptr, propia ? liberar : nullptr, 0, &error)};
    if (pdf.doc == nullptr) return falla("no hay memoria para el documento");
    // The page contents are a few operators; the images are JPEG as they are.
    HPDF_SetCompressionMode(pdf.doc, HPDF_COMP_ALL);

    for (std::size_t i = 0; i < paginas.size(); ++i) {
        const PaginaPdf& pagina = paginas[i];
        const std::string cual = "la pagina " + std::to_string(i + 1);
        const double ancho = pagina.anchoPulgadas * kPuntosPorPulgada;
        const double alto = pagina.altoPulgadas * kPuntosPorPulgada;
        if (!(ancho >= kLadoMinimoPagina && ancho <= kLadoMaximoPagina && alto >= kLadoMinimoPagina &&
              alto <= kLadoMaximoPagina)) {
            return falla(cual + " mide " + std::to_string(pagina.anchoPulgadas) + " x " +
                         std::to_string(pagina.altoPulgadas) + " pulgadas");
        }
        if (pagina.jpeg.empty() || pagina.jpeg.size() > std::numeric_limits<HPDF_UINT>::max()) {
            return falla(cual + " no tiene imagen");
        }
        HPDF_Page hoja = HPDF_AddPage(pdf.doc);
        if (hoja == nullptr) return falla(cual + ": " + codigo(error));
        HPDF_Page_SetWidth(hoja, static_cast<HPDF_REAL>(ancho));
        HPDF_Page_SetHeight(hoja, static_cast<HPDF_REAL>(alto));
        HPDF_Image imagen = HPDF_LoadJpegImageFromMem(pdf.doc, pagina.jpeg.data(),
                                                      static_cast<HPDF_UINT>(pagina.jpeg.size()));
        if (imagen == nullptr) return falla(cual + ": su imagen no es un JPEG que se pueda poner (" + codigo(error) + ")");
        HPDF_Page_DrawImage(hoja, imagen, 0, 0, static_cast<HPDF_REAL>(ancho), static_cast<HPDF_REAL>(alto));
        if (error.numero != HPDF_OK) return falla(cual + ": " + codigo(error));
    }

    if (HPDF_SaveToStream(pdf.doc) != HPDF_OK) return falla(codigo(error));
    bytes.resize(HPDF_GetStreamSize(pdf.doc));
    std::size_t leidos = 0;
    while (leidos < bytes.size()) {
        const std::size_t resto = bytes.size() - leidos;
        HPDF_UINT32 cantidad = static_cast<HPDF_UINT32>(
            std::min<std::size_t>(resto, std::numeric_limits<HPDF_UINT32>::max()));
        const HPDF_STATUS estado = HPDF_ReadFromStream(pdf.doc, bytes.data() + leidos, &cantidad);
        leidos += cantidad;
        if (estado == HPDF_STREAM_EOF || cantidad == 0) break;
        if (estado != HPDF_OK) return falla(codigo(error));
    }
    if (leidos != bytes.size()) return falla("el documento hecho no se pudo leer entero");
    return bytes;
}
