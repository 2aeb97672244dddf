#!/usr/bin/python3
"""Draws the pictures of the school and teacher picker window.

Run from anywhere: writes the PNG files beside this script. Only the standard
library is used, so the pictures can be remade on any machine:
    /usr/bin/python3 assets/school_pictures.py

school_back.png          360 x 600  window background; RGB 0,0,255 outside
                                     the rounded outline cuts the window shape
school_panel.png         345 x 527  the tab pages' skinned panel
school_close_normal.png  16 x 15    close button: normal, under the mouse,
school_close_hover.png               pressed
school_close_pressed.png
Each is also drawn at twice its size (name@2x.png) for screens scaled x2:
lengths, radii and lines are doubled, the colours are the same.
"""
import math
import os
import struct
import zlib

KEY = (0, 0, 255)
FRAME = (18, 84, 96)  # thin dark-teal frame
BAND_TOP = (30, 90, 160)  # header band, a dark-blue gradient
BAND_BOTTOM = (10, 46, 104)
BAND_HEIGHT = 61
BODY = (255, 255, 255)
PANEL_EDGE = (204, 226, 236)
MARK = (195, 229, 244)  # same light blue as the tab captions
RADIUS = 6


def write_png(path, width, height, pixel):
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            rows.extend(pixel(x, y))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(rows), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as out:
        out.write(png)


def mix(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def band(y):
    return mix(BAND_TOP, BAND_BOTTOM, min(max(y / (BAND_HEIGHT - 1), 0.0), 1.0))


def corner_distance(x, y, width, height, radius):
    """How far pixel (x, y) lies outside the rounded rectangle's corner arcs
    (<= 0 inside); None when the pixel is not in a corner square."""
    cx = radius - 0.5 if x < radius else width - radius - 0.5 if x >= width - radius else None
    cy = radius - 0.5 if y < radius else height - radius - 0.5 if y >= height - radius else None
    if cx is None or cy is None:
        return None
    return math.hypot(x - cx, y - cy) - radius


def background(scale=1):
    width, height = 360 * scale, 600 * scale

    def pixel(x, y):
        # The outline has no soft edge: every pixel is either the exact key
        # colour (cut away) or part of the window, so the shape stays clean.
        d = corner_distance(x, y, width, height, RADIUS * scale)
        if d is not None and d > 0:
            return KEY
        on_frame = (
            min(x, y, width - 1 - x, height - 1 - y) < scale or (d is not None and d > -1.2 * scale)
        )
        if on_frame:
            return FRAME
        return band(y // scale) if y < BAND_HEIGHT * scale else BODY

    return pixel


def panel(scale=1):
    width, height = 345 * scale, 527 * scale

    def pixel(x, y):
        if min(x, y, width - 1 - x, height - 1 - y) < scale:
            return PANEL_EDGE
        return BODY

    return pixel


def close_button(face, mark, scale=1):
    # The button stands at 336,4 on the header band; its face is drawn over
    # the band's own colours so the normal state blends in.
    def pixel(x, y):
        base = band(y // scale + 4)
        if face is not None and scale <= x < 15 * scale and scale <= y < 14 * scale:
            base = face
        # Distance to the two diagonals of the cross, smoothed over one pixel
        # of the screen; measured in the units of the picture at scale 1.
        px, py = (x + 0.5) / scale, (y + 0.5) / scale
        d = min(abs((px - 4) - (py - 3.5)), abs((px - 4) + (py - 11.5))) / math.sqrt(2)
        inside = 4 <= px <= 12 and 3.5 <= py <= 11.5
        cover = max(0.0, min(1.0, (1.4 - d) * scale)) if inside else 0.0
        return mix(base, mark, cover)

    return pixel


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for scale in (1, 2):
        suffix = "" if scale == 1 else "@%dx" % scale

        def out(name):
            return os.path.join(here, name + suffix + ".png")

        s = scale
        write_png(out("school_back"), 360 * s, 600 * s, background(s))
        write_png(out("school_panel"), 345 * s, 527 * s, panel(s))
        write_png(out("school_close_normal"), 16 * s, 15 * s, close_button(None, MARK, s))
        write_png(out("school_close_hover"), 16 * s, 15 * s, close_button((200, 70, 60), (255, 255, 255), s))
        write_png(out("school_close_pressed"), 16 * s, 15 * s, close_button((150, 40, 35), (235, 235, 235), s))


if __name__ == "__main__":
    main()
