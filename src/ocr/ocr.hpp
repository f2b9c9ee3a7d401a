#pragma once

// Text on a page: its words recognised, with their boxes, and the quarter turn that makes it read
// upright. Everything is Tesseract's (libtesseract's C++ API) with the language data Debian ships as
// tesseract-ocr-LANG; nothing here reads a letter by itself, and nothing prints (the engine's own
// messages go nowhere).
//
// - Languages are named as the engine's data files are: "spa", "eng", several joined by '+'
//   ("spa+eng", the first one weighing most). Orientation needs the "osd" data
//   (tesseract-ocr-osd). The data is looked for where the engine looks (TESSDATA_PREFIX, else its
//   own folder); a language whose file is not there fails the engine's making, with the package
//   to install.
// - A MotorOcr is made once and reads page after page; it holds the languages loaded (tens of
//   megabytes) and is used by one thread at a time: a batch gives each of its threads its own.
//   Nothing a page leaves in it changes how the next one is read.
// - Pages are gray planes (one byte per pixel, 0 black), rows in file order (row 0 the bottom row
//   as seen), at a known number of pixels per inch (kPppOcr is what the command line gives).

#include <memory>
#include <string>
#include <vector>

#include "imagen/plano.hpp"
#include "sistema/fallo.hpp"

namespace tesseract {
class TessBaseAPI;
}

// Pixels per inch of the sheet the text is read on: the engine reads best at about this scale.
inline constexpr double kPppOcr = 300.0;

// The least confidence (the engine's margin between the best orientation and the next) for a page
// to be turned; below it the page stays as it is. The engine's own rule for turning a page it lays
// out (min_orientation_margin) is 7.
inline constexpr float kConfianzaOrientacion = 7.0f;

// A word as read: its text (UTF-8) and its box in pixels of the page read, from its top-left corner
// (x to the right, y down).
struct PalabraLeida {
    std::string texto;
    int x = 0, y = 0, ancho = 0, alto = 0;
};

struct TextoLeido {
    std::string texto;                  // the page's text, UTF-8, lines and paragraphs as laid out
    std::vector<PalabraLeida> palabras;  // in reading order
};

// Whether `idiomas` is well written: names of letters, digits and '_' joined by '+'. Says nothing
// of whether their data is installed (MotorOcr::crear does).
bool idiomasBienEscritos(const std::string& idiomas);

// The Debian package holding a language's data: "tesseract-ocr-" and the name in lower case with
// '_' as '-' ("chi_sim": "tesseract-ocr-chi-sim").
std::string paqueteDeIdioma(const std::string& idioma);

class MotorOcr {
public:
    // An engine reading `idiomas` (empty: none, orientation only) and, with `orientar`, finding
    // pages' orientation. Fails, naming the package to install, when a language's data (or the
    // orientation's) is missing or cannot be loaded.
    static Resultado<MotorOcr> crear(const std::string& idiomas, bool orientar);

    MotorOcr(MotorOcr&&) noexcept;
    MotorOcr& operator=(MotorOcr&&) noexcept;
    ~MotorOcr();

    const std::string& idiomas() const { return idiomas_; }
    bool orienta() const { return orientador_ != nullptr; }

    // The clockwise turn, as seen (0, 90, 180 or 270 degrees), that makes the page's text read
    // upright; 0 when the engine finds too little text or is not confident (kConfianzaOrientacion).
    // Needs an engine made with `orientar`.
    int orientacion(const PlanoBytes& pagina, double ppp);

    // The page's text and words. Needs an engine made with languages.
    Resultado<TextoLeido> reconocer(const PlanoBytes& pagina, double ppp);

private:
    MotorOcr() = default;

    std::string idiomas_;
    std::unique_ptr<tesseract::TessBaseAPI> lector_;       // the languages
    std::unique_ptr<tesseract::TessBaseAPI> orientador_;   // the orientation data
};
