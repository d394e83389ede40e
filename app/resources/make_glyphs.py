#!/usr/bin/env python3
"""Draws the program's 16 x 16 glyphs and icon as PNG files (no dependencies beyond the standard
library). Run from this folder; the PNG files are committed, so the build does not need Python."""

import struct
import zlib
from pathlib import Path

HERE = Path(__file__).resolve().parent

COLOURS = {
    ".": None,
    "k": (0x20, 0x20, 0x20), "g": (0x80, 0x80, 0x80), "s": (0xC8, 0xC8, 0xC8), "w": (0xFF, 0xFF, 0xFF),
    "d": (0x50, 0x50, 0x50),
    "o": (0x8A, 0x62, 0x10), "Y": (0xE8, 0xB8, 0x3C), "y": (0xFF, 0xDC, 0x6E),
    "n": (0x1C, 0x33, 0x70), "b": (0x2F, 0x64, 0xC8), "B": (0x9C, 0xC4, 0xFF), "c": (0x5A, 0xC8, 0xF0),
    "r": (0xD8, 0x28, 0x28), "R": (0x90, 0x10, 0x10),
    "G": (0x2E, 0x9A, 0x3E), "L": (0x8C, 0xDC, 0x7A), "D": (0x1A, 0x60, 0x26),
    "p": (0xF6, 0xC8, 0x98), "P": (0xC8, 0x8A, 0x5A),
}


class Canvas:
    def __init__(self, size=16):
        self.size = size
        self.px = [[None] * size for _ in range(size)]

    def put(self, x, y, c):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.px[y][x] = COLOURS[c]

    def fill(self, x0, y0, x1, y1, c):  # inclusive corners
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, c)

    def frame(self, x0, y0, x1, y1, c):
        for x in range(x0, x1 + 1):
            self.put(x, y0, c)
            self.put(x, y1, c)
        for y in range(y0, y1 + 1):
            self.put(x0, y, c)
            self.put(x1, y, c)

    def dotted(self, x0, y0, x1, y1, c):
        for x in range(x0, x1 + 1):
            if (x - x0) % 2 == 0:
                self.put(x, y0, c)
                self.put(x, y1, c)
        for y in range(y0, y1 + 1):
            if (y - y0) % 2 == 0:
                self.put(x0, y, c)
                self.put(x1, y, c)

    def line(self, x0, y0, x1, y1, c):
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        err = dx + dy
        while True:
            self.put(x0, y0, c)
            if x0 == x1 and y0 == y1:
                return
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy

    def grid(self, rows, x0=0, y0=0):
        for y, row in enumerate(rows):
            assert len(row) == len(rows[0]), row
            for x, ch in enumerate(row):
                if ch != ".":
                    self.put(x0 + x, y0 + y, ch)

    def window(self, x0, y0, x1, y1, title="b"):
        self.fill(x0, y0, x1, y1, "w")
        self.frame(x0, y0, x1, y1, "k")
        self.fill(x0 + 1, y0 + 1, x1 - 1, y0 + 2, title)

    def page(self, x0=3, y0=1, x1=12, y1=14):
        self.fill(x0, y0, x1, y1, "w")
        self.frame(x0, y0, x1, y1, "g")
        for x in range(x1 - 2, x1 + 1):  # folded corner
            self.put(x, y0, None if False else ".")
        self.put(x1 - 3, y0, "g")
        self.line(x1 - 3, y0, x1 - 3, y0 + 3, "g")
        self.line(x1 - 3, y0 + 3, x1, y0 + 3, "g")
        self.line(x1 - 3, y0, x1, y0 + 3, "g")
        self.fill(x1 - 1, y0 + 1, x1, y0 + 2, ".")
        self.put(x1, y0 + 1, ".")


COLOURS["."] = None


def png(canvas, path, scale=1):
    size = canvas.size * scale
    raw = bytearray()
    for y in range(size):
        raw.append(0)
        for x in range(size):
            c = canvas.px[y // scale][x // scale]
            raw.extend((*c, 255) if c else (0, 0, 0, 0))
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    data += chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")
    path.write_bytes(data)


def new_page(c):
    c.page()


def text_page(c):
    c.page()
    for y in (6, 8, 10, 12):
        c.line(5, y, 10, y, "g")


def printer(c):
    c.fill(4, 1, 11, 6, "w"); c.frame(4, 1, 11, 6, "g")
    c.fill(1, 6, 14, 12, "s"); c.frame(1, 6, 14, 12, "k")
    c.fill(3, 10, 12, 14, "w"); c.frame(3, 10, 12, 14, "g")
    c.put(12, 8, "G")


def magnifier(c):
    c.grid(["..kkkk..",
            ".kBBwBk.",
            "kBBBBwBk",
            "kBBBBBBk",
            "kBBBBBBk",
            "kBBBBBBk",
            ".kBBBBk.",
            "..kkkk.."], 1, 1)
    for i in range(4):
        c.fill(8 + i, 8 + i, 9 + i, 9 + i, "o")
    c.fill(12, 12, 13, 13, "o")


def question(c):
    c.grid(["...bbbbbb...",
            "..bbbbbbbb..",
            ".bbbwwwwbbb.",
            ".bbwbbbbwbb.",
            ".bbbbbbbwbb.",
            ".bbbbbbwbbb.",
            ".bbbbbwbbbb.",
            ".bbbbbwbbbb.",
            "..bbbbbbbb..",
            "...bbwbbb...",
            "....bbbb....",
            ".....bb....."], 2, 2)


def arrow(c, left):
    rows = ["....k.......",
            "...kGk......",
            "..kGGkkkkk..",
            ".kGGGGGGGGk.",
            "kGGGGGGGGGGk",
            ".kGGGGGGGGGk",
            "..kGGkkkkGGk",
            "...kGk...kGk",
            "....k....kGk",
            "........kGk.",
            ".......kGk..",
            "........k..."]
    if not left:
        rows = [r[::-1] for r in rows]
    c.grid(rows, 2, 2)


def open_folder(c):
    c.grid(["................",
            "................",
            ".ooooo..........",
            "oYYYYYo.........",
            "oYYYYYYoooooooo.",
            "oYYYYYYYYYYYYYo.",
            "oYYYYYYYYYYYYYo.",
            "oYYYoooooooooooo",
            "oYYoyyyyyyyyyyyo",
            "oYoyyyyyyyyyyyo.",
            "oYoyyyyyyyyyyyo.",
            "ooyyyyyyyyyyyo..",
            "ooyyyyyyyyyyyo..",
            "oooooooooooooo..",
            "................",
            "................"])


def floppy(c):
    c.grid([".nnnnnnnnnnnnnn.",
            "nbbwwwwwwwwwwbbn",
            "nbbwwwwwwwwwwbbn",
            "nbbwggggggggwbbn",
            "nbbwwwwwwwwwwbbn",
            "nbbwggggggggwbbn",
            "nbbwwwwwwwwwwbbn",
            "nbbbbbbbbbbbbbbn",
            "nbbbbbbbbbbbbbbn",
            "nbbbsssssssssbbn",
            "nbbbsssnnssssbbn",
            "nbbbsssnnssssbbn",
            "nbbbsssnnssssbbn",
            "nbbbsssssssssbbn",
            ".nnnnnnnnnnnnnn.",
            "................"])


def save_as(c):
    floppy(c)
    c.line(9, 14, 15, 8, "o"); c.line(9, 15, 15, 9, "y"); c.put(9, 15, "k")


def two_pages(c):
    c.page(1, 1, 9, 11)
    c.page(6, 4, 14, 14)
    for y in (8, 10, 12):
        c.line(8, y, 12, y, "g")


def clipboard(c):
    c.fill(2, 2, 13, 15, "o"); c.frame(2, 2, 13, 15, "k")
    c.fill(4, 4, 11, 14, "w")
    c.fill(5, 1, 10, 3, "s"); c.frame(5, 1, 10, 3, "k")
    for y in (7, 9, 11):
        c.line(5, y, 10, y, "g")


def scissors(c):
    c.line(4, 1, 9, 9, "g"); c.line(11, 1, 6, 9, "g")
    c.line(5, 1, 10, 9, "s"); c.line(10, 1, 5, 9, "s")
    for cx in (4, 11):
        c.frame(cx - 2, 10, cx + 2, 14, "r")


def red_cross(c):
    for i in range(10):
        c.fill(3 + i, 3 + i, 4 + i, 4 + i, "r")
        c.fill(12 - i, 3 + i, 13 - i, 4 + i, "r")


def properties(c):
    c.page()
    c.line(5, 9, 7, 11, "G"); c.line(7, 11, 11, 6, "G")
    c.line(5, 10, 7, 12, "D"); c.line(7, 12, 11, 7, "D")


def tile_horizontal(c):
    c.window(0, 1, 15, 7)
    c.window(0, 8, 15, 14)


def tile_vertical(c):
    c.window(0, 1, 7, 14)
    c.window(8, 1, 15, 14)


def cascade(c):
    for off in (0, 3, 6):
        c.window(off, off, off + 9, off + 9)


def close_window(c):
    c.window(1, 1, 14, 14)
    c.fill(11, 2, 13, 3, "b")
    for i in range(5):
        c.put(5 + i, 6 + i, "r"); c.put(9 - i, 6 + i, "r")
        c.put(6 + i, 6 + i, "r"); c.put(10 - i, 6 + i, "r")


def monitor(c):
    c.fill(0, 1, 15, 12, "s"); c.frame(0, 1, 15, 12, "k")
    for y in range(3, 11):
        for x in range(2, 14):
            c.put(x, y, "b" if ((x - 2) // 2 + (y - 3) // 2) % 2 == 0 else "c")
    c.frame(1, 2, 14, 11, "g")
    c.fill(6, 13, 9, 13, "g"); c.fill(3, 14, 12, 14, "k")


def checkered_area(c):
    c.dotted(0, 0, 15, 15, "k")
    for y in range(4, 12):
        for x in range(4, 12):
            c.put(x, y, "r" if ((x - 4) // 2 + (y - 4) // 2) % 2 == 0 else "w")
    c.frame(3, 3, 12, 12, "k")


def window_in_frame(c):
    c.dotted(0, 0, 15, 15, "k")
    c.window(3, 3, 12, 12)


def bar_in_frame(c):
    c.dotted(0, 0, 15, 15, "k")
    c.fill(3, 6, 12, 9, "s")
    c.frame(3, 6, 12, 9, "k")
    c.line(4, 7, 11, 7, "w")


def exit_door(c):
    c.grid(["................",
            ".ggggggggg......",
            ".gkkkkkkkg......",
            ".gkkkkkoYg...pp.",
            ".gkkkkkoYg...pp.",
            ".gkkkkkoYg.GGG..",
            ".gkkkkkoYgGGGGG.",
            ".gkkkkkoYG.GGG.G",
            ".gkkkkkoYg.GGG..",
            ".gkkkkkoYg.GGG..",
            ".gkkkkkoYg.G.G..",
            ".gkkkkkoYgG...G.",
            ".gkkkkkoYG....G.",
            ".gkkkkkoYg....GG",
            "gggggggggggg....",
            "................"])


def info(c):
    c.grid(["....bbbbbb....",
            "..bbbbbbbbbb..",
            ".bbbbbwwbbbbb.",
            ".bbbbbwwbbbbb.",
            "bbbbbbbbbbbbbb",
            "bbbbbwwwbbbbbb",
            "bbbbbbwwbbbbbb",
            "bbbbbbwwbbbbbb",
            "bbbbbbwwbbbbbb",
            ".bbbbbwwbbbbb.",
            ".bbbbwwwwbbbb.",
            "..bbbbbbbbbb..",
            "....bbbbbb...."], 1, 1)


def envelope(c):
    c.fill(0, 3, 15, 12, "w"); c.frame(0, 3, 15, 12, "g")
    c.line(0, 3, 7, 9, "g"); c.line(15, 3, 8, 9, "g")
    c.line(0, 12, 6, 8, "s"); c.line(15, 12, 9, 8, "s")


def globe(c):
    c.grid(["....nnnnnn....",
            "..nnbbbbbbnn..",
            ".nbbbGGbbbbbn.",
            ".nbGGGGGbbGbn.",
            "nbbGGGGbbGGGbn",
            "nbbbGGGbbbGGbn",
            "nbbbbGGbbbbbbn",
            "nbbbbbGGGbbbbn",
            "nbbbbbbGGGGbbn",
            "nbbbbbbGGGbbbn",
            ".nbbbbbbGGbbn.",
            ".nbbbbbbGbbbn.",
            "..nnbbbbbbnn..",
            "....nnnnnn...."], 1, 1)
    for y in range(2, 14):
        if c.px[y][8] == COLOURS["b"]:
            c.put(8, y, "B")


def raised_hand(c):
    c.grid(["......P.........",
            "....P.pP.P......",
            "...PpPpPpP......",
            "...PpPpPpP......",
            "...PpPpPpP......",
            "...PpPpPpP...P..",
            "...PpPpPpP..PpP.",
            "...PpppppP.PppP.",
            "...PpppppPPpppP.",
            "...PpppppppppP..",
            "...PppppppppP...",
            "....PpppppppP...",
            "....PppppppP....",
            ".....PpppppP....",
            ".....PpppppP....",
            ".....PPPPPPP...."])


def program_icon(c):
    # A picture (sky, hill, sun) under a red selection corner: a screenshot and picture viewer.
    c.fill(1, 2, 14, 13, "B")
    c.fill(1, 10, 14, 13, "G")
    c.line(1, 10, 5, 7, "G"); c.line(5, 7, 9, 10, "G")
    c.fill(2, 9, 8, 10, "G"); c.fill(4, 8, 6, 9, "G")
    c.line(8, 11, 11, 8, "D"); c.line(11, 8, 14, 11, "D"); c.fill(10, 9, 13, 10, "D"); c.fill(9, 11, 14, 11, "D")
    c.fill(10, 3, 12, 5, "y"); c.put(11, 2, "y"); c.put(13, 4, "y")
    c.frame(1, 2, 14, 13, "n")
    for x, y in ((0, 0), (15, 0), (0, 15), (15, 15)):
        dx = 1 if x == 0 else -1
        dy = 1 if y == 0 else -1
        for i in range(4):
            c.put(x + dx * i, y, "r"); c.put(x, y + dy * i, "r")


GLYPHS = {
    0: new_page, 1: text_page, 2: printer, 3: magnifier, 4: question,
    5: lambda c: arrow(c, True), 6: lambda c: arrow(c, False),
    7: open_folder, 8: floppy, 9: save_as, 10: two_pages, 11: clipboard, 12: scissors, 13: red_cross,
    14: properties, 15: tile_horizontal, 16: tile_vertical, 17: cascade, 18: close_window,
    19: monitor, 20: checkered_area, 21: window_in_frame, 22: bar_in_frame, 23: exit_door, 24: info,
    25: envelope, 26: globe, 27: raised_hand,
}


def main():
    for index, draw in GLYPHS.items():
        c = Canvas()
        draw(c)
        png(c, HERE / "glyphs" / f"{index:02d}.png")
    icon = Canvas()
    program_icon(icon)
    png(icon, HERE / "icons" / "kavrel.png")
    png(icon, HERE / "icons" / "kavrel-32.png", 2)
    png(icon, HERE / "icons" / "kavrel-48.png", 3)


if __name__ == "__main__":
    main()
