#!/usr/bin/python3
"""Writes the HDF5 inputs hdf5_test reads, with h5py, into the folder named, and beside each
the samples h5py reads of what pack should read: NAME.raw, z then y then x then channel, in host
byte order."""
import os
import pathlib
import sys
import zlib

import h5py
import numpy as np

out = sys.argv[1]
rng = np.random.default_rng(7)


def path(name):
    return os.path.join(out, name)


def expect(name, channels):
    """The channels' arrays (z, y, x) interleaved, as the reader's slices hold them."""
    np.stack(channels, axis=-1).tofile(path(name + ".raw"))


def chars(text):
    # Imaris keeps every value as an array of one-character strings.
    return np.array(list(str(text)), dtype="S1")


def imaris(name, sizes, levels=3, channels=2, times=2, dtype="u2", chunk=16, lie=None,
           extents=True):
    """An Imaris file: levels halving the sizes (x, y, z), each dataset padded to whole chunks
    with a value no level holds. Returns what h5py reads of each level, time and channel."""
    read = {}
    with h5py.File(path(name), "w") as f:
        info = f.create_group("DataSetInfo/Image")
        for k, (size, spacing) in enumerate(zip(sizes, (0.5, 0.5, 2.0)) if extents else ()):
            info.attrs["XYZ"[k]] = chars(size)
            info.attrs["ExtMin%d" % k] = chars("0")
            info.attrs["ExtMax%d" % k] = chars("%g" % (size * spacing))
        for c, colour in enumerate(["1.000 0.000 0.000", "0.000 1.000 0.000"][:channels]):
            f.create_group("DataSetInfo/Channel %d" % c).attrs["Color"] = chars(colour)
        for r in range(levels):
            x, y, z = (max(1, s >> r) for s in sizes)
            for t in range(times):
                for c in range(channels):
                    group = f.create_group(
                        "DataSet/ResolutionLevel %d/TimePoint %d/Channel %d" % (r, t, c))
                    for axis, size in zip("XYZ", (x, y, z)):
                        group.attrs["ImageSize" + axis] = chars(size)
                    if lie and r == 0:
                        group.attrs[lie[0]] = chars(lie[1])
                    padded = [-(-s // chunk) * chunk for s in (z, y, x)]
                    if np.dtype(dtype).kind == "f":
                        data = rng.uniform(-5, 5, padded).astype(dtype)
                    else:
                        data = rng.integers(0, 60000, padded).astype(dtype)
                    data[z:, :, :] = data[:, y:, :] = data[:, :, x:] = 9
                    group.create_dataset("Data", data=data, chunks=(chunk,) * 3,
                                         compression="gzip")
                    read[r, t, c] = group["Data"][:z, :y, :x]
    return read


def bigdataviewer(name, angles=False):
    """Two setups, two time points, two levels; int16 cells, as BigDataViewer's writer keeps
    unsigned samples. The setups differ in channel, or in angle too."""
    read = {}
    with h5py.File(path(name), "w") as f:
        for s in range(2):
            f["s%02d/resolutions" % s] = np.array([[1, 1, 1], [2, 2, 2]], dtype="f8")
            f["s%02d/subdivisions" % s] = np.array([[16, 16, 8], [16, 16, 8]], dtype="i4")
        for t in range(2):
            for s in range(2):
                for level, shape in enumerate([(12, 20, 24), (6, 10, 12)]):
                    data = rng.integers(-32768, 32767, shape).astype("i2")
                    f.create_dataset("t%05d/s%02d/%d/cells" % (t, s, level), data=data,
                                     chunks=tuple(min(8, n) for n in shape))
                    read[t, s, level] = f["t%05d/s%02d/%d/cells" % (t, s, level)][()].view("u2")
    setups = ""
    for s in range(2):
        setups += ("<ViewSetup><id>%d</id><name>%d</name><size>24 20 12</size>"
                   "<voxelSize><unit>um</unit><size>0.5 0.5 1.0</size></voxelSize>"
                   "<attributes><illumination>0</illumination><channel>%d</channel>"
                   "<tile>0</tile><angle>%d</angle></attributes></ViewSetup>"
                   % (s, s, s, s if angles else 0))
    with open(path(name[:-3] + ".xml"), "w") as xml:
        xml.write('<?xml version="1.0" encoding="UTF-8"?>\n<SpimData version="0.2">'
                  '<BasePath type="relative">.</BasePath><SequenceDescription>'
                  '<ImageLoader format="bdv.hdf5"><hdf5 type="relative">%s</hdf5></ImageLoader>'
                  '<ViewSetups>%s</ViewSetups></SequenceDescription></SpimData>\n'
                  % (name, setups))
    return read


ims = imaris("volume.ims", (40, 36, 20))
for t, level in [(0, 0), (1, 1), (1, 2)]:
    expect("ims_t%d_l%d" % (t, level), [ims[level, t, 0], ims[level, t, 1]])
floats = imaris("floats.ims", (17, 9, 33), levels=2, channels=1, times=1, dtype="f4", chunk=8,
                extents=False)
for level in range(2):
    expect("floats_l%d" % level, [floats[level, 0, 0]])
imaris("lying.ims", (40, 36, 20), levels=1, times=1, lie=("ImageSizeX", "4000"))
imaris("nonumber.ims", (40, 36, 20), levels=1, times=1, lie=("ImageSizeZ", "2O"))
image = pathlib.Path(path("volume.ims")).read_bytes()
pathlib.Path(path("truncated.ims")).write_bytes(image[:len(image) // 3])
# Every byte after the superblock garbled: the library meets garbage wherever it looks.
garbled = bytearray(image)
garbled[96::7] = bytes((b * 31 + 17) & 255 for b in garbled[96::7])
pathlib.Path(path("garbled.ims")).write_bytes(garbled)

bdv = bigdataviewer("setups.h5")
expect("bdv_t1_l0", [bdv[1, 0, 0], bdv[1, 1, 0]])
expect("bdv_t0_l1_s01", [bdv[0, 1, 1]])
bigdataviewer("angles.h5", angles=True)
# Its .xml cut short: the XML is read strictly.
bigdataviewer("cut.h5")
with open(path("cut.xml"), "r+") as xml:
    xml.truncate(300)

with h5py.File(path("plain.h5"), "w") as f:
    f["vol3"] = rng.uniform(0, 1, (9, 10, 11)).astype("f4")
    f["group/channels"] = rng.integers(0, 255, (2, 9, 10, 11)).astype("u1")
    f["series"] = rng.integers(-1000, 1000, (5, 6, 7, 8)).astype("i2")
    f["rgb"] = rng.integers(0, 255, (6, 7, 8, 3)).astype("u1")
    f["flat"] = np.zeros((10, 10), dtype="u1")
    f["wide"] = np.zeros((4, 4, 4), dtype="i8")
    f.create_dataset("huge", shape=(1 << 20,) * 3, dtype="u2", chunks=(64, 64, 64))
    f.create_dataset("toolarge", shape=(1 << 21, 4, 4), dtype="u2", chunks=(64, 4, 4))
    # Chunks so small that libhdf5's own for each chunk a read touches outweighs the samples.
    f.create_dataset("tiny", data=rng.integers(0, 255, (2, 512, 256)).astype("u1"),
                     chunks=(2, 2, 2))
    # The pipelines a reader meets: shuffled and deflated, checksummed, big-endian; chunks that
    # overhang the shape, one never written (the fill value) and one stored unfiltered.
    f.create_dataset("shuffled", data=rng.integers(0, 60000, (9, 10, 11)).astype("u2"),
                     chunks=(4, 4, 4), shuffle=True, compression="gzip")
    f.create_dataset("checksummed", data=rng.integers(0, 60000, (9, 10, 11)).astype("u2"),
                     chunks=(4, 4, 4), shuffle=True, compression="gzip", fletcher32=True)
    f.create_dataset("bigendian", data=rng.integers(0, 60000, (9, 10, 11)).astype(">u2"),
                     chunks=(4, 4, 4), compression="gzip")
    sparse = f.create_dataset("sparse", shape=(8, 8, 8), dtype="i2", chunks=(4, 4, 4),
                              compression="gzip", fillvalue=-7)
    sparse[:4] = rng.integers(-1000, 1000, (4, 8, 8))
    raw = rng.integers(-1000, 1000, (4, 4, 4)).astype("i2")
    sparse.id.write_direct_chunk((4, 4, 4), raw.tobytes(), filter_mask=1)
    for name in ("shuffled", "checksummed", "bigendian", "sparse"):
        expect("plain_" + name, [f[name][()].astype(f[name].dtype.newbyteorder("="))])
    expect("plain_tiny", [f["tiny"][()]])
    expect("plain_vol3", [f["vol3"][()]])
    expect("plain_channels", [f["group/channels"][0], f["group/channels"][1]])
    expect("plain_series_t3", [f["series"][3]])
    expect("plain_rgb", [f["rgb"][..., c] for c in range(3)])

def cf_reference(data, attrs):
    """numpy's masked and scaled read of a netCDF-4 variable, masked samples NaN, as float32."""
    valid = attrs.get("valid_range",
                      (attrs.get("valid_min", -np.inf), attrs.get("valid_max", np.inf)))
    masked = np.ma.masked_outside(data, valid[0], valid[1])
    for name in ("_FillValue", "missing_value"):
        if name in attrs:
            masked = np.ma.masked_equal(masked, attrs[name])
    scaled = masked.astype("f8") * float(attrs.get("scale_factor", 1)) + float(
        attrs.get("add_offset", 0))
    return scaled.astype("f4").filled(np.nan)


# netCDF-4 variables as netCDF writes them: fill and missing values, a valid range, packing.
with h5py.File(path("netcdf.nc"), "w") as f:
    for name, data, attrs in [
            ("temperature", rng.integers(-50, 3500, (6, 7, 8)).astype("i2"),
             {"_FillValue": np.int16(-999), "missing_value": np.int16(-1),
              "valid_range": np.array([0, 3000], "i2"), "scale_factor": np.float32(0.01),
              "add_offset": np.float32(-5)}),
            ("salinity", rng.integers(0, 256, (5, 6, 7)).astype("u1"),
             {"_FillValue": np.uint8(255), "valid_max": np.uint8(200)}),
            # netCDF's default fill for doubles; float64 samples are wider than those read.
            ("pressure", rng.uniform(900, 1100, (4, 5, 6)),
             {"_FillValue": np.float64(9.969209968386869e36), "valid_min": np.float64(950),
              "add_offset": np.float64(-1000)})]:
        data.flat[::5] = attrs["_FillValue"]
        if "missing_value" in attrs:
            data.flat[1::7] = attrs["missing_value"]
        f.create_dataset(name, data=data, chunks=(2,) + data.shape[1:], compression="gzip")
        for key, value in attrs.items():
            f[name].attrs[key] = value
        expect("netcdf_" + name, [cf_reference(f[name][()], attrs)])
    # Variables netCDF-C wrote without a _FillValue: the samples never written hold its default
    # fill, masked as netCDF's readers mask it, but not in bytes, which have none.
    for name, data, fill in [("unwritten", rng.integers(-3000, 3000, (4, 5, 6)).astype("i2"),
                              -32767),
                             ("unwritten_f4", rng.uniform(-1, 1, (4, 5, 6)).astype("f4"),
                              np.float32(9.9692099683868690e36)),
                             ("bytes", rng.integers(0, 256, (4, 5, 6)).astype("u1"), 255)]:
        data[2:] = fill
        f.create_dataset(name, data=data, chunks=(2, 5, 6), compression="gzip")
        f[name].attrs["_Netcdf4Coordinates"] = np.arange(3, dtype="i4")
        expect("netcdf_" + name, [data if data.dtype == np.uint8 else
                                  cf_reference(data, {"_FillValue": fill})])
    # A netCDF-4 variable of three time points: CF's T, Z, Y, X, not three channels.
    series = rng.uniform(0, 1, (3, 4, 5, 6)).astype("f4")
    f.create_dataset("series", data=series, chunks=(1, 4, 5, 6))
    f["series"].attrs["_Netcdf4Coordinates"] = np.arange(4, dtype="i4")
    expect("netcdf_series_t2", [series[2]])



def minc(name, image, dimorder, ranges=None, range_order=None, valid_range=None,
         dimensions=None, expected=None, volume=None):
    """A MINC2 file: the image, image-min and image-max (ranges: their arrays), and the
    dimension variables' attributes; beside it what nibabel reads of it, as float32 real values
    (NAME.raw), or the image itself for a float image."""
    with h5py.File(path(name), "w") as f:
        group = f.create_group("minc-2.0/image/0")
        group["image"] = image
        group["image"].attrs["dimorder"] = np.bytes_(dimorder)
        if valid_range is not None:
            group["image"].attrs["valid_range"] = np.array(valid_range, dtype="f8")
        for which, values in zip(("image-min", "image-max"), ranges or ()):
            group[which] = values
            if range_order is not None:
                group[which].attrs["dimorder"] = np.bytes_(range_order)
        f.create_group("minc-2.0/dimensions")
        names = dimorder.split(",")
        for dim, attrs in (dimensions or {n: {} for n in names}).items():
            f["minc-2.0/dimensions/" + dim] = np.int32(0)
            f["minc-2.0/dimensions/" + dim].attrs["spacing"] = np.bytes_("regular__")
            for key, value in attrs.items():
                f["minc-2.0/dimensions/" + dim].attrs[key] = value
    if expected is None:
        return
    data = image[volume] if volume is not None else image
    if image.dtype.kind == "f":
        real = data
    else:
        lo, hi = ranges[0], ranges[1]
        if volume is not None and np.ndim(lo) > 0:
            lo, hi = lo[volume], hi[volume]
        info = np.iinfo(image.dtype)
        vmin, vmax = valid_range if valid_range is not None else (info.min, info.max)
        # nibabel's rule: the valid range onto image-min to image-max over the leading axes.
        lo = np.reshape(lo, np.shape(lo) + (1,) * (data.ndim - np.ndim(lo)))
        hi = np.reshape(hi, np.shape(hi) + (1,) * (data.ndim - np.ndim(hi)))
        slope = (hi - lo) / (vmax - vmin)
        real = np.clip(data, vmin, vmax) * slope + (lo - vmin * slope)
    # The reader's slices are the image's slowest spatial axis, as stored.
    np.ascontiguousarray(real, dtype=image.dtype if image.dtype.kind == "f" else "f4").tofile(
        path(expected + ".raw"))


space = {"xspace": {"step": 2.0, "start": -7.0, "direction_cosines": np.array([1.0, 0, 0])},
         "yspace": {"step": -1.5, "start": 4.0},
         "zspace": {"step": 3.0, "direction_cosines": np.array([0, 0.1, 0.995])}}
# Each slice its own range, some voxels outside the valid range.
minc("slices.mnc", rng.integers(-1200, 3200, (5, 6, 7)).astype("i2"), "zspace,yspace,xspace",
     [rng.uniform(-1, 0, 5), rng.uniform(1, 2, 5)], "zspace", [-1000, 3000], space,
     "minc_slices")
# Each row its own range, uint8 of its type's whole range; a time series' slices.
# More rows than the few values listed of other small datasets.
minc("rows.mnc", rng.integers(0, 256, (10, 9, 6)).astype("u1"), "zspace,yspace,xspace",
     [rng.uniform(-5, 0, (10, 9)), rng.uniform(1, 9, (10, 9))], "zspace,yspace", None, space,
     "minc_rows")
minc("series.mnc", rng.integers(-70000, 70000, (3, 4, 5, 6)).astype("i4"),
     "time,zspace,yspace,xspace", [rng.uniform(-5, 0, (3, 4)), rng.uniform(1, 9, (3, 4))],
     "time,zspace", [-65536, 65535], dict(space, time={}), "minc_series_t2", 2)
# Channels, the spatial axes in another order, one range for the volume.
minc("vector.mnc", rng.integers(0, 60000, (4, 5, 6, 3)).astype("u2"),
     "xspace,zspace,yspace,vector_dimension", [np.float64(-2), np.float64(6)], None, [0, 60000],
     dict(space, vector_dimension={}), "minc_vector")
# Floats are real values as stored, the dimensions' attributes MINC's defaults.
minc("floats.mnc", rng.uniform(-3, 3, (4, 3, 5)).astype("f4"), "zspace,yspace,xspace",
     [np.float64(0), np.float64(1)], expected="minc_floats")
# Hostile: each breaks one rule of the layout.
good = rng.integers(0, 100, (5, 6, 7)).astype("i2")
per_slice = [np.zeros(5), np.ones(5)]
order = "zspace,yspace,xspace"
broken = {
    "minc_shape.mnc": dict(ranges=[np.zeros(4), np.ones(4)], range_order="zspace"),
    "minc_over.mnc": dict(ranges=[np.zeros((5, 6, 7)), np.ones((5, 6, 7))], range_order=order),
    "minc_nomin.mnc": dict(ranges=[]),
    "minc_nan.mnc": dict(ranges=[np.zeros(5), np.array([1, 1, np.nan, 1, 1])]),
    "minc_flat.mnc": dict(valid_range=[7, 7]),
    "minc_nodim.mnc": dict(dimensions={"xspace": {}, "zspace": {}}),
    "minc_zerostep.mnc": dict(dimensions=dict(space, xspace={"step": 0.0})),
    "minc_nanstep.mnc": dict(dimensions=dict(space, yspace={"step": np.nan})),
    "minc_irregular.mnc": dict(dimensions=dict(space, zspace={
        "spacing": np.bytes_("irregular")})),
    "minc_cosines.mnc": dict(dimensions=dict(space, zspace={
        "direction_cosines": np.array([1.0, 0, 0])})),
}
for name, changes in broken.items():
    minc(name, good, order, **dict(dict(ranges=per_slice, range_order="zspace"), **changes))
with open(path("minc1.mnc"), "wb") as f:
    f.write(b"CDF\x01" + bytes(60))  # MINC1 is netCDF classic
minc("minc_unknown.mnc", good, "zspace,yspace,xfrequency", per_slice)
minc("minc_twice.mnc", good, "zspace,xspace,xspace", per_slice)
# Ranges over more entries than 64 bits count, none of them stored.
with h5py.File(path("minc_vast.mnc"), "w") as f:
    group = f.create_group("minc-2.0/image/0")
    group.create_dataset("image", (2 ** 30, 2 ** 20, 2 ** 20, 2), "u1", chunks=(1, 1, 1, 2))
    group["image"].attrs["dimorder"] = np.bytes_("time,zspace,yspace,xspace")
    for which in ("image-min", "image-max"):
        group.create_dataset(which, (2 ** 30, 2 ** 20, 2 ** 20), "f8", chunks=(1, 1, 1))
        group[which].attrs["dimorder"] = np.bytes_("time,zspace,yspace")
    for dim in ("xspace", "yspace", "zspace"):
        f["minc-2.0/dimensions/" + dim] = np.int32(0)
minc("minc_vector5.mnc", rng.integers(0, 9, (2, 3, 4, 5)).astype("u1"),
     "zspace,yspace,xspace,vector_dimension", [np.float64(0), np.float64(1)])

# Files whose datasets name other files for their samples; pack opens none of them. Every file
# named has "secret" in its name, for the test that fails any open of one.
os.makedirs(path("named"), exist_ok=True)
secret = np.frombuffer(b"SECRET!!" * 64, dtype="u1")
for name in ("secret.raw", "named/secret-inside.raw"):
    secret.tofile(path(name))
if not os.path.exists(path("named/secret-fifo")):
    os.mkfifo(path("named/secret-fifo"))
with h5py.File(path("secret.h5"), "w") as f:
    f["data"] = secret.reshape(8, 8, 8)
with h5py.File(path("named/named.h5"), "w") as f:
    for name, source in [("absolute", path("secret.raw")), ("relative", "secret.raw"),
                         ("inside", "secret-inside.raw"), ("zero", "/dev/zero"),
                         ("fifo", path("named/secret-fifo"))]:
        f.create_dataset("external/" + name, shape=(8, 8, 8), dtype="u1",
                         external=[(source, 0, secret.size)])
    # Few enough samples that the list would hold them.
    f.create_dataset("external/small", shape=(4, 4, 4), dtype="u1",
                     external=[(path("secret.raw"), 0, 64)])
    for name, source in [("outside", "../secret.h5"), ("absolute", path("secret.h5")),
                         ("missing", "secret-missing.h5"), ("fifo", path("named/secret-fifo")),
                         ("itself", ".")]:
        layout = h5py.VirtualLayout(shape=(8, 8, 8), dtype="u1")
        layout[:] = h5py.VirtualSource(source, "virtual/itself" if source == "." else "data",
                                       shape=(8, 8, 8))
        f.create_virtual_dataset("virtual/" + name, layout, fillvalue=3)
    # Of unlimited extent, whose shape libhdf5 takes from its source.
    layout = h5py.VirtualLayout(shape=(8, 8, 8), maxshape=(None, 8, 8), dtype="u1")
    source = h5py.VirtualSource("../secret.h5", "data", shape=(8, 8, 8), maxshape=(None, 8, 8))
    layout[:h5py.h5s.UNLIMITED] = source[:h5py.h5s.UNLIMITED]
    f.create_virtual_dataset("virtual/unlimited", layout, fillvalue=3)
    f["link"] = h5py.ExternalLink("../secret.h5", "/data")
# An Imaris file whose Data is kept in a file outside.
with h5py.File(path("named/external.ims"), "w") as f:
    group = f.create_group("DataSet/ResolutionLevel 0/TimePoint 0/Channel 0")
    for axis in "XYZ":
        group.attrs["ImageSize" + axis] = chars(8)
    group.create_dataset("Data", shape=(8, 8, 8), dtype="u1",
                         external=[(path("secret.raw"), 0, secret.size)])


def patched(name, old, new):
    """The file with the one place that holds old made new."""
    data = pathlib.Path(path(name)).read_bytes()
    assert data.count(old) == 1, name
    pathlib.Path(path(name)).write_bytes(data.replace(old, new))


# Layouts that lie: compact data shorter than its shape (libhdf5 would copy the heap beyond it),
# and contiguous data that lies past the end of the file. Their layout messages (version 3) are
# found by what they hold: class, then size and data or address and size.
samples = np.frombuffer(b"LAYOUTS!" * 64, dtype="u1").reshape(8, 8, 8)
with h5py.File(path("layouts.h5"), "w") as f:
    create = h5py.h5p.create(h5py.h5p.DATASET_CREATE)
    create.set_layout(h5py.h5d.COMPACT)
    compact = h5py.h5d.create(f.id, b"compact", h5py.h5t.STD_U8LE,
                              h5py.h5s.create_simple(samples.shape), dcpl=create)
    compact.write(h5py.h5s.ALL, h5py.h5s.ALL, samples)
    f["contiguous"] = samples
    address = f["contiguous"].id.get_offset()
length = os.path.getsize(path("layouts.h5"))
patched("layouts.h5", b"\3\0" + (512).to_bytes(2, "little") + samples.tobytes()[:8],
        b"\3\0" + (64).to_bytes(2, "little") + samples.tobytes()[:8])
patched("layouts.h5", b"\3\1" + address.to_bytes(8, "little") + (512).to_bytes(8, "little"),
        b"\3\1" + (length - 256).to_bytes(8, "little") + (512).to_bytes(8, "little"))

# Decompression bombs: a chunk of 4 kB whose deflate stream goes on to 512 MB, and chunks of
# 2 GB (the dataset extendible, so that its chunks may pass its shape).
deflate = zlib.compressobj(9)
stream = b"".join(deflate.compress(bytes(1 << 20)) for _ in range(512)) + deflate.flush()
with h5py.File(path("bombs.h5"), "w") as f:
    inflating = f.create_dataset("inflating", shape=(16, 16, 16), dtype="u1",
                                 chunks=(16, 16, 16), compression="gzip")
    inflating.id.write_direct_chunk((0, 0, 0), stream)
    # Chunks of 4 kB whose streams are short enough to be stored, but inflate to 64 kB and to
    # 100 bytes.
    for name, decoded in (("overlong", 1 << 16), ("short", 100)):
        chunk = f.create_dataset(name, shape=(16, 16, 16), dtype="u1", chunks=(16, 16, 16),
                                 compression="gzip")
        chunk.id.write_direct_chunk((0, 0, 0), zlib.compress(bytes(decoded)))
    f.create_dataset("hugechunks", shape=(8, 8, 8), maxshape=(None,) * 3, dtype="u1",
                     chunks=(2048, 2048, 512))

# Filters this system's libhdf5 lacks: LZF (h5py's own), Blosc and one nobody knows, the last
# two declared without their plugins.
with h5py.File(path("filters.h5"), "w") as f:
    f.create_dataset("lzf", data=samples, compression="lzf")
    for name, filter in [("blosc", 32001), ("unknown", 32999)]:
        f.create_dataset(name, shape=(8, 8, 8), dtype="u1", chunks=(8, 8, 8),
                         compression=filter, allow_unknown_filter=True)
