"""Packs the OME-Zarr stores that @fideus-labs/ngff-zarr wrote (scripts/ngffzarrwrite.mjs) and
compares each level with what the writer was given and what zarrita, its own Zarr library,
reads back.

Usage: /usr/bin/python3 scripts/ngffzarrsweep.py TESSARY_VOL FOLDER

Every store packs its finest level with --pad and --spacing 1,1,1, and each coarser level of a
cubic pyramid with --size SIDE (the level read as it is, not averaged), the coarsest with
--max-size SIDE too. The samples must match the reference's mapped to 8 bits by the
converter's rule (niftisweep.to_bytes; uint8 copied, exactly; one channel grey, two red and
green over one range), laid out by the orientation rule of an array placed nowhere. info must
list every level. Exits with 1 on any mismatch, refusal, crash or stray output on standard
error.
"""
import json
import os
import subprocess
import sys

import numpy

import niftisweep  # the 8-bit rule and the converter's run
import sweepvolume  # the .vol reader and the orientation rule


def raw(folder, name, dtype, shape):
    return numpy.fromfile(os.path.join(folder, name), dtype=numpy.dtype(dtype).newbyteorder("<")
                          ).reshape(shape)


def expected_rgb(array):
    """The converter's RGB cube, (x, y, z, 3) before padding, of an array a[z, y, x] or
    a[c, z, y, x]: one channel grey, two red and green, over one range."""
    channels = array if array.ndim == 4 else array[numpy.newaxis]
    mapped = niftisweep.to_bytes(channels, array.dtype == numpy.uint8).transpose(3, 2, 1, 0)
    rgb = numpy.zeros(mapped.shape[:3] + (3,))
    rgb[..., :mapped.shape[3]] = mapped
    if mapped.shape[3] == 1:
        rgb[..., 1] = rgb[..., 2] = mapped[..., 0]
    return rgb


def compare(tool, label, store, extra, array, out):
    """"" when store packs with extra to array's samples where --pad puts them."""
    return sweepvolume.compare_array_pack(tool, label, store, extra, expected_rgb(array),
                                          max(array.shape[-3:]), array.dtype == numpy.uint8,
                                          "the reference", out)


def check(tool, folder, entry, out):
    """The problems of one store, and how many levels matched."""
    store = os.path.join(folder, entry["store"])
    given = raw(folder, entry["given"], entry["dtype"], entry["shape"])
    levels = [raw(folder, level["file"], level["dtype"], level["shape"]) for level in entry["read"]]
    if not numpy.array_equal(levels[0], given):
        return ["%s: zarrita reads back other values than the writer was given" % store], 0
    problems, matched = [], 0
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
            problem = compare(tool, label, store, pick, level, out)
            if problem:
                problems.append(problem)
            else:
                matched += 1
    info = niftisweep.run(tool, "info", store, "--pad")
    listed = [line for line in info.stdout.splitlines() if line.lstrip().startswith("level ")]
    if info.returncode != 0 or info.stderr or len(listed) != (len(levels) if len(levels) > 1
                                                               else 0):
        problems.append("%s: info gave exit %d, %d levels listed of %d, %r" % (
            entry["store"], info.returncode, len(listed), len(levels), info.stderr))
    return problems, matched


def main():
    tool, folder = sys.argv[1:3]
    out = os.path.join(folder, "out.vol")
    with open(os.path.join(folder, "manifest.json")) as f:
        manifest = json.load(f)
    problems, matched = [], 0
    for entry in manifest:
        try:
            found, count = check(tool, folder, entry, out)
        except subprocess.TimeoutExpired:
            found, count = ["%s: the converter took more than 120 s" % entry["store"]], 0
        problems += found
        matched += count
    versions = sorted({entry["version"] for entry in manifest})
    print("ngff-zarr sweep: %d stores (NGFF %s, folders and .ozx), %d packs of their levels matched"
          % (len(manifest), ", ".join(versions), matched))
    for problem in problems:
        print("  " + problem)
    return 1 if problems or not manifest else 0


if __name__ == "__main__":
    sys.exit(main())
