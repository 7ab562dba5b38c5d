"""What the sweeps share: a packed volume read back, and the converter's orientation rule put
as nibabel puts it, so that each reference reader's samples can be placed where pack puts them.

A file placed in a patient's frame is turned to the orientation closest to LAS+ (nibabel's
io_orientation), one placed in the world's frame to the closest of its x, y, z; an array or a
stack of pictures shows each slice's first row at the top (y reversed). --pad centres the input
in the volume's axes, an odd sample of padding at the high side, whichever way the file runs.
"""
import struct
import subprocess

import numpy
from nibabel import orientations

HEADER = 4096
# The turn of an array, a[i, j, k] with row j = 0 at the top: y reversed.
ARRAY = numpy.array([[0, 1], [1, -1], [2, 1]])


def packed_cube(path):
    """The .vol's samples as cube[x, y, z, colour]."""
    with open(path, "rb") as f:
        n = struct.unpack_from("<i", f.read(HEADER), 268)[0]
    cube = numpy.memmap(path, dtype=numpy.uint8, mode="r", offset=HEADER, shape=(n, n, n, 3))
    return cube.transpose(2, 1, 0, 3)


def world_turn(directions, patient=True):
    """The turn of a[i, j, k] whose axes point along directions (one row each, RAS+ for a
    patient's frame, else the world's x, y, z) to the volume's axes."""
    affine = numpy.eye(4)
    affine[:3, :3] = numpy.asarray(directions, dtype=numpy.float64).T
    target = ("L", "A", "S") if patient else ("R", "A", "S")
    return orientations.ornt_transform(orientations.io_orientation(affine),
                                       orientations.axcodes2ornt(target))


def placed(cube, expected, turn):
    """(the part of cube where pack --pad puts expected, expected turned), expected indexed
    [i, j, k, colour] in the file's axes."""
    n = cube.shape[0]
    turned = orientations.apply_orientation(expected, turn)
    start = [0, 0, 0]
    for axis, (to, _) in enumerate(turn):
        start[int(to)] = (n - expected.shape[axis]) // 2
    inside = cube[start[0]:start[0] + turned.shape[0], start[1]:start[1] + turned.shape[1],
                  start[2]:start[2] + turned.shape[2]]
    return inside, turned


def compare_array_pack(tool, label, path, extra, expected, side, exact, reference, out):
    """"" when path packs (to out, with --pad and extra) to expected, an array's RGB samples
    (z, y, x, 3) placed where --pad puts them in a cube of side N; else the problem, naming
    reference. exact: the samples must match to the byte, else to within 1."""
    result = subprocess.run([tool, "pack", path, "-o", out, "--pad", "--spacing", "1,1,1",
                             *extra], capture_output=True, text=True, timeout=120)
    if result.returncode != 0 or result.stderr:
        return "%s: exit %d, %r" % (label, result.returncode, result.stderr)
    cube = numpy.asarray(packed_cube(out), dtype=numpy.float64)
    if cube.shape[0] != side:
        return "%s: packed to N = %d, %s has %d" % (label, cube.shape[0], reference, side)
    inside, placed_expected = placed(cube, expected, ARRAY)
    worst = float(numpy.abs(inside - placed_expected).max())
    outside = int(cube.sum() - inside.sum())
    if worst > (0 if exact else 1) or outside != 0:
        return "%s: samples differ from %s by up to %g (padding holds %d)" % (
            label, reference, worst, outside)
    return ""
