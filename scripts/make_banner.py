#!/usr/bin/env python3
"""Draws the about window's banner: a 360 x 90, 256-colour Windows bitmap with
the program's logo, its name, what it does and the maker's name.

    python3 scripts/make_banner.py resources/banner.bmp

Plain Python: the letters are strokes of a small built-in font, drawn with
smooth edges and then reduced to one 256-colour palette (median cut)."""
import math
import struct
import sys

W, H = 360, 90


def arc(cx, cy, rx, ry, a0, a1, steps=None):
    """Points on an ellipse from angle a0 to a1 in degrees (y grows down)."""
    n = steps or max(6, int(abs(a1 - a0) / 12))
    return [(cx + rx * math.cos(math.radians(a0 + (a1 - a0) * i / n)),
             cy + ry * math.sin(math.radians(a0 + (a1 - a0) * i / n))) for i in range(n + 1)]


# Glyphs in font units: capitals from y 0 to 6, small letters from 2 to 6,
# descenders to 8. Each glyph is (advance, [strokes]).
FONT = {
    ' ': (2.0, []),
    '-': (2.6, [[(0.3, 4), (2.3, 4)]]),
    'K': (4.0, [[(0, 0), (0, 6)], [(3.6, 0), (0, 3.7)], [(1.3, 2.6), (3.9, 6)]]),
    'O': (5.0, [arc(2.5, 3, 2.5, 3, 0, 360, 36)]),
    'S': (4.0, [arc(2, 1.5, 1.8, 1.5, 330, 90) + arc(2, 4.5, 1.9, 1.5, 270, 510)[1:]]),
    'a': (3.8, [arc(1.7, 4, 1.7, 2, 0, 360, 28), [(3.4, 2), (3.4, 6)]]),
    'b': (3.8, [[(0, 0), (0, 6)], arc(1.8, 4, 1.8, 2, 0, 360, 28)]),
    'c': (3.6, [arc(2, 4, 1.8, 2, 320, 40)]),
    'e': (3.8, [[(0.2, 4), (3.8, 4)] + arc(2, 4, 1.8, 2, 0, -320)[1:]]),
    'g': (3.8, [arc(1.7, 4, 1.7, 2, 0, 360, 28),
                [(3.4, 2), (3.4, 6.8)] + arc(1.7, 6.8, 1.7, 1.2, 0, 160)[1:]]),
    'h': (3.8, [[(0, 0), (0, 6)], arc(1.7, 3.7, 1.7, 1.6, 180, 360) + [(3.4, 6)]]),
    'i': (1.0, [[(0, 2), (0, 6)], [(0, 0.5), (0, 0.7)]]),
    'l': (1.0, [[(0, 0), (0, 6)]]),
    'n': (3.8, [[(0, 2), (0, 6)], arc(1.7, 3.7, 1.7, 1.6, 180, 360) + [(3.4, 6)]]),
    'p': (3.8, [[(0, 2), (0, 8)], arc(1.8, 4, 1.8, 2, 0, 360, 28)]),
    'r': (2.8, [[(0, 2), (0, 6)], [(0, 3.5), (0.5, 2.6), (1.3, 2.1), (2.5, 2.1)]]),
    's': (3.4, [arc(1.7, 3, 1.5, 1, 330, 90) + arc(1.7, 5, 1.6, 1, 270, 510)[1:]]),
    't': (3.0, [[(1, 0.8), (1, 5.3), (1.4, 5.9), (2.3, 6), (2.8, 5.9)], [(0, 2), (2.6, 2)]]),
    'u': (3.8, [[(0, 2)] + arc(1.7, 4.4, 1.7, 1.6, 180, 0)[1:], [(3.4, 2), (3.4, 6)]]),
    'v': (3.4, [[(0, 2), (1.7, 6), (3.4, 2)]]),
    'w': (4.8, [[(0, 2), (1.2, 6), (2.4, 2.8), (3.6, 6), (4.8, 2)]]),
    'x': (3.6, [[(0, 2), (3.6, 6)], [(3.6, 2), (0, 6)]]),
    'y': (3.6, [[(0, 2), (1.8, 6)], [(3.6, 2), (1.1, 8)]]),
}
GAP = 1.2


def text_width(text, unit):
    return (sum(FONT[c][0] for c in text) + GAP * (len(text) - 1)) * unit


def text_segments(text, x, top, unit):
    """Segments in pixels of text whose capitals start at y = top."""
    segs = []
    for c in text:
        adv, strokes = FONT[c]
        for s in strokes:
            pts = [(x + px * unit, top + py * unit) for px, py in s]
            segs += list(zip(pts, pts[1:]))
        x += (adv + GAP) * unit
    return segs


class Canvas:
    def __init__(self):
        self.px = [[(0.0, 0.0, 0.0)] * W for _ in range(H)]

    def blend(self, x, y, colour, a):
        if 0 <= x < W and 0 <= y < H and a > 0:
            r, g, b = self.px[y][x]
            a = min(a, 1.0)
            self.px[y][x] = (r + (colour[0] - r) * a, g + (colour[1] - g) * a,
                             b + (colour[2] - b) * a)

    def strokes(self, segs, width, colour):
        """Round-capped lines with edges smoothed over one pixel."""
        cover = {}
        half = width / 2
        for (x0, y0), (x1, y1) in segs:
            dx, dy = x1 - x0, y1 - y0
            ll = dx * dx + dy * dy
            for y in range(int(min(y0, y1) - half - 1), int(max(y0, y1) + half + 2)):
                for x in range(int(min(x0, x1) - half - 1), int(max(x0, x1) + half + 2)):
                    cx, cy = x + 0.5, y + 0.5
                    t = 0 if ll == 0 else max(0, min(1, ((cx - x0) * dx + (cy - y0) * dy) / ll))
                    d = math.hypot(cx - (x0 + t * dx), cy - (y0 + t * dy))
                    a = max(0.0, min(1.0, half + 0.5 - d))
                    if a > cover.get((x, y), 0):
                        cover[(x, y)] = a
        for (x, y), a in cover.items():
            self.blend(x, y, colour, a)

    def text(self, text, x, top, unit, width, colour):
        self.strokes(text_segments(text, x, top, unit), width, colour)


def draw():
    c = Canvas()
    # Background: night blue into sea blue, with a soft light band.
    for y in range(H):
        for x in range(W):
            t = x / (W - 1)
            band = max(0.0, 1 - abs((x - 0.6 * y) - 250) / 90) * 0.12
            r = 14 + 20 * t + 255 * band * 0.3
            g = 28 + 62 * t + 255 * band * 0.45
            b = 62 + 80 * t + 255 * band * 0.6
            c.px[y][x] = (r, g, b)
    # Logo: a rounded tile with the corners of a selection frame and a
    # cross-hair, as on the program's icon.
    L, T, S, R = 14, 12, 66, 11
    for y in range(T - 1, T + S + 1):
        for x in range(L - 1, L + S + 1):
            cx = min(max(x + 0.5, L + R), L + S - R)
            cy = min(max(y + 0.5, T + R), T + S - R)
            a = max(0.0, min(1.0, R + 0.5 - math.hypot(x + 0.5 - cx, y + 0.5 - cy)))
            t = (y - T) / S
            c.blend(x, y, (40 + 40 * t, 110 + 70 * t, 200 + 45 * t), a)
    white = (255, 255, 255)
    f0, f1, arm = L + 14, L + S - 14, 12
    corners = []
    for (x, y, sx, sy) in ((f0, f0 - L + T, 1, 1), (f1, f0 - L + T, -1, 1),
                           (f0, f1 - L + T, 1, -1), (f1, f1 - L + T, -1, -1)):
        corners += [((x, y), (x + sx * arm, y)), ((x, y), (x, y + sy * arm))]
    c.strokes(corners, 4, white)
    mx, my = L + S / 2, T + S / 2
    amber = (255, 190, 50)
    c.strokes([((mx, my - 10), (mx, my + 10)), ((mx - 10, my), (mx + 10, my))], 3.2, amber)
    # Name, what it does, and the maker.
    c.text("Kestrix", 98, 14, 5.0, 4.6, white)
    c.strokes([((98, 54), (98 + text_width("Kestrix", 5.0), 54))], 2, amber)
    c.text("Screen capture with plug-ins", 99, 62, 1.75, 1.35, (205, 225, 245))
    maker = "by Orvane"
    c.text(maker, W - 16 - text_width(maker, 1.8), 33.2, 1.8, 1.4, amber)
    return [[tuple(int(round(min(255, max(0, v)))) for v in p) for p in row] for row in c.px]


def median_cut(colours, n):
    """A palette of at most n colours for a {colour: count} table."""
    boxes = [list(colours.items())]
    while len(boxes) < n:
        best, spread, axis = None, -1, 0
        for i, box in enumerate(boxes):
            if len(box) < 2:
                continue
            for ax in range(3):
                vals = [c[ax] for c, _ in box]
                if max(vals) - min(vals) > spread:
                    best, spread, axis = i, max(vals) - min(vals), ax
        if best is None:
            break
        box = sorted(boxes.pop(best), key=lambda e: e[0][axis])
        total, acc, cut = sum(k for _, k in box), 0, 1
        for i, (_, k) in enumerate(box):
            acc += k
            if acc * 2 >= total:
                cut = min(max(i + 1, 1), len(box) - 1)
                break
        boxes += [box[:cut], box[cut:]]
    pal = []
    for box in boxes:
        total = sum(k for _, k in box)
        pal.append(tuple(int(round(sum(c[a] * k for c, k in box) / total)) for a in range(3)))
    while len(pal) < n:
        pal.append((0, 0, 0))
    return pal


def write_bmp(path, img, pal):
    index = {}

    def nearest(c):
        if c not in index:
            index[c] = min(range(len(pal)),
                           key=lambda i: sum((a - b) ** 2 for a, b in zip(pal[i], c)))
        return index[c]

    stride = (W + 3) & ~3
    bits = bytearray()
    for y in range(H - 1, -1, -1):  # bottom-up
        row = bytes(nearest(c) for c in img[y])
        bits += row + b"\0" * (stride - W)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in pal)
    offset = 14 + 40 + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(bits), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 8, 0, len(bits), 2835, 2835, 256, 0)
    with open(path, "wb") as f:
        f.write(header + info + palette + bits)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "resources/banner.bmp"
    img = draw()
    counts = {}
    for row in img:
        for c in row:
            counts[c] = counts.get(c, 0) + 1
    write_bmp(out, img, median_cut(counts, 256))


if __name__ == "__main__":
    main()
