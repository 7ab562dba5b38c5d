#!/usr/bin/env python3
"""Writes the seed corpora in fuzz/corpus/ (run once; the files are committed): a few small
valid files of each format and a few broken ones. Regression seeds are added by hand."""
import os
import gzip
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


def gzip_bytes(data):
    return gzip.compress(data, mtime=0)


def nifti1(dims, datatype, bitpix, data, slope=0.0, inter=0.0):
    """A single-file NIfTI-1 header (348 bytes), the 4 extension bytes, then the voxels."""
    header = bytearray(348)
    struct.pack_into("<i", header, 0, 348)
    struct.pack_into("<8h", header, 40, len(dims), *(list(dims) + [1] * (7 - len(dims))))
    struct.pack_into("<hh", header, 70, datatype, bitpix)
    struct.pack_into("<8f", header, 76, 1, 0.5, 0.75, 2, 1, 1, 1, 1)
    struct.pack_into("<f", header, 108, 352)  # vox_offset
    struct.pack_into("<ff", header, 112, slope, inter)
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
write("metaimage", "truncated.mha", meta("4 4 4", "MET_INT", bytes(7)))


def element(group, number, vr, value):
    """One data element in explicit VR little endian."""
    if len(value) % 2:
        value += b"\0" if vr in (b"UI", b"OB") else b" "
    tag = struct.pack("<HH", group, number) + vr
    if vr in (b"OB", b"OW", b"SQ", b"UN", b"UT"):
        return tag + b"\0\0" + struct.pack("<I", len(value)) + value
    return tag + struct.pack("<H", len(value)) + value


def dicom(rows, columns, pixels, bits=16, signed=1, frames=None, z=0, slope=None):
    """A CT image file in explicit VR little endian: the preamble, the file meta group and the
    data set, pixel data last."""
    sop = b"1.2.840.10008.5.1.4.1.1.2"
    meta_group = (element(0x0002, 0x0001, b"OB", b"\0\1") + element(0x0002, 0x0002, b"UI", sop) +
                  element(0x0002, 0x0003, b"UI", b"1.2.3.4.5.%d" % z) +
                  element(0x0002, 0x0010, b"UI", b"1.2.840.10008.1.2.1"))
    body = (element(0x0008, 0x0016, b"UI", sop) + element(0x0008, 0x0018, b"UI", b"1.2.3.4.5.%d" % z) +
            element(0x0008, 0x0060, b"CS", b"CT") + element(0x0020, 0x000E, b"UI", b"1.2.3.4.9") +
            element(0x0020, 0x0032, b"DS", b"0\\0\\%d" % z) +
            element(0x0020, 0x0037, b"DS", b"1\\0\\0\\0\\1\\0") +
            element(0x0028, 0x0002, b"US", struct.pack("<H", 1)) +
            element(0x0028, 0x0004, b"CS", b"MONOCHROME2"))
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
    body += element(0x7FE0, 0x0010, b"OW" if bits > 8 else b"OB", pixels)
    group_length = element(0x0002, 0x0000, b"UL", struct.pack("<I", len(meta_group)))
    return bytes(128) + b"DICM" + group_length + meta_group + body


write("dicom", "i16-3x2.dcm", dicom(2, 3, struct.pack("<6h", -3, -2, -1, 0, 1, 2)))
write("dicom", "i16-rescaled.dcm", dicom(2, 2, struct.pack("<4h", 1, 2, 3, 4), slope=b"2"))
write("dicom", "u8-frames.dcm", dicom(2, 2, bytes(range(12)), bits=8, signed=0, frames=3))
write("dicom", "short-pixels.dcm", dicom(4, 4, bytes(6)))
write("dicom", "twelve-bits.dcm", dicom(2, 2, bytes(6), bits=12, signed=0))
