#!/usr/bin/python3
"""Packs each DICOM file named on standard input with tessary-vol and checks the outcome.

A file, or a folder of one series, either packs to the samples pydicom decodes (mapped to 8
bits by the converter's rule, padded into a cube) within 1, or is refused in one line that holds
the reason the expectations list for it. Usage: dicomsweep.py TESSARY_VOL EXPECTATIONS SCRATCH < FILES
EXPECTATIONS: lines "NAME<TAB>FRAGMENT", NAME a file's name, FRAGMENT part of its refusal.
"""
import fnmatch
import os
import subprocess
import sys
import warnings

import numpy
import pydicom

import sweepvolume

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


def to_bytes(pixels):
    """The converter's mapping to 8 bits: uint8 copied, others over the range of all samples."""
    if pixels.dtype == numpy.uint8:
        return pixels.astype(numpy.float64)
    values = pixels.astype(numpy.float64)
    lo, hi = values.min(), values.max()
    if lo == hi:
        return numpy.where(values <= lo, 0.0, 255.0)
    return numpy.clip(numpy.round(255 * (values - lo) / (hi - lo)), 0, 255)


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
        return sweepvolume.ARRAY
    row, column = numpy.reshape(numpy.asarray(cosines, dtype=numpy.float64), (2, 3))
    lps = numpy.array([row, column, numpy.cross(row, column)])
    return sweepvolume.world_turn(lps * [-1, -1, 1])  # LPS+ to RAS+


def compare_volume(out, pixels, cosines):
    """"" when the packed cube holds the mapped samples where --pad puts them, turned as the
    file's orientation says."""
    depth, height, width, channels = pixels.shape
    cube = numpy.asarray(sweepvolume.packed_cube(out), dtype=numpy.float64)
    if cube.shape[0] != max(depth, height, width):
        return "packed to N = %d, pydicom decodes %d x %d x %d" % (cube.shape[0], width, height,
                                                                   depth)
    mapped = to_bytes(pixels)
    expected = numpy.zeros(pixels.shape[:3] + (3,))
    # One channel is grey; two fill red and green; three fill all.
    expected[...] = mapped[..., :1] if channels == 1 else 0
    expected[..., : min(channels, 3)] = mapped[..., :3]
    got, expected = sweepvolume.placed(cube, expected.transpose(2, 1, 0, 3), turn_of(cosines))
    worst = numpy.abs(got - expected).max()
    return "" if worst <= 1 else "samples differ from pydicom's by up to %d" % worst


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


def check(tool, path, table, scratch):
    """"" when the file came out right, else what is wrong."""
    name = os.path.basename(path)
    refusals = {name: fragment for pattern, fragment in table.items()
                if fnmatch.fnmatchcase(name, pattern)}
    out = os.path.join(scratch, "out.vol")
    if os.path.exists(out):
        os.remove(out)
    pixels, cosines = decoded(path)
    # A cube of a large picture takes gigabytes: info reads the same samples for their range.
    large = not isinstance(pixels, str) and max(pixels.shape[:3]) > LARGEST_PACKED
    command = [tool, "info", path, "--pad"] if large else [tool, "pack", path, "-o", out, "--pad"]
    run = subprocess.run(
        command + ["--spacing", "1,1,1"],
        capture_output=True,
        text=True,
        errors="replace",
        timeout=120,
    )
    lines = run.stderr.splitlines()
    if run.returncode == 1:
        if name not in refusals:
            return "unexpected refusal: " + run.stderr.strip()
        if len(lines) != 1 or refusals[name] not in lines[0] or not lines[0].startswith(path):
            return "refused, but not in one line naming it with '%s': %s" % (
                refusals[name],
                run.stderr.strip(),
            )
        return ""
    if run.returncode != 0:
        return "exit status %d: %s" % (run.returncode, run.stderr.strip())
    if run.stderr:
        return "text on standard error: " + run.stderr.strip()
    if name in refusals:
        return "packed, but expected a refusal with '%s'" % refusals[name]
    if isinstance(pixels, str):
        return "packed, but pydicom decodes no image: " + pixels
    return compare_range(run.stdout, pixels) if large else compare_volume(out, pixels, cosines)


def main():
    tool, expectations, scratch = sys.argv[1:4]
    refusals = {}
    with open(expectations) as table:
        for line in table:
            if line.strip() and not line.startswith("#"):
                name, fragment = line.rstrip("\n").split("\t", 1)
                refusals[name] = fragment
    packed = refused = 0
    failures = []
    for path in sys.stdin.read().split("\n"):
        if not path:
            continue
        try:
            problem = check(tool, path, refusals, scratch)
        except subprocess.TimeoutExpired:
            problem = "ran past its time limit"
        if problem:
            failures.append("%s: %s" % (path, problem))
        elif any(fnmatch.fnmatchcase(os.path.basename(path), p) for p in refusals):
            refused += 1
        else:
            packed += 1
    for failure in failures:
        print("FAIL " + failure)
    print("%d packed as pydicom decodes them, %d refused as expected, %d failed" % (
        packed, refused, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
