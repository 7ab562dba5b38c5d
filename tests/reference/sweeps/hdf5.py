"""The datasets of HDF5 files nobody here made (PyTables' test files, HyperSpy's), against what
h5py reads.

Standard input: the files, one a line. A 3-D or 4-D dataset of a sample type the converter
takes packs (windowed over h5py's range, padded into a cube) to h5py's samples mapped by the
converter's rule, within 1. Any other dataset, and the file itself without --dataset, is
refused with exit status 1 and one line on standard error naming the file.
"""
import functools
import sys
import warnings

import h5py
import numpy

from .. import mapping
from ..runner import PADDED, Case, Refusal

TITLE = "HDF5"
REFERENCE = "h5py"
TIMEOUT = 60

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


def refuse_whole(path, sweep):
    """The file without --dataset: no file here has a layout the converter knows."""
    sweep.refuse(Refusal(path, PADDED))


def window_of(array):
    """The window pack is given: h5py's range without NaN, 0 to 1 where it holds one value."""
    finite = array[~numpy.isnan(array)] if array.dtype.kind == "f" else array
    lo, hi = (float(finite.min()), float(finite.max())) if finite.size else (0.0, 1.0)
    return (0.0, 1.0) if lo == hi else (lo, hi)


def check_dataset(path, name, shape, dtype, sweep):
    """One dataset: packed through h5py's window where the converter takes it, else refused."""
    if not packable(shape, dtype):
        sweep.refuse(Refusal(path, PADDED + ("--dataset", "/" + name)))
        return
    with h5py.File(path, "r") as f:
        array = f[name][()]
    lo, hi = window_of(array)
    extra = ("--dataset", "/" + name, "--window", "%r,%r" % (lo, hi))
    if array.ndim == 4 and array.shape[0] > 4 and array.shape[-1] > 4:
        extra += ("--volume", "0")
    volume = volume_of(array).transpose(2, 1, 0, 3)
    sweep.check(Case("%s %s" % (path, name), path, mapping.expected_rgb(volume, window=(lo, hi)),
                     extra=extra))


def parts(arguments):
    """Each file of standard input, then each of its datasets."""
    checks = []
    for path in sys.stdin.read().split("\n"):
        if not path:
            continue
        checks.append(functools.partial(refuse_whole, path))
        for name, shape, dtype in datasets(path) or []:
            checks.append(functools.partial(check_dataset, path, name, shape, dtype))
    return checks
