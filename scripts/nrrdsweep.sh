#!/usr/bin/env bash
# Packs the NRRD files that teem's unu writes, in every sample type, encoding (raw, gzip, bzip2,
# hex, ASCII), byte order and layout of their data (attached, detached, a LIST of slice files,
# a numbered pattern, line and byte skips), placed nowhere or in RAS and LPS, and compares every
# volume with what unu itself decodes. Fails on a refusal, a crash, stray output on standard
# error or a sample that differs by more than rounding.
#
# Usage: scripts/nrrdsweep.sh BUILD/converter/tessary-vol
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool=$(realpath "${1:?usage: $0 TESSARY_VOL}")
# Debian's interpreter: the one with numpy and the writer sweep's references.
python=/usr/bin/python3
if ! command -v teem-unu >/dev/null; then
    echo "NRRD sweep: skipped, teem-apps is missing"
    exit 0
fi
if ! "$python" -c 'import mrcfile, nibabel, numpy, astropy' 2>/dev/null; then
    echo "NRRD sweep: skipped, python3-mrcfile, python3-nibabel or python3-astropy is missing"
    exit 0
fi
exec env PYTHONPATH="$root/tests" "$python" -m reference nrrd "$tool"
