#!/usr/bin/env python3
"""Draws the player's icon (corvel.ico) and splash image (splash.png).

Standard library only: shapes are signed distance fields, so every edge is anti-aliased with
real partial alpha; PNGs are written with zlib and struct, the ICO container by hand (one
PNG-compressed entry per size).

  make_images.py            write corvel.ico and splash.png next to this script
  make_images.py --check    fail when the committed images differ from what this script draws
"""

import argparse
import math
import struct
import sys
import zlib
from pathlib import Path

HERE = Path(__file__).resolve().parent
ICON_SIZES = (16, 32, 48, 64, 128, 256)
SPLASH_SIZE = 450

BLUE = (0x25, 0x63, 0xEB)        # the product's blue
BLUE_LIGHT = (0x3B, 0x82, 0xF6)  # top of the mark's gradient
BLUE_DEEP = (0x1D, 0x4E, 0xD8)   # bottom of the mark's gradient
INK = (0x0F, 0x17, 0x2A)         # the word mark
CARD = (0xFF, 0xFF, 0xFF)


# --- distance functions (negative inside) ----------------------------------------------------

def seg_dist(px, py, ax, ay, bx, by):
    """Distance from (px, py) to the segment a-b."""
    abx, aby = bx - ax, by - ay
    apx, apy = px - ax, py - ay
    length2 = abx * abx + aby * aby
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, (apx * abx + apy * aby) / length2))
    dx, dy = apx - abx * t, apy - aby * t
    return math.hypot(dx, dy)


def arc_dist(px, py, cx, cy, r, start, end):
    """Distance to the arc of radius r around (cx, cy) from angle start to end (degrees,
    counter-clockwise, y up), with its end points as caps."""
    dx, dy = px - cx, py - cy
    angle = math.degrees(math.atan2(dy, dx)) % 360.0
    span = (end - start) % 360.0 or 360.0
    if (angle - start) % 360.0 <= span:
        return abs(math.hypot(dx, dy) - r)
    best = float("inf")
    for a in (start, end):
        ex = cx + r * math.cos(math.radians(a))
        ey = cy + r * math.sin(math.radians(a))
        best = min(best, math.hypot(px - ex, py - ey))
    return best


def polygon_sdf(px, py, points):
    """Signed distance to a convex or concave polygon (even-odd inside test)."""
    best = float("inf")
    inside = False
    n = len(points)
    for i in range(n):
        ax, ay = points[i]
        bx, by = points[(i + 1) % n]
        best = min(best, seg_dist(px, py, ax, ay, bx, by))
        if (ay > py) != (by > py) and px < (bx - ax) * (py - ay) / (by - ay) + ax:
            inside = not inside
    return -best if inside else best


def rounded_box_sdf(px, py, cx, cy, half_w, half_h, radius):
    qx = abs(px - cx) - (half_w - radius)
    qy = abs(py - cy) - (half_h - radius)
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def coverage(distance_px, feather=1.0):
    """Share of a pixel covered by a shape whose edge is distance_px away (negative inside)."""
    return max(0.0, min(1.0, 0.5 - distance_px / feather))


# --- canvas with premultiplied colour ---------------------------------------------------------

class Canvas:
    def __init__(self, size):
        self.size = size
        self.pixels = [[0.0, 0.0, 0.0, 0.0] for _ in range(size * size)]

    def paint(self, shade, box=None):
        """shade(x, y) -> (r, g, b, alpha) or None for the pixel centre (x + .5, y + .5); drawn
        over what is there. box limits the pixels visited: (x0, y0, x1, y1)."""
        x0, y0, x1, y1 = box or (0, 0, self.size, self.size)
        x0, y0 = max(0, int(x0)), max(0, int(y0))
        x1, y1 = min(self.size, int(math.ceil(x1))), min(self.size, int(math.ceil(y1)))
        for y in range(y0, y1):
            row = y * self.size
            for x in range(x0, x1):
                colour = shade(x + 0.5, y + 0.5)
                if colour is None:
                    continue
                r, g, b, a = colour
                if a <= 0.0:
                    continue
                p = self.pixels[row + x]
                keep = 1.0 - a
                p[0] = r / 255.0 * a + p[0] * keep
                p[1] = g / 255.0 * a + p[1] * keep
                p[2] = b / 255.0 * a + p[2] * keep
                p[3] = a + p[3] * keep

    def rgba_rows(self):
        rows = []
        for y in range(self.size):
            row = bytearray()
            for x in range(self.size):
                r, g, b, a = self.pixels[y * self.size + x]
                alpha = round(a * 255)
                if alpha == 0:
                    row += b"\0\0\0\0"
                    continue
                row += bytes(min(255, round(c / a * 255)) for c in (r, g, b))
                row.append(alpha)
            rows.append(bytes(row))
        return rows


def mix(c0, c1, t):
    t = max(0.0, min(1.0, t))
    return tuple(a + (b - a) * t for a, b in zip(c0, c1))


# --- the mark: a soft ring, a "C" opening to the right, a play triangle in its mouth ----------

def draw_mark(canvas, cx, cy, radius, small=False):
    """The mark centred at (cx, cy) in pixels, fitting a circle of `radius` pixels."""
    unit = radius  # one unit of the mark's design space in pixels

    def to_unit(x, y):
        return (x - cx) / unit, (cy - y) / unit  # y up

    box = (cx - radius - 2, cy - radius - 2, cx + radius + 2, cy + radius + 2)

    if not small:
        # Soft ring: a faint band with a wide feather, so it reads as a glow, not a line.
        def ring(x, y):
            u, v = to_unit(x, y)
            d = abs(math.hypot(u, v) - 0.9) - 0.045
            a = 0.30 * coverage(d * unit, feather=max(1.0, 0.05 * unit))
            return (*BLUE, a)
        canvas.paint(ring, box)

    c_radius, c_half = (0.64, 0.2) if small else (0.60, 0.125)
    gap = 48.0 if small else 44.0  # half-opening of the C, degrees, centred on the right

    def letter_c(x, y):
        u, v = to_unit(x, y)
        d = arc_dist(u, v, 0.0, 0.0, c_radius, gap, 360.0 - gap) - c_half
        a = coverage(d * unit)
        if a <= 0.0:
            return None
        return (*mix(BLUE_LIGHT, BLUE_DEEP, (0.75 - v) / 1.5), a)
    canvas.paint(letter_c, box)

    # Play triangle, pointing right into the mouth of the C, corners rounded.
    size = 0.25 if small else 0.27
    rounding = 0.05
    tx = 0.1 if small else 0.08
    tri = [(tx - size * 0.5 + rounding, size - rounding * 0.6),
           (tx + size - rounding * 1.2, 0.0),
           (tx - size * 0.5 + rounding, -size + rounding * 0.6)]

    def play(x, y):
        u, v = to_unit(x, y)
        d = polygon_sdf(u, v, tri) - rounding
        a = coverage(d * unit)
        if a <= 0.0:
            return None
        return (*mix(BLUE_LIGHT, BLUE, (size - v) / (2 * size)), a)
    canvas.paint(play, box)


# --- the word "Corvel" in a geometric stroke face ---------------------------------------------
# Glyphs in units of the x-height (y up, baseline 0): lists of ("seg", ax, ay, bx, by) and
# ("arc", cx, cy, r, start, end). Each entry of GLYPHS: (strokes, left, right) extents of the
# centre lines.

GLYPHS = {
    "C": ([("arc", 0.72, 0.72, 0.72, 42.0, 318.0)], 0.0, 1.30),
    "o": ([("arc", 0.52, 0.52, 0.52, 0.0, 360.0)], 0.0, 1.04),
    "r": ([("seg", 0.0, 0.0, 0.0, 1.04), ("arc", 0.56, 0.48, 0.56, 65.0, 180.0)], 0.0, 0.80),
    "v": ([("seg", 0.0, 1.04, 0.47, 0.0), ("seg", 0.47, 0.0, 0.94, 1.04)], 0.0, 0.94),
    "e": ([("arc", 0.52, 0.52, 0.52, 0.0, 318.0), ("seg", 0.0, 0.52, 1.04, 0.52)], 0.0, 1.04),
    "l": ([("seg", 0.0, 0.0, 0.0, 1.50)], 0.0, 0.0),
}


def word_strokes(text, gap):
    """All strokes of `text` placed side by side; returns (strokes, total width)."""
    placed = []
    pen = 0.0
    for i, ch in enumerate(text):
        strokes, left, right = GLYPHS[ch]
        if i:
            pen += gap
        dx = pen - left
        for s in strokes:
            if s[0] == "seg":
                placed.append(("seg", s[1] + dx, s[2], s[3] + dx, s[4]))
            else:
                placed.append(("arc", s[1] + dx, s[2], s[3], s[4], s[5]))
        pen += right - left
    return placed, pen


def draw_word(canvas, text, centre_x, baseline, x_height, stroke, colour):
    half = stroke / 2.0 / x_height  # half stroke in glyph units
    strokes, width = word_strokes(text, gap=0.22 + 2 * half)
    left = centre_x - width * x_height / 2.0

    def shade(x, y):
        u = (x - left) / x_height
        v = (baseline - y) / x_height
        d = min(seg_dist(u, v, *s[1:]) if s[0] == "seg" else arc_dist(u, v, *s[1:]) for s in strokes)
        a = coverage((d - half) * x_height)
        return (*colour, a) if a > 0.0 else None

    top = baseline - 1.6 * x_height - stroke
    canvas.paint(shade, (left - stroke, top, left + width * x_height + stroke, baseline + stroke))


# --- images -----------------------------------------------------------------------------------

def icon_canvas(size):
    canvas = Canvas(size)
    small = size <= 32
    draw_mark(canvas, size / 2.0, size / 2.0, size / 2.0 - (0.5 if small else size / 64.0), small=small)
    return canvas


def splash_canvas():
    size = SPLASH_SIZE
    canvas = Canvas(size)
    centre = size / 2.0
    half = 195.0
    radius = 40.0

    # Shadow under the card: a blurred, slightly lowered copy, fading to nothing.
    def shadow(x, y):
        d = rounded_box_sdf(x, y, centre, centre + 6.0, half, half, radius)
        if d > 22.0:
            return None
        t = max(0.0, min(1.0, (22.0 - d) / 30.0))
        return (0, 0, 0, 0.20 * t * t)
    canvas.paint(shadow)

    def card(x, y):
        d = rounded_box_sdf(x, y, centre, centre, half, half, radius)
        a = coverage(d)
        return (*CARD, 0.97 * a) if a > 0.0 else None
    canvas.paint(card)

    draw_mark(canvas, centre, 190.0, 112.0)
    draw_word(canvas, "Corvel", centre, 362.0, 30.0, 8.0, INK)
    return canvas


# --- file formats -----------------------------------------------------------------------------

def png_bytes(canvas):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\0" + row for row in canvas.rgba_rows())  # filter type 0 on every row
    header = struct.pack(">IIBBBBB", canvas.size, canvas.size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) +
            chunk(b"IEND", b""))


def ico_bytes(pngs):
    """ICO container with one PNG entry per (size, png) pair."""
    header = struct.pack("<HHH", 0, 1, len(pngs))
    offset = len(header) + 16 * len(pngs)
    entries, images = b"", b""
    for size, png in pngs:
        dim = 0 if size >= 256 else size  # 0 stands for 256
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(png), offset + len(images))
        images += png
    return header + entries + images


def png_pixels(data):
    """(width, height, rows of RGBA) of a PNG; handles every filter type."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG")
    pos, idat, width = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            if (depth, colour) != (8, 6):
                raise ValueError("not 8-bit RGBA")
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * 4
    rows, prev = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = prev[i]
            c = prev[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        rows.append(bytes(line))
        prev = line
    return width, height, rows


def ico_pngs(data):
    reserved, kind, count = struct.unpack("<HHH", data[:6])
    if (reserved, kind) != (0, 1):
        raise ValueError("not an icon file")
    result = []
    for i in range(count):
        entry = struct.unpack("<BBBBHHII", data[6 + 16 * i:22 + 16 * i])
        result.append(data[entry[7]:entry[7] + entry[6]])
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true", help="compare with the committed images")
    parser.add_argument("--out", type=Path, default=HERE, help="folder to write to")
    args = parser.parse_args()

    icons = [(size, icon_canvas(size)) for size in ICON_SIZES]
    splash = splash_canvas()

    if args.check:
        wanted = [c.rgba_rows() for _, c in icons]
        have = [png_pixels(p)[2] for p in ico_pngs((HERE / "corvel.ico").read_bytes())]
        ok = have == wanted and png_pixels((HERE / "splash.png").read_bytes())[2] == splash.rgba_rows()
        print("images are current" if ok else "images differ from make_images.py: run it and commit")
        return 0 if ok else 1

    args.out.mkdir(parents=True, exist_ok=True)
    (args.out / "corvel.ico").write_bytes(ico_bytes([(size, png_bytes(c)) for size, c in icons]))
    (args.out / "splash.png").write_bytes(png_bytes(splash))
    return 0


if __name__ == "__main__":
    sys.exit(main())
