#!/usr/bin/env python3
"""Writes resources/orvane.ico: one 48 x 48 image, 32 bits per pixel.

A blue rounded square with a white downward arrow, the picture of an update.
Run it again only to change the picture; the icon itself is committed.
"""
import struct
import sys

SIZE = 48


def pixel(x, y):
    # Rounded square of 4 px radius, vertical blue gradient.
    r = 4
    cx = min(max(x, r), SIZE - 1 - r)
    cy = min(max(y, r), SIZE - 1 - r)
    if (x - cx) ** 2 + (y - cy) ** 2 > r * r:
        return (0, 0, 0, 0)
    t = y / (SIZE - 1)
    blue = (int(142 + (11 - 142) * t), int(193 + (73 - 193) * t), int(225 + (157 - 225) * t), 255)
    # Arrow: a shaft and a head pointing down.
    if 20 <= x <= 27 and 9 <= y <= 26:
        return (255, 255, 255, 255)
    if 26 <= y <= 38 and abs(x - 23.5) <= 38 - y:
        return (255, 255, 255, 255)
    return blue


def main(path):
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in reversed(range(SIZE)):  # bitmaps are stored bottom-up
        row = b"".join(struct.pack("BBBB", b, g, r, a) for (r, g, b, a) in
                       (pixel(x, y) for x in range(SIZE)))
        rows.append(row)
    mask = b"\x00" * (8 * SIZE)  # AND mask rows padded to 32 bits; alpha decides
    image = header + b"".join(rows) + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    with open(path, "wb") as out:
        out.write(directory + entry + image)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/orvane.ico")
