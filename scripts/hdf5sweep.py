#!/usr/bin/python3
"""Packs the datasets of each HDF5 file named on standard input with tessary-vol and checks them.

A 3-D or 4-D dataset of a sample type the converter takes packs (windowed over h5py's range,
padded into a cube) to h5py's samples mapped by the converter's rule, within 1. Any other
dataset, and the file itself without --dataset, is refused with exit status 1 and one line on
standard error naming the file. Usage: hdf5sweep.py TESSARY_VOL SCRATCH < FILES
"""
import os
import subprocess
import sys
import warnings

import h5py
import numpy

import sweepvolume

warnings.simplefilter("ignore")

TAKEN = {numpy.dtype(t) for t in ("u1", "i1", "u2", "i2", "u4", "i4", "f4", "f8")}


def datasets(path):
    """(name, shape, dtype or None) of each dataset h5py finds; None when h5py cannot open the
    file. A dtype h5py cannot express counts as one the converter does not take."""
    try:
        with h5py.File(path, "r") as f:
            names = []
            f.visit(names.append)
            found = []
            for name in names:
                try:
                    obj = f.get(name)
                except Exception:  # a broken link or an object h5py cannot open
                    continue
                if not isinstance(obj, h5py.Dataset):
                    continue
                try:
                    dtype = obj.dtype
                except Exception:
                    dtype = None
                found.append((name, obj.shape, dtype))
            return found
    except Exception:
        return None


def packable(shape, dtype):
    return shape is not None and len(shape) in (3, 4) and dtype is not None and (
        dtype.newbyteorder("=") in TAKEN and min(shape) > 0)


def volume_of(array):
    """h5py's array as (z, y, x, channels) by the converter's rule for 4-D datasets."""
    if array.ndim == 3:
        return array[..., None]
    if array.shape[0] <= 4:
        return numpy.moveaxis(array, 0, -1)
    if array.shape[-1] <= 4:
        return array
    return array[0][..., None]


def mapped(values, lo, hi):
    values = values.astype(numpy.float64)
    result = numpy.clip(numpy.round(255 * (values - lo) / (hi - lo)), 0, 255)
    return numpy.where(numpy.isnan(values), 0, result)


def compare(out, array, lo, hi):
    """"" when the packed cube holds the mapped samples where --pad puts them, each slice's
    first row at the top."""
    volume = volume_of(array)
    depth, height, width, channels = volume.shape
    cube = numpy.asarray(sweepvolume.packed_cube(out), dtype=numpy.float64)
    if cube.shape[0] != max(depth, height, width):
        return "packed to N = %d, h5py reads %d x %d x %d" % (cube.shape[0], width, height, depth)
    samples = mapped(volume, lo, hi)
    expected = numpy.zeros(volume.shape[:3] + (3,))
    # One channel is grey; two fill red and green; three or four fill all three.
    expected[...] = samples[..., :1] if channels == 1 else 0
    expected[..., : min(channels, 3)] = samples[..., :3]
    got, expected = sweepvolume.placed(cube, expected.transpose(2, 1, 0, 3), sweepvolume.ARRAY)
    worst = numpy.abs(got - expected).max()
    return "" if worst <= 1 else "samples differ from h5py's by up to %d" % worst


def run(tool, path, extra, out):
    if os.path.exists(out):
        os.remove(out)
    return subprocess.run([tool, "pack", path, "-o", out, "--pad", "--spacing", "1,1,1"] + extra,
                          capture_output=True, text=True, errors="replace", timeout=60)


def refused(result, path, reason=""):
    """"" when the run is a refusal in one line naming the file, with reason if given."""
    lines = result.stderr.splitlines()
    if result.returncode != 1:
        return "exit status %d where a refusal was expected: %s" % (
            result.returncode, result.stderr.strip())
    if len(lines) != 1 or not lines[0].startswith(path):
        return "refused, but not in one line naming the file: " + result.stderr.strip()
    if reason not in lines[0]:
        return "refused, but not as %r: %s" % (reason, lines[0])
    return ""


def check_dataset(tool, path, name, shape, dtype, out):
    """(problem, packed?) for one dataset."""
    if not packable(shape, dtype):
        return refused(run(tool, path, ["--dataset", "/" + name], out), path), False
    with h5py.File(path, "r") as f:
        array = f[name][()]
    finite = array[~numpy.isnan(array)] if array.dtype.kind == "f" else array
    lo, hi = (float(finite.min()), float(finite.max())) if finite.size else (0.0, 1.0)
    if lo == hi:
        lo, hi = 0.0, 1.0
    window = "%r,%r" % (lo, hi)
    if array.ndim == 4 and array.shape[0] > 4 and array.shape[-1] > 4:
        extra = ["--volume", "0"]
    else:
        extra = []
    result = run(tool, path, ["--dataset", "/" + name, "--window", window] + extra, out)
    if result.returncode != 0:
        return "exit status %d: %s" % (result.returncode, result.stderr.strip()), True
    if result.stderr:
        return "text on standard error: " + result.stderr.strip(), True
    return compare(out, array, lo, hi), True


def main():
    tool, scratch = sys.argv[1:3]
    out = os.path.join(scratch, "out.vol")
    counts = {"packed": 0, "refused": 0}
    failures = []
    for path in sys.stdin.read().split("\n"):
        if not path:
            continue
        # No file here has a layout the converter knows: without --dataset each is refused.
        found = datasets(path) or []
        checks = [("(whole file)", lambda: (refused(run(tool, path, [], out), path), False))]
        for name, shape, dtype in found:
            checks.append((name, lambda n=name, s=shape, d=dtype:
                           check_dataset(tool, path, n, s, d, out)))
        for label, check in checks:
            try:
                problem, packed = check()
            except subprocess.TimeoutExpired:
                problem, packed = "ran past its time limit", False
            if problem:
                failures.append("%s %s: %s" % (path, label, problem))
            else:
                counts["packed" if packed else "refused"] += 1
    for failure in failures:
        print("FAIL " + failure)
    print("%d datasets packed as h5py reads them, %d refused as expected, %d failed" % (
        counts["packed"], counts["refused"], len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
