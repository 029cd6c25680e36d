#!/usr/bin/env python3
"""Draws the spin button's arrows: two 9 x 6, 16-colour Windows bitmaps with a
black triangle of rows 1, 3, 5 and 7 pixels wide on olive, which the speed
button draws transparent (its bottom-left pixel).

    python3 scripts/make_spin_glyphs.py resources/spin_up.bmp resources/spin_down.bmp
"""
import struct
import sys

W, H = 9, 6
BLACK, OLIVE = 0, 3
# The system's 16 colours, in their usual order, as (red, green, blue).
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
           (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
           (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def arrow(up):
    """Rows top to bottom of colour indexes."""
    rows = [[OLIVE] * W for _ in range(H)]
    for i, width in enumerate((1, 3, 5, 7)):
        y = 1 + i if up else H - 2 - i
        left = (W - width) // 2
        for x in range(left, left + width):
            rows[y][x] = BLACK
    return rows


def bmp(rows):
    """A 16-colour bitmap file of rows of colour indexes, top to bottom."""
    w, h = len(rows[0]), len(rows)
    stride = ((w * 4 + 31) // 32) * 4
    pixels = b''
    for row in reversed(rows):  # bottom-up
        packed = bytearray(stride)
        for x, c in enumerate(row):
            packed[x // 2] |= c << (4 if x % 2 == 0 else 0)
        pixels += bytes(packed)
    colours = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    offset = 14 + 40 + len(colours)
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 4, 0, len(pixels), 2835, 2835, 16, 0)
    head = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    return head + info + colours + pixels


if __name__ == '__main__':
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    for path, up in ((sys.argv[1], True), (sys.argv[2], False)):
        with open(path, 'wb') as f:
            f.write(bmp(arrow(up)))
