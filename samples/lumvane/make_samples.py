#!/usr/bin/env python3
"""Draws the two product pictures that samples/lumvane/Lumvane.ini names (24-bit bitmaps,
88 x 86 pixels, small enough for the dialog's picture frames). Run from anywhere."""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
WIDTH, HEIGHT = 88, 86


def write_bmp(path, pixel):
    row = (WIDTH * 3 + 3) & ~3
    data = bytearray()
    for y in reversed(range(HEIGHT)):
        line = bytearray()
        for x in range(WIDTH):
            r, g, b = pixel(x, y)
            line += bytes((b, g, r))
        data += line + bytes(row - len(line))
    info = struct.pack('<IiiHHIIiiII', 40, WIDTH, HEIGHT, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    head = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(data), 0, 0, 14 + len(info))
    with open(path, 'wb') as f:
        f.write(head + info + data)


def shield(x, y):
    """A green shield on a pale background: the first product."""
    cx = WIDTH / 2
    inside = abs(x - cx) < 30 - max(0, y - 40) * 0.7 and 10 < y < 80
    if inside:
        return (30, 150 + y, 70) if abs(x - cx) > 4 else (240, 240, 240)
    return (235, 240, 235)


def rings(x, y):
    """Orange rings on a pale background: the second product."""
    r = math.hypot(x - WIDTH / 2, y - HEIGHT / 2)
    if int(r) // 6 % 2 == 0 and r < 40:
        return (230, 120, 20)
    return (245, 238, 228)


write_bmp(os.path.join(HERE, 'product1.bmp'), shield)
write_bmp(os.path.join(HERE, 'product2.bmp'), rings)
