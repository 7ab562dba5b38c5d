#!/usr/bin/env bash
# Packs the files that mrcfile (MRC), nibabel (MGH/MGZ, Analyze 7.5, NIfTI pairs), NumPy
# (.npz), astropy (FITS, and its WCS's spacing), tifffile (TIFF pyramids, where
# python3-tifffile is installed) and VTK (legacy .vtk and XML .vti, where python3-vtk9 is
# installed) write, in every mode and type they write, and nibabel's own test files of these
# formats, and compares every volume with what the same library reads back. Fails on a refusal,
# a crash, stray output on standard error or a sample that differs by more than rounding.
#
# Usage: scripts/writersweep.sh BUILD/converter/tessary-vol
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool=$(realpath "${1:?usage: $0 TESSARY_VOL}")
# Debian's interpreter: the one with mrcfile, nibabel, numpy and astropy.
python=/usr/bin/python3
if ! "$python" -c 'import mrcfile, nibabel, numpy, astropy' 2>/dev/null; then
    echo "Writer sweep: skipped, python3-mrcfile, python3-nibabel or python3-astropy is missing"
    exit 0
fi
exec env PYTHONPATH="$root/tests" "$python" -m reference writer "$tool"
