#pragma once

// How every step of the program says it failed: a `Fallo`, one line of Spanish with no line break,
// returned as a value. A step that can fail returns `Resultado<T>` (the value, or the failure) or
// `Resultado<void>` (nothing, or the failure). Nothing below src/app prints it: the driver decides
// where the line goes and which exit status follows.
//
// Who names what: the step that meets a file names it, between double quotes (`entreComillas` in
// sistema/archivos.hpp); a step that never saw a file's name says only what went wrong, and whoever
// called it with the file puts the name in front.

#include <string>
#include <utility>
#include <variant>

#include "sistema/comprobar.hpp"

struct Fallo {
    std::string mensaje;  // one line, Spanish
    int causa = 0;        // which failure, where a caller must tell them apart (the step that sets
                          // it says what its values are); 0 otherwise
};

// The value a step made, or why it could not make it.
template <class T>
class [[nodiscard]] Resultado {
public:
    Resultado(T valor) : dato_(std::in_place_index<0>, std::move(valor)) {}
    Resultado(Fallo fallo) : dato_(std::in_place_index<1>, std::move(fallo)) {}

    bool ok() const { return dato_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& operator*() & { return valor(); }
    const T& operator*() const& { return valor(); }
    T&& operator*() && { return std::move(valor()); }
    T* operator->() { return &valor(); }
    const T* operator->() const { return &valor(); }

    T& valor() {
        COMPROBAR(ok());
        return std::get<0>(dato_);
    }
    const T& valor() const {
        COMPROBAR(ok());
        return std::get<0>(dato_);
    }
    const Fallo& fallo() const {
        COMPROBAR(!ok());
        return std::get<1>(dato_);
    }
    const std::string& mensaje() const { return fallo().mensaje; }

private:
    std::variant<T, Fallo> dato_;
};

// Done, or why not.
template <>
class [[nodiscard]] Resultado<void> {
public:
    Resultado() = default;
    Resultado(Fallo fallo) : fallo_(std::move(fallo)), ok_(false) {}

    // No conversion to bool: a step that returned the failure as an optional line read the other
    // way round, and code written for it must not compile silently inverted.
    bool ok() const { return ok_; }
    const Fallo& fallo() const {
        COMPROBAR(!ok_);
        return fallo_;
    }
    const std::string& mensaje() const { return fallo().mensaje; }

private:
    Fallo fallo_;
    bool ok_ = true;
};

using Hecho = Resultado<void>;
