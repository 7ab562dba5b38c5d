#!/usr/bin/env python3
"""Writes the seed corpora in fuzz/corpus/ (run once; the files are committed): a few small
valid files of each format and a few broken ones. Regression seeds are added by hand."""
import os
import struct
import zlib

here = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(here, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def volume(n, name=b"marble", version=4, components=3, component_type=1, samples=None):
    header = bytearray(4096)
    header[0:4] = b"VOLU"
    header[4:8] = struct.pack("<i", version)
    header[8:8 + len(name)] = name
    header[268:280] = struct.pack("<iii", n, components, component_type)
    if samples is None:
        samples = bytes(i * 37 % 256 for i in range(3 * n ** 3))
    return bytes(header) + samples


write("volume", "valid-n2", volume(2))
write("volume", "valid-n1-full-name", volume(1, name=b"n" * 260))
write("volume", "truncated-samples", volume(2, samples=bytes(10)))
write("volume", "bad-type", volume(1, name=b"../up", component_type=2))
write("volume", "short-header", b"VOLU" + struct.pack("<i", 4) + b"x" * 20)


def mesh(vertices, indices, counts=None):
    v, t = counts if counts else (len(vertices), len(indices) // 3)
    data = struct.pack("<ii", v, t)
    for record in vertices:
        data += struct.pack("<6f", *record)
    return data + struct.pack("<%dI" % len(indices), *indices)


triangle = [(0, 0, 0, 0, 0, 1), (1, 0, 0, 0, 0, 1), (0, 1, 0, 0, 0, 1)]
write("mesh", "triangle", mesh(triangle, [0, 1, 2]))
write("mesh", "two-triangles", mesh(triangle + [(-1, -2, float("nan"), 0, 1, 0)], [0, 1, 2, 2, 3, 0]))
write("mesh", "empty", mesh([], []))
write("mesh", "index-out-of-range", mesh(triangle, [0, 1, 3]))
write("mesh", "negative-count", mesh([], [], counts=(-1, 0)))
write("mesh", "truncated", mesh(triangle, [0, 1, 2])[:50])


def raw(w, h, c, values=None):
    if values is None:
        values = [i / 10 for i in range(w * h * c)]
    return struct.pack("<iii", w, h, c) + struct.pack("<%df" % len(values), *values)


write("raw", "rgb-2x2", raw(2, 2, 3))
write("raw", "grey-1x3", raw(1, 3, 1))
write("raw", "truncated", raw(2, 2, 3)[:40])
write("raw", "wrapping-sizes", struct.pack("<iii", 1 << 30, 1 << 30, 16) + bytes(16))
write("raw", "negative", raw(-1, 2, 1, [0.0, 0.0]))


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(w, h, depth, colour, rows, extra=b"", interlace=0, cut=None):
    ihdr = struct.pack(">IIBBBBB", w, h, depth, colour, 0, 0, interlace)
    idat = zlib.compress(b"".join(b"\0" + row for row in rows))
    if cut is not None:
        idat = idat[:cut]
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + extra + chunk(b"IDAT", idat) +
            chunk(b"IEND", b""))


write("picture", "rgb-2x2.png", png(2, 2, 8, 2, [b"\xff\0\0\0\xff\0", b"\0\0\xff\xff\xff\xff"]))
write("picture", "rgba-2x2-adam7.png",
      png(2, 2, 8, 6, [b"\x10\x20\x30\x40" * 2, b"\x50\x60\x70\x80" * 2], interlace=1))
write("picture", "grey16-2x2.png", png(2, 2, 16, 0, [b"\x12\x34\xff\xff", b"\0\0\x80\0"]))
write("picture", "palette-2x2.png",
      png(2, 2, 2, 3, [b"\x1b", b"\xe4"], extra=chunk(b"PLTE", b"\xff\0\0\0\xff\0\0\0\xff\xff\xff\xff") +
          chunk(b"tRNS", b"\x80")))
write("picture", "grey-alpha-1x1.png", png(1, 1, 8, 4, [b"\x40\xc0"], extra=chunk(b"gAMA", struct.pack(">I", 45455))))
# The image data stops after two bytes while the chunk sequence stays whole.
write("picture", "short-idat.png", png(4, 4, 8, 2, [bytes(12)] * 4, cut=2))
write("picture", "ends-early.png", png(2, 2, 8, 2, [bytes(6)] * 2)[:40])
