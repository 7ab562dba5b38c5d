"""The packed .vol file read back: its header checked, its samples as a cube.

The layout is the viewer's (docs/viewer.md): a header block, then N^3 RGB samples, x fastest.
"""
import os
import struct

import numpy

HEADER = 4096
MAGIC = b"VOLU"
# The header's fields after the magic and the version's name: N, components, component type.
FIELDS = struct.Struct("<iii")
FIELDS_AT = 268


def side(path):
    """The edge length N the header gives, after checking that the file is an RGB .vol of one
    byte a colour whose length matches N; ValueError otherwise, so that a damaged output fails
    its case instead of reading as zeros."""
    with open(path, "rb") as f:
        header = f.read(HEADER)
    if len(header) != HEADER or header[:4] != MAGIC:
        raise ValueError("%s: not a .vol file" % path)
    n, components, kind = FIELDS.unpack_from(header, FIELDS_AT)
    if components != 3 or kind != 1:
        raise ValueError("%s: %d components of type %d, not RGB bytes" % (path, components, kind))
    if n < 1 or os.path.getsize(path) != HEADER + 3 * n ** 3:
        raise ValueError("%s: N = %d does not match the file's length" % (path, n))
    return n


def packed_cube(path):
    """The .vol's samples as cube[x, y, z, colour], mapped from the file, not read."""
    n = side(path)
    cube = numpy.memmap(path, dtype=numpy.uint8, mode="r", offset=HEADER, shape=(n, n, n, 3))
    return cube.transpose(2, 1, 0, 3)
