#!/usr/bin/env bash
# Writes one asymmetric phantom through each format's own writer (nibabel, pydicom, dcm2niix,
# tifffile, PIL, NumPy, zarr, h5py, and NRRD and MetaImage headers by hand) in several frames,
# packs every file and compares the volume exactly with the orientation rule. Each DICOM series
# must pack to the same samples as dcm2niix's NIfTI of it.
# Usage: scripts/orientsweep.sh BUILD/converter/tessary-vol
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool=$(realpath "${1:?usage: $0 TESSARY_VOL}")
# Debian's interpreter: the one with the writers' packages.
python=/usr/bin/python3
missing=()
for module in nibabel pydicom PIL numpy zarr h5py tifffile; do
    "$python" -c "import $module" 2>/dev/null || missing+=("$module")
done
command -v dcm2niix >/dev/null || missing+=(dcm2niix)
if [ ${#missing[@]} -gt 0 ]; then
    echo "Orientation sweep: skipped, missing ${missing[*]} (scripts/setup.sh installs them)"
    exit 0
fi
exec env PYTHONPATH="$root/tests" "$python" -m reference orient "$tool"
