#!/usr/bin/env python3
"""Draws the four tile images (secure, atrisk, neutral, warning) as 150x150 PNGs.

Run from this folder to regenerate them; the build copies the committed PNGs beside the
libraries. Standard library only: a disc in the state's colour with a white glyph,
anti-aliased by 4x4 supersampling.
"""
import math
import struct
import zlib

SIZE = 150
SAMPLES = 4


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


GLYPHS = {
    # polylines in unit coordinates (0..1), stroke width in the same unit
    "secure": ([[(0.30, 0.52), (0.44, 0.66), (0.71, 0.37)]], 0.085),
    "atrisk": ([[(0.34, 0.34), (0.66, 0.66)], [(0.66, 0.34), (0.34, 0.66)]], 0.085),
    "neutral": ([[(0.30, 0.50), (0.70, 0.50)]], 0.085),
    "warning": ([[(0.50, 0.27), (0.50, 0.58)], [(0.50, 0.72), (0.50, 0.72)]], 0.09),
}
COLOURS = {
    "secure": (0x1E, 0x8E, 0x3E),
    "atrisk": (0xC5, 0x22, 0x1F),
    "neutral": (0x6B, 0x72, 0x80),
    "warning": (0xE3, 0x8B, 0x00),
}


def inside_glyph(name, x, y):
    lines, width = GLYPHS[name]
    for line in lines:
        points = line if len(line) > 1 else line * 2
        for (ax, ay), (bx, by) in zip(points, points[1:]):
            if (ax, ay) == (bx, by):
                if math.hypot(x - ax, y - ay) <= width * 0.6:
                    return True
            elif segment_distance(x, y, ax, ay, bx, by) <= width / 2:
                return True
    return False


def render(name):
    r, g, b = COLOURS[name]
    rows = []
    for py in range(SIZE):
        row = bytearray([0])  # filter: none
        for px in range(SIZE):
            disc = glyph = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) / SIZE
                    y = (py + (sy + 0.5) / SAMPLES) / SIZE
                    if math.hypot(x - 0.5, y - 0.5) <= 0.46:
                        disc += 1
                        if inside_glyph(name, x, y):
                            glyph += 1
            total = SAMPLES * SAMPLES
            alpha = disc / total
            white = glyph / disc if disc else 0.0
            row += bytes([round(r + (255 - r) * white), round(g + (255 - g) * white),
                          round(b + (255 - b) * white), round(255 * alpha)])
        rows.append(bytes(row))
    return b"".join(rows)


def png(pixels):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(pixels, 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    for image in COLOURS:
        with open(image + ".png", "wb") as out:
            out.write(png(render(image)))
