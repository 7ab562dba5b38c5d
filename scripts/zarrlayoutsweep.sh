#!/usr/bin/env bash
# Packs the OME-Zarr stores python3-zarr writes in the older layouts, NGFF 0.1, 0.2 and 0.3 and
# bioformats2raw's, with their pyramids, time points and channels, and compares every level
# with what zarr reads back. Fails on a wrong sample, a refusal, a crash or text on standard
# error.
#
# Usage: scripts/zarrlayoutsweep.sh BUILD/converter/tessary-vol
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool=$(realpath "${1:?usage: $0 TESSARY_VOL}")
python=/usr/bin/python3
if ! "$python" -c 'import zarr, numcodecs, nibabel' 2>/dev/null; then
    echo "Zarr layout sweep: skipped, python3-zarr, python3-numcodecs or python3-nibabel is missing"
    exit 0
fi
exec timeout 600 env PYTHONPATH="$root/tests" "$python" -m reference zarrlayout "$tool"
