#!/usr/bin/env python3
"""The review page in a real browser: headless Chromium, driven through chromedriver and Selenium.

    navegador.py --escaner BINARY --ejemplo PHOTO [--captura PNG] [--obligatorio]

Two photos are reviewed: a plain grey one (no sheet) and PHOTO (a sheet). The test checks that the
photo without a sheet comes first and marked, with default corners; drags a corner of the other
with the mouse and sees the magnifier; nudges another with Tab and the arrow keys (Shift for 10);
resets the plain one; sees the preview follow; saves, and checks the pages, the JSON lines and the
corners file the run writes. A second run is closed from the browser: it ends with status 1 and
writes nothing. With --captura, a screenshot of the page is kept there.

Exit status: 0 passed, 1 failed, 77 skipped (no Chromium, chromedriver or Selenium), unless
--obligatorio, where a missing browser fails.
"""

import argparse
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

SALTAR = 77


def saltar(motivo, obligatorio):
    if obligatorio:
        print("FALLO: " + motivo + " (the browser test is required in this build)")
        sys.exit(1)
    # As Google Test says it, so that tests/omitidas repeats the reason after the run.
    print("navegador.py: Skipped\n" + motivo + "\n[  SKIPPED ] Revision.Navegador")
    sys.exit(SALTAR)


def fallo(mensaje):
    raise AssertionError(mensaje)


def bmp_gris(ruta, ancho, alto, valor):
    """A 24-bit BMP of one grey."""
    fila = bytes([valor]) * (3 * ancho) + b"\0" * ((4 - 3 * ancho % 4) % 4)
    pixeles = fila * alto
    cabecera = b"BM" + struct.pack("<IHHI", 54 + len(pixeles), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, ancho, alto, 1, 24, 0, len(pixeles), 2835, 2835, 0, 0)
    with open(ruta, "wb") as f:
        f.write(cabecera + info + pixeles)


def bmp_ampliado(origen, destino, veces):
    """A 24-bit bottom-up BMP made `veces` times larger, each pixel repeated."""
    with open(origen, "rb") as f:
        datos = f.read()
    inicio, = struct.unpack_from("<I", datos, 10)
    ancho, alto = struct.unpack_from("<ii", datos, 18)
    paso = (3 * ancho + 3) // 4 * 4
    nuevo = ancho * veces
    relleno = b"\0" * ((4 - 3 * nuevo % 4) % 4)
    filas = []
    for y in range(alto):
        fila = datos[inicio + y * paso:inicio + y * paso + 3 * ancho]
        ancha = b"".join(fila[3 * x:3 * x + 3] * veces for x in range(ancho)) + relleno
        filas.extend([ancha] * veces)
    pixeles = b"".join(filas)
    cabecera = b"BM" + struct.pack("<IHHI", 54 + len(pixeles), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, nuevo, alto * veces, 1, 24, 0, len(pixeles), 2835, 2835, 0, 0)
    with open(destino, "wb") as f:
        f.write(cabecera + info + pixeles)


class Corrida:
    """escaner --revisar in a child process; the address is its first line."""

    todas = []  # to be ended if a test fails before they end

    def __init__(self, escaner, carpeta, argumentos):
        self.salida = open(os.path.join(carpeta, "salida.txt"), "w+")
        self.errores = open(os.path.join(carpeta, "errores.txt"), "w+")
        self.proceso = subprocess.Popen([escaner, "--revisar"] + argumentos, cwd=carpeta,
                                        stdout=self.salida, stderr=self.errores)
        Corrida.todas.append(self.proceso)
        self.direccion = None
        limite = time.time() + 20
        while time.time() < limite and self.proceso.poll() is None:
            self.salida.seek(0)
            linea = self.salida.readline()
            if linea.endswith("\n"):
                self.direccion = linea.strip()
                break
            time.sleep(0.05)
        if not self.direccion:
            fallo("no address printed; stderr: " + self.texto_errores())

    def esperar(self, segundos):
        try:
            return self.proceso.wait(timeout=segundos)
        except subprocess.TimeoutExpired:
            self.proceso.kill()
            fallo("the run did not end within %d s" % segundos)

    def lineas(self):
        self.salida.seek(0)
        return self.salida.read().splitlines()

    def texto_errores(self):
        self.errores.seek(0)
        return self.errores.read()


def esperar(condicion, segundos, que):
    limite = time.time() + segundos
    while time.time() < limite:
        valor = condicion()
        if valor:
            return valor
        time.sleep(0.05)
    fallo("timed out waiting for " + que)


def navegador(webdriver, perfil):
    opciones = webdriver.ChromeOptions()
    for a in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
              "--disable-background-networking", "--disable-component-update", "--disable-sync",
              "--disable-dev-shm-usage", "--window-size=1400,900", "--user-data-dir=" + perfil):
        opciones.add_argument(a)
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    opciones.binary_location = chromium
    from selenium.webdriver.chrome.service import Service
    return webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=opciones)


def esquinas(d, i):
    return d.execute_script("return window.revision.esquinas[arguments[0]];", i)


def revisar_y_guardar(webdriver, escaner, ejemplo, carpeta, captura):
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys

    bmp_gris(os.path.join(carpeta, "vacia.bmp"), 400, 300, 128)
    bmp_ampliado(ejemplo, os.path.join(carpeta, "hoja.bmp"), 3)
    # The browser is up first, so that the page opens while the large photo is still being
    # detected, as it does for a person.
    d = navegador(webdriver, os.path.join(carpeta, "perfil"))
    try:
        corrida = Corrida(escaner, carpeta, ["--json", "--guardar-esquinas", "esquinas.txt", "-o", "paginas",
                                             "hoja.bmp", "vacia.bmp"])
        if not corrida.direccion.startswith("http://127.0.0.1:") or "?t=" not in corrida.direccion:
            fallo("unexpected address " + corrida.direccion)
        d.get(corrida.direccion)
        esperar(lambda: d.execute_script(
            "const f = window.revision.fotos; return f.length == 2 && f.every(x => x.estado != 'pendiente');"),
            60, "both photos to be detected")
        # The photo shown at first gets its preview once its corners come, untouched.
        esperar(lambda: d.execute_script("return +document.getElementById('vista').dataset.vistas > 0;"),
                20, "the first photo's preview")
        fotos = d.execute_script("return window.revision.fotos;")
        if [f["estado"] for f in fotos] != ["hoja", "sin-hoja"]:
            fallo("states " + str([f["estado"] for f in fotos]))
        # The photo without a sheet first, marked, with corners a tenth inside its edges.
        primera = d.find_elements(By.CSS_SELECTOR, "#lista li")[0]
        if "vacia.bmp" not in primera.text or "sin hoja" not in primera.text:
            fallo("first in the list: " + primera.text)
        if esquinas(d, 1) != [[40, 30], [359, 30], [359, 269], [40, 269]]:
            fallo("default corners " + str(esquinas(d, 1)))

        # The photo with a sheet: its detected corners as handles.
        d.find_elements(By.CSS_SELECTOR, "#lista li")[1].click()
        esperar(lambda: d.execute_script("return document.getElementById('foto').naturalWidth > 0 && "
                                         "window.revision.actual == 0;"), 20, "the photo to show")
        esperar(lambda: d.execute_script("return +document.getElementById('vista').dataset.vistas > 0;"),
                20, "the first preview")
        detectadas = esquinas(d, 0)
        if captura:
            # The page as it opens, the magnifier shown on the top-right corner.
            d.execute_script("window.revision.elegida = 1; pintarFoto(false); pintarLupa(1);")
            d.save_screenshot(captura)
            d.execute_script("window.revision.elegida = 0; pintarFoto(false);"
                             "document.getElementById('lupa').style.display = 'none';")
        if detectadas != fotos[0]["esquinas"]:
            fallo("shown corners differ from the detected ones")
        escala = d.execute_script("const f = document.getElementById('foto');"
                                  "return window.revision.fotos[0].ancho / f.getBoundingClientRect().width;")

        # Dragging the top-left corner 30 screen pixels right and 20 down, with the magnifier shown.
        vistas = d.execute_script("return +document.getElementById('vista').dataset.vistas;")
        asa = d.find_element(By.ID, "esquina-0")
        acciones = ActionChains(d)
        acciones.click_and_hold(asa).move_by_offset(10, 5).move_by_offset(20, 15).perform()
        if not d.execute_script("return getComputedStyle(document.getElementById('lupa')).display == 'block';"):
            fallo("no magnifier while dragging")
        ActionChains(d).release().perform()
        movida = esquinas(d, 0)[0]
        for eje, paso in ((0, 30), (1, 20)):
            if abs(movida[eje] - (detectadas[0][eje] + paso * escala)) > 2 * escala:
                fallo("dragged corner at %s, from %s, scale %s" % (movida, detectadas[0], escala))
        esperar(lambda: d.execute_script("return +document.getElementById('vista').dataset.vistas;") > vistas,
                20, "the preview after the drag")

        # Tab to the next corner, then Shift+Right (10 pixels) and Down (1 pixel).
        cuerpo = d.find_element(By.TAG_NAME, "body")
        cuerpo.send_keys(Keys.TAB)
        ActionChains(d).key_down(Keys.SHIFT).send_keys(Keys.ARROW_RIGHT).key_up(Keys.SHIFT).perform()
        cuerpo.send_keys(Keys.ARROW_DOWN)
        empujada = esquinas(d, 0)[1]
        esperada = [round(detectadas[1][0] + 10, 2), round(detectadas[1][1] + 1, 2)]
        if [round(v, 2) for v in empujada] != esperada:
            fallo("nudged corner at %s, expected %s" % (empujada, esperada))

        # The plain photo: a nudge, then "as detected" puts its default corners back.
        d.find_elements(By.CSS_SELECTOR, "#lista li")[0].click()
        esperar(lambda: d.execute_script("return window.revision.actual == 1;"), 10, "the plain photo")
        cuerpo.send_keys(Keys.ARROW_LEFT)
        if esquinas(d, 1)[0] != [39, 30]:
            fallo("nudge on the plain photo: " + str(esquinas(d, 1)))
        d.find_element(By.ID, "restablecer").click()
        if esquinas(d, 1) != [[40, 30], [359, 30], [359, 269], [40, 269]]:
            fallo("reset corners " + str(esquinas(d, 1)))

        final = {0: esquinas(d, 0), 1: esquinas(d, 1)}
        d.find_element(By.ID, "guardar").click()
        esperar(lambda: d.execute_script("return document.body.dataset.guardado !== undefined;"), 60, "the save")
    finally:
        d.quit()

    estado = corrida.esperar(30)
    if estado != 0:
        fallo("status %d after saving; stderr: %s" % (estado, corrida.texto_errores()))
    lineas = corrida.lineas()
    objetos = [json.loads(l) for l in lineas[1:]]
    if [o["foto"] for o in objetos] != ["hoja.bmp", "vacia.bmp"] or any(o["estado"] != "ok" for o in objetos):
        fallo("JSON lines " + str(lineas[1:]))
    for i, o in enumerate(objetos):
        if [[round(v, 2) for v in p] for p in final[i]] != o["esquinas"]:
            fallo("saved corners %s, shown %s" % (o["esquinas"], final[i]))
        with open(os.path.join(carpeta, o["salida"]), "rb") as f:
            if f.read(8) != b"\x89PNG\r\n\x1a\n":
                fallo(o["salida"] + " is not a PNG")
    with open(os.path.join(carpeta, "esquinas.txt")) as f:
        guardadas = f.read()
    # The corners file holds the same lines as --json.
    if guardadas.splitlines() != lineas[1:]:
        fallo("corners file: " + guardadas)
    print("saved: " + " | ".join(lineas[1:]))


def cerrar_sin_guardar(webdriver, escaner, ejemplo, carpeta):
    os.makedirs(carpeta)
    shutil.copy(ejemplo, os.path.join(carpeta, "hoja.bmp"))
    corrida = Corrida(escaner, carpeta, ["--json", "hoja.bmp"])
    d = navegador(webdriver, os.path.join(carpeta, "perfil"))
    try:
        d.get(corrida.direccion)
        esperar(lambda: d.execute_script("return window.revision.fotos.length == 1;"), 20, "the page")
        d.get("about:blank")
    finally:
        d.quit()
    estado = corrida.esperar(30)
    if estado != 1:
        fallo("closing the page: status %d" % estado)
    if "sin guardar" not in corrida.texto_errores():
        fallo("closing the page: stderr " + corrida.texto_errores())
    if os.path.exists(os.path.join(carpeta, "hoja-hoja.png")) or len(corrida.lineas()) != 1:
        fallo("closing the page wrote something")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--escaner", required=True)
    p.add_argument("--ejemplo", required=True)
    p.add_argument("--captura")
    p.add_argument("--obligatorio", action="store_true")
    a = p.parse_args()
    if not (shutil.which("chromium") or shutil.which("chromium-browser")):
        saltar("no Chromium (apt-get install chromium)", a.obligatorio)
    if not shutil.which("chromedriver"):
        saltar("no chromedriver (apt-get install chromium-driver)", a.obligatorio)
    try:
        from selenium import webdriver
    except ImportError:
        saltar("no Selenium for " + sys.executable + " (apt-get install python3-selenium)", a.obligatorio)
    carpeta = tempfile.mkdtemp(prefix="escaner-revision-")
    try:
        revisar_y_guardar(webdriver, os.path.abspath(a.escaner), os.path.abspath(a.ejemplo), carpeta,
                          os.path.abspath(a.captura) if a.captura else None)
        cerrar_sin_guardar(webdriver, os.path.abspath(a.escaner), os.path.abspath(a.ejemplo),
                           os.path.join(carpeta, "cerrada"))
    except AssertionError as e:
        for proceso in Corrida.todas:
            if proceso.poll() is None:
                proceso.kill()
                proceso.wait()
        print("FALLO: " + str(e))
        print("kept in " + carpeta)
        return 1
    shutil.rmtree(carpeta, ignore_errors=True)
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
