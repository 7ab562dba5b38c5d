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


# model: the first byte picks the format (o OBJ, p PLY, f OFF, s STL, g glTF), the rest is
# the file.
cube_v = "".join("v %d %d %d\n" % (x, y, z) for z in (0, 1) for y in (0, 1) for x in (0, 1))
write("model", "obj-cube", b"o" + (cube_v + "f 1 3 4 2\nf 5 6 8 7\nf 1 2 6 5\nf 3 7 8 4\n"
                                   "f 1 5 7 3\nf 2 4 8 6\n").encode())
write("model", "obj-normals-mtl", b"o" + b"mtllib fifo\nv 0 0 0\nv 1 0 0\nv 0 1 0\n"
      b"vn 0 0 -1\nvt 0 0\nusemtl m\nf 1/1/1 2/1/1 3/1/1\nl 1 2\np 3\n")
ply_head = ("ply\nformat %s 1.0\nelement vertex 4\nproperty float x\nproperty float y\n"
            "property float z\nelement face 2\nproperty list uchar int vertex_indices\n"
            "end_header\n")
write("model", "ply-ascii", b"p" + (ply_head % "ascii" + "0 0 0\n1 0 0\n0 1 0\n0 0 1\n"
                                    "3 0 1 2\n3 0 3 1\n").encode())
write("model", "ply-binary", b"p" + (ply_head % "binary_little_endian").encode()
      + struct.pack("<12f", 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1)
      + struct.pack("<B3iB3i", 3, 0, 1, 2, 3, 0, 3, 1))
write("model", "off-tetra", b"fOFF\n4 4 6\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n"
      b"3 0 2 1\n3 0 1 3\n3 0 3 2\n4 1 2 3 1\n")
write("model", "stl-ascii", b"ssolid t\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\n"
      b"vertex 1 0 0\nvertex 0 1 0\nendloop\nendfacet\nendsolid t\n")
write("model", "stl-binary", b"s" + bytes(80) + struct.pack("<I", 1)
      + struct.pack("<12f", 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0) + bytes(2))
write("model", "gltf-buffer", b"g" + b'{"asset":{"version":"2.0"},"buffers":[{"uri":'
      b'"buffer.bin","byteLength":48}],"bufferViews":[{"buffer":0,"byteLength":36},'
      b'{"buffer":0,"byteOffset":36,"byteLength":12}],"accessors":[{"bufferView":0,'
      b'"componentType":5126,"count":3,"type":"VEC3","max":[1,1,1],"min":[-1,-1,-1]},'
      b'{"bufferView":1,"componentType":5125,"count":3,"type":"SCALAR"}],"meshes":'
      b'[{"primitives":[{"attributes":{"POSITION":0},"indices":1}]}],"nodes":[{"mesh":0,'
      b'"rotation":[0,0,0,1]}],"scenes":[{"nodes":[0]}],"scene":0}')
write("model", "gltf-embedded", b"g" + b'{"asset":{"version":"2.0"},"buffers":[{"uri":'
      b'"data:application/octet-stream;base64,AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAA",'
      b'"byteLength":36}],"bufferViews":[{"buffer":0,"byteLength":36}],"accessors":[{"bufferView"'
      b':0,"componentType":5126,"count":3,"type":"VEC3","max":[1,1,0],"min":[0,0,0]}],"meshes":'
      b'[{"primitives":[{"attributes":{"POSITION":0}}]}],"nodes":[{"mesh":0}],"scenes":'
      b'[{"nodes":[0]}],"scene":0}')
# Regression seeds from the model target's findings are added by hand: regression-*.
