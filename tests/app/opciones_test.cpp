// The options as read from the arguments, and the plan they make: what each photo writes, and the
// runs refused before any work because they would write over a photo or into the wrong place.
#include <sys/stat.h>

#include "apoyo.hpp"
#include "app/opciones.hpp"

namespace {

namespace fs = std::filesystem;

// The options read and the usage error ("" when none), as these tests compare them.
struct Leidas {
    Opciones opciones;
    std::string error;
};

Leidas leer(std::vector<std::string> argumentos) {
    argumentos.insert(argumentos.begin(), "escaner");
    std::vector<const char*> argv;
    for (const std::string& a : argumentos) argv.push_back(a.c_str());
    const Resultado<Opciones> r = leerOpciones(static_cast<int>(argv.size()), argv.data());
    if (!r) return {Opciones{}, r.mensaje()};
    return {*r, ""};
}

// A plan's usage error, "" when it has none.
std::string errorDe(const Plan& plan) { return plan.fallo ? plan.fallo->mensaje : ""; }

TEST(Opciones, FinDeOpcionesYOpcionesRepetidasOVacias) {
    const Leidas guion = leer({"--json", "--", "-x.jpg", "--cuenta"});
    EXPECT_EQ(guion.error, "");
    EXPECT_TRUE(guion.opciones.json);
    EXPECT_FALSE(guion.opciones.cuenta);
    EXPECT_EQ(guion.opciones.fotos, (std::vector<fs::path>{"-x.jpg", "--cuenta"}));
    // Only the first "--" ends the options; a second one is a photo's name.
    const Leidas dos = leer({"--", "--", "a.jpg"});
    EXPECT_EQ(dos.error, "");
    EXPECT_EQ(dos.opciones.fotos, (std::vector<fs::path>{"--", "a.jpg"}));

    const Leidas repetida = leer({"-o", "a.png", "--salida", "b.png", "x.jpg"});
    EXPECT_NE(repetida.error.find("--salida se dio 2 veces"), std::string::npos) << repetida.error;
    EXPECT_NE(leer({"-j", "2", "-j", "2", "x.jpg"}).error.find("--hilos se dio 2 veces"), std::string::npos);
    for (const char* opcion : {"-o", "--etapas", "--calidad", "-j", "--detector", "--mapa", "--papel", "--ppp",
                               "--mejorar"}) {
        SCOPED_TRACE(opcion);
        const Leidas vacia = leer({opcion, "", "x.jpg"});
        EXPECT_NE(vacia.error.find("valor vacio"), std::string::npos) << vacia.error;
    }
}

TEST(Opciones, LosLimitesDeCadaValorSeAceptan) {
    struct Caso {
        const char* opcion;
        int minimo, maximo;
    };
    for (const Caso& c : {Caso{"--calidad", 1, 100}, Caso{"--ppp", 10, 1200}, Caso{"-j", 1, 1024}}) {
        SCOPED_TRACE(c.opcion);
        for (int valor : {c.minimo, c.maximo}) {
            const Leidas l = leer({c.opcion, std::to_string(valor), "x.jpg"});
            ASSERT_EQ(l.error, "");
            const Opciones& o = l.opciones;
            const std::string opcion = c.opcion;
            EXPECT_EQ(opcion == "--calidad" ? o.calidad : opcion == "--ppp" ? o.pagina.ppp : o.hilos, valor);
        }
        for (int valor : {c.minimo - 1, c.maximo + 1})
            EXPECT_NE(leer({c.opcion, std::to_string(valor), "x.jpg"}).error, "") << valor;
    }
    // The first bad value is the one told.
    EXPECT_EQ(leer({"--papel", "a3", "--ppp", "5", "x.jpg"}).error.find("--papel a3"), 0u);
}

TEST(Opciones, NuncaMasFotosALaVezQueNucleos) {
    EXPECT_EQ(fotosALaVez(32, 32, 4), 4);   // -j above the cores
    EXPECT_EQ(fotosALaVez(0, 32, 4), 4);    // the cores by default
    EXPECT_EQ(fotosALaVez(3, 32, 4), 3);
    EXPECT_EQ(fotosALaVez(4, 32, 4), 4);
    EXPECT_EQ(fotosALaVez(8, 2, 4), 2);     // no more than the photos
    EXPECT_EQ(fotosALaVez(0, 5, 0), 1);     // at least one
}

TEST(Plan, LaCarpetaDeEtapasEsUnNombreLlano) {
    EXPECT_EQ(nombreDeEtapas("fotos/IMG_1.jpg"), "IMG_1");
    EXPECT_EQ(nombreDeEtapas("fotos/...jpg"), "__");  // its stem is ".."
    EXPECT_EQ(nombreDeEtapas("..png"), "_");          // its stem is "."
    EXPECT_EQ(nombreDeEtapas(".oculta"), ".oculta");
    EXPECT_EQ(nombreDeEtapas("a.b.jpg"), "a.b");
    Opciones o;
    o.fotos = {"...jpg", "..png"};
    o.etapas = "et";
    const Plan plan = planear(o);
    ASSERT_EQ(errorDe(plan), "");
    EXPECT_EQ(plan.destinos[0].etapas, fs::path("et/__"));
    EXPECT_EQ(plan.destinos[1].etapas, fs::path("et/_"));
}

// A photo in `carpeta` under `nombre` (its content does not matter to the plan).
fs::path foto(const apoyo::CarpetaTemporal& carpeta, const std::string& nombre) {
    const fs::path ruta = carpeta / nombre;
    fs::create_directories(ruta.parent_path());
    apoyo::escribirArchivo(ruta, {'B', 'M'});
    return ruta;
}

Plan planDe(std::vector<fs::path> fotos, std::optional<fs::path> salida = {}, std::optional<fs::path> etapas = {}) {
    Opciones o;
    o.fotos = std::move(fotos);
    o.salida = std::move(salida);
    o.etapas = std::move(etapas);
    return planear(o);
}

TEST(Plan, NadaDeLoQueSeEscribeEsUnaFoto) {
    apoyo::CarpetaTemporal c;
    const fs::path x = foto(c, "x.bmp");
    const fs::path et = c / "et";
    // A photo under one of the stage images' names, given by that name or by another one.
    const fs::path bordes = foto(c, "et/x/imagenBordes.bmp");
    EXPECT_NE(errorDe(planDe({x, bordes}, c / "lote", et)).find("es una de las fotos"), std::string::npos);
    fs::create_hard_link(bordes, c / "enlace.bmp");
    const Plan duro = planDe({x, c / "enlace.bmp"}, c / "lote", et);
    EXPECT_NE(errorDe(duro).find("es la foto " + (c / "enlace.bmp").string()), std::string::npos) << errorDe(duro);
    // The photo's own stage images.
    const fs::path propia = foto(c, "et/imagenReducida/imagenReducida.bmp");
    EXPECT_NE(errorDe(planDe({propia}, c / "s.png", et)), "");
    // A result beside its photo that is another photo (a link to it), and a PDF over a photo.
    const fs::path y = foto(c, "y.bmp");
    fs::create_symlink(y, c / "x-hoja.png");
    fs::create_symlink(x, c / "y-hoja.png");  // the first one met is told
    EXPECT_NE(errorDe(planDe({x, y})).find("x-hoja.png es una de las fotos"), std::string::npos);
    fs::remove(c / "x-hoja.png");
    fs::remove(c / "y-hoja.png");
    fs::create_hard_link(y, c / "x-hoja.png");
    EXPECT_NE(errorDe(planDe({x, y})).find("es la foto"), std::string::npos);
    fs::remove(c / "x-hoja.png");
    const fs::path pdf = foto(c, "x.pdf");
    EXPECT_NE(errorDe(planDe({pdf}, pdf)).find("es una de las fotos"), std::string::npos);
    EXPECT_NE(errorDe(planDe({x, pdf}, pdf)).find("es una de las fotos"), std::string::npos);
    // A result that is one of the stage images: two files under one name.
    EXPECT_NE(errorDe(planDe({x}, et / "x" / "imagenHojaCarta.bmp", et)).find("darian el mismo resultado"),
              std::string::npos);
    EXPECT_EQ(errorDe(planDe({x, y}, c / "lote", et)), "");
    // Each photo's result a link to the other photo: the first one met is told.
    fs::create_hard_link(y, c / "x-hoja.png");
    fs::create_hard_link(x, c / "y-hoja.png");
    EXPECT_NE(errorDe(planDe({x, y})).find("x-hoja.png es la foto"), std::string::npos) << errorDe(planDe({x, y}));
}

TEST(Plan, NoSeEscribeSobreUnaTuberiaNiUnDispositivo) {
    apoyo::CarpetaTemporal c;
    const fs::path x = foto(c, "x.bmp");
    ASSERT_EQ(::mkfifo((c / "tubo.png").c_str(), 0600), 0);
    EXPECT_NE(errorDe(planDe({x}, c / "tubo.png")).find("tuberia"), std::string::npos);
    ASSERT_EQ(::mkfifo((c / "x-hoja.png").c_str(), 0600), 0);
    EXPECT_NE(errorDe(planDe({x})).find("tuberia"), std::string::npos);
    const fs::path y = foto(c, "y.bmp");
    ASSERT_EQ(::mkfifo((c / "y-hoja.png").c_str(), 0600), 0);
    EXPECT_NE(errorDe(planDe({x, y})).find("x-hoja.png es una tuberia"), std::string::npos);
    ASSERT_EQ(::mkfifo((c / "todo.pdf").c_str(), 0600), 0);
    EXPECT_NE(errorDe(planDe({x}, c / "todo.pdf")).find("tuberia"), std::string::npos);
    fs::create_symlink("/dev/null", c / "nulo.png");  // a link is replaced, not written through
    EXPECT_EQ(errorDe(planDe({x}, c / "nulo.png")), "");
}

TEST(Plan, LasFotosQueNoExistenNoChocan) {
    apoyo::CarpetaTemporal c;
    // Two patterns the shell left as they were: both stems are "*".
    const Plan plan = planDe({c / "fotos/*.jpg", c / "fotos/*.png"});
    EXPECT_EQ(errorDe(plan), "");
    EXPECT_EQ(plan.faltan, (std::vector<fs::path>{c / "fotos/*.jpg", c / "fotos/*.png"}));
    EXPECT_EQ(plan.destinos.size(), 2u);
    // Listed apart even when the run is refused for something else.
    const fs::path a = foto(c, "a.bmp"), b = foto(c, "sub/a.bmp");
    const Plan choque = planDe({a, c / "falta.bmp", b}, c / "lote");
    EXPECT_NE(errorDe(choque).find("darian el mismo resultado"), std::string::npos) << errorDe(choque);
    EXPECT_EQ(choque.faltan, (std::vector<fs::path>{c / "falta.bmp"}));
}

}  // namespace
