#!/usr/bin/env python3
"""Draws the control's pictures as 24-bit bitmaps: the design-time picture (32 x 32, resource
202) and the toolbox picture (16 x 16, resource 101), a padlock on a light tile.
Usage: make_bitmaps.py CONTROL_BMP TOOLBOX_BMP"""
import struct
import sys

TILE = (236, 240, 246)
EDGE = (96, 112, 140)
BODY = (214, 160, 40)
BODY_SHADE = (168, 118, 20)
SHACKLE = (120, 128, 140)
KEYHOLE = (40, 32, 24)


def padlock(size, x, y):
    """RGB of the padlock picture of `size` pixels at (x, y), y counted from the top."""
    u, v = x / size, y / size  # unit coordinates
    if x in (0, size - 1) or y in (0, size - 1):
        return EDGE
    # The body: the lower part, with a shaded right third and a keyhole.
    if 0.22 <= u <= 0.78 and 0.44 <= v <= 0.86:
        if 0.45 <= u <= 0.55 and 0.54 <= v <= 0.74:
            return KEYHOLE
        return BODY_SHADE if u > 0.66 else BODY
    # The shackle: an arch of two posts and a bar above the body.
    thick = max(1.0 / size, 0.09)
    inside = 0.30 <= u <= 0.70 and 0.14 <= v < 0.44
    on_posts = inside and (u < 0.30 + thick or u > 0.70 - thick)
    on_bar = 0.30 <= u <= 0.70 and 0.14 <= v < 0.14 + thick
    if on_posts or on_bar:
        return SHACKLE
    return TILE


def bmp24(size):
    row_bytes = (size * 3 + 3) & ~3
    pixels = bytearray()
    for y in reversed(range(size)):  # rows bottom-up
        line = bytearray()
        for x in range(size):
            r, g, b = padlock(size, x, y)
            line += bytes((b, g, r))
        pixels += line + bytes(row_bytes - len(line))
    info = struct.pack('<IiiHHIIiiII', 40, size, size, 1, 24, 0, len(pixels), 3780, 3780, 0, 0)
    header = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + pixels


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    for path, size in ((sys.argv[1], 32), (sys.argv[2], 16)):
        with open(path, 'wb') as out:
            out.write(bmp24(size))


if __name__ == '__main__':
    main()
