// PDF documents written a page at a time, read by poppler as a viewer would: their pictures (colour
// JPEG, gray JPEG, G4), their invisible words, and what a failure leaves.
#include <sys/resource.h>

#include <csignal>

#include "formatos/fotos.hpp"
#include "formatos/pdf.hpp"

namespace {

using namespace fotos_prueba;

// Whether a command ended well; its output into `salida` when given.
bool ejecutar(const std::string& orden, std::string* salida = nullptr) {
    apoyo::Ejecucion e = apoyo::ejecutar(orden);
    if (salida != nullptr) *salida = std::move(e.salida);
    return e.ok();
}

bool hayPoppler() {
    return ejecutar("command -v pdfinfo && command -v pdftoppm && command -v pdfimages && command -v pdftotext");
}
#define SALTAR_SIN_POPPLER()                                                                           \
    do {                                                                                               \
        if (!hayPoppler())                                                                             \
            GTEST_SKIP() << "pdfinfo, pdftoppm, pdfimages or pdftotext (poppler-utils) is not installed: " \
                            "the PDF is not read back";                                               \
    } while (false)

// Writes `paginas` as the PDF `archivo`; the first failure, or "".
std::string escribirPdf(const fs::path& archivo, const std::vector<PaginaPdf>& paginas) {
    Resultado<EscritorPdf> escritor = EscritorPdf::abrir(archivo);
    if (!escritor) return escritor.mensaje();
    for (const PaginaPdf& p : paginas)
        if (Hecho h = escritor->agregar(p); !h.ok()) return h.mensaje();
    if (Hecho h = escritor->terminar(); !h.ok()) return h.mensaje();
    return "";
}

// Runs of spaces as one.
std::string sinEspaciosRepetidos(const std::string& texto) {
    std::string r;
    for (char c : texto)
        if (c != ' ' || r.empty() || r.back() != ' ') r.push_back(c);
    return r;
}

// A black-and-white page at 72 pixels per inch: a frame, bars and a checkerboard corner, so that a
// row or a column out of place, or the colours swapped, shows.
Foto paginaBn(int ancho, int alto) {
    return fotoDe(ancho, alto, [&](int x, int y) {
        const bool marco = x < 3 || y < 2 || x >= ancho - 4 || y >= alto - 5;
        const bool barra = (y / 7) % 5 == 1 && x > 20 && x < 20 + (y * 13) % (ancho - 40);
        const bool damero = x < 60 && y < 60 && (x / 3 + y / 2) % 2 == 0;
        const int v = marco || barra || damero ? 0 : 255;
        return std::array<int, 3>{v, v, v};
    });
}

TEST(EscritorPdf, TresPaginasEnColorComoLasLeePoppler) {
    // Pages at 72 pixels per inch, so that the page rendered at 72 dpi is the page image.
    const Foto vertical = fotoDe(612, 792, [](int x, int y) {
        return std::array<int, 3>{255 - y / 4, (x / 51) % 2 ? 240 : 30, 128};
    });
    const Foto apaisada = fotoDe(792, 612, [](int x, int y) {
        return std::array<int, 3>{x / 4, 255 - y / 3, (x / 66 + y / 51) % 2 ? 250 : 10};
    });
    std::vector<PaginaPdf> paginas;
    for (const Foto* f : {&vertical, &apaisada, &vertical}) {
        Resultado<PaginaPdf> p = paginaPdf(imagenBmp(*f), ImagenPdf::jpegColor, 90, f->ancho / 72.0, f->alto / 72.0);
        ASSERT_TRUE(p.ok()) << p.mensaje();
        paginas.push_back(std::move(*p));
    }
    apoyo::CarpetaTemporal carpeta;
    const fs::path archivo = carpeta / "hojas.pdf";
    testing::internal::CaptureStderr();
    const std::string error = escribirPdf(archivo, paginas);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_EQ(error, "");
    // The JPEG bytes go in as they are: the document is hardly larger than its pages.
    EXPECT_LT(fs::file_size(archivo), paginas[0].datos.size() * 2 + paginas[1].datos.size() + 4096);

    SALTAR_SIN_POPPLER();
    std::string info;
    ASSERT_TRUE(ejecutar("pdfinfo -f 1 -l 3 '" + archivo.string() + "' 2>&1", &info)) << info;
    const std::string campos = sinEspaciosRepetidos(info);
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
        apoyo::escribirArchivo(carpeta / "pagina.jpg", paginas[std::size_t(i)].datos);
        EXPECT_LT(diferenciaMedia(vista, leida(carpeta / "pagina.jpg")), 3.0);
        EXPECT_LT(diferenciaMedia(vista, *originales[i]), 5.0);
    }
}

TEST(EscritorPdf, BlancoYNegroEnG4PixelAPixelYGrisEnJpegGris) {
    // A G4 page is the 1-bit page exactly; a gray page is a one-component JPEG; colour stays RGB.
    const Foto bn = paginaBn(612, 792), bnApaisada = paginaBn(792, 612);
    const Foto gris = fotoDe(612, 792, [](int x, int y) {
        const int v = (x * 7 + y * 3) % 256;
        return std::array<int, 3>{v, v, v};
    });
    const Foto color = degradado(200, 100);
    std::vector<PaginaPdf> paginas;
    const auto agregar = [&](const Foto& f, ImagenPdf tipo) {
        Resultado<PaginaPdf> p = paginaPdf(imagenBmp(f), tipo, 90, f.ancho / 72.0, f.alto / 72.0);
        ASSERT_TRUE(p.ok()) << p.mensaje();
        EXPECT_EQ(p->anchoPixeles, f.ancho);
        EXPECT_EQ(p->altoPixeles, f.alto);
        paginas.push_back(std::move(*p));
    };
    agregar(bn, ImagenPdf::g4);
    agregar(gris, ImagenPdf::jpegGris);
    agregar(color, ImagenPdf::jpegColor);
    agregar(bnApaisada, ImagenPdf::g4);
    // G4 stores a page of text in a few kilobytes.
    EXPECT_LT(paginas[0].datos.size(), 8000u);

    apoyo::CarpetaTemporal carpeta;
    const fs::path archivo = carpeta / "tipos.pdf";
    ASSERT_EQ(escribirPdf(archivo, paginas), "");

    SALTAR_SIN_POPPLER();
    std::string lista;
    ASSERT_TRUE(ejecutar("pdfimages -list '" + archivo.string() + "' 2>&1", &lista)) << lista;
    std::vector<std::string> vistas;
    for (const apoyo::ImagenListada& i : apoyo::imagenesListadas(lista))
        vistas.push_back(i.tamano + " " + i.color + " " + i.bits + " " + i.codigo);
    EXPECT_EQ(vistas, (std::vector<std::string>{"612x792 gray 1 ccitt", "612x792 gray 8 jpeg",
                                                 "200x100 rgb 8 jpeg", "792x612 gray 1 ccitt"}))
        << lista;

    // The G4 pages: their data decoded by poppler is the 1-bit page, and so is the page drawn by
    // both of poppler's renderers. Splash (pdftoppm) draws a picture one pixel wider and taller than
    // its place and smooths it whenever it is enlarged less than four times, so it is asked for four
    // pixels per pixel, where it only repeats them: the centre of each 4 x 4 block is the page's pixel.
    ASSERT_TRUE(ejecutar("pdfimages -png '" + archivo.string() + "' '" + (carpeta / "img").string() + "'"));
    for (const auto& [numero, original] : {std::pair{1, &bn}, std::pair{4, &bnApaisada}}) {
        SCOPED_TRACE("pagina " + std::to_string(numero));
        const std::string n = std::to_string(numero);
        const std::string extraida = (carpeta / ("img-00" + std::to_string(numero - 1) + ".png")).string();
        EXPECT_EQ(mayorDiferencia(leida(extraida), *original), 0);
        const std::string pagina = " -png -f " + n + " -l " + n + " -singlefile '" + archivo.string() + "' '";
        const fs::path cairo = carpeta / ("cairo-" + n), splash = carpeta / ("splash-" + n);
        ASSERT_TRUE(ejecutar("pdftocairo -r 72" + pagina + cairo.string() + "'"));
        EXPECT_EQ(mayorDiferencia(leida(cairo.string() + ".png"), *original), 0);
        ASSERT_TRUE(ejecutar("pdftoppm -r 288" + pagina + splash.string() + "'"));
        const Foto vista = leida(splash.string() + ".png");
        ASSERT_GE(vista.ancho, 4 * original->ancho);
        ASSERT_GE(vista.alto, 4 * original->alto);
        std::size_t distintos = 0;
        for (int y = 0; y < original->alto; ++y)
            for (int x = 0; x < original->ancho; ++x)
                distintos += !std::equal(original->en(x, y), original->en(x, y) + 3, vista.en(4 * x + 2, 4 * y + 2));
        EXPECT_EQ(distintos, 0u);
    }
}

TEST(EscritorPdf, PalabrasInvisiblesQuePdftotextDevuelveEnOrden) {
    // A blank letter page and words placed by hand: two lines in reading order, accents and ñ, a
    // landscape page after it. The words come out of pdftotext exactly, each over its place, and
    // nothing of them shows on the rendered page; words whose boxes touch stay apart.
    const Foto blanca = fotoDe(612, 792, [](int, int) { return std::array<int, 3>{255, 255, 255}; });
    Resultado<PaginaPdf> p = paginaPdf(imagenBmp(blanca), ImagenPdf::jpegGris, 90, 8.5, 11.0);
    ASSERT_TRUE(p.ok()) << p.mensaje();
    PaginaPdf pagina = *p;
    pagina.palabras = {
        {"El", 1.0, 1.0, 0.25, 0.2},        {"niño", 1.35, 1.0, 0.5, 0.25},   {"comió", 1.95, 1.02, 0.7, 0.2},
        {"piñas", 2.75, 1.0, 0.7, 0.25},    {"Canción", 1.0, 1.6, 1.0, 0.25}, {"ÁÉÍÓÚ", 2.2, 1.6, 1.0, 0.2},
        {"pingüino.", 3.4, 1.6, 1.3, 0.25},
        // Boxes that touch are still two words.
        {"empezó", 1.0, 4.0, 0.8, 0.25},    {"a", 1.8, 4.05, 0.12, 0.15},     {"las", 1.92, 4.0, 0.35, 0.25},
        // Nothing to draw: no text, no width, not a number.
        {"", 5.0, 5.0, 1.0, 0.2},           {"nada", 5.0, 6.0, 0.0, 0.2},     {"nan", std::nan(""), 6.0, 1.0, 0.2},
        {"diminuta", 5.0, 7.0, 1e-300, 1e-300}, {"enorme", 1.0, 8.0, 1e300, 0.2}, {"lejos", 1e300, 9.0, 1.0, 0.2},
    };
    PaginaPdf apaisada = pagina;
    apaisada.anchoPulgadas = 11.0;
    apaisada.altoPulgadas = 8.5;
    apaisada.palabras = {{"Señal", 7.0, 6.0, 1.5, 0.5}, {"\xff\xfe", 2.0, 2.0, 1.0, 0.3}};

    apoyo::CarpetaTemporal carpeta;
    const fs::path archivo = carpeta / "texto.pdf";
    PaginaPdf sinPalabras = pagina;
    sinPalabras.palabras.clear();
    ASSERT_EQ(escribirPdf(archivo, {pagina, apaisada}), "");
    ASSERT_EQ(escribirPdf(carpeta / "limpio.pdf", {sinPalabras}), "");

    SALTAR_SIN_POPPLER();
    std::string texto;
    ASSERT_TRUE(ejecutar("pdftotext -f 1 -l 1 '" + archivo.string() + "' -", &texto));
    EXPECT_EQ(sinEspaciosRepetidos(texto), "El niño comió piñas\nCanción ÁÉÍÓÚ pingüino.\n\nempezó a las\n\n\f");
    ASSERT_TRUE(ejecutar("pdftotext -f 2 -l 2 '" + archivo.string() + "' -", &texto));
    EXPECT_EQ(texto, "Señal\n\n\f");

    // Each word's box, in points, over the box it was given.
    std::string cajas;
    ASSERT_TRUE(ejecutar("pdftotext -bbox -f 1 -l 1 '" + archivo.string() + "' -", &cajas));
    int vistas = 0;
    // The first seven, the ones drawn.
    for (std::size_t k = 0; k < 7; ++k) {
        const PalabraPdf& w = pagina.palabras[k];
        const std::string marca = ">" + w.texto + "</word>";
        const std::size_t fin = cajas.find(marca);
        ASSERT_NE(fin, std::string::npos) << w.texto << "\n" << cajas;
        const std::size_t inicio = cajas.rfind("<word", fin);
        double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
        ASSERT_EQ(std::sscanf(cajas.c_str() + inicio, "<word xMin=\"%lf\" yMin=\"%lf\" xMax=\"%lf\" yMax=\"%lf\"",
                              &xMin, &yMin, &xMax, &yMax),
                  4)
            << cajas.substr(inicio, fin - inicio);
        SCOPED_TRACE(w.texto);
        EXPECT_NEAR(xMin, w.x * 72, 1.0);
        // Drawn a little short of the box's right edge (0.15 of the line's size at most).
        EXPECT_LE(xMax, (w.x + w.ancho) * 72 + 1.5);
        EXPECT_GE(xMax, (w.x + w.ancho) * 72 - 0.15 * 0.35 * 72);
        // Vertically the line's box: it covers the word's and is not much taller.
        EXPECT_LE(yMin, w.y * 72 + 3);
        EXPECT_GE(yMax, (w.y + w.alto) * 72 - 3);
        EXPECT_LT(yMax - yMin, 0.35 * 72);
        ++vistas;
    }
    EXPECT_EQ(vistas, 7);

    // The font goes with the document.
    std::string fuentes;
    ASSERT_TRUE(ejecutar("pdffonts '" + archivo.string() + "'", &fuentes));
    EXPECT_NE(fuentes.find("DejaVuSans"), std::string::npos) << fuentes;
    EXPECT_NE(fuentes.find(" yes yes yes"), std::string::npos) << fuentes;

    // Rendered, the page with words is the page without them.
    ASSERT_TRUE(ejecutar("pdftoppm -r 72 -png -f 1 -l 1 -singlefile '" + archivo.string() + "' '" +
                         (carpeta / "con").string() + "'"));
    ASSERT_TRUE(ejecutar("pdftoppm -r 72 -png -singlefile '" + (carpeta / "limpio.pdf").string() + "' '" +
                         (carpeta / "sin").string() + "'"));
    EXPECT_EQ(mayorDiferencia(leida(carpeta / "con.png"), leida(carpeta / "sin.png")), 0);
}

TEST(EscritorPdf, UnaPaginaQueNoSePuedePonerNoDejaNada) {
    // Every refused page names its number, spends the writer, and leaves nothing under the PDF's
    // name; so does a document without pages, and one never finished.
    Resultado<PaginaPdf> buena = paginaPdf(imagenBmp(degradado(40, 52)), ImagenPdf::jpegColor, 90, 8.5, 11.0);
    ASSERT_TRUE(buena) << buena.mensaje();
    Resultado<PaginaPdf> gris = paginaPdf(imagenBmp(degradado(40, 52)), ImagenPdf::jpegGris, 90, 8.5, 11.0);
    ASSERT_TRUE(gris) << gris.mensaje();
    PaginaPdf noJpeg = *buena, grisComoColor = *gris, colorComoGris = *buena, g4SinLados = *buena, vacia = *buena,
              enorme = *buena, minima = *buena;
    noJpeg.datos = {1, 2, 3, 4, 5, 6};
    grisComoColor.tipo = ImagenPdf::jpegColor;
    colorComoGris.tipo = ImagenPdf::jpegGris;
    g4SinLados.tipo = ImagenPdf::g4;
    g4SinLados.anchoPixeles = 0;
    vacia.datos.clear();
    enorme.anchoPulgadas = 201;
    minima.altoPulgadas = 0.04;

    apoyo::CarpetaTemporal carpeta;
    const fs::path archivo = carpeta / "malo.pdf";
    for (const PaginaPdf* mala : {&noJpeg, &grisComoColor, &colorComoGris, &g4SinLados, &vacia, &enorme, &minima}) {
        Resultado<EscritorPdf> escritor = EscritorPdf::abrir(archivo);
        ASSERT_TRUE(escritor.ok()) << escritor.mensaje();
        ASSERT_TRUE(escritor->agregar(*buena).ok());
        const Hecho h = escritor->agregar(*mala);
        ASSERT_FALSE(h.ok());
        EXPECT_EQ(h.mensaje().find('\n'), std::string::npos);
        EXPECT_EQ(h.mensaje().find("no se puede hacer \"" + archivo.string() + "\": la pagina 2"), 0u) << h.mensaje();
        EXPECT_EQ(escritor->paginas(), 1u);
        // Spent: neither another good page nor the end brings the document out.
        EXPECT_EQ(escritor->agregar(*buena).mensaje(), h.mensaje());
        EXPECT_EQ(escritor->terminar().mensaje(), h.mensaje());
        EXPECT_FALSE(fs::exists(archivo));
    }
    {
        Resultado<EscritorPdf> escritor = EscritorPdf::abrir(archivo);
        ASSERT_TRUE(escritor.ok());
        const Hecho h = escritor->terminar();
        ASSERT_FALSE(h.ok());
        EXPECT_NE(h.mensaje().find("no tiene paginas"), std::string::npos) << h.mensaje();
    }
    {
        Resultado<EscritorPdf> escritor = EscritorPdf::abrir(archivo);
        ASSERT_TRUE(escritor.ok());
        ASSERT_TRUE(escritor->agregar(*buena).ok());
    }
    EXPECT_FALSE(fs::exists(archivo));
    EXPECT_TRUE(fs::is_empty(carpeta.ruta));
    // A picture without pixels is no page, in any kind.
    for (const auto& [ancho, alto] : {std::pair{0, 5}, std::pair{5, 0}}) {
        ImagenBmp nada;
        nada.header = headerNuevo(ancho, alto);
        nada.plano0 = nada.plano1 = nada.plano2 = PlanoBytes(ancho, alto);
        for (ImagenPdf tipo : {ImagenPdf::g4, ImagenPdf::jpegGris, ImagenPdf::jpegColor}) {
            const Resultado<PaginaPdf> p = paginaPdf(nada, tipo, 90, 8.5, 11.0);
            ASSERT_FALSE(p);
            EXPECT_EQ(p.mensaje().find('\n'), std::string::npos);
        }
    }
    // A folder that is not there is named.
    Resultado<EscritorPdf> sinCarpeta = EscritorPdf::abrir(carpeta / "no" / "x.pdf");
    ASSERT_FALSE(sinCarpeta);
    EXPECT_NE(sinCarpeta.mensaje().find("x.pdf"), std::string::npos) << sinCarpeta.mensaje();
}

TEST(EscritorPdf, ElArchivoQueDejaDeCrecerAMitadNoSePublica) {
    // The file may hold only so many bytes (a file size limit, as a full disk): wherever it stops,
    // at a page or at the end, the writer fails with one line naming the document, and nothing
    // stands under its name. Each try runs in a child, which alone takes the limit.
    Resultado<PaginaPdf> pagina = paginaPdf(imagenBmp(bloques(300, 400)), ImagenPdf::jpegColor, 95, 8.5, 11.0);
    ASSERT_TRUE(pagina.ok()) << pagina.mensaje();
    apoyo::CarpetaTemporal carpeta;
    const fs::path archivo = carpeta / "cortado.pdf";
    ASSERT_EQ(escribirPdf(archivo, std::vector<PaginaPdf>(6, *pagina)), "");
    const auto entero = fs::file_size(archivo);
    fs::remove(archivo);
    enum Desenlace { enPagina = 10, alTerminar, publicado, otro };
    int cuantos[4] = {};
    for (const auto limite : {std::uintmax_t{100}, entero / 3, entero / 2, entero - 10}) {
        const pid_t hijo = ::fork();
        ASSERT_GE(hijo, 0);
        if (hijo == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit r{limite, limite};
            if (::setrlimit(RLIMIT_FSIZE, &r) != 0) ::_exit(otro);
            Resultado<EscritorPdf> e = EscritorPdf::abrir(archivo);
            if (!e) ::_exit(otro);
            const std::string nombre = "\"" + archivo.string() + "\"";
            for (int i = 0; i < 6; ++i) {
                if (Hecho h = e->agregar(*pagina); !h.ok()) {
                    const bool bien = h.mensaje().find(nombre) != std::string::npos && h.mensaje().find('\n') == std::string::npos;
                    ::_exit(bien ? enPagina : otro);
                }
            }
            const Hecho h = e->terminar();
            if (h.ok()) ::_exit(publicado);
            ::_exit(h.mensaje().find(nombre) != std::string::npos ? alTerminar : otro);
        }
        int estado = 0;
        ASSERT_EQ(::waitpid(hijo, &estado, 0), hijo);
        ASSERT_TRUE(WIFEXITED(estado)) << limite;
        const int d = WEXITSTATUS(estado);
        ASSERT_TRUE(d >= enPagina && d <= otro) << d;
        ++cuantos[d - enPagina];
        EXPECT_FALSE(fs::exists(archivo)) << limite;
    }
    EXPECT_EQ(cuantos[publicado - enPagina], 0);
    EXPECT_EQ(cuantos[otro - enPagina], 0);
    // The pages go to the file as they are added: a limit well under the whole stops a page.
    EXPECT_GE(cuantos[0], 2);
    EXPECT_TRUE(fs::is_empty(carpeta.ruta));
}

}  // namespace
