#pragma once

// Whether the installed Tesseract data holds Spanish and the orientation, which the text tests
// need; a test without them is skipped, saying which packages are missing.

#include <gtest/gtest.h>

#include "ocr/ocr.hpp"

inline bool hayDatosOcr() {
    static const bool hay = MotorOcr::crear("spa", true).ok();
    return hay;
}

#define NECESITA_DATOS()                                                                                  \
    if (!hayDatosOcr())                                                                                   \
    GTEST_SKIP() << "skipped: Tesseract's Spanish or orientation data is not installed "                  \
                    "(tesseract-ocr-spa, tesseract-ocr-osd)"
