#!/usr/bin/env bash
# Packs every HDF5 file of PyTables' test files (Debian's python-tables-data) and nibabel's MINC2
# test files (python3-nibabel; MINC2 is HDF5) with tessary-vol: each 3-D or 4-D numeric dataset
# must pack to the samples h5py reads; every other dataset, and each file without --dataset
# (none has a layout the converter knows), must be refused in one line naming the file, MINC2's
# datasets and files as MINC2 images (their slices each have their own value range). Fails on any other outcome, a crash, a
# hang or text on standard error.
# Usage: scripts/hdf5sweep.sh BUILD/converter/tessary-vol
set -euo pipefail
tool=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
data=/usr/share/python-tables
if [ ! -d "$data" ] || ! /usr/bin/python3 -c 'import h5py' 2>/dev/null; then
    echo "PyTables' test files (python-tables-data) or h5py are not installed: sweep skipped"
    exit 0
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
minc=/usr/lib/python3/dist-packages/nibabel/tests/data
{
    find "$data" -type f -name '*.h5'
    [ ! -d "$minc" ] || find "$minc" -type f \( -name 'minc2*.mnc' -o -name 'small.mnc' \)
} | sort | /usr/bin/python3 "$here/hdf5sweep.py" "$tool" "$scratch"
