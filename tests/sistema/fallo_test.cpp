#include "sistema/fallo.hpp"

#include <memory>
#include <string>

#include <gtest/gtest.h>

namespace {

Resultado<int> mitad(int n) {
    if (n % 2 != 0) return Fallo{"impar: " + std::to_string(n)};
    return n / 2;
}

TEST(Fallo, UnResultadoLlevaElValorOLaLineaYNoDejaTomarLoQueNoTiene) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto bien = mitad(8);
    ASSERT_TRUE(bien.ok());
    EXPECT_TRUE(static_cast<bool>(bien));
    EXPECT_EQ(*bien, 4);
    const auto mal = mitad(7);
    ASSERT_FALSE(mal.ok());
    EXPECT_EQ(mal.mensaje(), "impar: 7");
    // Taking the value of a failure, or the failure of a value, is a fault of the caller.
    EXPECT_DEATH((void)mal.valor(), "ok\\(\\)");
    EXPECT_DEATH((void)bien.fallo(), "!ok\\(\\)");

    // A value that can only be moved comes out whole.
    Resultado<std::unique_ptr<int>> caja(std::make_unique<int>(3));
    std::unique_ptr<int> sacada = *std::move(caja);
    ASSERT_NE(sacada, nullptr);
    EXPECT_EQ(*sacada, 3);

    Hecho hecho;
    EXPECT_TRUE(hecho.ok());
    EXPECT_DEATH((void)hecho.mensaje(), "!ok_");
    const Hecho fallido = Fallo{"sin espacio"};
    EXPECT_FALSE(fallido.ok());
    EXPECT_EQ(fallido.mensaje(), "sin espacio");
}

}  // namespace
