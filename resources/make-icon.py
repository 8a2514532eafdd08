#!/usr/bin/env python3
"""Writes pelnor.ico: one 32 x 32 image in 16 colours, a waveform cut in two."""
import struct, sys

W = H = 32
palette = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
           (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
           (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
WHITE, NAVY, RED, GREY = 15, 4, 9, 8

pixels = [[WHITE] * W for _ in range(H)]
for x in range(W):
    pixels[0][x] = pixels[H - 1][x] = GREY
for y in range(H):
    pixels[y][0] = pixels[y][W - 1] = GREY
heights = [2, 5, 9, 12, 8, 4, 10, 13, 11, 6, 3, 7, 12, 9, 5, 2]
for i, h in enumerate(heights):
    x = 3 + i * 2 if i < 7 else 6 + i * 2
    if x >= W - 2:
        break
    for y in range(16 - h, 16 + h):
        pixels[y][x] = NAVY
for y in range(3, H - 3):
    pixels[y][17] = RED

rows = b""
for y in reversed(range(H)):            # bottom-up
    row = pixels[y]
    rows += bytes((row[x] << 4) | row[x + 1] for x in range(0, W, 2))
mask = b"\0" * (4 * H)                  # every pixel opaque
header = struct.pack("<IiiHHIIiiII", 40, W, 2 * H, 1, 4, 0, len(rows) + len(mask), 0, 0, 16, 0)
pal = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in palette)
image = header + pal + rows + mask
ico = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", W, H, 16, 0, 1, 4, len(image), 22) + image
open(sys.argv[1] if len(sys.argv) > 1 else "pelnor.ico", "wb").write(ico)
