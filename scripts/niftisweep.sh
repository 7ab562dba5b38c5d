#!/usr/bin/env bash
# Packs the NIfTI files of Debian's packages (nibabel's test data, nifti_clib's example) with
# the converter and compares every volume with what nibabel decodes; files the converter
# refuses must be the ones tests/reference/sweeps/nifti.py lists. Fails on any other refusal, a crash,
# stray output on standard error or a sample that differs by more than rounding.
#
# Usage: scripts/niftisweep.sh BUILD/converter/tessary-vol
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool=$(realpath "${1:?usage: $0 TESSARY_VOL}")
# Debian's interpreter: the one with nibabel and numpy.
python=/usr/bin/python3
if ! "$python" -c 'import nibabel, numpy' 2>/dev/null; then
    echo "NIfTI sweep: skipped, python3-nibabel is missing"
    exit 0
fi
files=()
for folder in /usr/lib/python3/dist-packages/nibabel/tests/data /usr/share/doc/libnifti2-2/examples; do
    [ -d "$folder" ] || continue
    while IFS= read -r -d '' file; do
        files+=("$file")
    done < <(find "$folder" -maxdepth 1 -type f \( -name '*.nii' -o -name '*.nii.gz' \) -print0 | sort -z)
done
if [ ${#files[@]} -eq 0 ]; then
    echo "NIfTI sweep: skipped, no NIfTI files installed"
    exit 0
fi
exec env PYTHONPATH="$root/tests" "$python" -m reference nifti "$tool" "${files[@]}"
