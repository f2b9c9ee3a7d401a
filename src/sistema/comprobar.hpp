#pragma once

// Checked preconditions. Where a function states what its caller must give it (a plane of a given
// size, a photo of at least 2 x 2, at least one page), it checks it with these, in every build
// type: a broken precondition is a fault in the program, not in the user's input, so it stops the
// process at once with the file, the line, the condition and the values it compared, on standard
// error, instead of reading or writing past what it was given.
//
//   COMPROBAR(condicion)
//   COMPROBAR_IGUAL(a, b)   COMPROBAR_DISTINTO(a, b)
//   COMPROBAR_MENOR(a, b)   COMPROBAR_MENOR_IGUAL(a, b)
//   COMPROBAR_MAYOR(a, b)   COMPROBAR_MAYOR_IGUAL(a, b)
//
// Each value is worked out once. They are meant for checks that cost nothing beside the work they
// guard (sizes, counts), not for loops over pixels.

#include <sstream>
#include <string>

namespace comprobar {

[[noreturn]] void fallar(const char* archivo, int linea, const std::string& que);

template <class A, class B>
[[noreturn]] void fallarComparacion(const char* archivo, int linea, const char* textoA, const char* op,
                                    const char* textoB, const A& a, const B& b) {
    std::ostringstream que;
    que << textoA << ' ' << op << ' ' << textoB << " (" << textoA << " = " << a << ", " << textoB << " = " << b
        << ')';
    fallar(archivo, linea, que.str());
}

}  // namespace comprobar

#define COMPROBAR(condicion) \
    ((condicion) ? static_cast<void>(0) : ::comprobar::fallar(__FILE__, __LINE__, #condicion))

#define COMPROBAR_OP_(a, b, op)                                                                  \
    do {                                                                                         \
        const auto& comprobarA_ = (a);                                                           \
        const auto& comprobarB_ = (b);                                                           \
        if (!(comprobarA_ op comprobarB_)) {                                                     \
            ::comprobar::fallarComparacion(__FILE__, __LINE__, #a, #op, #b, comprobarA_, comprobarB_); \
        }                                                                                        \
    } while (false)

#define COMPROBAR_IGUAL(a, b) COMPROBAR_OP_(a, b, ==)
#define COMPROBAR_DISTINTO(a, b) COMPROBAR_OP_(a, b, !=)
#define COMPROBAR_MENOR(a, b) COMPROBAR_OP_(a, b, <)
#define COMPROBAR_MENOR_IGUAL(a, b) COMPROBAR_OP_(a, b, <=)
#define COMPROBAR_MAYOR(a, b) COMPROBAR_OP_(a, b, >)
#define COMPROBAR_MAYOR_IGUAL(a, b) COMPROBAR_OP_(a, b, >=)
