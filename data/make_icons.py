#!/usr/bin/env python3
"""Renders the program icon (app/resources/make_glyphs.py draws it on a 16 x 16 grid) for the desktop's
hicolor icon theme: PNG files at the usual sizes, enlarged pixel by pixel so that the drawing stays sharp
(24 x 24 holds the 16 x 16 drawing with a transparent margin), and an SVG of the same pixels for any other
size. Run from this folder; the files are committed, so the build does not need Python."""

import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.dont_write_bytecode = True  # nothing left behind in app/resources
sys.path.insert(0, str(HERE.parent / "app" / "resources"))
import make_glyphs  # noqa: E402

NAME = "org.kavrel.Kavrel"


def framed(icon, size):
    canvas = make_glyphs.Canvas(size)
    offset = (size - icon.size) // 2
    for y in range(icon.size):
        for x in range(icon.size):
            canvas.px[y + offset][x + offset] = icon.px[y][x]
    return canvas


def svg(icon):
    rects = []
    for y in range(icon.size):
        x = 0
        while x < icon.size:
            colour = icon.px[y][x]
            run = 1
            while x + run < icon.size and icon.px[y][x + run] == colour:
                run += 1
            if colour:
                rects.append('<rect x="%d" y="%d" width="%d" height="1" fill="#%02x%02x%02x"/>' % (x, y, run, *colour))
            x += run
    return ('<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 16 16" '
            'shape-rendering="crispEdges">\n' + "\n".join(rects) + "\n</svg>\n")


def main():
    icon = make_glyphs.Canvas()
    make_glyphs.program_icon(icon)
    for size in (16, 24, 32, 48, 64, 128, 256):
        folder = HERE / "icons" / "hicolor" / f"{size}x{size}" / "apps"
        folder.mkdir(parents=True, exist_ok=True)
        if size % 16 == 0:
            make_glyphs.png(icon, folder / f"{NAME}.png", size // 16)
        else:
            make_glyphs.png(framed(icon, size), folder / f"{NAME}.png")
    folder = HERE / "icons" / "hicolor" / "scalable" / "apps"
    folder.mkdir(parents=True, exist_ok=True)
    (folder / f"{NAME}.svg").write_text(svg(icon))


if __name__ == "__main__":
    main()
