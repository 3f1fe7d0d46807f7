#!/usr/bin/env python3
"""Draws the control panel's two logo bitmaps (24-bit BMP): a small badge and a wide banner.

Usage: make_logos.py <small.bmp> <large.bmp>
"""
import math
import struct
import sys

# 5 x 7 glyphs, one string per row, '#' is ink.
GLYPHS = {
    "N": ["#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#", "#...#"],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "V": ["#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "K": ["#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"],
    "X": ["#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"],
    "S": [".####", "#....", "#....", ".###.", "....#", "....#", "####."],
    "I": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "#####"],
    "7": ["#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."],
    "-": [".....", ".....", ".....", ".###.", ".....", ".....", "....."],
    " ": [".....", ".....", ".....", ".....", ".....", ".....", "....."],
}


class Canvas:
    def __init__(self, width, height):
        self.width = width
        self.height = height
        self.pixels = [[(0, 0, 0)] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def gradient(self, top, bottom):
        for y in range(self.height):
            t = y / max(1, self.height - 1)
            colour = tuple(int(a + (b - a) * t) for a, b in zip(top, bottom))
            self.pixels[y] = [colour] * self.width

    def text(self, x, y, text, scale, colour):
        for glyph in text:
            rows = GLYPHS[glyph]
            for row, line in enumerate(rows):
                for column, cell in enumerate(line):
                    if cell == "#":
                        for dy in range(scale):
                            for dx in range(scale):
                                self.put(x + column * scale + dx, y + row * scale + dy, colour)
            x += 6 * scale

    def wave(self, y0, amplitude, periods, colour, x0=0, x1=None):
        x1 = self.width if x1 is None else x1
        previous = None
        for x in range(x0, x1):
            phase = (x - x0) / max(1, x1 - x0) * periods * 2 * math.pi
            envelope = math.sin(math.pi * (x - x0) / max(1, x1 - x0))
            y = int(round(y0 + amplitude * envelope * math.sin(phase)))
            if previous is not None:
                for yy in range(min(previous, y), max(previous, y) + 1):
                    self.put(x, yy, colour)
            self.put(x, y, colour)
            previous = y

    def save(self, path):
        row_size = (self.width * 3 + 3) & ~3
        image = bytearray()
        for y in range(self.height - 1, -1, -1):  # bottom-up rows
            row = bytearray()
            for red, green, blue in self.pixels[y]:
                row += bytes((blue, green, red))
            row += bytes(row_size - len(row))
            image += row
        header = struct.pack("<2sIHHI", b"BM", 54 + len(image), 0, 0, 54)
        info = struct.pack("<IiiHHIIiiII", 40, self.width, self.height, 1, 24, 0, len(image),
                           2835, 2835, 0, 0)
        with open(path, "wb") as out:
            out.write(header + info + image)


def text_width(text, scale):
    return len(text) * 6 * scale - scale


NAVY = (16, 28, 52)
TEAL = (18, 92, 110)
WHITE = (240, 244, 248)
AMBER = (255, 176, 48)


# Sized so that each fills its control on the dialog (59 x 20 and 278 x 53 dialog units at the
# dialog font's base units; the small one sits inside a 2-pixel client edge).
def small_logo(path):
    canvas = Canvas(100, 31)
    canvas.gradient(NAVY, TEAL)
    scale = 3
    width = text_width("KX-7", scale)
    canvas.text((canvas.width - width) // 2, (canvas.height - 7 * scale) // 2, "KX-7", scale,
                WHITE)
    canvas.save(path)


def large_logo(path):
    canvas = Canvas(487, 92)
    canvas.gradient(NAVY, TEAL)
    scale = 6
    canvas.text(20, (canvas.height - 7 * scale) // 2, "NORVA", scale, WHITE)
    left = 20 + text_width("NORVA", scale) + 24
    right = canvas.width - 20 - text_width("KX-7", 3) - 24
    canvas.wave(canvas.height // 2, canvas.height // 3, 6.5, AMBER, left, right)
    canvas.text(canvas.width - 20 - text_width("KX-7", 3), 24, "KX-7", 3, WHITE)
    canvas.text(canvas.width - 20 - text_width("ASIO", 3), 48, "ASIO", 3, AMBER)
    canvas.save(path)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    small_logo(sys.argv[1])
    large_logo(sys.argv[2])
