#!/usr/bin/env python3
"""Draws the launcher icon: an amber ring with a notch on a dark rounded tile.

Writes one .ico holding 48x48 at 32 bits (with alpha), 32x32 and 16x16 at 24 bits."""
import math
import struct
import sys

BACKGROUND = (14, 18, 26)
PANEL = (24, 30, 42)
ACCENT = (232, 168, 56)


def coverage(size, x, y):
    """Returns (alpha of the tile, colour) for the pixel centre, supersampled 4x4."""
    samples = 4
    tile = 0.0
    ring = 0.0
    c = size / 2.0
    radius = size * 0.34
    thickness = size * 0.11
    corner = size * 0.22
    for sy in range(samples):
        for sx in range(samples):
            px = x + (sx + 0.5) / samples
            py = y + (sy + 0.5) / samples
            # Rounded square tile.
            dx = max(corner - px, px - (size - corner), 0.0)
            dy = max(corner - py, py - (size - corner), 0.0)
            if dx * dx + dy * dy <= corner * corner:
                tile += 1
                d = math.hypot(px - c, py - c)
                angle = math.degrees(math.atan2(c - py, px - c)) % 360
                notch = 20 <= angle <= 70
                if abs(d - radius) <= thickness / 2 and not notch:
                    ring += 1
    n = samples * samples
    t = tile / n
    r = ring / max(tile, 1)
    base = [PANEL[i] + (BACKGROUND[i] - PANEL[i]) * (y / size) for i in range(3)]
    colour = tuple(int(round(base[i] * (1 - r) + ACCENT[i] * r)) for i in range(3))
    return t, colour


def image(size, bits):
    rows = []
    mask_rows = []
    for y in reversed(range(size)):  # bottom-up
        row = bytearray()
        mask = 0
        mask_bits = []
        for x in range(size):
            alpha, (r, g, b) = coverage(size, x, y)
            if bits == 32:
                row += bytes((b, g, r, int(round(alpha * 255))))
            else:
                if alpha < 0.5:
                    r, g, b = 0, 0, 0
                row += bytes((b, g, r))
            mask_bits.append(1 if alpha < 0.5 else 0)
        while len(row) % 4:
            row.append(0)
        rows.append(bytes(row))
        packed = bytearray()
        for i in range(0, size, 8):
            mask = 0
            for j, bit in enumerate(mask_bits[i:i + 8]):
                mask |= bit << (7 - j)
            packed.append(mask)
        while len(packed) % 4:
            packed.append(0)
        mask_rows.append(bytes(packed))
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0, 0, 0, 0, 0, 0)
    return header + b''.join(rows) + b''.join(mask_rows)


def main():
    sizes = [(48, 32), (32, 24), (16, 24)]
    images = [image(s, b) for s, b in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, bits), data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    out += b''.join(images)
    with open(sys.argv[1], 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
