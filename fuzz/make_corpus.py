#!/usr/bin/env python3
"""Writes the seed corpora in fuzz/corpus/ (run once; the files are committed): a few small
valid files of each format and a few broken ones. Regression seeds are added by hand."""
import os
import sys
import gzip
import json
import struct
import subprocess
import tempfile
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


def gzip_bytes(data):
    return gzip.compress(data, mtime=0)


def nifti1(dims, datatype, bitpix, data, slope=0.0, inter=0.0, order="<", sform=None):
    """A single-file NIfTI-1 header (348 bytes), the 4 extension bytes, then the voxels; sform:
    three rows of four."""
    header = bytearray(348)
    struct.pack_into(order + "i", header, 0, 348)
    struct.pack_into(order + "8h", header, 40, len(dims), *(list(dims) + [1] * (7 - len(dims))))
    struct.pack_into(order + "hh", header, 70, datatype, bitpix)
    struct.pack_into(order + "8f", header, 76, 1, 0.5, 0.75, 2, 1, 1, 1, 1)
    struct.pack_into(order + "f", header, 108, 352)  # vox_offset
    struct.pack_into(order + "ff", header, 112, slope, inter)
    if sform:
        struct.pack_into(order + "h", header, 254, 2)  # sform_code
        struct.pack_into(order + "12f", header, 280, *[v for row in sform for v in row])
    header[344:348] = b"n+1\0"
    return bytes(header) + bytes(4) + data


def nifti2(dims, datatype, bitpix, data):
    """The same as NIfTI-2: a 540-byte header with 64-bit sizes."""
    header = bytearray(540)
    struct.pack_into("<i", header, 0, 540)
    header[4:12] = b"n+2\0\r\n\x1a\n"
    struct.pack_into("<hh", header, 12, datatype, bitpix)
    struct.pack_into("<8q", header, 16, len(dims), *(list(dims) + [1] * (7 - len(dims))))
    struct.pack_into("<8d", header, 104, 1, 1, 1, 1, 1, 1, 1, 1)
    struct.pack_into("<q", header, 168, 544)  # vox_offset
    return bytes(header) + bytes(4) + data


write("nifti", "u8-2x2x2.nii", nifti1((2, 2, 2), 2, 8, bytes(range(8))))
write("nifti", "i16-scaled.nii", nifti1((2, 2, 2), 4, 16, struct.pack("<8h", *range(-4, 4)), 2.0, 1.0))
write("nifti", "f32-vector.nii", nifti1((2, 1, 2, 1, 2), 16, 32, struct.pack("<8f", *range(8))))
write("nifti", "rgb24.nii", nifti1((1, 2, 2), 128, 24, bytes(range(12))))
write("nifti", "rgba32.nii.gz", gzip_bytes(nifti1((1, 1, 2), 2304, 32, bytes(range(8)))))
write("nifti", "u16-nifti2.nii", nifti2((2, 2, 1), 512, 16, struct.pack("<4H", 1, 2, 3, 65535)))
write("nifti", "f64-2x2x2.nii.gz", gzip_bytes(nifti1((2, 2, 2), 64, 64, struct.pack("<8d", *range(8)))))
write("nifti", "time-points.nii", nifti1((1, 1, 1, 2), 2, 8, bytes(2)))
write("nifti", "truncated.nii", nifti1((4, 4, 4), 2, 8, bytes(10)))
# Three volumes of two vector channels: a slice's channels lie far apart in the stream.
write("nifti", "volumes-vector.nii.gz",
      gzip_bytes(nifti1((2, 2, 2, 3, 2), 4, 16, struct.pack("<48h", *range(48)))))
write("nifti", "big-endian-sform.nii",
      nifti1((2, 2, 1), 4, 16, struct.pack(">4h", 1, -2, 3, -4), 0.5, 1.0, ">",
             ((-1, 0, 0, 0), (0, 1, 0, 0), (0, 0, -1, 0))))


def meta(sizes, element, data, extra="", data_file="LOCAL"):
    return ("ObjectType = Image\nNDims = 3\nDimSize = %s\nElementType = %s\n"
            "ElementSpacing = 0.5 1 2\n%sElementDataFile = %s\n" % (sizes, element, extra, data_file)
            ).encode() + data


write("metaimage", "u8-local.mha", meta("2 2 2", "MET_UCHAR", bytes(range(8))))
write("metaimage", "i16-msb.mha", meta("2 1 2", "MET_SHORT", struct.pack(">4h", -2, -1, 0, 1),
                                       "BinaryDataByteOrderMSB = True\nAnatomicalOrientation = RAI\n"))
packed = zlib.compress(struct.pack("<8f", *range(8)))
write("metaimage", "f32-zlib-2ch.mha",
      meta("2 1 2", "MET_FLOAT", packed, "ElementNumberOfChannels = 2\nCompressedData = True\n"
           "CompressedDataSize = %d\n" % len(packed)))
write("metaimage", "u16-data-file.mhd", meta("4 4 2", "MET_USHORT", b"", "HeaderSize = 16\n", "data.raw"))
write("metaimage", "tail-data-file.mhd", meta("8 8 8", "MET_DOUBLE", b"", "HeaderSize = -1\n", "data.raw"))
write("metaimage", "outside.mhd", meta("2 2 2", "MET_UCHAR", b"", "", "../data.raw"))
write("metaimage", "itk-keys.mha", meta("2 2 1", "MET_UCHAR", bytes(range(4)),
                                         "ITK_InputFilterName = MetaImageIO\nCenterOfRotation = 0 0 0\n"
                                         "AnatomicalOrientation = RAI\nColor = 1 0 0 1\n"))
write("metaimage", "truncated.mha", meta("4 4 4", "MET_INT", bytes(7)))


def element(group, number, vr, value):
    """One data element in explicit VR little endian."""
    if len(value) % 2:
        value += b"\0" if vr in (b"UI", b"OB") else b" "
    tag = struct.pack("<HH", group, number) + vr
    if vr in (b"OB", b"OW", b"SQ", b"UN", b"UT"):
        return tag + b"\0\0" + struct.pack("<I", len(value)) + value
    return tag + struct.pack("<H", len(value)) + value


def rle_segment(data):
    """data as one PackBits segment of literal runs."""
    out = b""
    for start in range(0, len(data), 128):
        chunk = data[start:start + 128]
        out += bytes([len(chunk) - 1]) + chunk
    return out + (b"\0" if len(out) % 2 else b"")


def rle_frame(samples, channels, size):
    """One RLE fragment: each channel's bytes most significant first, a segment each."""
    segments = []
    for c in range(channels):
        for b in reversed(range(size)):
            segments.append(rle_segment(bytes(v >> (8 * b) & 0xFF for v in samples[c::channels])))
    offsets, at = [], 64
    for segment in segments:
        offsets.append(at)
        at += len(segment)
    header = struct.pack("<16I", len(segments), *(offsets + [0] * (15 - len(offsets))))
    return header + b"".join(segments)


def encapsulated(*fragments):
    """Pixel data of undefined length: an empty offset table, the fragments, the delimiter."""
    items = element_item(b"") + b"".join(element_item(f) for f in fragments)
    return (struct.pack("<HH", 0x7FE0, 0x0010) + b"OB\0\0" + struct.pack("<I", 0xFFFFFFFF) + items +
            struct.pack("<HHI", 0xFFFE, 0xE0DD, 0))


def element_item(value):
    return struct.pack("<HHI", 0xFFFE, 0xE000, len(value)) + value


def dicom(rows, columns, pixels, bits=16, signed=1, frames=None, z=0, slope=None,
          syntax=b"1.2.840.10008.1.2.1", channels=1, image_type=None):
    """A CT image file: the preamble, the file meta group and the data set, pixel data last
    (bytes, or a whole encapsulated element)."""
    sop = b"1.2.840.10008.5.1.4.1.1.2"
    meta_group = (element(0x0002, 0x0001, b"OB", b"\0\1") + element(0x0002, 0x0002, b"UI", sop) +
                  element(0x0002, 0x0003, b"UI", b"1.2.3.4.5.%d" % z) +
                  element(0x0002, 0x0010, b"UI", syntax))
    body = (element(0x0008, 0x0008, b"CS", image_type) if image_type else b"")
    body += (element(0x0008, 0x0016, b"UI", sop) + element(0x0008, 0x0018, b"UI", b"1.2.3.4.5.%d" % z) +
            element(0x0008, 0x0060, b"CS", b"CT") + element(0x0020, 0x000E, b"UI", b"1.2.3.4.9") +
            element(0x0020, 0x0032, b"DS", b"0\\0\\%d" % z) +
            element(0x0020, 0x0037, b"DS", b"1\\0\\0\\0\\1\\0") +
            element(0x0028, 0x0002, b"US", struct.pack("<H", channels)) +
            element(0x0028, 0x0004, b"CS", b"RGB" if channels == 3 else b"MONOCHROME2"))
    if channels == 3:
        body += element(0x0028, 0x0006, b"US", struct.pack("<H", 0))
    if frames:
        body += element(0x0028, 0x0008, b"IS", b"%d" % frames)
    body += (element(0x0028, 0x0010, b"US", struct.pack("<H", rows)) +
             element(0x0028, 0x0011, b"US", struct.pack("<H", columns)) +
             element(0x0028, 0x0030, b"DS", b"0.5\\0.25") +
             element(0x0028, 0x0100, b"US", struct.pack("<H", bits)) +
             element(0x0028, 0x0101, b"US", struct.pack("<H", bits)) +
             element(0x0028, 0x0102, b"US", struct.pack("<H", bits - 1)) +
             element(0x0028, 0x0103, b"US", struct.pack("<H", signed)))
    if slope:
        body += element(0x0028, 0x1052, b"DS", b"-1024") + element(0x0028, 0x1053, b"DS", slope)
    if isinstance(pixels, tuple):
        body += encapsulated(*pixels)
    else:
        body += element(0x7FE0, 0x0010, b"OW" if bits > 8 else b"OB", pixels)
    group_length = element(0x0002, 0x0000, b"UL", struct.pack("<I", len(meta_group)))
    return bytes(128) + b"DICM" + group_length + meta_group + body


write("dicom", "i16-3x2.dcm", dicom(2, 3, struct.pack("<6h", -3, -2, -1, 0, 1, 2)))
write("dicom", "i16-rescaled.dcm", dicom(2, 2, struct.pack("<4h", 1, 2, 3, 4), slope=b"2"))
write("dicom", "u8-frames.dcm", dicom(2, 2, bytes(range(12)), bits=8, signed=0, frames=3))
write("dicom", "short-pixels.dcm", dicom(4, 4, bytes(6)))
write("dicom", "twelve-bits.dcm", dicom(2, 2, bytes(6), bits=12, signed=0))
rgb16 = [0xFFFF, 0, 0, 0, 0x1234, 0, 0, 0, 0xABCD, 7, 8, 9]
write("dicom", "rle-rgb16.dcm", dicom(2, 2, (rle_frame(rgb16, 3, 2),), signed=0, channels=3,
                                      syntax=b"1.2.840.10008.1.2.5"))
write("dicom", "rle-u32-frames.dcm",
      dicom(1, 2, (rle_frame([1, 2 << 24], 1, 4), rle_frame([3 << 16, 4 << 8], 1, 4)), bits=32,
            signed=0, frames=2, syntax=b"1.2.840.10008.1.2.5"))
write("dicom", "mosaic.dcm", dicom(2, 2, bytes(8), image_type=b"ORIGINAL\\PRIMARY\\M\\MOSAIC"))


# The converter's readers: .npy, NRRD, TIFF and slice pictures.
def npy(descr, shape, data, version=1):
    text = "{'descr': '%s', 'fortran_order': False, 'shape': %s, }" % (descr, shape)
    text += " " * ((64 - (len(text) + 11) % 64) % 64) + "\n"
    size = struct.pack("<H", len(text)) if version == 1 else struct.pack("<I", len(text))
    return b"\x93NUMPY" + bytes([version, 0]) + size + text.encode() + data


write("npy", "grey-u1", npy("|u1", "(2, 2, 2)", bytes(range(8))))
write("npy", "rgb-u1", npy("|u1", "(1, 2, 2, 3)", bytes(range(12))))
write("npy", "big-i2", npy(">i2", "(1, 2, 2)", struct.pack(">4h", -3, 0, 300, 4000)))

write("rawvolume", "n1", bytes([16, 32, 48]))
write("rawvolume", "n2", bytes(i * 37 % 256 for i in range(24)))
write("rawvolume", "between", bytes(25))
write("npy", "f4-two-channels", npy("<f4", "(1, 1, 2, 2)", struct.pack("<4f", 0.5, 1, -2, 3e9), 2))
write("npy", "f8", npy("<f8", "(1, 1, 1)", struct.pack("<d", 1.5)))
write("npy", "overflowing-shape", npy("|u1", "(16, 1073741824, 1073741824)", b""))
write("npy", "truncated", npy("<u2", "(2, 2, 2)", bytes(7)))

nrrd_header = "NRRD0004\ntype: %s\ndimension: %d\nsizes: %s\nencoding: %s\nendian: %s\n%s\n"


def nrrd(kind, sizes, encoding, data, endian="little", extra=""):
    dims = len(sizes.split())
    return (nrrd_header % (kind, dims, sizes, encoding, endian, extra)).encode() + data


write("nrrd", "grey-raw", nrrd("uchar", "2 2 2", "raw", bytes(range(8))))
def gz(data):
    return gzip.compress(data, mtime=0)


write("nrrd", "rgb-gzip", nrrd("uchar", "3 2 2 1", "gzip", gz(bytes(12)),
                               extra="kinds: RGB-color domain domain domain\n"))
write("nrrd", "short-big-gzip-two-members",
      nrrd("short", "2 1 2", "gzip", gz(struct.pack(">2h", 1, -2)) + gz(struct.pack(">2h", 3, -4)),
           endian="big"))
write("nrrd", "float-spacings", nrrd("float", "1 2 1", "raw", struct.pack("<2f", 1, 2),
                                     extra="spacings: 0.5 1 2\n"))
write("nrrd", "double-space-directions",
      nrrd("double", "1 1 1", "raw", struct.pack("<d", 7),
           extra="space: RAS\nspace directions: (1,0,0) (0,2,0) (0,0,3)\n"))
write("nrrd", "detached", b"NRRD0004\ntype: uint\ndimension: 3\nsizes: 2 2 2\nencoding: raw\n"
      b"endian: little\ndata file: data.raw\n")
write("nrrd", "detached-outside", b"NRRD0004\ntype: uchar\ndimension: 3\nsizes: 1 1 1\n"
      b"encoding: raw\ndata file: ../../etc/passwd\n")
write("nrrd", "key-values", nrrd("uchar", "1 1 1", "raw", b"x", extra="a:=b\nc:=d\n# note\n"))
write("nrrd", "huge-gzip-slice", nrrd("uchar", "100000 100000 1", "gzip", gz(b"x")))


# The slice path's first byte picks the extension: 0 png, 1 bmp, 2 ppm, 3 pgm, 4 gif, ...
write("slices", "grey-png", b"\0" + png(2, 2, 8, 0, [b"\1\2", b"\3\4"]))
write("slices", "rgba16-png", b"\0" + png(1, 1, 16, 6, [bytes(range(8))]))
write("slices", "grey-alpha-png-cut", b"\x40" + png(2, 1, 8, 4, [b"\1\2\3\4"]))
write("slices", "ppm", b"\2P6\n2 1\n255\n" + bytes(range(6)))
write("slices", "pgm-16", b"\3P5\n1 2\n65535\n" + bytes(range(4)))


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

# The zips stores_test reads (zipfile's layouts, zip64, spoiled ones), where small.

with tempfile.TemporaryDirectory() as zips:
    subprocess.run([sys.executable, os.path.join(here, "..", "tests", "storezips.py"), zips],
                   check=True)
    for name in sorted(os.listdir(zips)):
        path = os.path.join(zips, name)
        if name.endswith(".zip") and os.path.getsize(path) <= 4096:
            with open(path, "rb") as f:
                write("zipstore", name, f.read())

# Zarr's metadata: v2 and v3 arrays, sharding, OME-NGFF attributes.
zarray = {"zarr_format": 2, "shape": [4, 6, 8], "chunks": [2, 3, 4], "dtype": "<u2", "order": "F",
          "fill_value": "NaN", "compressor": {"id": "blosc", "cname": "zstd"}, "filters": None,
          "dimension_separator": "/"}
write("zarrmeta", "v2-array", json.dumps(zarray).encode())
write("zarrmeta", "v3-sharded", json.dumps({
    "zarr_format": 3, "node_type": "array", "shape": [16, 16, 24], "data_type": "uint16",
    "chunk_grid": {"name": "regular", "configuration": {"chunk_shape": [8, 16, 16]}},
    "chunk_key_encoding": {"name": "default", "configuration": {"separator": "."}},
    "fill_value": 9, "dimension_names": ["z", "y", "x"],
    "codecs": [{"name": "sharding_indexed", "configuration": {
        "chunk_shape": [4, 8, 8],
        "codecs": [{"name": "transpose", "configuration": {"order": [2, 1, 0]}},
                   {"name": "bytes", "configuration": {"endian": "big"}},
                   {"name": "zstd", "configuration": {"level": 3}}, {"name": "crc32c"}],
        "index_codecs": [{"name": "bytes", "configuration": {"endian": "little"}},
                         {"name": "crc32c"}],
        "index_location": "start"}}]}).encode())
ngff = {"multiscales": [{"version": "0.4", "axes": [
    {"name": "t", "type": "time"}, {"name": "c", "type": "channel"},
    {"name": "z", "type": "space", "unit": "micrometer"}, "y", {"name": "x"}],
    "coordinateTransformations": [{"type": "scale", "scale": [1, 1, 2, 2, 2]}],
    "datasets": [{"path": "0", "coordinateTransformations": [
        {"type": "scale", "scale": [1, 1, 0.5, 0.5, 0.5]},
        {"type": "translation", "translation": [0, 0, 1, 1, 1]}]}, {"path": "s/1"}]}],
    "omero": {"channels": [{"color": "FF0000", "window": {"start": 0, "end": 100}},
                           {"color": "abcdef"}]}}
write("zarrmeta", "v2-ngff", json.dumps(ngff).encode())
write("zarrmeta", "v3-ngff", json.dumps({"zarr_format": 3, "node_type": "group",
                                         "attributes": {"ome": ngff}}).encode())
write("zarrmeta", "deep", b'{"a":' + b"[" * 80 + b"]" * 80 + b"}")
# Sizes whose products wrap past 2^64: chunks, shards and a shard's count of inner chunks.
write("zarrmeta", "regression-wrapping-chunks",
      json.dumps(dict(zarray, shape=[4, 4, 4], chunks=[1, 1 << 30, 1 << 34])).encode())
write("zarrmeta", "regression-wrapping-shards", json.dumps({
    "zarr_format": 3, "node_type": "array", "shape": [4, 4, 4], "data_type": "uint8",
    "chunk_grid": {"name": "regular", "configuration": {"chunk_shape": [1, 1 << 32, 1 << 32]}},
    "chunk_key_encoding": {"name": "default"}, "fill_value": 0,
    "codecs": [{"name": "sharding_indexed", "configuration": {
        "chunk_shape": [1, 1, 1], "codecs": [{"name": "bytes"}],
        "index_codecs": [{"name": "bytes", "configuration": {"endian": "little"}}]}}]}).encode())
# A mask as zarr wrote it before dimension_separator, and a bioformats2raw root's series.
write("zarrmeta", "v2-bool", json.dumps({
    "zarr_format": 2, "shape": [4, 4, 4], "chunks": [2, 2, 2], "dtype": "|b1", "order": "C",
    "fill_value": True, "compressor": None, "filters": None}).encode())
write("zarrmeta", "bioformats2raw", json.dumps({"bioformats2raw.layout": 3,
                                               "series": ["0", "1"]}).encode())

# Chunks: a codec byte (raw, blosc, zstd, zlib, gzip, lz4), the decoded size, the chunk.
payload = bytes(range(40)) * 2


def chunk(codec, data, size=len(payload)):
    return bytes([codec]) + struct.pack("<H", size) + data


write("zarrchunk", "raw", chunk(0, payload))
blosc_header = struct.pack("<BBBBIII", 2, 1, 0x02, 1, len(payload), len(payload),
                           16 + len(payload))
write("zarrchunk", "blosc-memcpyed", chunk(1, blosc_header + payload))
zstd_raw = (b"\x28\xb5\x2f\xfd\x20" + bytes([len(payload)])
            + struct.pack("<I", (len(payload) << 3) | 1)[:3] + payload)
write("zarrchunk", "zstd-raw-block", chunk(2, zstd_raw))
write("zarrchunk", "zlib", chunk(3, zlib.compress(payload)))
write("zarrchunk", "gzip", chunk(4, gzip.compress(payload, mtime=0)))
write("zarrchunk", "lz4-literals", chunk(5, struct.pack("<I", 15) + b"\xf0\x00" + payload[:15],
                                         15))
write("zarrchunk", "zlib-bomb", chunk(3, zlib.compress(bytes(1 << 20)), 100))
