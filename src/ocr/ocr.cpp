#include "ocr/ocr.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>

#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

namespace fs = std::filesystem;

namespace {

// The engine's messages (a missing file, a page without text, its guesses at a resolution) go to
// its debug file, and Leptonica's (a page with nothing on it) to its standard error unless told
// otherwise: both are set once, for the whole process, before the first engine is made.
void silenciarMotor() {
    static std::once_flag hecho;
    std::call_once(hecho, [] {
        setMsgSeverity(L_SEVERITY_NONE);
        tesseract::TessBaseAPI api;
        api.SetVariable("debug_file", "/dev/null");
    });
}

// A Leptonica picture that frees itself.
struct Pix8 {
    Pix* pix = nullptr;
    explicit Pix8(Pix* p) : pix(p) {}
    Pix8(Pix8&& otro) noexcept : pix(std::exchange(otro.pix, nullptr)) {}
    Pix8(const Pix8&) = delete;
    Pix8& operator=(const Pix8&) = delete;
    ~Pix8() {
        if (pix) pixDestroy(&pix);
    }
};

// The plane as an 8-bit Leptonica picture, top row first.
Pix8 aPix(const PlanoBytes& plano, double ppp) {
    Pix8 p(pixCreate(plano.ancho, plano.alto, 8));
    if (!p.pix) throw std::bad_alloc();
    const int resolucion = static_cast<int>(ppp + 0.5);
    pixSetResolution(p.pix, resolucion, resolucion);
    l_uint32* datos = pixGetData(p.pix);
    const int palabras = pixGetWpl(p.pix);
    for (int f = 0; f < plano.alto; ++f) {
        const std::uint8_t* origen = plano[plano.alto - 1 - f];
        l_uint32* fila = datos + static_cast<std::ptrdiff_t>(f) * palabras;
        for (int c = 0; c < plano.ancho; ++c) SET_DATA_BYTE(fila, c, origen[c]);
    }
    return p;
}

// The engine's text, which it hands over as a new[] array.
std::string tomarTexto(char* texto) {
    std::string s = texto ? texto : "";
    delete[] texto;
    return s;
}

std::vector<std::string> partes(const std::string& idiomas) {
    std::vector<std::string> r;
    std::size_t inicio = 0;
    for (;;) {
        const std::size_t mas = idiomas.find('+', inicio);
        r.push_back(idiomas.substr(inicio, mas == std::string::npos ? std::string::npos : mas - inicio));
        if (mas == std::string::npos) return r;
        inicio = mas + 1;
    }
}

Fallo faltaIdioma(const std::string& idioma) {
    if (idioma == "osd")
        return Fallo{"faltan los datos de orientacion de Tesseract (osd): instale el paquete tesseract-ocr-osd"};
    return Fallo{"faltan los datos del idioma " + idioma + " de Tesseract: instale el paquete " + paqueteDeIdioma(idioma)};
}

// An engine with `idiomas` loaded, or the language whose data is missing. The engine loads the
// languages after the first one without failing when their data is missing, so each file is looked
// for first, in the folder the engine looks in.
Resultado<std::unique_ptr<tesseract::TessBaseAPI>> cargar(const std::string& idiomas, tesseract::OcrEngineMode modo) {
    auto api = std::make_unique<tesseract::TessBaseAPI>();
    const std::vector<std::string> lista = partes(idiomas);
    const bool cargado = api->Init(nullptr, idiomas.c_str(), modo) == 0;
    const fs::path carpeta = api->GetDatapath() ? api->GetDatapath() : "";
    for (const std::string& idioma : lista) {
        std::error_code ec;
        if (!fs::is_regular_file(carpeta / (idioma + ".traineddata"), ec)) return faltaIdioma(idioma);
    }
    if (!cargado) return Fallo{"los datos de Tesseract para " + idiomas + " no se pueden cargar: reinstale " +
                               paqueteDeIdioma(lista.front())};
    return api;
}

}  // namespace

bool idiomasBienEscritos(const std::string& idiomas) {
    for (const std::string& idioma : partes(idiomas)) {
        if (idioma.empty()) return false;
        for (const char c : idioma) {
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
        }
    }
    return true;
}

std::string paqueteDeIdioma(const std::string& idioma) {
    std::string paquete = "tesseract-ocr-";
    for (const char c : idioma) paquete.push_back(c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    return paquete;
}

Resultado<MotorOcr> MotorOcr::crear(const std::string& idiomas, bool orientar) {
    COMPROBAR(idiomas.empty() || idiomasBienEscritos(idiomas));
    silenciarMotor();
    MotorOcr motor;
    motor.idiomas_ = idiomas;
    if (!idiomas.empty()) {
        auto lector = cargar(idiomas, tesseract::OEM_LSTM_ONLY);
        if (!lector) return lector.fallo();
        motor.lector_ = std::move(*lector);
        motor.lector_->SetPageSegMode(tesseract::PSM_AUTO);
    }
    if (orientar) {
        // The orientation is found by the engine's older classifier, which the osd data holds.
        auto orientador = cargar("osd", tesseract::OEM_TESSERACT_ONLY);
        if (!orientador) return orientador.fallo();
        motor.orientador_ = std::move(*orientador);
        motor.orientador_->SetPageSegMode(tesseract::PSM_OSD_ONLY);
    }
    return motor;
}

MotorOcr::MotorOcr(MotorOcr&&) noexcept = default;
MotorOcr& MotorOcr::operator=(MotorOcr&&) noexcept = default;
MotorOcr::~MotorOcr() {
    if (lector_) lector_->End();
    if (orientador_) orientador_->End();
}

int MotorOcr::orientacion(const PlanoBytes& pagina, double ppp) {
    COMPROBAR(orientador_ != nullptr);
    // Letters are told apart by their shapes at half this scale as well as at this one, in a
    // quarter of the time.
    Pix8 entera = aPix(pagina, ppp);
    Pix8 mitad(ppp >= 200.0 ? pixScaleAreaMap2(entera.pix) : nullptr);
    Pix* leida = mitad.pix ? mitad.pix : entera.pix;
    orientador_->ClearAdaptiveClassifier();
    orientador_->SetImage(leida);
    orientador_->SetSourceResolution(static_cast<int>((mitad.pix ? ppp / 2.0 : ppp) + 0.5));
    int grados = 0;
    float confianza = 0.0f, confianzaEscritura = 0.0f;
    const char* escritura = nullptr;
    const bool hallada = orientador_->DetectOrientationScript(&grados, &confianza, &escritura, &confianzaEscritura);
    orientador_->Clear();
    if (!hallada || confianza < kConfianzaOrientacion) return 0;
    // The engine gives how far the text is turned clockwise: it is turned back by as much.
    grados = ((grados % 360) + 360) % 360;
    if (grados % 90 != 0) return 0;
    return (360 - grados) % 360;
}

Resultado<TextoLeido> MotorOcr::reconocer(const PlanoBytes& pagina, double ppp) {
    COMPROBAR(lector_ != nullptr);
    Pix8 pix = aPix(pagina, ppp);
    lector_->ClearAdaptiveClassifier();
    lector_->SetImage(pix.pix);
    lector_->SetSourceResolution(static_cast<int>(ppp + 0.5));
    TextoLeido leido;
    if (lector_->Recognize(nullptr) != 0) {
        lector_->Clear();
        return Fallo{"no se pudo reconocer el texto de la hoja"};
    }
    leido.texto = tomarTexto(lector_->GetUTF8Text());
    std::unique_ptr<tesseract::ResultIterator> it(lector_->GetIterator());
    if (it) {
        do {
            std::string texto = tomarTexto(it->GetUTF8Text(tesseract::RIL_WORD));
            int izquierda = 0, arriba = 0, derecha = 0, abajo = 0;
            if (texto.empty() || !it->BoundingBox(tesseract::RIL_WORD, &izquierda, &arriba, &derecha, &abajo)) continue;
            leido.palabras.push_back(PalabraLeida{std::move(texto), izquierda, arriba, derecha - izquierda, abajo - arriba});
        } while (it->Next(tesseract::RIL_WORD));
    }
    it.reset();
    lector_->Clear();
    return leido;
}
