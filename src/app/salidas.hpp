#pragma once

// What the command line gives out besides the pages: the JSON lines and messages fit for a
// terminal.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/foto.hpp"
#include "app/opciones.hpp"
#include "formatos/formatos.hpp"

// A message as it may reach a terminal, on one line: control characters (C0, DEL and C1) and bytes
// that are not UTF-8 as \n, \t, \r or \xHH, so that a file name can neither break the line nor send
// the terminal an escape sequence.
std::string paraTerminal(const std::string& texto);

// The JSON line of one photo, ending in a line break: "foto", "estado" ("ok", "sin-hoja" or
// "error"), "esquinas" (display frame, each number the shortest decimal that reads back as itself,
// so that given back they make the same page; or null), "salida" (`salida`, or null unless it is
// "ok") and "mensaje"; with --orientar, "giro" (the page's clockwise turn in degrees) and with
// --ocr, "texto" (the page's text), both null unless it is "ok". Valid UTF-8 goes as it is, and
// every line is valid JSON whatever the names hold: each byte that is not part of a UTF-8
// character comes as U+FFFD, and such a name also comes whole, as hex of every byte, in
// "foto_bytes" or "salida_bytes".
std::string lineaJson(const Destino& destino, const Escaneo& escaneo, const std::string& salida,
                      const Opciones& opciones);
