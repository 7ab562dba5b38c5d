"""The OME-Zarr stores that @fideus-labs/ngff-zarr wrote (scripts/ngffzarrwrite.mjs), each
level against what the writer was given and what zarrita, its own Zarr library, reads back.

Argument: the folder of the stores and their manifest.json.

Every store packs its finest level with --pad and --spacing 1,1,1, and each coarser level of a
cubic pyramid with --size SIDE (the level read as it is, not averaged), the coarsest with
--max-size SIDE too. The samples must match the reference's mapped to 8 bits by the
converter's rule (reference.mapping; uint8 copied, exactly; one channel grey, two red and
green over one range), laid out by the orientation rule of an array placed nowhere. info must
list every level.
"""
import functools
import json
import os

import numpy

from .. import mapping
from ..runner import Case

TITLE = "ngff-zarr"
REFERENCE = "the writer's values and zarrita's read"


def raw(folder, name, dtype, shape):
    """An array the writer's script saved as raw little-endian samples."""
    return numpy.fromfile(os.path.join(folder, name), dtype=numpy.dtype(dtype).newbyteorder("<")
                          ).reshape(shape)


def level_case(label, store, extra, array):
    """A level a[z, y, x] or a[c, z, y, x] packed with extra, exactly where it is uint8."""
    volume = array.transpose(tuple(reversed(range(array.ndim))))
    copied = array.dtype == numpy.uint8
    return Case(label, store, mapping.expected_rgb(volume, copied), extra=tuple(extra),
                tolerance=0 if copied else 1)


def check(folder, entry, sweep):
    """One store: every level that --size or --max-size reads as it is, and info's listing."""
    store = os.path.join(folder, entry["store"])
    given = raw(folder, entry["given"], entry["dtype"], entry["shape"])
    levels = [raw(folder, level["file"], level["dtype"], level["shape"]) for level in entry["read"]]
    if not numpy.array_equal(levels[0], given):
        sweep.problem("%s: zarrita reads back other values than the writer was given" % store)
        return
    for k, level in enumerate(levels):
        extra = []
        if k > 0:
            if len(set(level.shape[-3:])) != 1 or len(set(levels[0].shape[-3:])) != 1:
                continue  # --size of a level of unequal sides averages it further
            extra = ["--size", str(level.shape[-1])]
        picks = [extra]
        if k > 0 and k == len(levels) - 1:
            picks.append(["--max-size", extra[1]])  # no level has more: the coarsest as it is
        for pick in picks:
            label = " ".join(["%s (NGFF %s) level %d" % (entry["store"], entry["version"], k)]
                             + pick)
            sweep.check(level_case(label, store, pick, level))
    info = sweep.run("info", store, "--pad")
    listed = [line for line in info.stdout.splitlines() if line.lstrip().startswith("level ")]
    if info.returncode != 0 or info.stderr or len(listed) != (len(levels) if len(levels) > 1
                                                               else 0):
        sweep.problem("%s: info gave exit %d, %d levels listed of %d, %r" % (
            entry["store"], info.returncode, len(listed), len(levels), info.stderr))


def no_stores(sweep):
    """A writer that wrote nothing fails the sweep rather than passing it empty."""
    sweep.problem("the writer's manifest lists no store")


def parts(arguments):
    """One part a store of the manifest; NGFF versions in the summary."""
    folder = arguments[0]
    with open(os.path.join(folder, "manifest.json")) as f:
        manifest = json.load(f)
    versions = sorted({entry["version"] for entry in manifest})
    note = "NGFF %s, folders and .ozx" % ", ".join(versions)
    return [lambda sweep: sweep.notes.append(note)] + [
        functools.partial(check, folder, entry) for entry in manifest] + (
        [] if manifest else [no_stores])
