// PDF documents of pages, read by poppler as a viewer would, and libHaru without memory.
#include "formatos/fotos.hpp"

namespace {

using namespace fotos_prueba;

// The output of a command, and whether it ran.
bool ejecutar(const std::string& orden, std::string* salida = nullptr) {
    std::unique_ptr<FILE, int (*)(FILE*)> tubo(::popen(orden.c_str(), "r"), ::pclose);
    if (!tubo) return false;
    std::string texto;
    char trozo[4096];
    for (std::size_t n; (n = std::fread(trozo, 1, sizeof trozo, tubo.get())) > 0;) texto.append(trozo, n);
    if (salida != nullptr) *salida = texto;
    return ::pclose(tubo.release()) == 0;
}

TEST(CodificarPdf, TresPaginasComoLasLeePoppler) {
    // Pages at 72 pixels per inch, so that the page rendered at 72 dpi is the page image.
    const Foto vertical = fotoDe(612, 792, [](int x, int y) {
        return std::array<int, 3>{255 - y / 4, (x / 51) % 2 ? 240 : 30, 128};
    });
    const Foto apaisada = fotoDe(792, 612, [](int x, int y) {
        return std::array<int, 3>{x / 4, 255 - y / 3, (x / 66 + y / 51) % 2 ? 250 : 10};
    });
    std::vector<PaginaPdf> paginas;
    for (const Foto* f : {&vertical, &apaisada, &vertical}) {
        const ArchivoCodificado jpeg = codificarJpeg(imagenBmp(*f), 90);
        ASSERT_TRUE(jpeg.ok()) << jpeg.mensaje();
        paginas.push_back({*jpeg, f->ancho / 72.0, f->alto / 72.0, {}});
    }
    testing::internal::CaptureStderr();
    const ArchivoCodificado pdf = codificarPdf(paginas);
    EXPECT_FALSE(codificarPdf({}).ok());
    const ArchivoCodificado malo = codificarPdf({PaginaPdf{{1, 2, 3}, 8.5, 11, {}}});
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_TRUE(pdf.ok()) << pdf.mensaje();
    EXPECT_FALSE(malo.ok());
    EXPECT_EQ(malo.mensaje().find('\n'), std::string::npos);
    // The JPEG bytes go in as they are: the document is hardly larger than its pages.
    EXPECT_LT(pdf->size(), paginas[0].jpeg.size() * 2 + paginas[1].jpeg.size() + 4096);

    if (!ejecutar("command -v pdfinfo >/dev/null && command -v pdftoppm >/dev/null")) {
        GTEST_SKIP() << "pdfinfo or pdftoppm (poppler-utils) is not installed: the PDF is not checked";
    }
    apoyo::CarpetaTemporal carpeta;
    const fs::path archivo = carpeta / "hojas.pdf";
    ASSERT_TRUE(grabarArchivo(archivo, *pdf).ok());
    std::string info;
    ASSERT_TRUE(ejecutar("pdfinfo -f 1 -l 3 '" + archivo.string() + "' 2>&1", &info)) << info;
    // Runs of spaces as one, whatever the columns of this version of pdfinfo.
    std::string campos;
    for (char c : info)
        if (c != ' ' || campos.empty() || campos.back() != ' ') campos.push_back(c);
    EXPECT_NE(campos.find("Pages: 3\n"), std::string::npos) << info;
    EXPECT_NE(campos.find("Page 1 size: 612 x 792 pts"), std::string::npos) << info;
    EXPECT_NE(campos.find("Page 2 size: 792 x 612 pts"), std::string::npos) << info;
    EXPECT_NE(campos.find("Page 3 size: 612 x 792 pts"), std::string::npos) << info;

    std::string salida;
    ASSERT_TRUE(ejecutar("pdftoppm -r 72 -png '" + archivo.string() + "' '" + (carpeta / "p").string() + "' 2>&1",
                         &salida))
        << salida;
    const Foto* originales[] = {&vertical, &apaisada, &vertical};
    const auto diferenciaMedia = [](const Foto& a, const Foto& b) {
        double suma = 0;
        for (std::size_t k = 0; k < a.rgb.size(); ++k) suma += std::abs(a.rgb[k] - b.rgb[k]);
        return suma / double(a.rgb.size());
    };
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("pagina " + std::to_string(i + 1));
        const Foto vista = leida(carpeta / ("p-" + std::to_string(i + 1) + ".png"));
        ASSERT_EQ(vista.ancho, originales[i]->ancho);
        ASSERT_EQ(vista.alto, originales[i]->alto);
        // The embedded page image fills the page, upright; poppler decodes JPEG its own way, a
        // little apart from libjpeg-turbo.
        apoyo::escribirArchivo(carpeta / "pagina.jpg", paginas[std::size_t(i)].jpeg);
        EXPECT_LT(diferenciaMedia(vista, leida(carpeta / "pagina.jpg")), 3.0);
        EXPECT_LT(diferenciaMedia(vista, *originales[i]), 5.0);
    }
}

}  // namespace

namespace {

// An allocator for libHaru that fails its call number fallaPdfEn (counted from 1) alone.
long llamadasPdf = 0, fallaPdfEn = 0;
void* reservaQueFalla(unsigned int bytes) {
    if (++llamadasPdf == fallaPdfEn) return nullptr;
    return std::malloc(bytes);
}
void liberaPdf(void* bloque) { std::free(bloque); }

TEST(CodificarPdf, SinMemoriaEnCualquierPasoFallaYNombraLaPaginaQueSeHacia) {
    // Two alike pages; libHaru runs out of memory at each of its allocations in turn. Every such
    // document is refused in one line (none comes out short of a page or an image), and a failure
    // while the first page is made names that page: the first page makes all a later one does and
    // the document's first shared parts, so no fewer failures name it than name the second. Each
    // try runs in a child process: libHaru's own handling of a failed allocation now and then reads
    // memory it never set, and a crash there must not take the test program with it.
    const ArchivoCodificado jpeg = codificarJpeg(imagenBmp(degradado(40, 52)), 90);
    ASSERT_TRUE(jpeg.ok()) << jpeg.mensaje();
    const std::vector<PaginaPdf> paginas(2, PaginaPdf{*jpeg, 8.5, 11.0, {}});
    const ArchivoCodificado referencia = codificarPdf(paginas);
    ASSERT_TRUE(referencia.ok()) << referencia.mensaje();
    fallaPdfEn = 0;
    llamadasPdf = 0;
    EXPECT_EQ(*codificarPdf(paginas, reservaQueFalla, liberaPdf), *referencia);
    const long total = llamadasPdf;
    ASSERT_GT(total, 10);
    enum Desenlace { igual = 0, sinPagina, primera, segunda, distinto, variasLineas };
    int cuantos[6] = {}, caidas = 0;
    for (fallaPdfEn = 1; fallaPdfEn <= total; ++fallaPdfEn) {
        const pid_t hijo = ::fork();
        ASSERT_GE(hijo, 0);
        if (hijo == 0) {
            llamadasPdf = 0;
            const ArchivoCodificado pdf = codificarPdf(paginas, reservaQueFalla, liberaPdf);
            if (pdf.ok()) ::_exit(*pdf == *referencia ? igual : distinto);
            if (pdf.mensaje().find('\n') != std::string::npos) ::_exit(variasLineas);
            if (pdf.mensaje().find("la pagina 1") != std::string::npos) ::_exit(primera);
            ::_exit(pdf.mensaje().find("la pagina 2") != std::string::npos ? segunda : sinPagina);
        }
        int estado = 0;
        ASSERT_EQ(::waitpid(hijo, &estado, 0), hijo);
        if (!WIFEXITED(estado) || WEXITSTATUS(estado) > variasLineas) {
            ++caidas;
            continue;
        }
        ++cuantos[WEXITSTATUS(estado)];
    }
    EXPECT_EQ(cuantos[igual], 0);
    EXPECT_EQ(cuantos[distinto], 0);
    EXPECT_EQ(cuantos[variasLineas], 0);
    EXPECT_LE(caidas, 3);
    EXPECT_GT(cuantos[segunda], 0);
    EXPECT_GE(cuantos[primera] + caidas, cuantos[segunda]);
}

}  // namespace
