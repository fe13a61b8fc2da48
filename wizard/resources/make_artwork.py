#!/usr/bin/env python3
"""Draws the wizard's pictures into PNG files beside this script.

  bitmap129.png  select page strip   (92 x 193 dialog units)
  bitmap130.png  process page strip  (92 x 193 dialog units)
  bitmap131.png  connect page strip  (125 x 193 dialog units)
  bitmap133.png  the two 16 x 16 row pictures side by side on the mask colour RGB(0, 255, 0):
                 0 a grey sheet of paper (no file), 1 a red check mark in a box (file chosen)

The strips are sized with the layouts' conversion (x * 7 / 4, y * 13 / 8 pixels). Only the
standard library is used, so the pictures can be drawn again anywhere: python3 make_artwork.py
"""

import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def du_to_px(x, y):
    return round(x * 7 / 4), round(y * 13 / 8)


class Canvas:
    def __init__(self, width, height, colour):
        self.w, self.h = width, height
        self.px = [[list(colour) for _ in range(width)] for _ in range(height)]

    def blend(self, x, y, colour, alpha):
        if 0 <= x < self.w and 0 <= y < self.h and alpha > 0:
            p = self.px[y][x]
            a = min(alpha, 1.0)
            for i in range(3):
                p[i] = p[i] * (1 - a) + colour[i] * a

    def gradient(self, top, bottom):
        for y in range(self.h):
            t = y / max(1, self.h - 1)
            c = [top[i] * (1 - t) + bottom[i] * t for i in range(3)]
            for x in range(self.w):
                self.px[y][x] = list(c)

    def rect(self, x0, y0, x1, y1, colour, alpha=1.0):
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                self.blend(x, y, colour, alpha)

    def line(self, x0, y0, x1, y1, width, colour, alpha=1.0):
        """An antialiased line of `width` pixels: coverage from the distance to the segment."""
        dx, dy = x1 - x0, y1 - y0
        length2 = dx * dx + dy * dy or 1e-9
        r = width / 2
        for y in range(int(min(y0, y1) - r - 1), int(max(y0, y1) + r + 2)):
            for x in range(int(min(x0, x1) - r - 1), int(max(x0, x1) + r + 2)):
                cx, cy = x + 0.5, y + 0.5
                t = max(0.0, min(1.0, ((cx - x0) * dx + (cy - y0) * dy) / length2))
                d = math.hypot(cx - (x0 + t * dx), cy - (y0 + t * dy))
                cover = max(0.0, min(1.0, r + 0.5 - d))
                self.blend(x, y, colour, cover * alpha)

    def circle(self, cx, cy, radius, colour, alpha=1.0):
        for y in range(int(cy - radius - 1), int(cy + radius + 2)):
            for x in range(int(cx - radius - 1), int(cx + radius + 2)):
                d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
                self.blend(x, y, colour, max(0.0, min(1.0, radius + 0.5 - d)) * alpha)

    def save(self, name):
        raw = bytearray()
        for row in self.px:
            raw.append(0)
            for p in row:
                raw.extend(max(0, min(255, int(round(v)))) for v in p)

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        png = b"\x89PNG\r\n\x1a\n"
        png += chunk(b"IHDR", struct.pack(">IIBBBBB", self.w, self.h, 8, 2, 0, 0, 0))
        png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
        png += chunk(b"IEND", b"")
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(png)


NAVY_TOP = (8, 22, 64)
NAVY_BOTTOM = (18, 58, 128)
PALE = (150, 190, 240)
WHITE = (235, 242, 255)


def strip(width_du, height_du):
    w, h = du_to_px(width_du, height_du)
    c = Canvas(w, h, NAVY_TOP)
    c.gradient(NAVY_TOP, NAVY_BOTTOM)
    # Faint diagonal rulings across the whole strip.
    for k in range(-h, w, 18):
        c.line(k, h, k + h * 0.6, 0, 1.0, PALE, 0.08)
    # A lighter band at the right edge, where the strip meets the page.
    c.rect(w - 3, 0, w, h, PALE, 0.35)
    return c


def connect_strip():
    """A serial lead: a plug with pins on a wavy cable, and the bits travelling along it."""
    c = strip(125, 193)
    w, h = c.w, c.h
    # The cable.
    prev = None
    for i in range(0, 101):
        t = i / 100
        x = w * 0.5 + math.sin(t * math.pi * 3) * w * 0.18
        y = h * 0.12 + t * h * 0.55
        if prev:
            c.line(prev[0], prev[1], x, y, 4.0, PALE, 0.9)
        prev = (x, y)
    # The plug: a trapezoid shell drawn as thick lines, with two rows of pins.
    px, py = prev
    shell_w, shell_h = w * 0.42, h * 0.1
    left, right = px - shell_w / 2, px + shell_w / 2
    top, bottom = py, py + shell_h
    c.rect(int(left), int(top), int(right), int(bottom), (30, 80, 160), 0.95)
    c.line(left, top, right, top, 2.0, WHITE)
    c.line(left, top, left + 5, bottom, 2.0, WHITE)
    c.line(right, top, right - 5, bottom, 2.0, WHITE)
    c.line(left + 5, bottom, right - 5, bottom, 2.0, WHITE)
    for i in range(5):
        c.circle(left + 9 + i * (shell_w - 18) / 4, top + shell_h * 0.35, 2.2, WHITE)
    for i in range(4):
        c.circle(left + 13 + i * (shell_w - 26) / 3, top + shell_h * 0.7, 2.2, WHITE)
    # Bits on their way down the lead.
    for i, bit in enumerate([1, 0, 1, 1, 0, 0, 1, 0]):
        y = h * 0.86 + (i // 4) * 14
        x = w * 0.2 + (i % 4) * w * 0.18
        if bit:
            c.rect(int(x), int(y), int(x + 8), int(y + 8), WHITE, 0.8)
        else:
            c.line(x, y, x + 8, y, 1.2, WHITE, 0.8)
            c.line(x, y + 8, x + 8, y + 8, 1.2, WHITE, 0.8)
            c.line(x, y, x, y + 8, 1.2, WHITE, 0.8)
            c.line(x + 8, y, x + 8, y + 8, 1.2, WHITE, 0.8)
    c.save("bitmap131.png")


def select_strip():
    """A stack of file sheets with folded corners."""
    c = strip(92, 193)
    w, h = c.w, c.h
    for k in range(3):
        x0 = w * 0.2 + k * 10
        y0 = h * 0.22 + k * 14
        x1, y1 = x0 + w * 0.45, y0 + h * 0.3
        fold = 14
        c.rect(int(x0), int(y0), int(x1 - fold), int(y1), (28, 70, 150), 0.95)
        c.rect(int(x1 - fold), int(y0 + fold), int(x1), int(y1), (28, 70, 150), 0.95)
        c.line(x0, y0, x1 - fold, y0, 1.6, WHITE)
        c.line(x1 - fold, y0, x1, y0 + fold, 1.6, WHITE)
        c.line(x1, y0 + fold, x1, y1, 1.6, WHITE)
        c.line(x0, y1, x1, y1, 1.6, WHITE)
        c.line(x0, y0, x0, y1, 1.6, WHITE)
        c.line(x1 - fold, y0, x1 - fold, y0 + fold, 1.2, WHITE, 0.7)
        c.line(x1 - fold, y0 + fold, x1, y0 + fold, 1.2, WHITE, 0.7)
    for i in range(5):
        y = h * 0.22 + 28 + 30 + i * 11
        c.line(w * 0.2 + 28, y, w * 0.2 + 20 + w * 0.3, y, 1.4, PALE, 0.8)
    c.save("bitmap129.png")


def process_strip():
    """Flash blocks filling up, and an arrow into them."""
    c = strip(92, 193)
    w, h = c.w, c.h
    cols, rows = 4, 8
    bw, bh = w * 0.13, h * 0.035
    x_start, y_start = w * 0.17, h * 0.4
    filled = 21
    for r in range(rows):
        for col in range(cols):
            x = x_start + col * (bw + 6)
            y = y_start + r * (bh + 6)
            index = r * cols + col
            if index < filled:
                c.rect(int(x), int(y), int(x + bw), int(y + bh), PALE, 0.9)
            else:
                c.line(x, y, x + bw, y, 1.0, PALE, 0.6)
                c.line(x, y + bh, x + bw, y + bh, 1.0, PALE, 0.6)
                c.line(x, y, x, y + bh, 1.0, PALE, 0.6)
                c.line(x + bw, y, x + bw, y + bh, 1.0, PALE, 0.6)
    ax = w * 0.5
    c.line(ax, h * 0.1, ax, h * 0.32, 5.0, WHITE)
    c.line(ax - 14, h * 0.27, ax, h * 0.34, 5.0, WHITE)
    c.line(ax + 14, h * 0.27, ax, h * 0.34, 5.0, WHITE)
    c.save("bitmap130.png")


def row_pictures():
    """Two 16 x 16 images on the mask colour: a grey paper sheet, a red check mark in a box."""
    mask = (0, 255, 0)
    c = Canvas(32, 16, mask)
    grey, dark = (200, 200, 200), (110, 110, 110)
    # Image 0: a sheet with a folded corner and a few text lines.
    c.rect(3, 1, 10, 15, grey)
    c.rect(10, 5, 13, 15, grey)
    for (x0, y0, x1, y1) in [(3, 1, 9, 1), (9, 1, 13, 5), (13, 5, 13, 15), (3, 15, 13, 15), (3, 1, 3, 15)]:
        for x in range(x0, x1 + 1):
            for y in range(y0, y1 + 1):
                if (x0 == x1 or y0 == y1) or (x - x0 == y - y0):
                    c.px[y][x] = list(dark)
    for y in (7, 9, 11, 13):
        for x in range(5, 12):
            c.px[y][x] = list(dark)
    # Image 1: a white box with a dark frame and a red check mark.
    c.rect(17, 1, 31, 15, (250, 250, 250))
    for i in range(17, 31):
        c.px[1][i] = c.px[14][i] = list(dark)
    for j in range(1, 15):
        c.px[j][17] = c.px[j][30] = list(dark)
    red = (205, 20, 20)
    for (x0, y0, x1, y1) in [(19.5, 8.0, 22.5, 11.5), (22.5, 11.5, 28.5, 3.5)]:
        steps = 40
        for s in range(steps + 1):
            t = s / steps
            x, y = x0 + (x1 - x0) * t, y0 + (y1 - y0) * t
            for ox in (-1, 0, 1):
                for oy in (-1, 0, 1):
                    xi, yi = int(round(x + ox * 0.6)), int(round(y + oy * 0.6))
                    if 18 <= xi <= 29 and 2 <= yi <= 13:
                        c.px[yi][xi] = list(red)
    c.save("bitmap133.png")


if __name__ == "__main__":
    connect_strip()
    select_strip()
    process_strip()
    row_pictures()
