#!/usr/bin/env python3
"""Writes the application icon (16x16 and 32x32, 32-bit with alpha): a blue disc with a white
gauge needle, so that the tray and the About box have a picture without a binary in the repo.

usage: make_icon.py OUTPUT.ico
"""
import math
import struct
import sys

BLUE = (0x1F, 0x5F, 0xBF)
WHITE = (0xFF, 0xFF, 0xFF)


def pixel(x, y, size):
    """Colour and alpha of one pixel, sampled 4x4 for smooth edges."""
    c = (size - 1) / 2.0
    radius = size / 2.0 - 0.5
    blue_hits = white_hits = 0
    for sy in range(4):
        for sx in range(4):
            px = x + (sx + 0.5) / 4 - 0.5 - c
            py = c - (y + (sy + 0.5) / 4 - 0.5)  # y grows upwards
            r = math.hypot(px, py)
            if r > radius:
                continue
            # Needle from the centre towards the upper right, and a hub in the middle.
            angle = math.radians(50)
            along = px * math.cos(angle) + py * math.sin(angle)
            across = abs(-px * math.sin(angle) + py * math.cos(angle))
            needle = 0 <= along <= radius * 0.75 and across <= size / 16.0
            hub = r <= size / 8.0
            ring = radius * 0.82 <= r <= radius * 0.9 and py >= -radius * 0.2
            if needle or hub or ring:
                white_hits += 1
            else:
                blue_hits += 1
    hits = blue_hits + white_hits
    if hits == 0:
        return (0, 0, 0, 0)
    colour = tuple((b * blue_hits + w * white_hits) // hits for b, w in zip(BLUE, WHITE))
    return colour + (hits * 255 // 16,)


def image(size):
    """One icon image: BITMAPINFOHEADER, bottom-up BGRA pixels, then the AND mask."""
    rows = []
    mask = b""
    mask_stride = ((size + 31) // 32) * 4
    for y in reversed(range(size)):
        row = b""
        mask_row = bytearray(mask_stride)
        for x in range(size):
            r, g, b, a = pixel(x, y, size)
            row += bytes((b, g, r, a))
            if a == 0:
                mask_row[x // 8] |= 0x80 >> (x % 8)
        rows.append(row)
        mask += bytes(mask_row)
    pixels = b"".join(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return header + pixels + mask


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sizes = (16, 32)
    images = [image(s) for s in sizes]
    offset = 6 + 16 * len(images)
    out = struct.pack("<HHH", 0, 1, len(images))
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
