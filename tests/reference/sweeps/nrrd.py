"""NRRD files that teem's unu writes, in every encoding, byte order and layout of their data,
each volume against what unu itself decodes.

unu writes each sample type in each encoding (raw, gzip, bzip2, hex, ASCII) and byte order,
with the data attached, in a detached data file, in a LIST of a file a slice, in files named by
a numbered pattern (counting up, and down) and behind line and byte skips (-1 included); grey
and RGB volumes, placed nowhere or by space directions in RAS and LPS. Every file's samples are
what `unu save -e raw` decodes of it; where its axes go follows from its space directions by
the orientation rule. Every volume is packed with --pad and --spacing 1,1,1 and must match,
mapped to 8 bits as the converter maps them, within rounding.
"""

import os
import subprocess

import numpy

from . import writer

TITLE = "NRRD"
REFERENCE = "teem's unu"
UNU = "teem-unu"
# unu's type names and NumPy's, with the range the samples are drawn from.
TYPES = {
    "signed char": ("i1", (-128, 127)),
    "uchar": ("u1", (0, 255)),
    "short": ("i2", (-3000, 30000)),
    "ushort": ("u2", (100, 60000)),
    "int": ("i4", (-100000, 100000)),
    "uint": ("u4", (0, 4000000)),
    "float": ("f4", (-5, 5)),
    "double": ("f8", (-1e3, 1e3)),
}
ENCODINGS = ("raw", "gzip", "bzip2", "hex", "ascii")
SIZES = (5, 4, 6)  # x, y, z
# Space directions, one per axis x, y, z, in the space named, and the same rows in RAS+.
PLACED = {
    "RAS": ("(0,1.5,0) (-1,0,0) (0,0,2)", [[0, 1.5, 0], [-1, 0, 0], [0, 0, 2]]),
    "LPS": ("(1,0,0) (0,-1,0) (0,0,-3)", [[-1, 0, 0], [0, 1, 0], [0, 0, -3]]),
}


def unu(*arguments):
    subprocess.run([UNU, *arguments], check=True, capture_output=True)


def decoded(path, kind, channels):
    """What unu decodes of the file: the volume (x, y, z[, c])."""
    out = path + ".ref.nrrd"
    unu("save", "-i", path, "-f", "nrrd", "-e", "raw", "-en", "little", "-o", out)
    with open(out, "rb") as f:
        data = f.read()
    samples = numpy.frombuffer(data[data.index(b"\n\n") + 2:], dtype="<" + TYPES[kind][0])
    shape = SIZES[::-1] + ((channels,) if channels > 1 else ())
    volume = samples.reshape(shape).swapaxes(0, 2).astype(numpy.float64)
    return volume


def base_volume(sweep, name, kind, channels, space):
    """A NRRD of random samples, raw and little-endian, from which the others are saved."""
    dtype, (lo, hi) = TYPES[kind]
    rng = numpy.random.default_rng(len(name) * 31 + channels)
    shape = SIZES[::-1] + ((channels,) if channels > 1 else ())
    if numpy.dtype(dtype).kind == "f":
        samples = rng.uniform(lo, hi, shape)
    else:
        samples = rng.integers(lo, hi, shape, endpoint=True)
    raw = sweep.file(name + ".bytes")
    samples.astype("<" + dtype).tofile(raw)
    sizes = ([str(channels)] if channels > 1 else []) + [str(s) for s in SIZES]
    path = sweep.file(name + ".nrrd")
    command = ["make", "-i", raw, "-t", kind, "-s", *sizes, "-e", "raw", "-en", "little"]
    if channels > 1:
        command += ["-k", "RGB-color", "domain", "domain", "domain"]
    if space:
        command += ["-spc", space, "-dirs", ("none " if channels > 1 else "") + PLACED[space][0],
                    "-orig", "(0,0,0)"]
    unu(*command, "-o", path)
    return path


def data_file(header):
    """The data file a detached header of unu's names, beside it."""
    with open(header) as f:
        for line in f:
            if line.startswith("data file: "):
                return os.path.join(os.path.dirname(header), line.split(": ", 1)[1].strip())
    raise ValueError("%s names no data file" % header)


def sliced(sweep, base, name, encoding, endian):
    """The slices of base, each saved by unu into a data file of its own in the encoding."""
    files = []
    for z in range(SIZES[2]):
        one = sweep.file("%s-s%d.nrrd" % (name, z))
        header = sweep.file("%s-%03d.nhdr" % (name, z))
        unu("slice", "-i", base, "-a", "3" if "rgb" in name else "2", "-p", str(z), "-o", one)
        unu("save", "-i", one, "-f", "nrrd", "-e", encoding, "-en", endian, "-o", header)
        files.append(data_file(header))
    return files


def made_header(sweep, base, name, inputs, encoding, endian, extra=()):
    """A detached header that unu make writes for base's array, its data in inputs."""
    with open(base, "rb") as f:
        text = f.read().split(b"\n\n", 1)[0].decode()
    fields = dict(line.split(": ", 1) for line in text.split("\n") if ": " in line)
    header = sweep.file(name + ".nhdr")
    command = ["make", "-h", "-i", *inputs, "-t", fields["type"], "-s", *fields["sizes"].split(),
               "-e", encoding, "-en", endian, *extra]
    if "kinds" in fields:
        command += ["-k", *fields["kinds"].split()]
    if "space" in fields:
        command += ["-spc", fields["space"], "-dirs", fields["space directions"], "-orig",
                    fields["space origin"]]
    unu(*command, "-o", header)
    return header


def layouts(sweep, base, name, encoding, endian):
    """The file of base's samples in the encoding and byte order, in each layout of its data."""
    attached = sweep.file(name + ".nrrd")
    unu("save", "-i", base, "-f", "nrrd", "-e", encoding, "-en", endian, "-o", attached)
    detached = sweep.file(name + "-detached.nhdr")
    unu("save", "-i", base, "-f", "nrrd", "-e", encoding, "-en", endian, "-o", detached)
    files = sliced(sweep, base, name, encoding, endian)
    listed = made_header(sweep, base, name + "-list", [os.path.basename(f) for f in files],
                         encoding, endian)
    stem = os.path.basename(files[0]).replace("-000", "-%03d")
    up = made_header(sweep, base, name + "-pattern", [stem, "0", str(SIZES[2] - 1), "1"],
                     encoding, endian)
    down = made_header(sweep, base, name + "-down", [stem, str(SIZES[2] - 1), "0", "-1"],
                       encoding, endian)
    return [attached, detached, listed, up, down]


def skipped(sweep, base, name):
    """Raw data behind a text preamble of two lines, behind 7 bytes, and behind a binary header
    of unknown length (byte skip -1), in one file and a file a slice."""
    with open(base, "rb") as f:
        samples = f.read()
    samples = samples[samples.index(b"\n\n") + 2:]
    slice_bytes = len(samples) // SIZES[2]
    paths = []
    for label, prefix, extra in (("lines", b"junk one\njunk two\n", ["-ls", "2"]),
                                 ("bytes", b"7 bytes", ["-bs", "7"]),
                                 ("tail", b"\x00\x01any binary header", ["-bs", "-1"])):
        whole = sweep.file("%s-%s.dat" % (name, label))
        with open(whole, "wb") as f:
            f.write(prefix + samples)
        paths.append(made_header(sweep, base, "%s-%s" % (name, label), [os.path.basename(whole)],
                                 "raw", "little", extra))
        parts = []
        for z in range(SIZES[2]):
            part = sweep.file("%s-%s-%d.dat" % (name, label, z))
            with open(part, "wb") as f:
                f.write(prefix + samples[z * slice_bytes:(z + 1) * slice_bytes])
            parts.append(os.path.basename(part))
        paths.append(made_header(sweep, base, "%s-%s-list" % (name, label), parts, "raw",
                                 "little", extra))
    return paths


def check(sweep, path, kind, channels, space):
    volume = decoded(path, kind, channels)
    copied = kind == "uchar"
    if space:
        writer.check(sweep, path, [([], volume)], "world", numpy.array(PLACED[space][1], float),
                    copied=copied)
    else:
        writer.check(sweep, path, [([], volume)], "array", copied=copied)


def unu_files(sweep):
    for kind in TYPES:
        for channels, space in ((1, None), (1, "RAS"), (3, "LPS")):
            if channels == 3 and kind not in ("uchar", "ushort", "float"):
                continue
            name = "%s-%d-%s" % (kind.replace(" ", "_"), channels, space or "array")
            if channels == 3:
                name += "-rgb"
            base = base_volume(sweep, name, kind, channels, space)
            for encoding in ENCODINGS:
                for endian in ("little", "big") if encoding != "ascii" else ("little",):
                    label = "%s-%s-%s" % (name, encoding, endian)
                    for path in layouts(sweep, base, label, encoding, endian):
                        check(sweep, path, kind, channels, space)
            if channels == 1 and space is None:
                for path in skipped(sweep, base, name):
                    check(sweep, path, kind, channels, space)


def parts(arguments):
    """The functions that hand the sweep its cases."""
    return [unu_files]
