#!/usr/bin/env python3
"""Draws the launcher's icons and writes them as .ico files (standard library only).

  make_icons.py OUTPUT_FOLDER

launcher.ico: the executable's icon group, six images: 16 and 32 pixels in 256 colours; 16, 32,
48 and 256 pixels in 32-bit colour, the 256-pixel one PNG-compressed.
window.ico: the window class's icon, one 32 x 32 image in 256 colours.
window_icon.h: that same 256-colour image as RGBA bytes, for the Linux window.
launcher-16.png ... launcher-256.png: the 32-bit images, for Linux desktops.

The picture: a play button, a gold disc with a dark triangle on a blue rounded square.
"""

import os
import struct
import sys
import zlib

SAMPLES = 4  # per pixel side, for smooth edges


def inside_rounded_square(x, y, margin=0.06, radius=0.2):
    lo, hi = margin, 1.0 - margin
    if not (lo <= x <= hi and lo <= y <= hi):
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_triangle(x, y, a=(0.42, 0.33), b=(0.42, 0.67), c=(0.69, 0.5)):
    def side(p, q):
        return (x - q[0]) * (p[1] - q[1]) - (p[0] - q[0]) * (y - q[1])

    d1, d2, d3 = side(a, b), side(b, c), side(c, a)
    negative = d1 < 0 or d2 < 0 or d3 < 0
    positive = d1 > 0 or d2 > 0 or d3 > 0
    return not (negative and positive)


def sample(x, y):
    """Colour of the picture at (x, y) in the unit square, as (r, g, b, a)."""
    if not inside_rounded_square(x, y):
        return (0, 0, 0, 0)
    if inside_triangle(x, y) and (x - 0.5) ** 2 + (y - 0.5) ** 2 <= 0.31 ** 2:
        return (24, 28, 72, 255)
    if (x - 0.5) ** 2 + (y - 0.5) ** 2 <= 0.31 ** 2:
        shade = 1.0 - 0.35 * y
        return (int(250 * shade), int(196 * shade), int(60 * shade), 255)
    top, bottom = (52, 92, 190), (14, 22, 70)
    return tuple(int(t + (b - t) * y) for t, b in zip(top, bottom)) + (255,)


def render(size):
    """Rows top to bottom of (r, g, b, a), straight (not premultiplied) alpha."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    r, g, b, a = sample((px + (sx + 0.5) / SAMPLES) / size,
                                        (py + (sy + 0.5) / SAMPLES) / size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            alpha = acc[3] / (SAMPLES * SAMPLES)
            if acc[3] == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(acc[0] / acc[3]), round(acc[1] / acc[3]),
                            round(acc[2] / acc[3]), round(alpha)))
        rows.append(row)
    return rows


def mask_rows(rows):
    """The AND mask, bottom-up, 1 bit a pixel (1 = transparent), rows padded to 32 bits."""
    size = len(rows)
    stride = ((size + 31) // 32) * 4
    data = bytearray()
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        data += bits
    return bytes(data)


def bitmap_header(size, bit_count, colours_used):
    image_bytes = 0
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bit_count, 0, image_bytes, 0, 0,
                       colours_used, 0)


def palette_256(rows):
    """The image's own colours at 5 bits a channel, the most frequent 256 of them, each the
    average of the pixels it stands for; unused entries are black."""
    groups = {}
    for row in rows:
        for r, g, b, a in row:
            if a >= 128:
                key = (r >> 3, g >> 3, b >> 3)
                total = groups.setdefault(key, [0, 0, 0, 0])
                total[0] += r
                total[1] += g
                total[2] += b
                total[3] += 1
    popular = sorted(groups.values(), key=lambda t: -t[3])[:256]
    colours = [(round(r / n), round(g / n), round(b / n)) for r, g, b, n in popular]
    return colours + [(0, 0, 0)] * (256 - len(colours))


def nearest(palette, colour, cache):
    if colour not in cache:
        cache[colour] = min(range(len(palette)),
                            key=lambda i: sum((p - c) ** 2 for p, c in zip(palette[i], colour)))
    return cache[colour]


def indexed(rows):
    """The palette and, top to bottom, each pixel's palette index (0 where transparent)."""
    palette = palette_256(rows)
    cache = {}
    return palette, [[nearest(palette, (r, g, b), cache) if a >= 128 else 0
                      for r, g, b, a in row] for row in rows]


def dib_8bit(rows):
    size = len(rows)
    palette, indices = indexed(rows)
    stride = ((size + 3) // 4) * 4
    pixels = bytearray()
    for row in reversed(indices):
        pixels += bytes(row) + bytes(stride - size)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return bitmap_header(size, 8, 256) + table + bytes(pixels) + mask_rows(rows)


def dib_32bit(rows):
    pixels = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += struct.pack("<BBBB", b, g, r, a)
    return bitmap_header(len(rows), 32, 0) + bytes(pixels) + mask_rows(rows)


def png(rows):
    size = len(rows)
    raw = b"".join(b"\x00" + bytes(v for pixel in row for v in pixel) for row in rows)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def rgba_header(rows):
    """The 256-colour image as the window shows it: palette colours, opaque or transparent."""
    palette, indices = indexed(rows)
    data = bytearray()
    for row, index_row in zip(rows, indices):
        for (_, _, _, a), i in zip(row, index_row):
            data += bytes(palette[i]) + bytes([255]) if a >= 128 else bytes(4)
    lines = [", ".join(str(v) for v in data[i:i + 16]) for i in range(0, len(data), 16)]
    return ("// Drawn by resources/make_icons.py: the window's 32 x 32 256-colour icon as RGBA\n"
            "// bytes, top row first.\n#pragma once\n\n#include <array>\n#include <cstdint>\n\n"
            "namespace launcher::resources {\n\n"
            f"inline constexpr int kWindowIconSize = {len(rows)};\n"
            f"inline constexpr std::array<std::uint8_t, {len(data)}> kWindowIconRgba{{\n    "
            + ",\n    ".join(lines) + "};\n\n}  // namespace launcher::resources\n").encode()


def icon_file(images):
    """images: (size, bit_count, data) in directory order."""
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, blobs = b"", b""
    for size, bit_count, data in images:
        side = 0 if size >= 256 else size
        entries += struct.pack("<BBBBHHII", side, side, 0, 0, 1, bit_count, len(data), offset)
        offset += len(data)
        blobs += data
    return directory + entries + blobs


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    pictures = {size: render(size) for size in (16, 32, 48, 256)}
    launcher = icon_file([
        (16, 8, dib_8bit(pictures[16])),
        (32, 8, dib_8bit(pictures[32])),
        (16, 32, dib_32bit(pictures[16])),
        (32, 32, dib_32bit(pictures[32])),
        (48, 32, dib_32bit(pictures[48])),
        (256, 32, png(pictures[256])),
    ])
    window = icon_file([(32, 8, dib_8bit(pictures[32]))])
    files = [("launcher.ico", launcher), ("window.ico", window),
             ("window_icon.h", rgba_header(pictures[32]))]
    files += [(f"launcher-{size}.png", png(rows)) for size, rows in pictures.items()]
    for name, data in files:
        path = os.path.join(out, name)
        with open(path + ".tmp", "wb") as f:
            f.write(data)
        os.replace(path + ".tmp", path)


if __name__ == "__main__":
    main()
