#!/usr/bin/env bash
# Packs the MINC2 files that minc-tools' rawtominc writes (each stored type, order and frame, time
# points and a vector dimension) and nibabel's own MINC2 test files with the converter, and
# compares every volume exactly with the real values minctoraw and nibabel read and the axes of
# nibabel's affine. Fails on a refusal, a crash, stray output on standard error or any sample
# that differs.
#
# Usage: scripts/mincsweep.sh BUILD/converter/tessary-vol
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool=$(realpath "${1:?usage: $0 TESSARY_VOL}")
# Debian's interpreter: the one with nibabel, numpy and the writer sweep's references.
python=/usr/bin/python3
if ! command -v rawtominc >/dev/null || ! command -v minctoraw >/dev/null; then
    echo "MINC sweep: skipped, minc-tools is missing"
    exit 0
fi
if ! "$python" -c 'import mrcfile, nibabel, numpy, astropy' 2>/dev/null; then
    echo "MINC sweep: skipped, python3-mrcfile, python3-nibabel or python3-astropy is missing"
    exit 0
fi
exec env PYTHONPATH="$root/tests" "$python" -m reference minc "$tool"
