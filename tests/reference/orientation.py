"""The converter's orientation rule, put as nibabel puts it, so that each reference reader's
samples can be placed where pack puts them.

A file placed in a patient's frame is turned to the orientation closest to LAS+ (nibabel's
io_orientation), one placed in the world's frame to the closest of its x, y, z; an array or a
stack of pictures shows each slice's first row at the top (y reversed). --pad centres the input
in the volume's axes, an odd sample of padding at the high side, whichever way the file runs.
"""
import numpy
from nibabel import orientations

# The turn of an array, a[i, j, k] with row j = 0 at the top: y reversed.
ARRAY = numpy.array([[0, 1], [1, -1], [2, 1]])
# The turn of a file that keeps its own axes (FITS, VTK).
OWN = numpy.array([[0, 1], [1, 1], [2, 1]])


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
