#pragma once

// The options of the command line, `escaner [OPCIONES] FOTO...`, and the plan they make: which
// result each photo gives and where it goes. Everything a user can get wrong in the arguments is
// found here, before any photo is read.

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "formatos/formatos.hpp"
#include "geometria/cuadrilatero.hpp"
#include "pagina/pagina.hpp"

// Which detector finds the sheet: the fixed-threshold stages of the run without arguments, or the
// robust one.
enum class Detector { espec, robusto };

struct Opciones {
    std::vector<std::filesystem::path> fotos;
    std::optional<std::filesystem::path> salida;  // -o, --salida
    int calidad = kCalidadJpeg;                     // --calidad, JPEG pages and results
    std::optional<std::filesystem::path> etapas;  // --etapas: the stage images per photo
    bool cuenta = false;                            // --cuenta: the account of each photo
    bool json = false;                              // --json: one object per photo and line
    int hilos = 0;                                  // -j, --hilos: threads, photos at once (0: the cores)
    Detector detector = Detector::robusto;          // --detector
    OpcionesPagina pagina;                          // --mapa, --papel, --ppp
    Mejora mejora = Mejora::ninguna;                // --mejorar
    int maxMegapixeles = kMegapixelesMaximos;       // --max-megapixeles: larger photos are refused
    std::optional<Cuadrilatero> esquinas;           // --esquinas: the one photo's corners, display frame
    std::optional<std::filesystem::path> esquinasDe;       // --esquinas-de: corners by photo, JSON lines
    std::optional<std::filesystem::path> guardarEsquinas;  // --guardar-esquinas: the corners used
    std::string ocr;                                // --ocr: the languages of the text (empty: none)
    bool orientar = false;                          // --orientar, or --ocr: pages turned upright
    bool revisar = false;                           // --revisar: the review page before anything is written
    int puerto = 0;                                 // --puerto: its port (0: a free one)
    bool ayuda = false;
    bool version = false;
};

// The options read from the arguments (argv[0] is the program's name), or the usage error as one
// line.
Resultado<Opciones> leerOpciones(int argc, const char* const* argv);

// The text of --help and --ayuda, and of --version.
std::string textoAyuda();
std::string textoVersion();

// Where each photo's result goes.
struct Destino {
    std::filesystem::path foto;
    std::filesystem::path resultado;             // the result file (empty: a page of `pdf`)
    FormatoSalida formato = FormatoSalida::png;  // of the result file
    std::optional<std::filesystem::path> etapas;  // the folder of its stage images
    // The corners given for it (display frame: full-size pixels of the photo as a viewer shows it,
    // top-left, top-right, bottom-right, bottom-left, as the JSON lines print them): the detector is
    // not run and the page is made from them, once comprobarEsquinas passes them for the photo.
    std::optional<Cuadrilatero> esquinas;
    std::string esquinasMalas;  // why the corners a corners file gives for it cannot be used, if so
    std::optional<std::filesystem::path> texto;   // with --ocr, the page's text beside its file
};

struct Plan {
    std::vector<Destino> destinos;                 // one per photo, in the order given
    std::optional<std::filesystem::path> pdf;      // one PDF with a page per photo
    std::optional<std::filesystem::path> carpeta;  // a folder -o names, to be made if missing
    std::vector<std::filesystem::path> faltan;     // the photos that do not exist, in the order given
    std::optional<Fallo> fallo;                    // the usage error; nothing when good
};

// How many photos are scanned at once: as many as -j says (0: the cores), never more than the
// photos nor than the cores, since each photo at once holds its own memory and more than the cores
// gain no time.
int fotosALaVez(int hilos, std::size_t fotos, int nucleos);

// The name of a photo's folder of stage images: its name without the extension, always one plain
// folder name ("." and ".." as underscores).
std::string nombreDeEtapas(const std::filesystem::path& foto);

// Without -o each result goes beside its photo as NOMBRE-hoja.png. With -o: for one photo a file
// whose extension names the format (.png, .jpg/.jpeg, .bmp, .pdf) or an existing folder; for
// several a folder (NOMBRE-hoja.png in it; made if missing) or a .pdf with a page per photo. A
// photo named twice, two files written under one name, a file written over a photo (by name or as
// the same file: results, stage images, the PDF), over a FIFO, socket or device, a -o file for
// several photos that is not a PDF, or a -o whose folder does not exist are usage errors. Photos
// that do not exist are listed apart and take no part in those checks. With --ocr, each result file
// has its text beside it, under its name with the extension .txt (NOMBRE-hoja.txt), checked as every
// other file written; the pages of a PDF carry their text in it.
Plan planear(const Opciones& opciones);
