#pragma once

// The tools' arguments, read with CLI11 as the program reads its own: --help prints the usage and
// ends with status 0; a usage error prints what is wrong and ends with status 2.

#include <optional>

#include <CLI/CLI.hpp>

namespace herramienta {

// Reads the arguments into `app`'s options; the status to end with, or nothing to go on.
inline std::optional<int> leerArgumentos(CLI::App& app, int argc, char** argv) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    return std::nullopt;
}

}  // namespace herramienta
