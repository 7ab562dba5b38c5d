"""Packs NIfTI files nobody here made and compares each volume with what nibabel decodes.

Usage: /usr/bin/python3 scripts/niftisweep.py TESSARY_VOL FILE...

Each 3-D file is packed once, each 4-D or 5-D file for its first, middle and last volume
(--volume T), with --pad and --spacing 1,1,1 so that any shape packs without resampling. The
samples must match nibabel's (scaling applied) mapped to 8 bits as the converter maps them, to
within 1 for rounding, turned to LAS by nibabel's own orientation of the file's affine. A file the converter refuses must be listed in EXPECTED_REFUSALS with the
words its one-line refusal holds. Exits with 1 on any mismatch, unexpected refusal, crash or
stray output on standard error.
"""

import os
import subprocess
import sys
import tempfile

import nibabel
import numpy

import sweepvolume

# Files the converter refuses, by name, and what the refusal says.
EXPECTED_REFUSALS = {
    # CIFTI-2: a matrix of brain ordinates stored along NIfTI's sixth and seventh axes.
    "row_major.dconn.nii": "dimensions beyond the fifth",
}


def run(tool, *arguments):
    return subprocess.run([tool, *arguments], capture_output=True, text=True, timeout=120)


def to_bytes(values, copied):
    """The converter's mapping to 8 bits: uint8 copied, anything else linear over the range of
    the finite samples (LO = HI a step), NaN black."""
    if copied:
        return values.astype(numpy.float64)
    values = values.astype(numpy.float64)
    finite = values[numpy.isfinite(values)]
    if finite.size == 0:
        return numpy.zeros(values.shape)
    lo, hi = float(finite.min()), float(finite.max())
    with numpy.errstate(invalid="ignore"):
        if hi == lo:
            mapped = numpy.where(values > lo, 255.0, 0.0)
        else:
            mapped = numpy.clip(numpy.round(255 * (values - lo) / (hi - lo)), 0, 255)
    return numpy.where(numpy.isnan(values), 0, mapped)


def expected_rgb(image, volume):
    """The volume nibabel decodes (scaling applied), as the converter's RGB cube before
    padding: (x, y, z, 3)."""
    data = numpy.asanyarray(image.dataobj)
    if data.ndim >= 4:
        data = data[:, :, :, volume if volume is not None else 0]
    if data.ndim == 3:
        data = data[..., numpy.newaxis]
    channels = data.shape[3]
    copied = (image.get_data_dtype() == numpy.uint8 and image.dataobj.slope == 1
              and image.dataobj.inter == 0)
    mapped = to_bytes(data, copied)
    rgb = numpy.zeros(data.shape[:3] + (3,))
    rgb[..., :channels] = mapped
    if channels == 1:
        rgb[..., 1] = rgb[..., 2] = mapped[..., 0]
    return rgb


def compare(tool, path, image, volume, scratch, problems):
    """Packs one volume and compares it; returns whether it matched."""
    label = path + ("" if volume is None else " --volume %d" % volume)
    out = os.path.join(scratch, "out.vol")
    arguments = ["pack", path, "-o", out, "--pad", "--spacing", "1,1,1"]
    if volume is not None:
        arguments += ["--volume", str(volume)]
    result = run(tool, *arguments)
    if result.returncode != 0 or result.stderr:
        problems.append("%s: exit %d, %r" % (label, result.returncode, result.stderr))
        return False
    got = numpy.asarray(sweepvolume.packed_cube(out), dtype=numpy.float64)
    inside, expected = sweepvolume.placed(got, expected_rgb(image, volume),
                                          sweepvolume.world_turn(image.affine[:3, :3].T))
    worst = float(numpy.abs(inside - expected).max())
    outside = int(got.sum() - inside.sum())
    if worst > 1 or outside != 0:
        problems.append("%s: samples differ from nibabel's by up to %g (padding holds %d)"
                        % (label, worst, outside))
        return False
    return True


def refusal(tool, path, arguments, expected, problems):
    """A refusal: exit 1, one line on standard error naming the file, holding expected."""
    result = run(tool, *arguments)
    lines = result.stderr.splitlines()
    if (result.returncode != 1 or len(lines) != 1 or not lines[0].startswith(path + ": ")
            or expected not in lines[0]):
        problems.append("%s: %s gave exit %d, %r (expected one line with %r)"
                        % (path, " ".join(arguments[3:]), result.returncode, result.stderr,
                           expected))


def sweep(tool, path, scratch, problems, counts):
    name = os.path.basename(path)
    out = os.path.join(scratch, "out.vol")
    if name in EXPECTED_REFUSALS:
        refusal(tool, path, ["pack", path, "-o", out, "--pad"], EXPECTED_REFUSALS[name], problems)
        counts["refused"] += 1
        return
    image = nibabel.load(path)
    volumes = image.shape[3] if len(image.shape) >= 4 else 1
    if volumes > 1:
        refusal(tool, path, ["pack", path, "-o", out, "--pad"],
                "of %d volumes along its fourth dimension" % volumes, problems)
        refusal(tool, path, ["pack", path, "-o", out, "--pad", "--volume", str(volumes)],
                "no volume %d" % volumes, problems)
        picks = sorted({0, volumes // 2, volumes - 1})
    else:
        picks = [None]
    for volume in picks:
        if compare(tool, path, image, volume, scratch, problems):
            counts["packed"] += 1
    info = run(tool, "info", path, *([] if volumes == 1 else ["--volume", "0"]))
    if info.returncode not in (0, 1) or len(info.stderr.splitlines()) > 1:
        problems.append("%s: info gave exit %d, %r" % (path, info.returncode, info.stderr))


def main():
    tool, paths = sys.argv[1], sys.argv[2:]
    problems = []
    counts = {"packed": 0, "refused": 0}
    with tempfile.TemporaryDirectory() as scratch:
        for path in paths:
            try:
                sweep(tool, path, scratch, problems, counts)
            except subprocess.TimeoutExpired:
                problems.append("%s: the converter took more than 120 s" % path)
            except Exception as error:  # nibabel's own refusal: list the file, or fix the sweep
                problems.append("%s: nibabel can't decode it: %s" % (path, error))
    print("NIfTI sweep: %d files, %d volumes packed and matched, %d refused as expected"
          % (len(paths), counts["packed"], counts["refused"]))
    for problem in problems:
        print("  " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
