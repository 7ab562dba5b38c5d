"""The netCDF files that python3-netcdf4 writes, each variable against what netCDF4 decodes
with its default masking and scaling.

netCDF-4 files (HDF5 underneath): 3-D and 4-D (time) variables of several types, chunked and
zlib-compressed, with the CF attributes _FillValue, missing_value, valid_range, valid_min,
valid_max, scale_factor and add_offset, and variables written only in part. Each packs with
--dataset VAR (--volume T for a time point), --pad and --spacing 1,1,1, and must match netCDF4's
values mapped to 8 bits by the converter's rule (reference.mapping) within 1: a masked sample
black and out of the value range, as NaN is. A netCDF-3 classic file must be refused in one
line naming the file as such; a netCDF-4 file without --dataset, and a variable of time points
without one picked, in one line saying what to pick.
"""
import os

import netCDF4
import numpy

from .. import mapping
from ..runner import Case, Refusal

TITLE = "netCDF"
REFERENCE = "netCDF4 %s" % netCDF4.__version__

# The variables of no mask; every other one must have some samples masked.
UNMASKED = {"plain_f8", "scaled_i4"}


def ramp(shape, dtype, step, low):
    """Samples that differ between neighbours along every axis."""
    values = numpy.indices(shape).T.dot(numpy.arange(len(shape)) * 13 + 5).T
    return (values * step + low).astype(dtype)


def variable(dataset, name, dimensions, dtype, data, fill=None, **attributes):
    var = dataset.createVariable(name, dtype, dimensions, zlib=True, complevel=4,
                                 chunksizes=tuple(min(4, len(dataset.dimensions[d]))
                                                  for d in dimensions), fill_value=fill)
    for key, value in attributes.items():
        var.setncattr(key, value)
    var.set_auto_maskandscale(False)  # the raw values as given
    if data is not None:
        var[...] = data
    return var


def netcdf4_file(path):
    """Variables of a netCDF-4 file: (name, the --volume picks or [None]). A 4-D variable's
    leading dimension is time, however few its points (CF's order T, Z, Y, X)."""
    shape = (6, 9, 11)
    with netCDF4.Dataset(path, "w", format="NETCDF4") as f:
        for name, size in (("time", 7), ("z", 6), ("y", 9), ("x", 11)):
            f.createDimension(name, size)
        zyx = ("z", "y", "x")
        packed = ramp(shape, "i2", 9, -1500)
        packed[0, 0, :3] = -999  # the fill value
        packed[1, 2, 3] = 3000  # beyond valid_range
        variable(f, "packed_i2", zyx, "i2", packed, fill=-999, scale_factor=0.5, add_offset=10.0,
                 valid_range=numpy.array([-2000, 2000], "i2"))
        counts = ramp(shape, "u1", 1, 0)
        variable(f, "valid_u1", zyx, "u1", counts, valid_min=numpy.uint8(10),
                 valid_max=numpy.uint8(200))
        measured = ramp(shape, "f4", 0.75, -20)
        measured[2, :, 4] = -9999
        measured[3, 3, 3] = 5000
        variable(f, "missing_f4", zyx, "f4", measured, missing_value=numpy.float32(-9999),
                 valid_max=numpy.float32(1000))
        variable(f, "scaled_i4", zyx, "i4", ramp(shape, "i4", 70001, -10**6),
                 scale_factor=numpy.float64(1e-3), add_offset=numpy.float64(-5))
        two = ramp(shape, "u2", 300, 0)
        two[4, 4, :] = 0
        two[5, 8, 10] = 65535
        variable(f, "missing_two_u2", zyx, "u2", two,
                 missing_value=numpy.array([0, 65535], "u2"))
        variable(f, "plain_f8", zyx, "f8", ramp(shape, "f8", 0.01, 3))
        # Written in part, without _FillValue: the rest holds netCDF's default fill.
        part = variable(f, "partial_i2", zyx, "i2", None)
        part[0:4] = ramp((4, 9, 11), "i2", 11, -400)
        part_f = variable(f, "partial_f4", zyx, "f4", None)
        part_f[:, 0:5] = ramp((6, 5, 11), "f4", 0.5, 1)
        series = ramp((7,) + shape, "f4", 0.1, -3)
        series[2, 1, 1, 1] = -1
        variable(f, "series_f4", ("time",) + zyx, "f4", series, fill=numpy.float32(-1))
        counts = ramp((7,) + shape, "i2", 3, -200)
        counts[4, 0, 0, 0] = 32000
        variable(f, "series_i2", ("time",) + zyx, "i2", counts, fill=numpy.int16(32000),
                 scale_factor=numpy.float32(0.25), add_offset=numpy.float32(1000))
        f.createDimension("season", 3)
        few = ramp((3,) + shape, "f8", 0.5, -7)
        few[1, 5, 8, 10] = 1e30
        variable(f, "seasons_f8", ("season",) + zyx, "f8", few,
                 valid_range=numpy.array([-50, 50.0]))
        signed = ramp(shape, "i1", 1, -128)
        variable(f, "signed_i1", zyx, "i1", signed, fill=numpy.int8(-100),
                 valid_min=numpy.int8(-120))
    return [("packed_i2", [None]), ("valid_u1", [None]), ("missing_f4", [None]),
            ("scaled_i4", [None]), ("missing_two_u2", [None]), ("plain_f8", [None]),
            ("partial_i2", [None]), ("partial_f4", [None]), ("series_f4", [0, 2, 6]),
            ("series_i2", [1, 4]), ("seasons_f8", [0, 1, 2]), ("signed_i1", [None])]


def decoded(path, name, volume):
    """netCDF4's values of the variable, masked and scaled by default, a masked sample NaN;
    (z, y, x) at the time point picked."""
    with netCDF4.Dataset(path) as f:
        values = f.variables[name][...]
    values = numpy.ma.filled(numpy.ma.masked_array(values, dtype=numpy.float64), numpy.nan)
    return values[volume] if volume is not None else values


def check(sweep, path, name, volume):
    """The variable (at the time point picked) packed and compared with netCDF4's values."""
    extra = ("--dataset", name) + (() if volume is None else ("--volume", str(volume)))
    label = " ".join((os.path.basename(path),) + extra)
    whole = numpy.isnan(decoded(path, name, None))
    if whole.all() or not whole.any() and name not in UNMASKED:
        sweep.problem("%s: netCDF4 masks %s samples: the file is not what the sweep means" % (
            label, "all" if whole.all() else "no"))
        return
    values = decoded(path, name, volume).transpose(2, 1, 0)
    sweep.check(Case(label, path, mapping.expected_rgb(values), extra=extra))


def netcdf4_files(sweep):
    """Each variable of the netCDF-4 file, at each time point picked; without a variable named
    the file is refused, saying how to name one, and a variable of time points without one
    picked, or with one it lacks, likewise."""
    path = sweep.file("variables.nc")
    for name, picks in netcdf4_file(path):
        for volume in picks:
            check(sweep, path, name, volume)
    for extra, words in (
            ((), "name a 3-D or 4-D dataset with --dataset PATH"),
            (("--dataset", "seasons_f8"), "3 time points (pick one with --volume T, 0 to 2)"),
            (("--dataset", "series_f4", "--volume", "7"), "the file has 7 time points")):
        sweep.refuse(Refusal(path, ("--pad",) + extra, words))


def classic_file(sweep):
    """A netCDF-3 classic file, which is not HDF5: refused as such, with a variable named or
    not."""
    classic = sweep.file("classic.nc")
    with netCDF4.Dataset(classic, "w", format="NETCDF3_CLASSIC") as f:
        for name, size in (("z", 4), ("y", 5), ("x", 6)):
            f.createDimension(name, size)
        f.createVariable("v", "f4", ("z", "y", "x"))[...] = ramp((4, 5, 6), "f4", 1, 0)
    for extra in ((), ("--dataset", "v")):
        sweep.refuse(Refusal(classic, ("--pad",) + extra, "netCDF-3 classic"))


def parts(arguments):
    """The functions that hand the sweep its cases."""
    return [netcdf4_files, classic_file]
