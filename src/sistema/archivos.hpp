#pragma once

// Files as the program meets them: inputs that may be anything a name can stand for, and outputs
// that must appear whole or not at all.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include <sys/types.h>

#include "sistema/fallo.hpp"

// Makes sure descriptors 0, 1 and 2 are open, opening /dev/null onto any that is closed (for
// reading as 0, for writing as 1 and 2), as a process started with a closed standard stream would
// otherwise give that number to the first file it opens, and what is printed would land in it.
// Called first thing in main, before anything opens a file. False only when a closed one could not
// be filled at all (no /dev/null, no descriptors left).
bool asegurarEstandares();

// An open file descriptor, closed with its owner.
struct Descriptor {
    int valor = -1;
    Descriptor() = default;
    explicit Descriptor(int fd) : valor(fd) {}
    Descriptor(Descriptor&& otro) noexcept : valor(std::exchange(otro.valor, -1)) {}
    Descriptor& operator=(Descriptor&& otro) noexcept;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor();
    int soltar() { return std::exchange(valor, -1); }
};

// An input opened for reading. The open never blocks (a FIFO without a writer, a device), and
// anything but a regular file is refused, with one line that names the file.
struct Entrada {
    Descriptor fd;
    std::uint64_t tamano = 0;  // bytes, as the file system says when it was opened
};
Resultado<Entrada> abrirEntrada(const std::filesystem::path& archivo);

// Reads up to `cantidad` bytes at offset `desde` of `fd`, retrying short and interrupted reads;
// the count read (less only at the end of the file), or the system's reason for a read error (it
// never saw the file's name: the caller puts it in front).
Resultado<std::size_t> leerCompleto(int fd, std::uint8_t* destino, std::size_t cantidad, std::uint64_t desde);

// The file name between double quotes, as messages show it.
std::string entreComillas(const std::filesystem::path& archivo);

// How a new output file is made before it gets its name.
enum class ModoTemporal {
    sinNombre,  // a nameless file (O_TMPFILE) where the file system has it, else as conNombre
    conNombre,  // a new hidden file beside the destination, under an unpredictable name
};

// An output file in the making. It is always a new file of our own, never a link planted under a
// guessable name: either nameless, or created exclusively under a random hidden name. `publicar`
// gives it the destination's name in one rename, replacing whatever stood there (a link planted
// under the destination's name is replaced, not followed). Until then nothing under the destination's
// name changes. An unpublished file is removed when its owner is destroyed, and also when the
// process ends by a caught signal (see sistema/senales.hpp).
//
// A published file is on the disk, not only in the system's memory: its content is synced before
// the rename and its folder after, so that a power cut right after a run reported success leaves
// the whole new file under its name, never an empty or missing one (as git, SQLite and LevelDB do).
class ArchivoNuevo {
public:
    // The file for `destino`, or the failure as one line naming `destino`.
    static Resultado<ArchivoNuevo> crear(
        const std::filesystem::path& destino, ModoTemporal modo = ModoTemporal::sinNombre);

    ArchivoNuevo(ArchivoNuevo&& otro) noexcept;
    ArchivoNuevo& operator=(ArchivoNuevo&&) = delete;
    ArchivoNuevo(const ArchivoNuevo&) = delete;
    ArchivoNuevo& operator=(const ArchivoNuevo&) = delete;
    ~ArchivoNuevo();

    int fd() const { return fd_.valor; }
    // Appends all of `bytes`, or the failure as one line naming the destination.
    Hecho escribir(std::span<const std::uint8_t> bytes);
    // Syncs and closes the file and puts it under the destination's name, then syncs the folder;
    // or the failure as one line naming the destination. A failed sync or close fails the write. After a failure
    // before the rename nothing is left of it; after it (the folder could not be synced) the whole
    // file stands under its name, but the failure is reported all the same.
    Hecho publicar();

private:
    ArchivoNuevo() = default;
    void descartar();

    std::filesystem::path destino_;
    std::filesystem::path temporal_;  // the hidden name, while the file has one
    Descriptor fd_;
    int registro_ = -1;               // slot of the hidden name among those removed on a signal
};

// Where the random part of hidden names comes from: the kernel's random source, unless a test puts in
// its own to know the names in advance (and plant links under them). Nothing in the program sets it;
// a null source puts back the kernel's.
using FuenteSufijos = std::string (*)();
void fijarFuenteSufijos(FuenteSufijos fuente);

// `cantidad` bytes from the kernel's random source, as hex (two digits a byte), for secrets; the
// failure when the kernel gives fewer.
Resultado<std::string> hexAlAzar(std::size_t cantidad);

// Writes `bytes` as the whole new content of `archivo` through an ArchivoNuevo.
Hecho grabarArchivo(const std::filesystem::path& archivo, std::span<const std::uint8_t> bytes);
