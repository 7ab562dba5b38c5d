"""MINC2 files that minc-tools' rawtominc writes, and nibabel's own MINC2 test files, each
volume against what the field's readers decode.

rawtominc writes each stored type (byte, short signed and unsigned, int, float, double), with
each slice's range scanned (-scan_range) or one stated (-real_range), in transverse, sagittal
and coronal order, with negative steps, turned direction cosines, time points and a vector
dimension. Their real values are minctoraw's (-double -normalize); where the volume's axes go is
nibabel's affine of the file, by the orientation rule. nibabel's own files are compared with
nibabel's values and affine. Every volume is packed with --pad and --spacing 1,1,1 and must
match exactly, mapped to 8 bits as the converter maps them (reference.mapping) from the
float32 real values the converter holds (float64 where the file stores it). A file of time
points must be refused without --volume, in one line.
"""

import os
import subprocess

import nibabel
import numpy

from . import writer

TITLE = "MINC"
REFERENCE = "rawtominc and minctoraw, nibabel"

NIBABEL_DATA = "/usr/lib/python3/dist-packages/nibabel/tests/data"
NIBABEL_FILES = ("minc2-4d-d.mnc", "minc2-no-att.mnc", "minc2_1_scale.mnc", "minc2_4d.mnc",
                 "small.mnc")
# rawtominc's type options, and the samples written of each.
TYPES = {
    "byte": (["-byte", "-unsigned"], "u1", (0, 255)),
    "short": (["-short", "-signed"], "i2", (-3000, 30000)),
    "ushort": (["-short", "-unsigned"], "u2", (100, 60000)),
    "int": (["-int", "-signed"], "i4", (-100000, 100000)),
    "float": (["-float"], "f4", (-5, 5)),
    "double": (["-double"], "f8", (-1e3, 1e3)),
}
theta = numpy.radians(25)
TURNED = ["-xdircos", str(numpy.cos(theta)), str(numpy.sin(theta)), "0",
          "-ydircos", str(-numpy.sin(theta)), str(numpy.cos(theta)), "0"]
# (name, type, rawtominc's options, sizes slowest first, time points, vector channels)
FILES = [
    ("byte_scan", "byte", ["-scan_range", "-transverse"], (4, 5, 6), 0, 0),
    ("short_scan", "short", ["-scan_range", "-transverse", "-xstep", "2", "-ystep", "-1.5",
                             "-zstep", "3"], (5, 4, 6), 0, 0),
    ("ushort_real", "ushort", ["-real_range", "-2", "7", "-sagittal", "-zstep", "-2"],
     (4, 6, 5), 0, 0),
    ("int_scan", "int", ["-scan_range", "-coronal", "-ystep", "-1"] + TURNED, (6, 4, 5), 0, 0),
    ("short_range", "short", ["-scan_range", "-range", "-3000", "30000", "-xyz"],
     (5, 6, 4), 0, 0),
    ("float_turned", "float", ["-transverse", "-xstep", "-1"] + TURNED, (4, 5, 6), 0, 0),
    ("double_coronal", "double", ["-coronal", "-zstep", "2.5"], (5, 6, 4), 0, 0),
    ("short_time", "short", ["-scan_range", "-transverse"], (4, 5, 6), 3, 0),
    ("byte_vector", "byte", ["-scan_range", "-transverse"], (4, 5, 6), 0, 3),
]


def rawtominc(sweep, name, kind, options, sizes, times, channels):
    """The file rawtominc writes of random samples, or None where it failed."""
    flags, dtype, (lo, hi) = TYPES[kind]
    shape = ((times,) if times else ()) + sizes + ((channels,) if channels else ())
    rng = numpy.random.default_rng(len(name))
    if numpy.dtype(dtype).kind == "f":
        samples = rng.uniform(lo, hi, shape)
    else:
        samples = rng.integers(lo, hi, shape, endpoint=True)
    raw, path = sweep.file(name + ".raw"), sweep.file(name + ".mnc")
    samples.astype("<" + dtype).tofile(raw)
    counts = [str(s) for s in ((times,) if times else ()) + sizes]
    vector = ["-vector", str(channels)] if channels else []
    command = ["rawtominc", "-2", "-clobber", "-input", raw] + flags + options + vector + [path]
    command += counts
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        sweep.problem("%s: rawtominc failed: %s" % (name, result.stderr.strip()))
        return None
    return path


def minctoraw(path, shape):
    """The file's real values as minctoraw writes them, slowest axis first."""
    result = subprocess.run(["minctoraw", "-double", "-normalize", path], capture_output=True,
                            check=True)
    return numpy.frombuffer(result.stdout, dtype="<f8").reshape(shape)


def held(values, stored):
    """The real values as the converter holds them: float32, float64 where the file stores it."""
    return values.astype(numpy.float64 if stored == numpy.float64 else numpy.float32)


def check(sweep, path, values, stored, affine, times):
    """values: the file's real values, slowest axis first (time first, channels last)."""
    volumes = [values[t] for t in range(values.shape[0])] if times else [values]
    # The reader's axes i, j, k are the image's fastest spatial axis first.
    files = [held(v, stored).swapaxes(0, 2) for v in volumes]
    directions = affine[:3, :3].T[::-1]
    if times:
        writer.refuse(sweep, path, "pick one with --volume T")
    writer.check(sweep, path, writer.volume_picks(files), "world", directions, tolerance=0)


def minc_tools_files(sweep):
    for name, kind, options, sizes, times, channels in FILES:
        path = rawtominc(sweep, name, kind, options, sizes, times, channels)
        # nibabel reads neither rawtominc's time nor its vector dimension (no spacing given):
        # the frame is that of the same file without them.
        frame = rawtominc(sweep, name + "_frame", kind, options, sizes, 0, 0)
        if path is None or frame is None:
            continue
        image = nibabel.load(frame)
        shape = ((times,) if times else ()) + image.shape + ((channels,) if channels else ())
        values = minctoraw(path, shape)
        check(sweep, path, values, image.get_data_dtype().type, image.affine, times)


def nibabel_files(sweep):
    for name in NIBABEL_FILES:
        path = os.path.join(NIBABEL_DATA, name)
        if not os.path.exists(path):
            continue
        image = nibabel.load(path)
        times = len(image.shape) == 4
        check(sweep, path, image.get_fdata(), image.get_data_dtype().type, image.affine, times)


def parts(arguments):
    """The functions that hand the sweep its cases."""
    return [minc_tools_files, nibabel_files]
