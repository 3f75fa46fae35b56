#!/usr/bin/env python3
"""Draws the program's icon and writes the two icon files the resources use:
lumaris.ico (large: 16, 24, 32, 48 and 256 pixels) and lumaris-small.ico
(small: 16, 20, 24 and 32 pixels). The picture: a blue rounded square with a
white arrow rising out of a bar, the device taking in new firmware.
Plain Python, no imaging library; run it again after changing the drawing.
"""
import math
import struct
import sys
import zlib
from pathlib import Path

SAMPLES = 4  # per axis, for smooth edges


def rounded_square(x, y, r):
    # Inside the square [0.04, 0.96]^2 with corner radius r.
    lo, hi = 0.04, 0.96
    cx = min(max(x, lo + r), hi - r)
    cy = min(max(y, lo + r), hi - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r and lo <= x <= hi and lo <= y <= hi


def arrow(x, y):
    # Shaft and head, pointing up; y grows downwards.
    shaft = 0.42 <= x <= 0.58 and 0.36 <= y <= 0.68
    head = 0.14 <= y <= 0.42 and abs(x - 0.5) <= (y - 0.14) * (0.27 / 0.28)
    return shaft or head


def bar(x, y):
    return 0.22 <= x <= 0.78 and 0.74 <= y <= 0.84


def pixel(size, px, py):
    """Returns (r, g, b, a) for one pixel by supersampling."""
    acc = [0.0, 0.0, 0.0, 0.0]
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            x = (px + (sx + 0.5) / SAMPLES) / size
            y = (py + (sy + 0.5) / SAMPLES) / size
            if not rounded_square(x, y, 0.18):
                continue
            if arrow(x, y) or bar(x, y):
                colour = (255, 255, 255)
            else:
                t = y  # top lighter, bottom darker
                colour = (int(40 - 16 * t), int(128 - 48 * t), int(220 - 60 * t))
            for i in range(3):
                acc[i] += colour[i]
            acc[3] += 255
    n = SAMPLES * SAMPLES
    alpha = acc[3] / n
    if alpha == 0:
        return (0, 0, 0, 0)
    covered = acc[3] / 255
    return tuple(int(round(acc[i] / covered)) for i in range(3)) + (int(round(alpha)),)


def render(size):
    return [[pixel(size, x, y) for x in range(size)] for y in range(size)]


def bmp_entry(size, rows):
    """A 32-bit DIB as an icon stores it: bottom-up BGRA, then an AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    data = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            data += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(data) + bytes(mask)


def png_entry(size, rows):
    def chunk(kind, payload):
        body = kind + payload
        return struct.pack(">I", len(payload)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = bytearray()
    for row in rows:
        raw.append(0)
        for r, g, b, a in row:
            raw += bytes((r, g, b, a))
    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")


def write_ico(path, sizes):
    images = []
    for size in sizes:
        rows = render(size)
        images.append((size, png_entry(size, rows) if size >= 256 else bmp_entry(size, rows)))
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, blob in images:
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    for _, blob in images:
        out += blob
    Path(path).write_bytes(bytes(out))


def main():
    here = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent
    write_ico(here / "lumaris.ico", [16, 24, 32, 48, 256])
    write_ico(here / "lumaris-small.ico", [16, 20, 24, 32])


if __name__ == "__main__":
    main()
