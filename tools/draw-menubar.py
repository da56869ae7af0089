#!/usr/bin/env python3
# Usage: tools/draw-menubar.py [output png]   (default: resources/menubar.png, run from the repository root)
# Draws the 18x18 tray image: a white rounded square with two opposed dark arrows, on a thin dark edge.
import struct
import sys
import zlib
N = 18; S = 6
def in_round_rect(x, y, x0, y0, x1, y1, r):
    if x < x0 or x > x1 or y < y0 or y > y1: return False
    cx = min(max(x, x0 + r), x1 - r); cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
def in_arrow(x, y, y_mid, right):
    # shaft plus head, pointing right or left
    if right:
        if 4.5 <= x <= 10.5 and abs(y - y_mid) <= 0.85: return True
        return 10 <= x <= 13.6 and abs(y - y_mid) <= (13.6 - x) * 0.85
    if 7.5 <= x <= 13.5 and abs(y - y_mid) <= 0.85: return True
    return 4.4 <= x <= 8 and abs(y - y_mid) <= (x - 4.4) * 0.85
def glyph(x, y):
    return in_round_rect(x, y, 1.5, 1.5, 16.5, 16.5, 4)
def arrows(x, y):
    return in_arrow(x, y, 6.5, True) or in_arrow(x, y, 11.5, False)
def coverage(test):
    grid = [[0.0] * N for _ in range(N)]
    for py in range(N):
        for px in range(N):
            grid[py][px] = sum(test(px + (i + .5) / S, py + (j + .5) / S) for i in range(S) for j in range(S)) / (S * S)
    return grid
cov = coverage(glyph)
arr = coverage(arrows)
def halo(px, py):
    best = 0.0
    for dy in (-1, 0, 1):
        for dx in (-1, 0, 1):
            qx, qy = px + dx, py + dy
            if 0 <= qx < N and 0 <= qy < N: best = max(best, cov[qy][qx])
    return best
rows = b''
for py in range(N):
    rows += b'\x00'
    for px in range(N):
        g = cov[py][px] * (1 - arr[py][px] * 0.85); h = halo(px, py) * 0.8
        a = cov[py][px] + h * (1 - cov[py][px])
        c = 0 if a == 0 else (255 * g) / a
        rows += bytes([round(c), round(c), round(c), round(a * 255)])
def chunk(t, d): return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', N, N, 8, 6, 0, 0, 0)) + chunk(b'IDAT', zlib.compress(rows, 9)) + chunk(b'IEND', b'')
open(sys.argv[1] if len(sys.argv) > 1 else 'resources/menubar.png', 'wb').write(png)
