// The command line against what users and scripts get wrong or hostile: stage images that would
// touch a photo or leave their folder, names that are not UTF-8 or hold control characters, photos
// that do not exist, outputs that cannot be written, the progress line on a terminal, and photos
// that do not fit in memory.
#include "comandos_apoyo.hpp"

namespace {

using namespace comandos_prueba;
namespace fs = std::filesystem;

TEST(Comandos, LasEtapasNuncaTocanUnaFotoNiSalenDeSuCarpeta) {
    apoyo::CarpetaTemporal c;
    const ImagenBmp imagen = fotoDeEscena(5);
    ASSERT_EQ(grabarImagen(imagen, c / "x.bmp"), std::nullopt);
    const apoyo::Bytes original = apoyo::leerArchivo(c / "x.bmp");
    // A photo where the stage images of another, or its own, would go: refused before any work,
    // the photo whole.
    fs::create_directories(c / "et/x");
    fs::copy_file(c / "x.bmp", c / "et/x/imagenReducida.bmp");
    const std::string segunda = (c / "et/x/imagenReducida.bmp").string();
    const Corrida lote = correr({"-j", "1", (c / "x.bmp").string(), segunda, "--etapas", (c / "et").string(), "-o",
                                 (c / "lote").string()});
    EXPECT_EQ(lote.estado, kSalidaUso) << lote.errores;
    fs::create_directories(c / "et/imagenBordes");
    fs::copy_file(c / "x.bmp", c / "et/imagenBordes/imagenBordes.bmp");
    const Corrida propia = correr({(c / "et/imagenBordes/imagenBordes.bmp").string(), "--etapas",
                                   (c / "et").string(), "-o", (c / "s.png").string()});
    EXPECT_EQ(propia.estado, kSalidaUso) << propia.errores;
    EXPECT_EQ(apoyo::leerArchivo(segunda), original);
    EXPECT_EQ(apoyo::leerArchivo(c / "et/imagenBordes/imagenBordes.bmp"), original);
    EXPECT_FALSE(fs::exists(c / "lote"));
    EXPECT_FALSE(fs::exists(c / "s.png"));

    // Photos whose stems are ".." and "." keep their stage images in folders of their own inside the
    // stage folder; nothing is written beside it or straight into it.
    apoyo::CarpetaTemporal d;
    fs::create_directories(d / "fotos");
    for (const char* nombre : {"...bmp", "..bmp"}) fs::copy_file(c / "x.bmp", d / "fotos" / nombre);
    const Corrida puntos = correr({"--etapas", (d / "fotos/et").string(), "-o", (d / "lote").string(),
                                   (d / "fotos/...bmp").string(), (d / "fotos/..bmp").string()});
    EXPECT_EQ(puntos.estado, 0) << puntos.errores;
    std::vector<std::string> hechos;
    for (const auto& e : fs::recursive_directory_iterator(d / "fotos"))
        hechos.push_back(fs::relative(e.path(), d / "fotos").string());
    std::sort(hechos.begin(), hechos.end());
    std::vector<std::string> esperados = {"...bmp", "..bmp", "et", "et/_", "et/__"};
    for (const char* sub : {"et/_/", "et/__/"})
        for (const char* etapa : kImagenesEtapas) esperados.push_back(sub + std::string(etapa));
    std::sort(esperados.begin(), esperados.end());
    EXPECT_EQ(hechos, esperados);

    // A photo's stage folder that is a link to another folder is refused, not written through; the
    // folder's files stay as they were, and the other photos go on.
    fs::create_directories(d / "ajena");
    apoyo::escribirArchivo(d / "ajena/imagenBordes.bmp", {'m', 'i', 'o'});
    fs::create_directory_symlink(d / "ajena", d / "fotos/et/x");
    fs::copy_file(c / "x.bmp", d / "fotos/x.bmp");
    const Corrida enlace = correr({"--etapas", (d / "fotos/et").string(), "-o", (d / "lote2").string(),
                                   (d / "fotos/x.bmp").string(), (d / "fotos/..bmp").string()});
    EXPECT_EQ(enlace.estado, 1);
    EXPECT_EQ(lineas(enlace.errores), 1) << enlace.errores;
    EXPECT_NE(enlace.errores.find("enlace simbolico"), std::string::npos) << enlace.errores;
    EXPECT_EQ(apoyo::leerArchivo(d / "ajena/imagenBordes.bmp"), (apoyo::Bytes{'m', 'i', 'o'}));
    EXPECT_EQ(std::distance(fs::directory_iterator(d / "ajena"), fs::directory_iterator()), 1);
    EXPECT_TRUE(fs::exists(d / "lote2/.-hoja.png"));
    // A stage image that cannot be written is named as the user named its folder.
    fs::create_directories(d / "fotos/et2/x/imagenBordes.bmp");
    const Corrida carpeta = correr({"--etapas", (d / "fotos/et2").string(), "-o", (d / "x.png").string(),
                                    (d / "fotos/x.bmp").string()});
    EXPECT_EQ(carpeta.estado, 1);
    EXPECT_NE(carpeta.errores.find(entreComillas(d / "fotos/et2/x/imagenBordes.bmp")), std::string::npos)
        << carpeta.errores;
}

// Whether `texto` is one JSON value and nothing else, strings in well-formed UTF-8.
bool esJson(const std::string& texto) {
    std::size_t i = 0;
    const auto espacios = [&] {
        while (i < texto.size() && std::isspace(static_cast<unsigned char>(texto[i]))) ++i;
    };
    const auto cadena = [&] {
        if (texto[i++] != '"') return false;
        while (i < texto.size() && texto[i] != '"') {
            const auto c = static_cast<unsigned char>(texto[i]);
            if (c < 0x20) return false;
            if (c == '\\') {
                const char e = texto[++i];
                if (e == 'u') {
                    for (int k = 1; k <= 4; ++k)
                        if (!std::isxdigit(static_cast<unsigned char>(texto[i + k]))) return false;
                    i += 4;
                } else if (std::string("\"\\/bfnrt").find(e) == std::string::npos) {
                    return false;
                }
                ++i;
                continue;
            }
            // One UTF-8 character: its length from the lead byte, then continuation bytes only
            // (overlong forms and surrogates are left to the writer's own test below).
            const int largo = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3
                                                                          : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
            if (largo == 0 || i + largo > texto.size()) return false;
            for (int k = 1; k < largo; ++k)
                if ((static_cast<unsigned char>(texto[i + k]) & 0xC0) != 0x80) return false;
            i += largo;
        }
        return i++ < texto.size();
    };
    std::function<bool()> valor = [&] {
        espacios();
        if (i >= texto.size()) return false;
        if (texto[i] == '"') return cadena();
        if (texto[i] == '{' || texto[i] == '[') {
            const char cierre = texto[i] == '{' ? '}' : ']';
            ++i;
            espacios();
            if (texto[i] == cierre) return ++i, true;
            do {
                espacios();
                if (cierre == '}') {
                    if (!cadena()) return false;
                    espacios();
                    if (texto[i++] != ':') return false;
                }
                if (!valor()) return false;
                espacios();
            } while (texto[i] == ',' && ++i);
            return texto[i++] == cierre;
        }
        for (const char* palabra : {"null", "true", "false"})
            if (texto.compare(i, std::strlen(palabra), palabra) == 0) return i += std::strlen(palabra), true;
        char* fin = nullptr;
        std::strtod(texto.c_str() + i, &fin);
        if (fin == texto.c_str() + i) return false;
        i = static_cast<std::size_t>(fin - texto.c_str());
        return true;
    };
    if (!valor()) return false;
    espacios();
    return i == texto.size();
}

TEST(Comandos, NombresQueNoSonUtf8NiImprimiblesEnJsonYEnLosMensajes) {
    EXPECT_TRUE(esJson(R"({"a":[1,-2.5e3,"\u00e9\n"],"b":null,"c":"ñ"})"));
    EXPECT_FALSE(esJson("{\"a\":\"\xff\"}"));
    EXPECT_FALSE(esJson("{\"a\":\"\n\"}"));
    EXPECT_FALSE(esJson("{\"a\":1"));

    apoyo::CarpetaTemporal c;
    const ImagenBmp imagen = fotoDeEscena(6);
    const std::string malo = "mal\xff\xfe\xed\xa0\x80\xc0\xaf", control = "l\xc3\xadnea\n\x1b[31mroja\x7f\xc2\x9b", bueno = "a\xc3\xb1o \"x\" \xdf\xbf\xe2\x82\xac\xf0\x9f\x93\x84";
    for (const std::string& nombre : {malo, control, bueno})
        ASSERT_EQ(grabarImagen(imagen, c / (nombre + ".bmp")), std::nullopt);
    const Corrida lote = correr({"--json", "-o", (c / "lote").string(), (c / (malo + ".bmp")).string(),
                                 (c / (control + ".bmp")).string(), (c / (bueno + ".bmp")).string()});
    EXPECT_EQ(lote.estado, 0) << lote.errores;
    EXPECT_EQ(lote.errores, "");  // not a terminal: no progress line either
    std::vector<std::string> json;
    std::istringstream texto(lote.salida);
    for (std::string linea; std::getline(texto, linea);) json.push_back(linea);
    ASSERT_EQ(json.size(), 3u) << lote.salida;
    for (const std::string& linea : json) {
        EXPECT_TRUE(esJson(linea)) << linea;
        const std::string esquinas = campo(linea, "esquinas");
        EXPECT_EQ(std::count(esquinas.begin(), esquinas.end(), '['), 5) << linea;
    }
    // The name that is not UTF-8: U+FFFD for each stray byte, and all its bytes in hex to find
    // the file by; the others as they are, without the extra fields.
    std::string reemplazado = "mal";
    for (int i = 0; i < 7; ++i) reemplazado += "\xef\xbf\xbd";  // two stray bytes, a surrogate, an overlong '/'
    EXPECT_NE(json[0].find(reemplazado + ".bmp\""), std::string::npos) << json[0];
    const std::string bytes = campo(json[0], "foto_bytes");
    std::string decodificado;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        decodificado.push_back(static_cast<char>(std::stoi(bytes.substr(i, 2), nullptr, 16)));
    EXPECT_EQ(decodificado, (c / (malo + ".bmp")).string());
    EXPECT_TRUE(fs::exists(fs::path(decodificado)));
    EXPECT_NE(json[0].find("\"salida_bytes\":\""), std::string::npos) << json[0];
    EXPECT_NE(json[1].find("l\xc3\xadnea\\u000a\\u001b[31mroja\x7f\xc2\x9b.bmp\""), std::string::npos) << json[1];
    EXPECT_EQ(json[1].find("_bytes"), std::string::npos) << json[1];
    EXPECT_EQ(campo(json[2], "estado"), "ok");
    EXPECT_NE(json[2].find("a\xc3\xb1o \\\"x\\\" \xdf\xbf\xe2\x82\xac\xf0\x9f\x93\x84.bmp\""), std::string::npos)
        << json[2];
    EXPECT_EQ(json[2].find("_bytes"), std::string::npos) << json[2];

    // A photo that cannot be read gets one line on stderr however it is named, and no control
    // character reaches the terminal.
    for (const std::string& nombre : {malo, control}) {
        apoyo::escribirArchivo(c / (nombre + ".bmp"), {'h', 'o', 'l', 'a'});
        const Corrida rota = correr({"-o", (c / "lote").string(), (c / (nombre + ".bmp")).string()});
        EXPECT_EQ(rota.estado, 1);
        EXPECT_EQ(lineas(rota.errores), 1) << rota.errores;
        for (std::size_t i = 0; i < rota.errores.size(); ++i) {
            const auto b = static_cast<unsigned char>(rota.errores[i]);
            const auto siguiente = static_cast<unsigned char>(rota.errores[i + 1]);
            EXPECT_FALSE((b < 0x20 && b != '\n') || b == 0x7f || b == 0xff || (b == 0xc2 && siguiente < 0xa0))
                << i << " " << rota.errores;
        }
    }
    // Each byte shown once, and only those.
    EXPECT_NE(correr({"-o", (c / "lote").string(), (c / (control + ".bmp")).string()})
                  .errores.find("l\xc3\xadnea\\n\\x1b[31mroja\\x7f\\xc2\\x9b.bmp\""),
              std::string::npos);
    EXPECT_NE(correr({"-o", (c / "lote").string(), (c / (malo + ".bmp")).string()})
                  .errores.find("mal\\xff\\xfe\\xed\\xa0\\x80\\xc0\\xaf.bmp\""),
              std::string::npos);
    // Nor in a usage error.
    const Corrida uso = correr({"-o", (c / (control + ".gif")).string(), (c / (bueno + ".bmp")).string()});
    EXPECT_EQ(uso.estado, kSalidaUso);
    EXPECT_EQ(lineas(uso.errores), 2) << uso.errores;
}

TEST(Comandos, FotosQueNoExistenYFinDeOpciones) {
    apoyo::CarpetaTemporal c;
    // Two patterns that matched nothing: each photo missing, one line each, no clash of names.
    const Corrida nada = correr({(c / "fotos/*.jpg").string(), (c / "fotos/*.png").string()});
    EXPECT_EQ(nada.estado, 1);
    EXPECT_EQ(lineas(nada.errores), 2) << nada.errores;
    EXPECT_EQ(nada.errores.find("mismo resultado"), std::string::npos) << nada.errores;
    // Told before the usage error they come with.
    ASSERT_EQ(grabarImagen(fotoDeEscena(8), c / "a.bmp"), std::nullopt);
    fs::create_directory(c / "sub");
    ASSERT_EQ(grabarImagen(fotoDeEscena(8), c / "sub/a.bmp"), std::nullopt);
    const Corrida choque = correr({"-o", (c / "lote").string(), (c / "falta.bmp").string(), (c / "a.bmp").string(),
                                   (c / "sub/a.bmp").string()});
    EXPECT_EQ(choque.estado, kSalidaUso);
    EXPECT_EQ(lineas(choque.errores), 3) << choque.errores;
    EXPECT_EQ(choque.errores.find("escaner: no existe la foto \"" + (c / "falta.bmp").string() + "\"\n"), 0u)
        << choque.errores;
    // A photo whose name starts with a dash, after "--".
    fs::copy_file(c / "a.bmp", c / "-x.bmp");
    const fs::path actual = fs::current_path();
    fs::current_path(c.ruta);
    const Corrida guion = correr({"--", "-x.bmp"});
    fs::current_path(actual);
    EXPECT_EQ(guion.estado, 0) << guion.errores;
    EXPECT_TRUE(fs::exists(c / "-x-hoja.png"));
}

TEST(Comandos, UnaSalidaQueNoSePuedeEscribirNoEsUnExito) {
    // --help into a full device: status 1 and the reason.
    std::FILE* lleno = std::fopen("/dev/full", "w");
    if (lleno) {
        apoyo::Captura errores;
        EXPECT_EQ(ejecutarComandos(2, std::vector<const char*>{"escaner", "--help"}.data(), lleno, errores.f), 1);
        EXPECT_NE(errores.texto().find("no se pudo escribir en la salida estandar"), std::string::npos)
            << errores.texto();
        std::fclose(lleno);
    }
    // A PDF larger than the process may write (a limit on file sizes), stopped at its first page
    // or halfway through: status 1, the JSON says error for every page, and no PDF.
    apoyo::CarpetaTemporal c;
    std::vector<std::string> fotos;
    for (int i = 0; i < 4; ++i) {
        fotos.push_back((c / numerado("p", i, ".jpg")).string());
        grabarBytes(fotos.back(), codificarJpeg(fotoDeEscena(9 + static_cast<std::uint64_t>(i)), 90));
    }
    const std::string pdf = (c / "todo.pdf").string();
    std::vector<std::string> argumentos = {"-j", "2", "-o", pdf};
    argumentos.insert(argumentos.end(), fotos.begin(), fotos.end());
    ASSERT_EQ(correr(argumentos).estado, 0);
    const auto entero = static_cast<rlim_t>(fs::file_size(pdf));
    fs::remove(pdf);
    for (const auto& [limite, cuantas] : {std::pair{rlim_t{16 * 1024}, 1}, std::pair{entero / 2, 4}}) {
        SCOPED_TRACE(limite);
        int tubo[2];
        ASSERT_EQ(::pipe(tubo), 0);
        const pid_t hijo = ::fork();
        if (hijo == 0) {
            ::dup2(tubo[1], STDOUT_FILENO);
            ::close(tubo[0]);
            const int nulo = ::open("/dev/null", O_WRONLY);
            if (nulo >= 0) ::dup2(nulo, STDERR_FILENO);
            const rlimit r{limite, limite};
            ::setrlimit(RLIMIT_FSIZE, &r);
            ::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead of ending the process
            std::vector<const char*> argv = {"escaner", "--json", "-j", "2", "-o", pdf.c_str()};
            for (int i = 0; i < cuantas; ++i) argv.push_back(fotos[std::size_t(i)].c_str());
            argv.push_back(nullptr);
            ::execv(ESCANER_BINARIO, const_cast<char* const*>(argv.data()));
            ::_exit(127);
        }
        ::close(tubo[1]);
        std::string salida;
        char bloque[4096];
        for (ssize_t n; (n = ::read(tubo[0], bloque, sizeof bloque)) > 0;) salida.append(bloque, static_cast<std::size_t>(n));
        ::close(tubo[0]);
        int estado = 0;
        ASSERT_EQ(::waitpid(hijo, &estado, 0), hijo);
        ASSERT_TRUE(WIFEXITED(estado)) << estado;
        EXPECT_EQ(WEXITSTATUS(estado), 1) << salida;
        std::istringstream jsons(salida);
        int errores = 0;
        for (std::string linea; std::getline(jsons, linea);) {
            EXPECT_EQ(campo(linea, "estado"), "error") << linea;
            // The message names the PDF (its quotes escaped in the JSON).
            const std::size_t mensaje = linea.find("\"mensaje\":");
            errores += mensaje != std::string::npos && linea.find("todo.pdf", mensaje) != std::string::npos;
        }
        EXPECT_EQ(errores, cuantas) << salida;
        EXPECT_FALSE(fs::exists(pdf));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(c.ruta), fs::directory_iterator()), 4);
}

TEST(Comandos, ElProgresoEnUnaTerminal) {
    const int maestro = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (maestro < 0 || ::grantpt(maestro) != 0 || ::unlockpt(maestro) != 0) {
        if (maestro >= 0) ::close(maestro);
        GTEST_SKIP() << "skipped: no pseudo-terminal could be opened";
    }
    const int esclavo = ::open(::ptsname(maestro), O_RDWR | O_NOCTTY);
    ASSERT_GE(esclavo, 0);
    std::FILE* terminal = ::fdopen(esclavo, "w");
    ASSERT_NE(terminal, nullptr);
    apoyo::CarpetaTemporal c;
    std::vector<std::string> argumentos = {"escaner", "-j", "1", "-o", (c / "lote").string() + "/"};
    for (int i = 0; i < 2; ++i) {
        argumentos.push_back((c / numerado("t", i, ".bmp")).string());
        ASSERT_EQ(grabarImagen(fotoDeEscena(30 + static_cast<std::uint64_t>(i)), argumentos.back()), std::nullopt);
    }
    std::vector<const char*> argv;
    for (const std::string& a : argumentos) argv.push_back(a.c_str());
    apoyo::Captura salida;
    // One photo: no progress line.
    EXPECT_EQ(ejecutarComandos(static_cast<int>(argv.size()) - 1, argv.data(), salida.f, terminal), 0);
    std::fflush(terminal);
    ::fcntl(maestro, F_SETFL, O_NONBLOCK);
    char sola[256];
    EXPECT_LE(::read(maestro, sola, sizeof sola), 0);
    EXPECT_EQ(ejecutarComandos(static_cast<int>(argv.size()), argv.data(), salida.f, terminal), 0);
    std::fclose(terminal);
    std::string texto;
    char bloque[4096];
    for (ssize_t n; (n = ::read(maestro, bloque, sizeof bloque)) > 0;) texto.append(bloque, static_cast<std::size_t>(n));
    ::close(maestro);
    // Before any photo is done the time left is not guessed; then it is, and the line is cleared
    // at the end.
    EXPECT_NE(texto.find("0/2  " + argumentos[5] + "  quedan calculando"), std::string::npos) << texto;
    EXPECT_NE(texto.find("1/2  " + argumentos[6] + "  quedan "), std::string::npos) << texto;
    EXPECT_EQ(texto.find("quedan -"), std::string::npos) << texto;
    EXPECT_TRUE(texto.ends_with("\r\x1b[K")) << texto;
}

// A run of the command line in a child process under an address-space limit of `deMas` bytes
// beyond what it holds at the start; its status, or 128 plus the signal that ended it.
Corrida correrConMemoria(std::uint64_t deMas, std::vector<std::string> argumentos) {
    argumentos.insert(argumentos.begin(), "escaner");
    std::vector<const char*> argv;
    for (const std::string& a : argumentos) argv.push_back(a.c_str());
    apoyo::Captura salida, errores;
    Corrida c;
    c.estado = apoyo::conMemoriaLimitada(deMas, [&] {
        return ejecutarComandos(static_cast<int>(argv.size()), argv.data(), salida.f, errores.f);
    });
    c.salida = salida.texto();
    c.errores = errores.texto();
    return c;
}

TEST(Comandos, SinMemoriaParaUnaFotoFallaEsaFotoYElLoteSigue) {
    SALTAR_SI_NO_HAY_LIMITE_DE_MEMORIA();
    // A photo with a sheet whose page, at 1200 pixels per inch, takes 400 MB; the next photo has no
    // sheet and needs no page. Under a limit of 150 MB the first fails for memory, alone, in one
    // line, and the second is worked as ever.
    apoyo::CarpetaTemporal carpeta;
    const std::string hoja = (carpeta / "hoja.bmp").string(), gris = (carpeta / "gris.bmp").string();
    ASSERT_EQ(grabarImagen(fotoDeEscena(1), hoja), std::nullopt);
    ASSERT_EQ(grabarImagen(imagenNueva(640, 480, 128), gris), std::nullopt);
    const Corrida c = correrConMemoria(150 << 20, {"-j", "1", "--ppp", "1200", "-o", (carpeta / "lote").string(), hoja, gris});
    EXPECT_EQ(c.estado, 1) << c.errores;
    EXPECT_EQ(lineas(c.errores), 2) << c.errores;
    const std::size_t corte = c.errores.find('\n');
    const std::string primera = c.errores.substr(0, corte), segunda = c.errores.substr(corte + 1);
    EXPECT_NE(primera.find("hoja.bmp\" no cabe en la memoria libre"), std::string::npos) << c.errores;
    EXPECT_NE(segunda.find("gris.bmp\": no se encontraron las cuatro esquinas"), std::string::npos) << c.errores;
    EXPECT_FALSE(fs::exists(carpeta / "lote" / "hoja-hoja.png"));
}

TEST(Comandos, LasFotosSeTrabajanALaVezSoloSiCabenEnLaMemoria) {
    SALTAR_SI_NO_HAY_LIMITE_DE_MEMORIA();
    // Two 24-megapixel PNG photos: each takes 72 MB of planes; two at once do not fit in 130 MB,
    // one does. With -j 2 the second waits for the first, and both are worked.
    // Gray, written by spng from a plain buffer: no plane of the photos' size is made here, where
    // the child would find it kept for reuse.
    apoyo::CarpetaTemporal carpeta;
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{6000, 4000, 8, SPNG_COLOR_TYPE_GRAYSCALE, 0, 0, 0};
    spng_set_ihdr(ctx, &ihdr);
    std::vector<std::uint8_t> gris(6000 * 4000, 200);
    ASSERT_EQ(spng_encode_image(ctx, gris.data(), gris.size(), SPNG_FMT_RAW, SPNG_ENCODE_FINALIZE), 0);
    std::size_t tamano = 0;
    int error = 0;
    auto* datos = static_cast<std::uint8_t*>(spng_get_png_buffer(ctx, &tamano, &error));
    const apoyo::Bytes png(datos, datos + tamano);
    std::free(datos);
    spng_ctx_free(ctx);
    std::vector<std::string> argumentos = {"-j", "2", "-o", (carpeta / "lote").string()};
    for (const char* nombre : {"a.png", "b.png"}) {
        apoyo::escribirArchivo(carpeta / nombre, png);
        argumentos.push_back((carpeta / nombre).string());
    }
    const Corrida c = correrConMemoria(130 << 20, argumentos);
    EXPECT_EQ(c.estado, 1) << c.errores;
    EXPECT_EQ(lineas(c.errores), 2) << c.errores;
    EXPECT_EQ(c.errores.find("memoria"), std::string::npos) << c.errores;
    EXPECT_NE(c.errores.find("a.png\": no se encontraron las cuatro esquinas"), std::string::npos) << c.errores;
    EXPECT_NE(c.errores.find("b.png\": no se encontraron las cuatro esquinas"), std::string::npos) << c.errores;

    // The turns themselves: a photo waits for those before it, and one alone always starts.
    TurnosDeMemoria turnos(100);
    turnos.entrar(0, 1000);
    std::vector<int> orden;
    std::mutex cerrojo;
    std::thread segunda([&] {
        turnos.entrar(1, 60);
        const std::lock_guard<std::mutex> l(cerrojo);
        orden.push_back(1);
    });
    {
        const std::lock_guard<std::mutex> l(cerrojo);
        orden.push_back(0);
    }
    turnos.salir(1000);
    segunda.join();
    EXPECT_EQ(orden, (std::vector<int>{0, 1}));
    turnos.entrar(2, 40);  // 60 + 40 fit in 100
    turnos.salir(60);
    turnos.salir(40);

    // The memory a batch may take: no more than the system has available, and under an
    // address-space limit what the limit leaves, less room for each thread (stack and malloc arena,
    // 144 MiB) and for the blocks kept for reuse (96 MiB).
    std::uint64_t disponible = 0;
    {
        std::ifstream meminfo("/proc/meminfo");
        std::string campo, unidad;
        for (std::uint64_t kb = 0; meminfo >> campo >> kb >> unidad;) {
            if (campo == "MemAvailable:") disponible = kb << 10;
        }
    }
    const std::uint64_t sinLimite = memoriaDisponible(1);
    if (disponible > 0) {
        EXPECT_LE(sinLimite, disponible + (64 << 20));
    }
    const std::uint64_t esperado = std::min<std::uint64_t>(sinLimite, (1024 - 144 - 96) << 20);
    EXPECT_EQ(apoyo::conMemoriaLimitada(std::uint64_t{1} << 30, [&] {
                  const std::uint64_t d = memoriaDisponible(1);
                  return d <= esperado + (8 << 20) && d + (8 << 20) >= esperado ? 0 : 1;
              }),
              0);
}

TEST(Comandos, MaxMegapixeles) {
    apoyo::CarpetaTemporal carpeta;
    const std::string foto = (carpeta / "foto.bmp").string();
    ASSERT_EQ(grabarImagen(fotoDeEscena(1), foto), std::nullopt);  // 640 x 480
    EXPECT_NE(correr({"--help"}).salida.find("--max-megapixeles N"), std::string::npos);
    for (const char* malo : {"0", "901", "abc", "1.5"}) {
        const Corrida c = correr({"--max-megapixeles", malo, foto});
        EXPECT_EQ(c.estado, kSalidaUso) << malo;
        EXPECT_NE(c.errores.find("--max-megapixeles " + std::string(malo) + ": debe ser un entero de 1 a 900"),
                  std::string::npos)
            << c.errores;
    }
    for (const char* bueno : {"1", "900"}) {
        const Corrida c = correr({"--max-megapixeles", bueno, "-o", (carpeta / "hoja.png").string(), foto});
        EXPECT_EQ(c.estado, 0) << c.errores;
    }
    // A megapixel is a million pixels: 640 x 480 is 0.31 of one; 2000 x 600 is more than one.
    const std::string grande = (carpeta / "grande.bmp").string();
    ASSERT_EQ(grabarImagen(imagenNueva(2000, 600, 90), grande), std::nullopt);
    const Corrida c = correr({"--max-megapixeles", "1", "--json", "-o", (carpeta / "lote").string(), foto, grande});
    EXPECT_EQ(c.estado, 1);
    EXPECT_EQ(c.errores, "escaner: \"" + grande + "\" mide 2000 x 600 pixeles, mas de 1 megapixeles: se leen fotos de hasta 1 megapixeles (--max-megapixeles)\n");
    EXPECT_EQ(lineas(c.salida), 2);
}

}  // namespace
