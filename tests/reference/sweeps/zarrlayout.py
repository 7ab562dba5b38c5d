"""OME-Zarr stores that python3-zarr writes in the older layouts, each against what zarr reads
back: NGFF 0.1 (five dimensions, no axes, flat keys), 0.2 (five dimensions,
nested keys under metadata that names no separator, as zarr wrote them before 2.8), 0.3 (axes
as names, nested keys) and bioformats2raw's (a root of no image whose image is 0/, pyramids
halved in x and y only, without scales).

Each store packs with --pad and --spacing 1,1,1 (with --volume T where it has time points,
--size SIDE for a coarser level of a cubic pyramid, --max-size for the coarsest), and
must match zarr's samples mapped to 8 bits by the converter's rule (reference.mapping, all
channels over one range; uint8 copied, exactly), one channel grey, two red and green, laid out
by the orientation rule of an array placed nowhere. info must list every level.
"""
import functools
import json
import os

import numcodecs
import numpy
import zarr

from .ngffzarr import level_case

TITLE = "Zarr layout"
REFERENCE = "zarr %s" % zarr.__version__


def smooth(shape, dtype, seed):
    """Samples that differ between neighbours along every axis, over much of dtype's range."""
    rng = numpy.random.default_rng(seed)
    ramp = numpy.indices(shape).T.dot(numpy.arange(len(shape)) * 17 + 7).T
    values = ramp + rng.integers(0, 9, size=shape)
    if dtype == "uint8":
        return (values % 256).astype(dtype)
    if dtype == "float32":
        return (values * 0.25 - 30).astype(dtype)
    return (values * 97 % 30000 - (15000 if dtype == "int16" else 0)).astype(dtype)


def without_separator(array_path):
    """Drops dimension_separator from a .zarray, as zarr wrote them before 2.8."""
    meta_path = os.path.join(array_path, ".zarray")
    with open(meta_path) as f:
        meta = json.load(f)
    meta.pop("dimension_separator", None)
    with open(meta_path, "w") as f:
        json.dump(meta, f)


def pyramid(group, data, steps, chunks, nested, compressor):
    """Levels 0, 1, ... of data, the last three axes taken every step of steps[k]."""
    for k, step in enumerate(steps):
        index = (slice(None),) * (data.ndim - 3) + tuple(slice(None, None, s) for s in step)
        group.create_dataset(str(k), data=data[index], chunks=chunks, compressor=compressor)
        if nested:
            without_separator(os.path.join(group.store.path, group.path, str(k)))


def image_group(path, nested):
    store = zarr.NestedDirectoryStore(path) if nested else zarr.DirectoryStore(path)
    return zarr.group(store, overwrite=True)


def v01(folder):
    """NGFF 0.1: (t, c, z, y, x) uint16 of one channel, a pyramid halved along z, y and x, flat
    keys, zarr's default blosc."""
    path = os.path.join(folder, "v01.zarr")
    group = image_group(path, nested=False)
    pyramid(group, smooth((1, 1, 16, 16, 16), "uint16", 1), [(1, 1, 1), (2, 2, 2), (4, 4, 4)],
            (1, 1, 5, 8, 16), False, numcodecs.Blosc())
    group.attrs["multiscales"] = [{"version": "0.1", "datasets": [{"path": "0"}, {"path": "1"},
                                                                   {"path": "2"}]}]
    return path, "", [[]]


def v01_channels(folder):
    """NGFF 0.1 of two float32 channels, one level, zlib."""
    path = os.path.join(folder, "v01c.zarr")
    group = image_group(path, nested=False)
    pyramid(group, smooth((1, 2, 6, 9, 11), "float32", 2), [(1, 1, 1)], (1, 1, 3, 4, 11), False,
            numcodecs.Zlib())
    group.attrs["multiscales"] = [{"version": "0.1", "datasets": [{"path": "0"}]}]
    return path, "", [[]]


def v02(folder):
    """NGFF 0.2: (t, c, z, y, x) int16 of two time points, nested keys naming no separator, a
    pyramid halved along z, y and x, lz4."""
    path = os.path.join(folder, "v02.zarr")
    group = image_group(path, nested=True)
    pyramid(group, smooth((2, 1, 12, 12, 12), "int16", 3), [(1, 1, 1), (2, 2, 2)],
            (1, 1, 4, 5, 12), True, numcodecs.LZ4())
    group.attrs["multiscales"] = [{"version": "0.2", "datasets": [{"path": "0"}, {"path": "1"}]}]
    return path, "", [["--volume", "0"], ["--volume", "1"]]


def v03(folder):
    """NGFF 0.3: axes as names, (z, y, x) uint8 not a cube, nested keys naming no separator, a
    pyramid halved in y and x, gzip."""
    path = os.path.join(folder, "v03.zarr")
    group = image_group(path, nested=True)
    pyramid(group, smooth((10, 16, 14), "uint8", 4), [(1, 1, 1), (1, 2, 2)], (4, 8, 7), True,
            numcodecs.GZip())
    group.attrs["multiscales"] = [{"version": "0.3", "axes": ["z", "y", "x"],
                                   "datasets": [{"path": "0"}, {"path": "1"}]}]
    return path, "", [[]]


def v03_channels(folder):
    """NGFF 0.3: (c, z, y, x) uint16 of two channels, nested, zstd."""
    path = os.path.join(folder, "v03c.zarr")
    group = image_group(path, nested=True)
    pyramid(group, smooth((2, 8, 8, 8), "uint16", 5), [(1, 1, 1), (2, 2, 2)], (1, 4, 4, 4),
            True, numcodecs.Zstd())
    group.attrs["multiscales"] = [{"version": "0.3", "axes": ["c", "z", "y", "x"],
                                   "datasets": [{"path": "0"}, {"path": "1"}]}]
    return path, "", [[]]


def bioformats2raw(folder):
    """bioformats2raw's layout: a root of no image but bioformats2raw.layout 3 and an OME group
    listing series 0; in 0/ (t, c, z, y, x) uint16 of NGFF 0.2, three levels halved in x and y
    only, without scales, nested keys naming no separator, zarr's default blosc."""
    path = os.path.join(folder, "bioformats2raw.zarr")
    root = image_group(path, nested=True)
    root.attrs["bioformats2raw.layout"] = 3
    root.create_group("OME").attrs["series"] = ["0"]
    image = root.create_group("0")
    pyramid(image, smooth((1, 1, 6, 20, 24), "uint16", 6), [(1, 1, 1), (1, 2, 2), (1, 4, 4)],
            (1, 1, 1, 16, 16), True, numcodecs.Blosc())
    image.attrs["multiscales"] = [{"version": "0.2", "datasets": [{"path": str(k)}
                                                                   for k in range(3)]}]
    return path, "0/", [[]]


def as_channels(level, pick):
    """zarr's level as (c, z, y, x), at the time point --volume picks."""
    if level.ndim == 5:
        return level[int(pick[1]) if pick else 0]
    return level if level.ndim == 4 else level[numpy.newaxis]


def check(write, sweep):
    """One store that write makes: each level packed as it is, and info's listing."""
    path, image, picks = write(sweep.scratch)
    # zarr reads keys as its store class splits them: nested ones through the nested store.
    nested = any(os.path.isdir(os.path.join(path, image, "0", name))
                 for name in os.listdir(os.path.join(path, image, "0")))
    store = zarr.NestedDirectoryStore(path) if nested else zarr.DirectoryStore(path)
    group = zarr.open_group(store, mode="r")
    datasets = group[image.rstrip("/")].attrs["multiscales"][0]["datasets"] if image else \
        group.attrs["multiscales"][0]["datasets"]
    levels = [numpy.asarray(group[image + d["path"]][...]) for d in datasets]
    if any(numpy.unique(level).size < 2 for level in levels):
        sweep.problem("%s: zarr reads a level of one value: its keys are not where it looks"
                      % path)
        return
    for k, level in enumerate(levels):
        sides = level.shape[-3:]
        cubic = len(set(sides)) == 1 and len(set(levels[0].shape[-3:])) == 1
        if k == 0:
            sizes = [[]]
        elif cubic:
            sizes = [["--size", str(sides[0])]]
        else:
            sizes = []  # --size of a level of unequal sides resamples it
        if k > 0 and k == len(levels) - 1 and cubic:
            # No level has fewer samples: the coarsest as it is. A level halved in x and y
            # alone counts as halved along every axis, so no size reads it unresampled.
            sizes.append(["--max-size", str(max(sides))])
        for pick, size in [(p, s) for p in picks for s in sizes]:
            extra = pick + size
            label = " ".join([os.path.basename(path), "level %d" % k] + extra)
            sweep.check(level_case(label, path, extra, as_channels(level, pick)))
    info = sweep.run("info", path, "--pad", *picks[0])
    listed = [line for line in info.stdout.splitlines() if line.lstrip().startswith("level ")]
    if info.returncode != 0 or info.stderr or len(listed) != (len(levels) if len(levels) > 1
                                                               else 0):
        sweep.problem("%s: info gave exit %d, %d levels listed of %d, %r" % (
            path, info.returncode, len(listed), len(levels), info.stderr))


def parts(arguments):
    """The functions that hand the sweep its cases."""
    return [functools.partial(check, write) for write in (v01, v01_channels, v02, v03,
                                                          v03_channels, bioformats2raw)]
