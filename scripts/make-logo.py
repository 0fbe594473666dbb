#!/usr/bin/env python3
"""Draws the Drivon word mark: a 159 x 70 RGBA PNG with white letters in a dark outline and an
orange bar underneath, on a transparent background, so it reads on the grey and blue state fills
and on video alike. The letters are built from signed-distance shapes and 4 x 4 supersampled,
so edges are smooth at this small size.

Usage: scripts/make-logo.py [output]   (default: assets/dv_logo.png)
Only the standard library is used, so the output is the same on every machine.
"""
import math
import struct
import sys
import zlib

WIDTH, HEIGHT = 159, 70
CAP = 42.0        # letter height
STROKE = 8.0      # stroke width
GAP = 3.5         # space between letters
TOP = 6.0
OUTLINE = 2.0     # dark edge around letters and bar
BAR_TOP, BAR_HEIGHT = 55.0, 6.0
SAMPLES = 4

LETTER = (255, 255, 255)
EDGE = (28, 28, 32)
BAR = (242, 140, 40)


def rounded_rect(px, py, x0, y0, x1, y1, r_left, r_right):
    """Signed distance to a rectangle whose left and right corners have the given radii."""
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2, (y1 - y0) / 2
    r = r_right if px > cx else r_left
    qx = abs(px - cx) - hx + r
    qy = abs(py - cy) - hy + r
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - r


def segment(px, py, ax, ay, bx, by, width):
    """Signed distance to a thick line from a to b (flat-ended by the caller's clipping)."""
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - ax - t * dx, py - ay - t * dy) - width / 2


def clip_y(d, py, y0, y1):
    return max(d, y0 - py, py - y1)


def bowl(px, py, w, h, r):
    outer = rounded_rect(px, py, 0, 0, w, h, 0, r)
    inner = rounded_rect(px, py, STROKE, STROKE, w - STROKE, h - STROKE, 0, max(r - STROKE, 0.5))
    return max(outer, -inner)


def letter_d(px, py):
    return bowl(px, py, 23, CAP, 15)


def letter_r(px, py):
    upper = bowl(px, py, 22, CAP * 0.58, 10)
    stem = rounded_rect(px, py, 0, 0, STROKE, CAP, 0, 0)
    leg = clip_y(segment(px, py, 10, CAP * 0.5, 22, CAP + 4, STROKE * 1.05), py, 0, CAP)
    return min(upper, stem, leg)


def letter_i(px, py):
    return rounded_rect(px, py, 0, 0, STROKE, CAP, 0, 0)


def letter_v(px, py):
    w = 26
    left = segment(px, py, STROKE / 2, -4, w / 2, CAP + 2, STROKE * 1.1)
    right = segment(px, py, w - STROKE / 2, -4, w / 2, CAP + 2, STROKE * 1.1)
    return clip_y(min(left, right), py, 0, CAP)


def letter_o(px, py):
    w = 25
    outer = rounded_rect(px, py, 0, 0, w, CAP, 13, 13)
    inner = rounded_rect(px, py, STROKE, STROKE, w - STROKE, CAP - STROKE, 5, 5)
    return max(outer, -inner)


def letter_n(px, py):
    w = 23
    left = rounded_rect(px, py, 0, 0, STROKE, CAP, 0, 0)
    right = rounded_rect(px, py, w - STROKE, 0, w, CAP, 0, 0)
    diagonal = clip_y(segment(px, py, STROKE / 2, 0, w - STROKE / 2, CAP, STROKE * 1.1), py, 0, CAP)
    return min(left, right, diagonal)


# (shape, advance width)
WORD = [(letter_d, 23), (letter_r, 22), (letter_i, STROKE), (letter_v, 26), (letter_o, 25),
        (letter_n, 23)]


def layout():
    total = sum(w for _, w in WORD) + GAP * (len(WORD) - 1)
    x = (WIDTH - total) / 2
    placed = []
    for shape, w in WORD:
        placed.append((shape, x, w))
        x += w + GAP
    return placed, (WIDTH - total) / 2, (WIDTH - total) / 2 + total


def distance(px, py, placed, bar_left, bar_right):
    d = rounded_rect(px, py, bar_left, BAR_TOP, bar_right, BAR_TOP + BAR_HEIGHT, 1, 1)
    is_bar = True
    for shape, x0, w in placed:
        if x0 - OUTLINE - 2 <= px <= x0 + w + OUTLINE + 2 and py <= TOP + CAP + OUTLINE + 2:
            dl = shape(px - x0, py - TOP)
            if dl < d:
                d, is_bar = dl, False
    return d, is_bar


def draw():
    placed, bar_left, bar_right = layout()
    rows = []
    step = 1.0 / SAMPLES
    for y in range(HEIGHT):
        row = bytearray()
        for x in range(WIDTH):
            fill = edge = 0
            fill_colour = [0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    d, is_bar = distance(x + (sx + 0.5) * step, y + (sy + 0.5) * step, placed,
                                         bar_left, bar_right)
                    if d <= 0:
                        fill += 1
                        colour = BAR if is_bar else LETTER
                        for i in range(3):
                            fill_colour[i] += colour[i]
                    elif d <= OUTLINE:
                        edge += 1
            n = SAMPLES * SAMPLES
            covered = fill + edge
            if covered == 0:
                row += bytes((0, 0, 0, 0))
                continue
            rgb = [(fill_colour[i] + edge * EDGE[i]) / covered for i in range(3)]
            row += bytes([round(c) for c in rgb] + [round(255 * covered / n)])
        rows.append(bytes(row))
    return rows


def chunk(kind, payload):
    body = kind + payload
    return struct.pack(">I", len(payload)) + body + struct.pack(">I", zlib.crc32(body))


def encode_png(rows):
    raw = b"".join(b"\x00" + row for row in rows)
    header = struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "assets/dv_logo.png"
    with open(out, "wb") as f:
        f.write(encode_png(draw()))


if __name__ == "__main__":
    main()
