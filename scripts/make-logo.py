#!/usr/bin/env python3
"""Draws the Drivon word mark: 159 x 70 RGBA PNG, white block letters with a dark outline and an
orange bar underneath, on a transparent background (reads on grey fills and on video alike).

Usage: scripts/make-logo.py [output]   (default: assets/dv_logo.png)
Only the standard library is used, so the output is the same on every machine.
"""
import struct
import sys
import zlib

WIDTH, HEIGHT = 159, 70

# 5 x 7 block glyphs. Outer columns and rows are wider than inner ones so the strokes read bold
# at this small size.
GLYPHS = {
    "D": ["XXXX.", "X...X", "X...X", "X...X", "X...X", "X...X", "XXXX."],
    "R": ["XXXX.", "X...X", "X...X", "XXXX.", "X.X..", "X..X.", "X...X"],
    "I": ["XXXXX", "..X..", "..X..", "..X..", "..X..", "..X..", "XXXXX"],
    "V": ["X...X", "X...X", "X...X", "X...X", "X...X", ".X.X.", "..X.."],
    "O": [".XXX.", "X...X", "X...X", "X...X", "X...X", "X...X", ".XXX."],
    "N": ["X...X", "XX..X", "X.X.X", "X..XX", "X...X", "X...X", "X...X"],
}
WORD = "DRIVON"
COLUMN_WIDTHS = [6, 3, 5, 3, 6]
ROW_HEIGHTS = [8, 6, 6, 8, 6, 6, 8]
LETTER_GAP = 3
TOP = 4
BAR_TOP, BAR_HEIGHT = 58, 6
OUTLINE = 2

TRANSPARENT = (0, 0, 0, 0)
LETTER = (255, 255, 255, 255)
BAR = (242, 140, 40, 255)
EDGE = (32, 32, 32, 255)


def draw():
    pixels = [[TRANSPARENT] * WIDTH for _ in range(HEIGHT)]
    letter_width = sum(COLUMN_WIDTHS)
    word_width = len(WORD) * letter_width + (len(WORD) - 1) * LETTER_GAP
    left = (WIDTH - word_width) // 2
    for index, letter in enumerate(WORD):
        x0 = left + index * (letter_width + LETTER_GAP)
        for row, line in enumerate(GLYPHS[letter]):
            y0 = TOP + sum(ROW_HEIGHTS[:row])
            for col, cell in enumerate(line):
                if cell != "X":
                    continue
                cx = x0 + sum(COLUMN_WIDTHS[:col])
                for y in range(y0, y0 + ROW_HEIGHTS[row]):
                    for x in range(cx, cx + COLUMN_WIDTHS[col]):
                        pixels[y][x] = LETTER
    bar_right = left + word_width
    for y in range(BAR_TOP, BAR_TOP + BAR_HEIGHT):
        for x in range(left, bar_right):
            pixels[y][x] = BAR

    # Outline: every transparent pixel within OUTLINE pixels of a drawn one.
    outlined = [row[:] for row in pixels]
    for y in range(HEIGHT):
        for x in range(WIDTH):
            if pixels[y][x] != TRANSPARENT:
                continue
            near = any(
                pixels[ny][nx] != TRANSPARENT
                for ny in range(max(0, y - OUTLINE), min(HEIGHT, y + OUTLINE + 1))
                for nx in range(max(0, x - OUTLINE), min(WIDTH, x + OUTLINE + 1))
            )
            if near:
                outlined[y][x] = EDGE
    return outlined


def chunk(kind, payload):
    body = kind + payload
    return struct.pack(">I", len(payload)) + body + struct.pack(">I", zlib.crc32(body))


def encode_png(pixels):
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in pixels)
    header = struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 6, 0, 0, 0)
    return (
        b"\x89PNG\r\n\x1a\n"
        + chunk(b"IHDR", header)
        + chunk(b"IDAT", zlib.compress(raw, 9))
        + chunk(b"IEND", b"")
    )


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "assets/dv_logo.png"
    with open(out, "wb") as f:
        f.write(encode_png(draw()))


if __name__ == "__main__":
    main()
