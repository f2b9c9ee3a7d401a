# Turns a text file into a header holding it as one string (cmake -P):
#   -DENTRADA=FILE -DSALIDA=HEADER -DNOMBRE=IDENTIFIER
# The bytes go as a list of numbers, so that nothing in the file can end the literal.
file(READ "${ENTRADA}" contenido HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${contenido}")
string(LENGTH "${contenido}" digitos)
math(EXPR largo "${digitos} / 2")
file(WRITE "${SALIDA}.nuevo"
     "#pragma once\n// Made from ${ENTRADA} by cmake/incrustar.cmake; edit that file instead.\n"
     "#include <string_view>\n"
     "inline constexpr char ${NOMBRE}Bytes[] = {${bytes}};\n"
     "inline constexpr std::string_view ${NOMBRE}{${NOMBRE}Bytes, ${largo}};\n")
file(COPY_FILE "${SALIDA}.nuevo" "${SALIDA}" ONLY_IF_DIFFERENT)
file(REMOVE "${SALIDA}.nuevo")
