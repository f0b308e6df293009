#!/usr/bin/env python3
"""Writes modtest.ico: one 32x32 image in 16 colours (a framed square on a transparent field)."""
import struct
import sys

SIZE = 32
# The 16 colours of the standard palette, as red, green, blue.
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
           (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
           (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def colour(x, y):
    if 4 <= x < 28 and 4 <= y < 28:
        return 0 if x in (4, 27) or y in (4, 27) else 12
    return 0


def opaque(x, y):
    return 4 <= x < 28 and 4 <= y < 28


def main(path):
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 4, 0, SIZE * SIZE // 2 + SIZE * 4, 0, 0, 0, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(SIZE)):  # bitmaps are stored bottom-up
        for x in range(0, SIZE, 2):
            xor.append(colour(x, y) << 4 | colour(x + 1, y))
        bits = 0
        for x in range(SIZE):
            bits = bits << 1 | (0 if opaque(x, y) else 1)
        mask += struct.pack('>I', bits)
    image = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', SIZE, SIZE, 16, 0, 1, 4, len(image), 22)
    data = directory + image
    assert len(data) == 766
    with open(path, 'wb') as out:
        out.write(data)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'modtest.ico')
