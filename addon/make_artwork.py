#!/usr/bin/env python3
"""Draws Lumvane's artwork: the program icon (Lumvane.ico, 32x32 and 16x16, 32-bit) and the
maker's logo (logo.bmp, 55x55, 24-bit). Usage: make_artwork.py OUTPUT_DIR"""
import math
import os
import struct
import sys


def lantern(size, x, y):
    """RGBA of a blue disc with a white lens, the maker's mark, at pixel (x, y)."""
    c = (size - 1) / 2.0
    r = math.hypot(x - c, y - c) / (size / 2.0)
    if r > 1.0:
        return (0, 0, 0, 0)
    shade = 1.0 - 0.45 * r
    if abs(x - c) < size * 0.12 or abs(y - c) < size * 0.12:
        return (255, 255, 255, 255) if r < 0.7 else (int(40 * shade), int(90 * shade), int(220 * shade), 255)
    return (int(40 * shade), int(90 * shade), int(220 * shade), 255)


def bmp24(size, background=(255, 255, 255)):
    row = (size * 3 + 3) & ~3
    pixels = bytearray()
    for y in reversed(range(size)):  # bottom-up rows
        line = bytearray()
        for x in range(size):
            r, g, b, a = lantern(size, x, y)
            if a == 0:
                r, g, b = background
            line += bytes((b, g, r))
        pixels += line + bytes(row - len(line))
    header = struct.pack('<IiiHHIIiiII', 40, size, size, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    file_header = struct.pack('<2sIHHI', b'BM', 14 + len(header) + len(pixels), 0, 0, 14 + len(header))
    return file_header + header + pixels


def icon_image(size):
    colour = bytearray()
    mask_row = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in reversed(range(size)):
        bits = 0
        line_mask = bytearray(mask_row)
        for x in range(size):
            r, g, b, a = lantern(size, x, y)
            colour += bytes((b, g, r, a))
            if a == 0:
                line_mask[x // 8] |= 0x80 >> (x % 8)
        mask += line_mask
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
    return header + colour + mask


def ico(sizes):
    images = [icon_image(s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return out + b''.join(images)


def main():
    out_dir = sys.argv[1]
    os.makedirs(out_dir, exist_ok=True)
    with open(os.path.join(out_dir, 'logo.bmp'), 'wb') as f:
        f.write(bmp24(55))
    with open(os.path.join(out_dir, 'Lumvane.ico'), 'wb') as f:
        f.write(ico([32, 16]))


if __name__ == '__main__':
    main()
