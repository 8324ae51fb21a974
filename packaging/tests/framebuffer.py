#!/usr/bin/python3
"""Reads the screen Xvfb keeps in its -fbdir file (XWD format, 24 or 32 bits a pixel), saves it
as a PNG and compares two of them.

  framebuffer.py save XWD PNG          the screen as a PNG
  framebuffer.py differ XWD_A XWD_B    prints how many pixels of B differ from A
"""
import struct
import sys
import zlib


def read_xwd(path):
    with open(path, "rb") as f:
        data = f.read()
    fields = struct.unpack(">25I", data[:100])
    header_size, width, height = fields[0], fields[4], fields[5]
    byte_order, bits_per_pixel, bytes_per_line, ncolors = fields[7], fields[11], fields[12], fields[19]
    if bits_per_pixel not in (24, 32):
        raise SystemExit(f"{path}: {bits_per_pixel} bits a pixel is not handled")
    start = header_size + 12 * ncolors
    step = bits_per_pixel // 8
    rows = []
    for y in range(height):
        line = data[start + y * bytes_per_line:start + y * bytes_per_line + width * step]
        row = bytearray()
        for x in range(0, len(line), step):
            pixel = line[x:x + step]
            # LSBFirst (0): blue, green, red; MSBFirst: the other way round.
            b, g, r = (pixel[0], pixel[1], pixel[2]) if byte_order == 0 else (pixel[-1], pixel[-2], pixel[-3])
            row += bytes((r, g, b))
        rows.append(bytes(row))
    return width, height, rows


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    raw = b"".join(b"\x00" + row for row in rows)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 6)))
        f.write(chunk(b"IEND", b""))


def main():
    if sys.argv[1] == "save":
        write_png(sys.argv[3], *read_xwd(sys.argv[2]))
    elif sys.argv[1] == "differ":
        _, _, first = read_xwd(sys.argv[2])
        _, _, second = read_xwd(sys.argv[3])
        print(sum(1 for a, b in zip(first, second) for x in range(0, len(a), 3) if a[x:x + 3] != b[x:x + 3]))


main()
