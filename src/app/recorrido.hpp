#pragma once

// The road of one photograph over the stages, shared by the two drivers: reduction, edges, Hough
// lines, corners and the resampled sheet, with the running account and, where asked, the five
// stage images.

#include <array>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "filtros/bordes.hpp"
#include "geometria/esquinas.hpp"
#include "imagen/imagen_bmp.hpp"
#include "rectificacion/hoja.hpp"
#include "sistema/archivos.hpp"

// The stage images of a run, in the order they are written.
inline constexpr const char* kImagenesEtapas[] = {"imagenReducida.bmp", "imagenBordes.bmp",
                                                  "imagen_Hough.bmp", "imagenConBordesHojaCarta.bmp",
                                                  "imagenHojaCarta.bmp"};

// Removes the stage images a run left in `carpeta`, where there are any (a folder standing under one
// of their names stays: writing there fails with its own message).
void borrarImagenesEtapas(const std::filesystem::path& carpeta);

// A photo's own folder of stage images, made where missing and open for the photo's road.
struct CarpetaEtapas {
    Descriptor fd;               // the folder as opened
    std::filesystem::path ruta;  // the name to write its images under: the opened folder itself
};

// Makes `carpeta` (and the folders above it) where missing and opens it without following a
// symbolic link in its last part: a link standing under its name is refused, not followed. The
// stage images a run left there are removed. The images are then written under `ruta`, which
// names the folder opened even if its name is swapped for another meanwhile (where /proc is
// mounted; else `ruta` is `carpeta`). The failure names the folder.
Resultado<CarpetaEtapas> abrirCarpetaEtapas(const std::filesystem::path& carpeta);

// Fails, with one line naming the photo, when it is too thin to work on (its working image would
// have a side under 2 pixels).
Hecho revisarGrosor(const ImagenBmp& foto, const std::string& nombre);

enum class Hallazgo { hoja, sinHoja, error };

struct ResultadoRecorrido {
    Hallazgo hallazgo = Hallazgo::error;
    Fallo fallo;                     // when hallazgo is error
    std::array<Esquina, 4> esquinas{};  // photograph pixels, rows in file order; slot order of the map
    std::optional<ImagenBmp> hoja;   // the front-on sheet, when hallazgo is hoja
    std::optional<ImagenBmp> trabajo;  // the working image without an outline, kept for another
                                       // detector's outline (see buscarHojaPorEtapas)
};

// Runs the stages on `foto` (given up to the road, and released as soon as the sheet has been
// resampled from it). The account goes to `cuenta` from the load report on, as the stages print it.
// With `carpetaEtapas`, the five stage images are written there as the road goes (the account then
// names them), and the first that cannot be written ends the road with an error; without it none is
// written. A road that finds no four corners ends in sinHoja after printing so.
ResultadoRecorrido recorrerEtapas(ImagenBmp foto, std::FILE* cuenta,
                                  const std::optional<std::filesystem::path>& carpetaEtapas);

// The account of the letter sheet's rectification: the system as it was set up, then its solution,
// or why there is none.
void contarRectificacion(const HojaRectificada& rectificada, std::FILE* cuenta);

// The account's last lines for the letter sheet, once it is made (and its image written, when
// `grabada`).
void contarHojaCarta(std::FILE* cuenta, bool grabada);

// The first half of that road, for a driver that makes the page its own way: the corners (up to
// the outline and its image; `hoja` stays empty; the edge directions worked out for the pixels
// `cuales` says, which finds the same corners either way). Without `contornoPropio` (the page is made from another detector's corners) the stages'
// outline is neither drawn nor written: with a stage folder, `trabajo` keeps the working image
// for grabarContorno, whether the stages found corners or not.
ResultadoRecorrido buscarHojaPorEtapas(const ImagenBmp& foto, std::FILE* cuenta,
                                       const std::optional<std::filesystem::path>& carpetaEtapas,
                                       Orientaciones cuales = Orientaciones::todas, bool contornoPropio = true);

// Writes the outline image for corners found some other way (photograph pixels, slot order):
// `trabajo`, the working image of `foto`, with the quadrilateral 0-1-2-3 drawn as the stages draw
// theirs; sides running out of the image are drawn up to its edge.
Hecho grabarContorno(ImagenBmp trabajo, const ImagenBmp& foto, const std::array<Esquina, 4>& esquinas,
                     const std::filesystem::path& archivo);
