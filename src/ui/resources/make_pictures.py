#!/usr/bin/env python3
"""Draws the window background tile and the program icon as small PNG files.

Run from this folder when the pictures are to change; the PNG files are kept in the repository
and built into the program through lumenvale.qrc. Only the standard library is needed.
"""
import math
import random
import struct
import zlib


def write_png(name, width, height, rows, alpha):
    """rows: list of rows, each a list of (r, g, b) or (r, g, b, a) tuples."""
    raw = bytearray()
    for row in rows:
        raw.append(0)  # no filter
        for pixel in row:
            raw.extend(pixel)
    colour_type = 6 if alpha else 2

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(name, "wb") as out:
        out.write(png)


def background():
    """A pale night-blue tile with faint stars: light enough for dark text on top, and
    seamless when tiled."""
    size = 64
    base = (214, 222, 234)
    rows = [[base] * size for _ in range(size)]
    rng = random.Random(1969)
    for _ in range(14):
        x, y = rng.randrange(size), rng.randrange(size)
        shade = rng.choice([(196, 206, 222), (186, 198, 216), (236, 240, 246)])
        rows[y][x] = shade
        if rng.random() < 0.3:  # a brighter star gets a small cross, wrapped at the edges
            for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
                rows[(y + dy) % size][(x + dx) % size] = (204, 213, 228)
    write_png("background.png", size, size, rows, alpha=False)


def icon():
    """A night-sky disc with a crescent moon and two stars."""
    size = 32
    rows = []
    c = (size - 1) / 2
    for y in range(size):
        row = []
        for x in range(size):
            r = math.hypot(x - c, y - c)
            if r > 15.5:
                row.append((0, 0, 0, 0))
                continue
            pixel = (22, 34, 78, 255)
            moon = math.hypot(x - 12, y - 13) < 8.5 and math.hypot(x - 15.5, y - 10.5) >= 7.5
            if moon:
                pixel = (250, 226, 140, 255)
            if (x, y) in ((23, 9), (22, 22), (9, 24)) or (
                abs(x - 23) + abs(y - 9) == 1
            ):
                pixel = (240, 244, 255, 255)
            if r > 14.5:
                pixel = (120, 140, 190, 255)
            row.append(pixel)
        rows.append(row)
    write_png("icon.png", size, size, rows, alpha=True)


if __name__ == "__main__":
    background()
    icon()
