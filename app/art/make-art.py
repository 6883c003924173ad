#!/usr/bin/env python3
"""Draws the program's small pictures as PNG files in this folder.

The start button's two 17 x 17 pictures and the three 16 x 16 toolbar images
are pixel art, written with the standard library only. The toolbar images use
light grey (192, 192, 192) as their background: the program makes that colour
transparent when it loads them. The banner and the icon are SVG files kept by
hand next to this script.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def write_png(name, rows, alpha):
    """rows: list of rows of (r, g, b[, a]) tuples."""
    height = len(rows)
    width = len(rows[0])
    raw = bytearray()
    for row in rows:
        raw.append(0)
        for px in row:
            raw.extend(px if alpha else px[:3])

    def chunk(tag, data):
        return (struct.pack(">I", len(data)) + tag + data
                + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF))

    colour_type = 6 if alpha else 2
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(png)


def from_grid(grid, palette):
    assert all(len(line) == len(grid[0]) for line in grid), "ragged grid"
    return [[palette[c] for c in line] for line in grid]


GREY = (192, 192, 192)  # the image list's transparent colour

EXIT = [
    "................",
    "......#########.",
    "......#WDDDDDD#.",
    "......#WDDDDDD#.",
    "......#WDDDDDD#.",
    "...G..#WDDDDDD#.",
    "..GG..#WDDDDDD#.",
    ".GGGGGGGGDDDYD#.",
    ".GGGGGGGGDDDYD#.",
    "..GG..#WDDDDDD#.",
    "...G..#WDDDDDD#.",
    "......#WDDDDDD#.",
    "......#WDDDDDD#.",
    "......#WDDDDDD#.",
    ".....##########.",
    "................",
]
EXIT_PALETTE = {".": GREY, "#": (64, 32, 0), "D": (160, 96, 32), "W": (208, 152, 80),
                "Y": (255, 224, 0), "G": (0, 128, 0)}

ABOUT = [
    "................",
    ".....######.....",
    "...##BBBBBB##...",
    "..#BBBBWWBBBB#..",
    "..#BBBBWWBBBB#..",
    ".#BBBBBBBBBBBB#.",
    ".#BBBBWWWBBBBB#.",
    ".#BBBBBWWBBBBB#.",
    ".#BBBBBWWBBBBB#.",
    ".#BBBBBWWBBBBB#.",
    ".#BBBBBWWBBBBB#.",
    "..#BBBBWWBBBB#..",
    "..#BBBWWWWBBB#..",
    "...##BBBBBB##...",
    ".....######.....",
    "................",
]
ABOUT_PALETTE = {".": GREY, "#": (0, 0, 128), "B": (0, 72, 200), "W": (255, 255, 255)}

AUDIT = [
    "................",
    "...#####........",
    "..#CCCCC#.......",
    ".#CWWCCCC#......",
    ".#CWCCCCC#......",
    ".#CCCCCCC#......",
    ".#CCCCCCC#......",
    ".#CCCCCCC#......",
    "..#CCCCC#.......",
    "...#####HH......",
    ".........HHH....",
    "..........HHH...",
    "...........HHH..",
    "............HHH.",
    ".............HH.",
    "................",
]
AUDIT_PALETTE = {".": GREY, "#": (0, 0, 0), "C": (200, 232, 255), "W": (255, 255, 255),
                 "H": (128, 64, 0)}


def power_button(face, edge, light, shadow, arrow):
    """A square green key, 17 x 17, with a right-pointing arrow."""
    clear = (0, 0, 0, 0)
    rows = []
    for y in range(17):
        row = []
        for x in range(17):
            corner = (x in (0, 16)) and (y in (0, 16))
            if corner:
                row.append(clear)
            elif x in (0, 16) or y in (0, 16):
                row.append(edge + (255,))
            elif x == 1 or y == 1:
                row.append(light + (255,))
            elif x == 15 or y == 15:
                row.append(shadow + (255,))
            else:
                row.append(face + (255,))
        rows.append(row)
    # The arrow: a shaft from x 4 to 9 on rows 7 to 9, a head from x 9 to 12.
    for y in range(7, 10):
        for x in range(4, 10):
            rows[y][x] = arrow + (255,)
    for x in range(9, 13):
        half = 12 - x
        for y in range(8 - half, 9 + half):
            rows[y][x] = arrow + (255,)
    return rows


def main():
    write_png("toolbar-1.png", from_grid(EXIT, EXIT_PALETTE), alpha=False)
    write_png("toolbar-2.png", from_grid(ABOUT, ABOUT_PALETTE), alpha=False)
    write_png("toolbar-3.png", from_grid(AUDIT, AUDIT_PALETTE), alpha=False)
    write_png("power-rest.png",
              power_button(face=(168, 220, 160), edge=(96, 160, 88), light=(216, 244, 210),
                           shadow=(128, 188, 120), arrow=(236, 250, 232)), alpha=True)
    write_png("power-hot.png",
              power_button(face=(24, 160, 40), edge=(8, 96, 20), light=(96, 208, 104),
                           shadow=(16, 120, 28), arrow=(255, 255, 255)), alpha=True)


if __name__ == "__main__":
    main()
