#!/usr/bin/env python3
"""Writes the fuzzer's seed corpus into fuzz/corpus/: tiny BMP files, some good and some not."""

import pathlib
import struct

CARPETA = pathlib.Path(__file__).resolve().parent / "corpus"


def cabecera(ancho, alto, datos, *, info=40, inicio=None, bits=24, compresion=0):
    """File header and information header; a header longer than 40 bytes is padded with zeros."""
    inicio = 14 + info if inicio is None else inicio
    archivo = struct.pack("<2sIHHI", b"BM", inicio + datos, 0, 0, inicio)
    informacion = struct.pack("<IiiHHIIiiII", info, ancho, alto, 1, bits, compresion, datos,
                              3780, 3780, 0, 0)
    informacion += bytes(info - len(informacion))
    return archivo + informacion + bytes(inicio - 14 - info)


def filas(pixeles, ancho, bytes_por_pixel=3):
    """Rows of pixel tuples, each padded to a multiple of 4 bytes."""
    salida = bytearray()
    for fila in pixeles:
        crudo = b"".join(bytes(p) for p in fila)
        assert len(crudo) == ancho * bytes_por_pixel
        salida += crudo + bytes(-len(crudo) % 4)
    return bytes(salida)


def degradado(ancho, alto):
    return [[((7 * c + 3 * r) % 256, (11 * r) % 256, (5 * c * r) % 256) for c in range(ancho)]
            for r in range(alto)]


def bmp(ancho, alto, pixeles=None, **opciones):
    pixeles = degradado(ancho, abs(alto)) if pixeles is None else pixeles
    datos = filas(pixeles, ancho)
    return cabecera(ancho, alto, len(datos), **opciones) + datos


def hoja(ancho, alto):
    """A light quadrilateral on a dark desk, its sides a little off the axes."""
    pixeles = []
    for r in range(alto):
        fila = []
        for c in range(ancho):
            dentro = (2 <= c + (r // 6) <= ancho - 2 and 2 <= r - (c // 6) <= alto - 3)
            fila.append((235, 240, 245) if dentro else (40, 30, 25))
        pixeles.append(fila)
    return pixeles


def main():
    CARPETA.mkdir(exist_ok=True)
    semillas = {
        "2x2.bmp": bmp(2, 2),
        "impar-5x3.bmp": bmp(5, 3),
        "de-arriba-abajo-4x-3.bmp": bmp(4, -3),
        "cabecera-124-inicio-138.bmp": bmp(4, 4, info=124, inicio=138),
        "tira-64x2.bmp": bmp(64, 2),
        "hoja-12x12.bmp": bmp(12, 12, hoja(12, 12)),
        "32-bits.bmp": cabecera(2, 2, 16, bits=32) + bytes(range(16)),
        "comprimida.bmp": cabecera(4, 2, 24, compresion=1) + bytes(range(24)),
        "truncada-8x8.bmp": bmp(8, 8)[:54 + 3 * 24],
        "cabecera-corta.bmp": bmp(2, 2)[:40],
        "sin-firma.bmp": b"MB" + bmp(2, 2)[2:],
    }
    for nombre, contenido in semillas.items():
        (CARPETA / nombre).write_bytes(contenido)


if __name__ == "__main__":
    main()
