#!/usr/bin/env python3
"""Draws the program icon: a capture frame with corner marks over a blue tile,
as one .ico with two 32 x 32 images (16 and 256 colours)."""
import struct, sys

SIZE = 32

def pixel(x, y):
    """Colour (r, g, b) and opacity of the artwork at (x, y), top-down."""
    # rounded tile
    r = 5
    cx = min(max(x, r), SIZE - 1 - r); cy = min(max(y, r), SIZE - 1 - r)
    if (x - cx) ** 2 + (y - cy) ** 2 > r * r:
        return None
    t = y / (SIZE - 1)
    base = (int(20 + 30 * t), int(60 + 60 * t), int(140 + 80 * t))
    # corner marks of the selection frame
    inner = 6 <= x <= 25 and 6 <= y <= 25
    on_edge = x in (6, 7, 24, 25) or y in (6, 7, 24, 25)
    near_corner = (x <= 12 or x >= 19) and (y <= 12 or y >= 19)
    if inner and on_edge and near_corner:
        return (255, 255, 255)
    # cross-hair centre
    if (x in (15, 16) and 12 <= y <= 19) or (y in (15, 16) and 12 <= x <= 19):
        return (255, 200, 40)
    return base

VGA16 = [(0,0,0),(128,0,0),(0,128,0),(128,128,0),(0,0,128),(128,0,128),(0,128,128),(192,192,192),
         (128,128,128),(255,0,0),(0,255,0),(255,255,0),(0,0,255),(255,0,255),(0,255,255),(255,255,255)]

def palette256():
    pal = list(VGA16)
    for r in range(6):
        for g in range(6):
            for b in range(6):
                pal.append((r * 51, g * 51, b * 51))
    while len(pal) < 256:
        v = (len(pal) - 232) * 10
        pal.append((v, v, v))
    return pal

def nearest(pal, c):
    return min(range(len(pal)), key=lambda i: sum((a - b) ** 2 for a, b in zip(pal[i], c)))

def image(bpp):
    pal = VGA16 if bpp == 4 else palette256()
    stride = ((SIZE * bpp + 31) // 32) * 4
    xor = bytearray()
    andm = bytearray()
    mstride = ((SIZE + 31) // 32) * 4
    for y in reversed(range(SIZE)):
        row = bytearray(stride)
        mrow = bytearray(mstride)
        for x in range(SIZE):
            c = pixel(x, y)
            idx = 0 if c is None else nearest(pal, c)
            if c is None:
                mrow[x // 8] |= 0x80 >> (x % 8)
            if bpp == 8:
                row[x] = idx
            else:
                row[x // 2] |= idx << (4 if x % 2 == 0 else 0)
        xor += row
        andm += mrow
    ncol = len(pal)
    hdr = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, bpp, 0, len(xor) + len(andm), 0, 0, ncol, 0)
    colors = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in pal)
    return hdr + colors + bytes(xor) + bytes(andm), ncol

def main(out):
    imgs = [image(4), image(8)]
    data = struct.pack('<HHH', 0, 1, len(imgs))
    offset = 6 + 16 * len(imgs)
    for blob, ncol in imgs:
        data += struct.pack('<BBBBHHII', SIZE, SIZE, ncol % 256, 0, 1, 4 if ncol == 16 else 8, len(blob), offset)
        offset += len(blob)
    for blob, _ in imgs:
        data += blob
    open(out, 'wb').write(data)

if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'kestrix.ico')
