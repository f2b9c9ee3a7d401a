// Reading and writing 24-bit BMP files: the standard row layout, bad input, unwritable files.
#include <cstdlib>

#include "apoyo.hpp"

namespace {

constexpr PlanoBytes ImagenBmp::*kPlanos[] = {&ImagenBmp::plano0, &ImagenBmp::plano1, &ImagenBmp::plano2};
constexpr auto npos = std::string::npos;

int valor(int r, int c, int p) { return 10 + 40 * r + 7 * c + p; }

// Record row r holds valor(r, ...): stored top-down for a negative height, rows padded with 0xEE,
// 0xDD from byte 54 up to `inicio`, the information header filling the gap, 777 as image size.
apoyo::Bytes archivoBmp(int ancho, int alto, int inicio = 54) {
    const int filas = std::abs(alto);
    HeaderBmp h = headerNuevo(ancho, filas);
    for (auto [campo, v] : {std::pair{bmp::kAlto, alto}, {bmp::kInicioPixeles, inicio},
                            {bmp::kTamanoInfo, inicio - 14}, {bmp::kTamanoImagen, 777}})
        fijarCampo32(h, campo, v);
    apoyo::Bytes b(h.begin(), h.end());
    b.resize(std::size_t(inicio), 0xDD);
    for (int i = 0; i < filas; ++i) {
        const int r = alto < 0 ? filas - 1 - i : i;
        for (int c = 0; c < 3 * ancho; ++c) b.push_back(std::uint8_t(valor(r, c / 3, c % 3)));
        b.resize(std::size_t(inicio) + (i + 1) * bmp::bytesPorFila(ancho), 0xEE);
    }
    return b;
}

TEST(LeerImagen, RellenoInicioDeArribaAbajoYArchivoCortado) {
    struct { int ancho, alto, inicio; std::size_t recorte; } casos[] = {
        {3, 2, 54, 0}, {3, -2, 54, 0}, {2, 3, 138, 0}, {5, -3, 138, 0}, {3, 2, 54, 7}, {3, -3, 138, 17},
        {3, 2, 54, 12}, {3, -2, 54, 12}};  // the last two hold exactly half of their pixel bytes
    for (const auto& k : casos) {
        SCOPED_TRACE(testing::Message() << k.ancho << "x" << k.alto << " @" << k.inicio << " -" << k.recorte);
        apoyo::CarpetaTemporal carpeta;
        apoyo::Bytes b = archivoBmp(k.ancho, k.alto, k.inicio);
        b.resize(b.size() - k.recorte);
        apoyo::escribirArchivo(carpeta / "a.bmp", b);
        const Resultado<BmpLeido> l = leerImagen(carpeta / "a.bmp");
        ASSERT_TRUE(l.ok());
        EXPECT_EQ(l->advertencia.empty(), k.recorte == 0) << l->advertencia;
        const int filas = std::abs(k.alto);
        HeaderBmp h;  // the file's own bytes but for three fields
        std::copy_n(b.begin(), kTamanoHeader, h.begin());
        for (auto [campo, v] : {std::pair{bmp::kInicioPixeles, 54}, {bmp::kTamanoInfo, 40}, {bmp::kAlto, filas}})
            fijarCampo32(h, campo, v);
        EXPECT_EQ(l->imagen.header, h);
        for (int r = 0; r < filas; ++r)
            for (int c = 0; c < 3 * k.ancho; ++c) {
                const std::size_t fila = std::size_t(k.alto < 0 ? filas - 1 - r : r);
                const std::size_t pos = std::size_t(k.inicio) + fila * bmp::bytesPorFila(k.ancho) + std::size_t(c);
                ASSERT_EQ((l->imagen.*kPlanos[c % 3])[r][c / 3], pos < b.size() ? valor(r, c / 3, c % 3) : 0)
                    << "row " << r << " byte " << c;
            }
    }
}

TEST(LeerImagen, RechazaLoQueNoLeeConUnaLineaQueNombraElArchivo) {
    apoyo::CarpetaTemporal carpeta;
    std::filesystem::create_directory(carpeta / "carpeta.bmp");
    apoyo::escribirArchivo(carpeta / "corto.bmp", apoyo::Bytes(53, 'B'));
    constexpr std::size_t tal = 99;  // the file as it stands
    struct { const char* nombre; std::size_t campo; std::int32_t valor; FalloLectura fallo; const char* dice; }
    casos[] = {
        {"falta.bmp", tal, 0, FalloLectura::noSeAbre, ""},
        {"carpeta.bmp", tal, 0, FalloLectura::noSeAbre, ""},
        {"corto.bmp", tal, 0, FalloLectura::headerCorto, ""},
        {"a.bmp", bmp::kFirma, 'X' << 8 | 'B', FalloLectura::noEsBmp, "\"BM\""},
        {"a.bmp", bmp::kBitsPorPixel, 32, FalloLectura::formatoNoSoportado, "32 bits"},
        {"a.bmp", bmp::kCompresion, 1, FalloLectura::formatoNoSoportado, "compresion 1"},
        {"a.bmp", bmp::kAncho, 1, FalloLectura::tamanoInvalido, " 1 x 2 "},
        {"a.bmp", bmp::kAlto, -1, FalloLectura::tamanoInvalido, " 2 x -1 "},
        {"a.bmp", bmp::kAncho, 30001, FalloLectura::tamanoInvalido, " 30001 x"},
        {"a.bmp", bmp::kAlto, -30001, FalloLectura::tamanoInvalido, "x -30001 "},
        {"a.bmp", bmp::kAlto, 5, FalloLectura::incompleto, "16 de los 40 bytes"},
        {"a.bmp", bmp::kAncho, 30000, FalloLectura::incompleto, ""}};  // the widest passes the size test
    for (const auto& k : casos) {
        SCOPED_TRACE(testing::Message() << k.nombre << " " << k.campo << " = " << k.valor);
        if (k.campo != tal) {
            apoyo::Bytes b = archivoBmp(2, 2);
            for (std::size_t i = 0; i < 4; ++i) b[k.campo + i] = std::uint8_t(k.valor >> 8 * i);
            apoyo::escribirArchivo(carpeta / k.nombre, b);
        }
        const Resultado<BmpLeido> l = leerImagen(carpeta / k.nombre);
        EXPECT_EQ(l.ok(), k.fallo == FalloLectura::ninguno);
        if (l.ok()) continue;
        EXPECT_EQ(static_cast<FalloLectura>(l.fallo().causa), k.fallo);
        EXPECT_TRUE(l.mensaje().find(k.nombre) != npos && l.mensaje().find('\n') == npos) << l.mensaje();
        EXPECT_NE(l.mensaje().find(k.dice), npos) << l.mensaje();
    }
}

TEST(GrabarImagen, FilasRellenasConCerosVueltaCompletaYArchivoImposible) {
    apoyo::CarpetaTemporal carpeta;
    const ImagenBmp img = apoyo::imagenDe(5, 3, [](int r, int c, int p) { return 200 + 9 * r + 3 * c + p; });
    ASSERT_TRUE(grabarImagen(img, carpeta / "a.bmp").ok());
    const apoyo::Bytes b = apoyo::leerArchivo(carpeta / "a.bmp");
    ASSERT_EQ(b.size(), 54u + 3 * 16);
    for (std::size_t r = 0; r < 3; ++r) EXPECT_EQ(b[54 + 16 * r + 15], 0) << r;
    const Resultado<BmpLeido> l = leerImagen(carpeta / "a.bmp");
    ASSERT_TRUE(l.ok() && l->advertencia.empty());
    EXPECT_EQ(l->imagen.header, img.header);
    for (auto m : kPlanos) EXPECT_EQ((l->imagen.*m).datos, (img.*m).datos);
    std::filesystem::create_directory(carpeta / "ocupado.bmp");
    const Hecho grabada = grabarImagen(img, carpeta / "ocupado.bmp");
    ASSERT_FALSE(grabada.ok());
    EXPECT_TRUE(grabada.mensaje().find("ocupado.bmp") != npos && grabada.mensaje().find('\n') == npos) << grabada.mensaje();
}

}  // namespace
