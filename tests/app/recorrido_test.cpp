// The account the spec's road prints of the letter sheet's rectification: the system as it was set
// up, then its solution or why there is none.
#include <sstream>

#include "apoyo.hpp"
#include "app/recorrido.hpp"

namespace {

TEST(CuentaDeLaHoja, ElSistemaComoSePlanteoYLuegoSuSolucionOElFallo) {
    const std::array<Esquina, 4> esquinas{{{1, 1}, {850, 1}, {850, 1100}, {0, 1100}}};
    const ImagenBmp foto = apoyo::imagenDe(4, 4, [](int, int, int) { return 0; });
    HojaRectificada h = rectificarHoja(foto, esquinas);
    ASSERT_TRUE(h.solucion && h.hoja);
    const std::string inicio =
        "\n\nSe necesita llevar a cabo una transformaciOn perspectiva inversa para  \nllevar las 4 "
        "esquinas de la hoja carta a las esquinas de la imagen.\nSe hace resolviendo el siguiente "
        "sistema de ecuaciones lineales:\n1  1  1  1  0  0  0  0   = 1  \n0  0  0  0  1  1  1  1   = 1  \n"
        "1  850  1  850  0  0  0  0   = 850  \n";
    {
        apoyo::Captura cuenta;
        contarRectificacion(h, cuenta.f);
        const std::string texto = cuenta.texto();
        EXPECT_EQ(texto.substr(0, inicio.size()), inicio);
        // The rows as they were set up, not as the elimination left them.
        EXPECT_NE(texto.find("\n0  0  0  0  1  0  1100  0   = 1100  "), std::string::npos) << texto;
        // Then the eight coefficients, each after a blank: about (0, 1, 0, 0, 0, 0, 1, 0).
        const std::string solucion = "\nSoluciOn al sistema de ecuaciones: \n";
        const std::size_t donde = texto.find(solucion);
        ASSERT_NE(donde, std::string::npos) << texto;
        std::istringstream valores(texto.substr(donde + solucion.size()));
        double v[8] = {}, sobra = 0;
        for (double& x : v) EXPECT_TRUE(valores >> x);
        EXPECT_FALSE(valores >> sobra);
        const double esperado[8] = {0, 1, 0, 0, 0, 0, 1, 0};
        for (int i = 0; i < 8; ++i) EXPECT_NEAR(v[i], esperado[i], 1e-9) << i;
        EXPECT_EQ(texto.find("no se puede solucionar"), std::string::npos);
    }
    h.solucion.reset();
    apoyo::Captura cuenta;
    contarRectificacion(h, cuenta.f);
    const std::string texto = cuenta.texto();
    const std::string fallo = "\n El sistema no se puede solucionar \n";
    EXPECT_EQ(texto.substr(0, inicio.size()), inicio);
    ASSERT_GE(texto.size(), fallo.size());
    EXPECT_EQ(texto.substr(texto.size() - fallo.size()), fallo);
    EXPECT_EQ(texto.find("SoluciOn"), std::string::npos);
}

}  // namespace
