#!/usr/bin/env bash
# Packs every HDF5 file of PyTables' test files (Debian's python-tables-data) and of HyperSpy's
# (EMD, NeXus and HyperSpy's own, unpacked from python3-hyperspy by scripts/setup.sh) with
# tessary-vol:
# each 3-D or 4-D numeric dataset must pack to the samples h5py reads; every other dataset, and
# each file without --dataset (none has a layout the converter knows), must be refused in one
# line naming the file. Fails on any other outcome, a crash, a hang or text on standard error.
# MINC2 files, HDF5 too, are scripts/mincsweep.sh's.
# Usage: scripts/hdf5sweep.sh BUILD/converter/tessary-vol
set -euo pipefail
tool=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
data=/usr/share/python-tables
if [ ! -d "$data" ] || ! /usr/bin/python3 -c 'import h5py' 2>/dev/null; then
    echo "PyTables' test files (python-tables-data) or h5py are not installed: sweep skipped"
    exit 0
fi
hyperspy=${TESSARY_TEST_DEBS:-/opt/tessary-test/debs}/python3-hyperspy
[ -d "$hyperspy" ] || echo "HyperSpy's files are not unpacked (scripts/setup.sh): PyTables' alone"
{
    find "$data" -type f -name '*.h5'
    [ ! -d "$hyperspy" ] || find "$hyperspy" -type f \( -name '*.h5' -o -name '*.hdf5' -o \
        -name '*.hspy' -o -name '*.emd' -o -name '*.nxs' \)
} | sort | PYTHONPATH="$here/../tests" /usr/bin/python3 -m reference hdf5 "$tool"
