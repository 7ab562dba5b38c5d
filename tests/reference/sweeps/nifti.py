"""NIfTI files nobody here made (nibabel's test data, nifti_clib's example), each volume
against what nibabel decodes.

Arguments: the files. Each 3-D file is packed once, each 4-D or 5-D file for its first, middle
and last volume (--volume T), and must match nibabel's samples (scaling applied) mapped to 8
bits, within 1 for rounding, turned by nibabel's own orientation of the file's affine. A file
of several volumes must be refused without a pick and with one it lacks; a file the converter
refuses must be listed in EXPECTED_REFUSALS with the words its one-line refusal holds.
"""
import functools
import os

import nibabel
import numpy

from .. import mapping, orientation
from ..runner import Case, Refusal

TITLE = "NIfTI"
REFERENCE = "nibabel"

# Files the converter refuses, by name, and what the refusal says.
EXPECTED_REFUSALS = {
    # CIFTI-2: a matrix of brain ordinates stored along NIfTI's sixth and seventh axes.
    "row_major.dconn.nii": "dimensions beyond the fifth",
}


def copied(image):
    """Whether the converter copies the file's samples: uint8 without scaling."""
    return (image.get_data_dtype() == numpy.uint8 and image.dataobj.slope == 1
            and image.dataobj.inter == 0)


def expected_rgb(image, volume):
    """The volume nibabel decodes (scaling applied), as the converter's RGB cube before
    padding: (x, y, z, 3)."""
    data = numpy.asanyarray(image.dataobj)
    if data.ndim >= 4:
        data = data[:, :, :, volume if volume is not None else 0]
    return mapping.expected_rgb(data, copied(image))


def volume_picks(sweep, path, image):
    """The --volume picks to compare: none for one volume, else the first, middle and last,
    after checking that the file is refused without a pick and with one it lacks."""
    volumes = image.shape[3] if len(image.shape) >= 4 else 1
    if volumes == 1:
        return [None]
    # Checks of a file that packs, not refusals of it: not counted.
    sweep.refuse(Refusal(path, ("--pad",), "of %d volumes along its fourth dimension" % volumes),
                 counted=False)
    sweep.refuse(Refusal(path, ("--pad", "--volume", str(volumes)), "no volume %d" % volumes),
                 counted=False)
    return sorted({0, volumes // 2, volumes - 1})


def info_check(sweep, path, volumes):
    """info of the file: a listing or a refusal, never a crash or more than one line."""
    info = sweep.run("info", path, *([] if volumes == [None] else ["--volume", "0"]))
    if info.returncode not in (0, 1) or len(info.stderr.splitlines()) > 1:
        sweep.problem("%s: info gave exit %d, %r" % (path, info.returncode, info.stderr))


def one_file(path, sweep):
    """The cases of one file."""
    name = os.path.basename(path)
    if name in EXPECTED_REFUSALS:
        sweep.refuse(Refusal(path, ("--pad",), EXPECTED_REFUSALS[name]))
        return
    image = nibabel.load(path)
    turn = orientation.world_turn(image.affine[:3, :3].T)
    picks = volume_picks(sweep, path, image)
    for volume in picks:
        extra = () if volume is None else ("--volume", str(volume))
        sweep.check(Case(" ".join([path, *extra]), path, expected_rgb(image, volume), turn,
                         extra))
    info_check(sweep, path, picks)


def parts(arguments):
    """The functions that hand the sweep its cases."""
    return [functools.partial(one_file, path) for path in arguments]
