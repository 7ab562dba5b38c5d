#!/usr/bin/env python3
"""Writes the inputs of stores_test into OUT: a folder of keys (plain/), the same keys as zips
that Python's zipfile writes (stored, deflated, inside one top folder, zip64), hostile zips
made from them by changing a few bytes, and certificates for a server over TLS (tls/)."""
import io
import os
import shutil
import struct
import subprocess
import sys
import warnings
import zipfile

out = sys.argv[1]
warnings.simplefilter("ignore")  # the zip that holds a name twice
keys = {
    "zarr.json": b'{"zarr_format": 3, "node_type": "group"}',
    "0/0/0": bytes((i * 37 + i // 7) % 256 for i in range(5000)),
    "0/0/1": b"",
    "a b": b"a key with a space",
    "big": b"0123456789abcdef" * 8192,
}


def write(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)


def entry(name, method):
    """An entry of a fixed date, so that the same zip comes out each time."""
    info = zipfile.ZipInfo(name, (2024, 1, 1, 0, 0, 0))
    info.compress_type = method
    return info


def zipped(method, prefix="", extra=(), chunk_method=None):
    data = io.BytesIO()
    with zipfile.ZipFile(data, "w") as z:
        for key, value in keys.items():
            z.writestr(entry(prefix + key, (chunk_method or method) if key == "0/0/0" else method),
                       value)
        for name, value in extra:
            z.writestr(entry(name, method), value)
    return bytearray(data.getvalue())


for key, value in keys.items():
    os.makedirs(os.path.dirname(os.path.join(out, "plain", key)), exist_ok=True)
    write(os.path.join("plain", key), value)

write("deflated.zip", zipped(zipfile.ZIP_DEFLATED))
write("folder.zip", zipped(zipfile.ZIP_DEFLATED, "x.zarr/", [("x.zarr/", b""),
                                                            ("__MACOSX/x.zarr/._big", b"fork")]))
# Stored, with unsafe names, which are no keys; a folder entry is none either.
write("names.zip", zipped(zipfile.ZIP_STORED, "", [("../x", b"up"), ("/abs", b"abs"),
                                                   ("a\\b", b"back"), ("d/", b"")]))


def as_zip64(data):
    """The zip with every size and offset of its central directory in zip64 fields, and the
    zip64 end records, as a writer does for files over 4 GiB."""
    count, size, start = struct.unpack_from("<HII", data, len(data) - 12)
    directory = b""
    at = start
    for _ in range(count):
        fixed = bytearray(data[at:at + 46])
        name, extra, comment = struct.unpack_from("<HHH", fixed, 28)
        packed, unpacked = struct.unpack_from("<II", fixed, 20)
        offset, = struct.unpack_from("<I", fixed, 42)
        zip64 = struct.pack("<HHQQQ", 1, 24, unpacked, packed, offset)
        struct.pack_into("<II", fixed, 20, 0xFFFFFFFF, 0xFFFFFFFF)
        struct.pack_into("<H", fixed, 30, extra + len(zip64))
        struct.pack_into("<I", fixed, 42, 0xFFFFFFFF)
        directory += fixed + data[at + 46:at + 46 + name] + zip64 + \
            data[at + 46 + name:at + 46 + name + extra + comment]
        at += 46 + name + extra + comment
    end64 = struct.pack("<IQHHIIQQQQ", 0x06064b50, 44, 45, 45, 0, 0, count, count,
                        len(directory), start)
    locator = struct.pack("<IIQI", 0x07064b50, 0, start + len(directory), 1)
    end = struct.pack("<IHHHHIIH", 0x06054b50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
    return data[:start] + directory + end64 + locator + end


zip64 = as_zip64(zipped(zipfile.ZIP_DEFLATED))
write("zip64.zip", zip64)
with zipfile.ZipFile(os.path.join(out, "zip64.zip")) as z:  # the layout as zipfile reads it
    assert all(z.read(key) == value for key, value in keys.items())


def field(data, signature, index, offset, fmt, *values):
    """Sets a field of the index-th record that starts with signature."""
    at = -1
    for _ in range(index + 1):
        at = data.index(struct.pack("<I", signature), at + 1)
    struct.pack_into(fmt, data, at + offset, *values)
    return data


local, central, end = 0x04034b50, 0x02014b50, 0x06054b50
# The deflated zip's second entry is 0/0/0; its local header is the second local record.
bad = {
    "truncated.zip": zipped(zipfile.ZIP_DEFLATED)[:-30],
    "entry-offset.zip": field(zipped(zipfile.ZIP_DEFLATED), central, 1, 42, "<I", 0xFFFFFF00),
    "directory-offset.zip": field(zipped(zipfile.ZIP_DEFLATED), end, 0, 16, "<I", 0x7FFFFFF0),
    "entry-count.zip": field(zipped(zipfile.ZIP_DEFLATED), end, 0, 8, "<HH", 4, 4),
    "huge-size.zip": field(zipped(zipfile.ZIP_DEFLATED), central, 1, 24, "<I", 0xFFFFFFF0),
    "short-size.zip": field(zipped(zipfile.ZIP_DEFLATED), central, 1, 24, "<I", 4000),
    "long-size.zip": field(zipped(zipfile.ZIP_DEFLATED), central, 1, 24, "<I", 5001),
    "bad-crc.zip": field(zipped(zipfile.ZIP_DEFLATED), central, 1, 16, "<I", 12345),
    "zip64-missing.zip": field(zipped(zipfile.ZIP_DEFLATED), end, 0, 8, "<HH", 0xFFFF, 0xFFFF),
    "zip64-extra.zip": field(bytearray(zip64), central, 1, 30, "<H", 0),
    "stored-sizes.zip": field(zipped(zipfile.ZIP_STORED), central, 1, 20, "<I", 4999),
    "local-name.zip": field(zipped(zipfile.ZIP_DEFLATED), local, 1, 30, "<B", ord("1")),
    "local-method.zip": field(zipped(zipfile.ZIP_DEFLATED), local, 1, 8, "<H", 0),
    "encrypted.zip": field(zipped(zipfile.ZIP_DEFLATED), central, 1, 8, "<H", 1),
    "bzip2.zip": zipped(zipfile.ZIP_DEFLATED, chunk_method=zipfile.ZIP_BZIP2),
    "twice.zip": zipped(zipfile.ZIP_STORED, "", [("0/0/0", b"again")]),
    # Deflated data with a broken block: the byte after 0/0/0's local header and name.
    "broken-data.zip": field(zipped(zipfile.ZIP_DEFLATED), local, 1, 30 + 5, "<B", 0xFF),
}
for name, data in bad.items():
    write(name, data)

# A throw-away certificate authority (ca.pem, and hashed/ for a folder of trusted ones) and the
# server certificates it signed: local.pem for 127.0.0.1, other.pem for another host only. None
# where the openssl command fails: the test over TLS says so.
tls = os.path.join(out, "tls")
os.makedirs(tls)
if subprocess.run(["bash", "-ec", """
key="-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2"
openssl req -x509 $key -subj "/CN=Throw-away CA" -keyout ca.key -out ca.pem
for server in local:IP:127.0.0.1,DNS:localhost other:DNS:other.example; do
    name=${server%%:*}
    openssl req -x509 $key -CA ca.pem -CAkey ca.key -subj "/CN=$name" -keyout $name.key \\
        -out $name.pem -addext "subjectAltName=${server#*:}" -addext basicConstraints=CA:FALSE
done
mkdir hashed && cp ca.pem hashed/ && openssl rehash hashed"""], cwd=tls,
                  capture_output=True).returncode:
    shutil.rmtree(tls)
