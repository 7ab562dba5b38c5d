#!/usr/bin/python3
"""Writes the Zarr stores zarr_test reads into the folder given, each beside NAME.expected: the RGB
bytes pack must make of zarr's own read of it. v3 stores, which this zarr cannot write, are written
byte by byte with numcodecs' compressors."""

import gzip
import itertools
import json
import os
import shutil
import struct
import sys
import zipfile

import numcodecs
import numpy as np
import zarr

from reference import mapping


def mapped(values, lo, hi):
    """Samples to bytes through a window, as the converter maps them."""
    return mapping.windowed(values, lo, hi).astype(np.uint8)


def as_volume(a):
    """An array a[z, y, x] as the volume shows it: each slice's first row at the top."""
    return a[:, ::-1, :]


def write_expected(root, name, *channels):
    """ROOT/NAME.expected: one channel grey, or red and green with blue black, from arrays as
    zarr reads them."""
    channels = tuple(as_volume(c) for c in channels)
    rgb = channels * 3 if len(channels) == 1 else channels + (np.zeros_like(channels[0]),)
    save(os.path.join(root, name + ".expected"), np.stack(rgb, axis=-1).tobytes())


def smooth(shape, seed):
    rng = np.random.default_rng(seed)
    grid = np.indices(shape).sum(axis=0)
    return grid * 37 + rng.integers(0, 50, size=shape)


def ome_v2(root):
    """Three levels of (c, z, y, x) uint16, each with its own compressor, omero colours and
    windows, chunks left out (fill 7)."""
    group = zarr.open_group(os.path.join(root, "ome2.zarr"), mode="w")
    compressors = [numcodecs.Blosc(cname="zstd", clevel=3, shuffle=2), numcodecs.Zlib(level=4),
                   numcodecs.LZ4()]
    levels = []
    for level, side in enumerate([32, 16, 8]):
        data = (smooth((2, side, side, side), level) % 4000).astype(np.uint16)
        array = group.create_dataset(str(level), shape=data.shape, chunks=(1, 8, 4, 8),
                                     dtype="<u2", compressor=compressors[level], fill_value=7)
        array[...] = data
        levels.append(array)
    for key in ["1/0.1.2.0", "1/1.0.0.1", "2/0.0.1.0"]:
        os.remove(os.path.join(root, "ome2.zarr", key))
    group.attrs["multiscales"] = [{
        "version": "0.4",
        "axes": [{"name": "c", "type": "channel"}] +
                [{"name": n, "type": "space", "unit": "micrometer"} for n in "zyx"],
        "datasets": [{"path": str(l), "coordinateTransformations": [
            {"type": "scale", "scale": [1, s, s, s]}]} for l, s in enumerate([0.5, 1, 2])]}]
    group.attrs["omero"] = {"channels": [
        {"color": "FF0000", "window": {"start": 100, "end": 3000, "min": 0, "max": 65535}},
        {"color": "00ff00", "window": {"start": 0, "end": 4000, "min": 0, "max": 65535}}]}
    read = [zarr.open_array(os.path.join(root, "ome2.zarr", str(l)))[...] for l in range(3)]
    # A fixed window at the middle level; the file's own windows and colours at the coarsest.
    write_expected(root, "ome2_window", mapped(read[1][0], 0, 4095), mapped(read[1][1], 0, 4095))
    write_expected(root, "ome2_file", mapped(read[2][0], 100, 3000), mapped(read[2][1], 0, 4000))
    # --channels 1,1,1 keeps the file's windows: green's channel in all three.
    write_expected(root, "ome2_grey", mapped(read[2][1], 0, 4000))
    # Zipped, under the suffix OME-Zarr gives its zips.
    with zipfile.ZipFile(os.path.join(root, "ome2.ozx"), "w", zipfile.ZIP_DEFLATED) as z:
        for folder, _, files in os.walk(os.path.join(root, "ome2.zarr")):
            for name in files:
                path = os.path.join(folder, name)
                z.write(path, os.path.relpath(path, os.path.join(root, "ome2.zarr")))


def fortran_v2(root):
    """A plain (z, y, x) big-endian float32 array in Fortran order, "/" keys, zlib, chunks that
    do not divide the shape, some left out (fill NaN)."""
    path = os.path.join(root, "fortran.zarr")
    data = (smooth((12, 12, 12), 3) / 300.0 - 1).astype(">f4")
    data[0, 0, 0] = np.nan
    array = zarr.open_array(path, mode="w", shape=data.shape, chunks=(5, 4, 3), dtype=">f4",
                            order="F", compressor=numcodecs.Zlib(), fill_value="NaN",
                            dimension_separator="/")
    array[...] = data
    shutil.rmtree(os.path.join(path, "1", "2"))
    write_expected(root, "fortran", mapped(zarr.open_array(path)[...], -1, 1))


def time_v2(root):
    """A plain (t, c, z, y, x) int16 gzip array: three time points of one channel."""
    path = os.path.join(root, "time.zarr")
    data = (smooth((3, 1, 10, 10, 10), 4) - 500).astype("<i2")
    array = zarr.open_array(path, mode="w", shape=data.shape, chunks=(2, 1, 4, 10, 3),
                            dtype="<i2", compressor=numcodecs.GZip(), fill_value=0)
    array[...] = data
    write_expected(root, "time", mapped(zarr.open_array(path)[1, 0], -500, 1000))


def without_separator(path):
    """Drops dimension_separator from the .zarray at path, as zarr wrote it before version 2.8."""
    meta = json.load(open(os.path.join(path, ".zarray")))
    del meta["dimension_separator"]
    save(os.path.join(path, ".zarray"), meta)


def nested_v2(root):
    """Nested keys under .zarray files that name no separator, as NestedDirectoryStore wrote them:
    an NGFF 0.3 pyramid of (z, y, x) uint8 halved in y and x only and without scales, as
    bioformats2raw wrote them, a chunk left out (fill 5); its first level as a plain array; and a
    copy of the pyramid whose first level holds no chunk at all."""
    path = os.path.join(root, "nested.zarr")
    group = zarr.group(zarr.NestedDirectoryStore(path), overwrite=True)
    data = (smooth((12, 12, 12), 8) % 200).astype(np.uint8)
    for level, step in enumerate([1, 2]):
        group.create_dataset(str(level), data=data[:, ::step, ::step], chunks=(4, 4, 4),
                             fill_value=5)
    group.attrs["multiscales"] = [{"version": "0.3", "axes": ["z", "y", "x"],
                                   "datasets": [{"path": "0"}, {"path": "1"}]}]
    os.remove(os.path.join(path, "0", "1", "0", "2"))
    write_expected(root, "nested", mapped(group["0"][...], 0, 255))
    plain = os.path.join(root, "nested_plain.zarr")
    shutil.copytree(os.path.join(path, "0"), plain)
    for level in (path + "/0", path + "/1", plain):
        without_separator(level)
    empty = os.path.join(root, "nested_empty.zarr")
    shutil.copytree(path, empty)
    shutil.rmtree(os.path.join(empty, "0", "0"))
    for z in ("1", "2"):
        shutil.rmtree(os.path.join(empty, "0", z))


def series_v2(root):
    """bioformats2raw's layout: a root group of no image but bioformats2raw.layout 3, its image in
    0/ as the OME group's series list says; and a collection of two series, 0/ and 1/, that no
    list names."""
    def image(group, seed):
        data = (smooth((6, 6, 6), seed) % 250).astype(np.uint8)
        group.create_dataset("0", data=data, chunks=(3, 6, 6))
        group.attrs["multiscales"] = [{
            "version": "0.4", "axes": [{"name": n, "type": "space"} for n in "zyx"],
            "datasets": [{"path": "0", "coordinateTransformations": [
                {"type": "scale", "scale": [1, 1, 1]}]}]}]
        return data
    one = zarr.open_group(os.path.join(root, "series.zarr"), mode="w")
    one.attrs["bioformats2raw.layout"] = 3
    one.create_group("OME").attrs["series"] = ["0"]
    write_expected(root, "series", image(one.create_group("0"), 9))
    two = zarr.open_group(os.path.join(root, "series_two.zarr"), mode="w")
    two.attrs["bioformats2raw.layout"] = 3
    for path in ("0", "1"):
        image(two.create_group(path), 10)


def bool_masks(root):
    """A v2 "|b1" mask with a chunk left out (fill True), and the same mask as a v3 "bool" array
    written byte by byte (fill False): True reads as 255."""
    path = os.path.join(root, "mask2.zarr")
    data = smooth((8, 8, 8), 7) % 3 == 0
    array = zarr.open_array(path, mode="w", shape=data.shape, chunks=(4, 8, 8), dtype="|b1",
                            fill_value=True)
    array[...] = data
    os.remove(os.path.join(path, "1.0.0"))
    write_expected(root, "mask2", np.where(zarr.open_array(path)[...], 255, 0).astype(np.uint8))
    path = os.path.join(root, "mask3.zarr")
    save(os.path.join(path, "zarr.json"), {
        "zarr_format": 3, "node_type": "array", "shape": list(data.shape), "data_type": "bool",
        "chunk_grid": {"name": "regular", "configuration": {"chunk_shape": [8, 8, 8]}},
        "chunk_key_encoding": {"name": "default"}, "fill_value": False,
        "codecs": [{"name": "bytes"}]})
    save(os.path.join(path, "c", "0", "0", "0"), data.astype(np.uint8).tobytes())
    write_expected(root, "mask3", np.where(data, 255, 0).astype(np.uint8))


def with_crc(data):
    """The data followed by its CRC-32C."""
    crc = 0xFFFFFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0x82F63B78 if crc & 1 else crc >> 1
    return data + struct.pack("<I", crc ^ 0xFFFFFFFF)


def save(path, data):
    """Metadata (a dict) as JSON, anything else as its bytes."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(json.dumps(data).encode() if isinstance(data, dict) else bytes(data))


def sharded_v3(root):
    """An NGFF 0.5 image of one (z, y, x) uint16 level, sharded: shards of 8 x 16 x 16 holding
    inner chunks of 4 x 8 x 8 (zstd, then crc32c), the index (with its crc32c) at the end;
    an inner chunk and a whole shard left out (fill 9)."""
    path = os.path.join(root, "sharded.zarr")
    shape, shard, inner = (16, 16, 24), (8, 16, 16), (4, 8, 8)
    data = (smooth(shape, 5) % 3000).astype("<u2")
    save(os.path.join(path, "zarr.json"), {
        "zarr_format": 3, "node_type": "group", "attributes": {"ome": {
            "version": "0.5", "multiscales": [{
                "axes": [{"name": n, "type": "space"} for n in "zyx"],
                "datasets": [{"path": "s0", "coordinateTransformations": [
                    {"type": "scale", "scale": [1, 1, 1]}]}]}]}}})
    save(os.path.join(path, "s0", "zarr.json"), {
        "zarr_format": 3, "node_type": "array", "shape": list(shape), "data_type": "uint16",
        "chunk_grid": {"name": "regular", "configuration": {"chunk_shape": list(shard)}},
        "chunk_key_encoding": {"name": "default"}, "fill_value": 9,
        "codecs": [{"name": "sharding_indexed", "configuration": {
            "chunk_shape": list(inner),
            "codecs": [{"name": "bytes", "configuration": {"endian": "little"}},
                       {"name": "zstd", "configuration": {"level": 3, "checksum": False}},
                       {"name": "crc32c"}],
            "index_codecs": [{"name": "bytes", "configuration": {"endian": "little"}},
                             {"name": "crc32c"}],
            "index_location": "end"}}]})
    expected = data.copy()
    compressor = numcodecs.Zstd(level=3)
    for sz, sx in itertools.product(range(2), range(2)):
        if (sz, sx) == (1, 0):
            expected[8:16, :, 0:16] = 9  # a shard never written
            continue
        body, index = b"", []
        for iz, iy, ix in itertools.product(range(2), range(2), range(2)):
            z0, y0, x0 = sz * 8 + iz * 4, iy * 8, sx * 16 + ix * 8
            if (sz, sx, iz, iy, ix) == (0, 0, 1, 0, 1) or x0 >= shape[2]:
                if x0 < shape[2]:
                    expected[z0:z0 + 4, y0:y0 + 8, x0:x0 + 8] = 9
                index.append((2**64 - 1, 2**64 - 1))
                continue
            block = np.full(inner, 9, dtype="<u2")
            part = data[z0:z0 + 4, y0:y0 + 8, x0:x0 + 8]
            block[:part.shape[0], :part.shape[1], :part.shape[2]] = part
            encoded = with_crc(compressor.encode(block.tobytes()))
            index.append((len(body), len(encoded)))
            body += encoded
        packed = b"".join(struct.pack("<QQ", o, n) for o, n in index)
        save(os.path.join(path, "s0", "c", str(sz), "0", str(sx)), body + with_crc(packed))
    # Not a cube: pack crops it to 16^3 around the middle of x.
    write_expected(root, "sharded", mapped(expected[:, :, 4:20], 0, 3000))
    # Copies with a byte of the first shard flipped: of its index, of its first inner chunk.
    for name, at in (("sharded_index.zarr", -20), ("sharded_chunk.zarr", 2)):
        shutil.copytree(path, os.path.join(root, name))
        first = os.path.join(root, name, "s0", "c", "0", "0", "0")
        with open(first, "rb") as f:
            shard = bytearray(f.read())
        shard[at] ^= 0x40
        save(first, shard)


def transposed_v3(root):
    """A plain v3 (z, y, x) array of big-endian int32 stored transposed, gzip, "." keys."""
    path = os.path.join(root, "transposed.zarr")
    shape, chunk = (6, 6, 6), (4, 3, 6)
    data = (smooth(shape, 6) - 100).astype(">i4")
    save(os.path.join(path, "zarr.json"), {
        "zarr_format": 3, "node_type": "array", "shape": list(shape), "data_type": "int32",
        "chunk_grid": {"name": "regular", "configuration": {"chunk_shape": list(chunk)}},
        "chunk_key_encoding": {"name": "default", "configuration": {"separator": "."}},
        "fill_value": 0, "dimension_names": ["z", "y", "x"],
        "codecs": [{"name": "transpose", "configuration": {"order": [2, 1, 0]}},
                   {"name": "bytes", "configuration": {"endian": "big"}},
                   {"name": "gzip", "configuration": {"level": 5}}]})
    for cz, cy in itertools.product(range(2), range(2)):
        block = np.zeros(chunk, dtype=">i4")
        part = data[cz * 4:cz * 4 + 4, cy * 3:cy * 3 + 3, :]
        block[:part.shape[0], :part.shape[1], :] = part
        save(os.path.join(path, "c.%d.%d.0" % (cz, cy)), gzip.compress(block.T.tobytes()))
    write_expected(root, "transposed", mapped(data, -100, 600))


def hostile(root):
    """Stores that lie: chunks that decode to more or fewer bytes than they must hold."""
    def plain(name, compressor, chunk_bytes):
        path = os.path.join(root, name)
        zarr.open_array(path, mode="w", shape=(16, 16, 16), chunks=(16, 16, 16), dtype="|u1",
                        compressor=compressor)
        save(os.path.join(path, "0.0.0"), chunk_bytes)
    # A 64 MiB chunk where 4 KiB are due, packed into a few kB (zlib packs 1 MiB in 1 kB).
    bomb = np.zeros(64 << 20, dtype=np.uint8).tobytes()
    plain("zlib_bomb.zarr", numcodecs.Zlib(), numcodecs.Zlib(level=9).encode(bomb[:1 << 20]))
    plain("zstd_bomb.zarr", numcodecs.Zstd(), numcodecs.Zstd(level=3).encode(bomb))
    plain("blosc_bomb.zarr", numcodecs.Blosc(), numcodecs.Blosc().encode(bomb[:1 << 20]))
    short = np.zeros(4095, dtype=np.uint8).tobytes()
    plain("lz4_short.zarr", numcodecs.LZ4(), numcodecs.LZ4().encode(short))
    plain("raw_long.zarr", None, bytes(4097))
    plain("gzip_cut.zarr", numcodecs.GZip(), numcodecs.GZip().encode(bytes(4096))[:-12])


if __name__ == "__main__":
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for write in (ome_v2, fortran_v2, time_v2, nested_v2, series_v2, bool_masks, sharded_v3, transposed_v3,
                  hostile):
        write(out)
