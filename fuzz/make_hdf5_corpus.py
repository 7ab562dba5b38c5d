#!/usr/bin/python3
"""Writes the HDF5 seed corpus in fuzz/corpus/hdf5/ with h5py (run once; the files are
committed): the smallest files of each layout the reader knows, and of each storage it
refuses."""
import os

import h5py
import numpy as np

folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "hdf5")
os.makedirs(folder, exist_ok=True)


def chars(text):
    return np.array(list(str(text)), dtype="S1")


with h5py.File(os.path.join(folder, "imaris.ims"), "w", libver="latest") as f:
    image = f.create_group("DataSetInfo/Image")
    for k in range(3):
        image.attrs["ExtMin%d" % k] = chars(0)
        image.attrs["ExtMax%d" % k] = chars(2)
    f.create_group("DataSetInfo/Channel 0").attrs["Color"] = chars("1 0 0")
    for r, n in enumerate((4, 2)):
        group = f.create_group("DataSet/ResolutionLevel %d/TimePoint 0/Channel 0" % r)
        for axis in "XYZ":
            group.attrs["ImageSize" + axis] = chars(n - 1 if axis == "X" else n)
        group["Data"] = np.arange(n ** 3, dtype="u2").reshape(n, n, n)

with h5py.File(os.path.join(folder, "bigdataviewer.h5"), "w", libver="latest") as f:
    f["s00/resolutions"] = np.array([[1, 1, 1], [2, 2, 2]], dtype="f8")
    f["s00/subdivisions"] = np.array([[4, 4, 4], [2, 2, 2]], dtype="i4")
    for level, n in enumerate((4, 2)):
        f.create_dataset("t00000/s00/%d/cells" % level, data=np.arange(n ** 3, dtype="i2")
                         .reshape(n, n, n), chunks=(2, 2, 2))

with h5py.File(os.path.join(folder, "plain.h5"), "w", libver="latest") as f:
    f.create_dataset("data", data=np.linspace(0, 1, 2 * 3 * 3 * 3, dtype="f4")
                     .reshape(2, 3, 3, 3), chunks=(1, 3, 3, 3), compression="gzip")
    f["data"].attrs["element_size_um"] = np.array([2.0, 1.0, 1.0])

# Chunks read as stored: shuffled and deflated, one never written and one stored unfiltered.
with h5py.File(os.path.join(folder, "shuffled.h5"), "w", libver="latest") as f:
    data = f.create_dataset("data", shape=(4, 4, 4), dtype="u2", chunks=(2, 2, 2), shuffle=True,
                            compression="gzip", fillvalue=7)
    data[:2] = np.arange(32, dtype="u2").reshape(2, 4, 4)
    data.id.write_direct_chunk((2, 2, 2), np.arange(8, dtype="u2").tobytes(), filter_mask=3)

 kept in other files (external storage,
# a virtual dataset), compact, and compressed with a filter libhdf5 lacks (h5py's LZF).
samples = np.arange(27, dtype="u1").reshape(3, 3, 3)
with h5py.File(os.path.join(folder, "external.h5"), "w", libver="latest") as f:
    f.create_dataset("data", shape=(3, 3, 3), dtype="u1", external=[("../data.raw", 0, 27)])
with h5py.File(os.path.join(folder, "virtual.h5"), "w", libver="latest") as f:
    layout = h5py.VirtualLayout(shape=(3, 3, 3), dtype="u1")
    layout[:] = h5py.VirtualSource("../source.h5", "data", shape=(3, 3, 3))
    f.create_virtual_dataset("data", layout, fillvalue=1)
with h5py.File(os.path.join(folder, "compact.h5"), "w", libver="latest") as f:
    create = h5py.h5p.create(h5py.h5p.DATASET_CREATE)
    create.set_layout(h5py.h5d.COMPACT)
    h5py.h5d.create(f.id, b"data", h5py.h5t.STD_U8LE, h5py.h5s.create_simple((3, 3, 3)),
                    dcpl=create).write(h5py.h5s.ALL, h5py.h5s.ALL, samples)
with h5py.File(os.path.join(folder, "lzf.h5"), "w", libver="latest") as f:
    f.create_dataset("data", data=samples, compression="lzf")

# MINC2: an int16 image of a range per slice, on turned axes with a negative step; and a time
# series of a range per time point and slice.
for name, shape, order, ranges in [
        ("minc2.mnc", (3, 3, 3), "zspace,yspace,xspace", (3,)),
        ("minc2-time.mnc", (2, 2, 3, 3), "time,zspace,yspace,xspace", (2, 2))]:
    with h5py.File(os.path.join(folder, name), "w", libver="latest") as f:
        image = f.create_group("minc-2.0/image/0")
        image["image"] = np.arange(np.prod(shape), dtype="i2").reshape(shape)
        image["image"].attrs["dimorder"] = np.bytes_(order)
        image["image"].attrs["valid_range"] = np.array([0.0, 40.0])
        for which, value in (("image-min", -1.0), ("image-max", 2.0)):
            image[which] = np.full(ranges, value)
            image[which].attrs["dimorder"] = np.bytes_(",".join(order.split(",")[:len(ranges)]))
        for k, (axis, step) in enumerate(zip(("xspace", "yspace", "zspace"), (1.0, -2.0, 0.5))):
            f["minc-2.0/dimensions/" + axis] = np.int32(0)
            f["minc-2.0/dimensions/" + axis].attrs["step"] = step
            f["minc-2.0/dimensions/" + axis].attrs["direction_cosines"] = np.roll([0.8, 0.6, 0], k)
        f["minc-2.0/dimensions/time"] = np.int32(0)
