"""Every DICOM file and series folder of pydicom's test files, against what pydicom decodes.

Arguments: the table of expected refusals, lines "NAME<TAB>FRAGMENT" (NAME a file's name or a
shell pattern, FRAGMENT part of its refusal); standard input: the files and folders, one a
line. Each either packs to the samples pydicom decodes (mapped to 8 bits by the converter's
rule, padded into a cube) within 1, or is refused in one line that holds the reason the table
lists for it.
"""
import fnmatch
import functools
import os
import sys
import warnings

import numpy
import pydicom

from .. import mapping
from ..orientation import ARRAY, world_turn
from ..runner import PADDED, Case, Refusal

TITLE = "DICOM"
REFERENCE = "pydicom"

warnings.simplefilter("ignore")

# Larger inputs are checked through info's value range instead of a packed cube.
LARGEST_PACKED = 512


def frames_of(ds):
    """The samples pydicom decodes, as (frames, rows, columns, channels), rescaled as the
    converter rescales them."""
    pixels = ds.pixel_array
    channels = int(ds.SamplesPerPixel)
    frames = int(getattr(ds, "NumberOfFrames", 1) or 1)
    if frames == 1:
        pixels = pixels[None]
    if channels == 1:
        pixels = pixels[..., None]
    slope = float(getattr(ds, "RescaleSlope", 1) or 1)
    intercept = float(getattr(ds, "RescaleIntercept", 0) or 0)
    if channels == 1 and (slope, intercept) != (1.0, 0.0):
        pixels = (pixels.astype(numpy.float64) * slope + intercept).astype(numpy.float32)
    return pixels


def decoded_file(ds):
    """pydicom's samples of a read file; the decoders' own messages on standard error dropped."""
    saved = os.dup(2)
    null = os.open(os.devnull, os.O_WRONLY)
    os.dup2(null, 2)
    try:
        return frames_of(ds)
    finally:
        os.dup2(saved, 2)
        os.close(saved)
        os.close(null)


def decoded(path):
    """pydicom's samples of a file, or of a folder's one series, and their Image Orientation
    (Patient); a string where it decodes none."""
    if os.path.isdir(path):
        return decoded_series(path)
    try:
        ds = pydicom.dcmread(path, force=True)
        return decoded_file(ds), cosines_of(ds)
    except Exception as error:  # pydicom decodes no image here
        return str(error) or type(error).__name__, None


def decoded_series(folder):
    """pydicom's samples of a folder holding one series, its files stacked along the slice
    normal (row cosines x column cosines), nearest first; a string where it holds no such
    series."""
    files = []
    for top, _, names in os.walk(folder):
        for name in names:
            try:
                ds = pydicom.dcmread(os.path.join(top, name), force=True)
            except Exception:
                continue
            if "PixelData" in ds:
                files.append(ds)
    if not files or len({str(ds.get("SeriesInstanceUID", "")) for ds in files}) != 1:
        return "not a folder of one series", None
    try:
        if len(files) == 1:
            return decoded_file(files[0]), cosines_of(files[0])
        normal = numpy.cross(*numpy.reshape(files[0].ImageOrientationPatient, (2, 3)).astype(float))
        files.sort(key=lambda ds: (numpy.dot(normal, numpy.asarray(ds.ImagePositionPatient, float)),
                                   int(getattr(ds, "InstanceNumber", 0) or 0)))
        return numpy.concatenate([decoded_file(ds) for ds in files]), cosines_of(files[0])
    except Exception as error:  # sizes or geometry that do not stack
        return str(error) or type(error).__name__, None


def cosines_of(ds):
    """Image Orientation (Patient) where the file gives it: at the top, else in the shared or
    the first frame's functional groups; None otherwise."""
    if "ImageOrientationPatient" in ds:
        return ds.ImageOrientationPatient
    for groups in ("SharedFunctionalGroupsSequence", "PerFrameFunctionalGroupsSequence"):
        try:
            return getattr(ds, groups)[0].PlaneOrientationSequence[0].ImageOrientationPatient
        except (AttributeError, IndexError):
            continue
    return None


def turn_of(cosines):
    """How the converter turns the file's rows, columns and slices (along the normal) into the
    volume's axes: from the patient's frame, or as an array where the file places nothing."""
    if cosines is None or len(cosines) != 6:
        return ARRAY
    row, column = numpy.reshape(numpy.asarray(cosines, dtype=numpy.float64), (2, 3))
    lps = numpy.array([row, column, numpy.cross(row, column)])
    return world_turn(lps * [-1, -1, 1])  # LPS+ to RAS+


def volume_case(path, pixels, cosines):
    """The pack of pydicom's (frames, rows, columns, channels), turned as the file's
    orientation says; uint8 copied."""
    volume = pixels.transpose(2, 1, 0, 3)
    expected = mapping.expected_rgb(volume, pixels.dtype == numpy.uint8)
    return Case(path, path, expected, turn_of(cosines))


def compare_range(text, pixels):
    """For inputs too large to pack here: info's value range against pydicom's."""
    for line in text.splitlines():
        if line.strip().startswith("value range"):
            lo, hi = float(line.split()[2]), float(line.split()[4])
            want = (float(pixels.min()), float(pixels.max()))
            if numpy.allclose((lo, hi), want, rtol=1e-5):
                return ""
            return "value range %g to %g, pydicom decodes %g to %g" % (lo, hi, *want)
    return "info printed no value range"


def refusal_of(path, table):
    """The fragment the table expects path's refusal to hold, or None; of patterns that both
    match, the later (the narrower, as the table is written) wins."""
    name = os.path.basename(path)
    found = [fragment for pattern, fragment in table.items()
             if fnmatch.fnmatchcase(name, pattern)]
    return found[-1] if found else None


def check(path, table, sweep):
    """One file or folder: refused as the table says, else packed to pydicom's samples; one
    too large to pack here through info's value range."""
    fragment = refusal_of(path, table)
    if fragment is not None:
        sweep.refuse(Refusal(path, PADDED, fragment))
        return
    pixels, cosines = decoded(path)
    if isinstance(pixels, str):
        sweep.problem("%s: pydicom decodes no image: %s" % (path, pixels))
    elif max(pixels.shape[:3]) > LARGEST_PACKED:
        # A cube of a large picture takes gigabytes: info reads the same samples for their range.
        sweep.paths.add(path)
        info = sweep.run("info", path, *PADDED)
        if info.returncode != 0 or info.stderr:
            sweep.problem("%s: info gave exit %d, %r" % (path, info.returncode, info.stderr))
        else:
            problem = compare_range(info.stdout, pixels)
            sweep.tally(problem and "%s: %s" % (path, problem))
    else:
        sweep.check(volume_case(path, pixels, cosines))


def read_table(name):
    """The expected refusals: {pattern: fragment}."""
    table = {}
    with open(name) as lines:
        for line in lines:
            if line.strip() and not line.startswith("#"):
                pattern, fragment = line.rstrip("\n").split("\t", 1)
                table[pattern] = fragment
    return table


def parts(arguments):
    """One part a file or folder of standard input, against the table of arguments[0]."""
    table = read_table(arguments[0])
    return [functools.partial(check, path, table)
            for path in sys.stdin.read().split("\n") if path]
