#!/usr/bin/env bash
# Packs the netCDF-4 files python3-netcdf4 writes, 3-D and 4-D variables of several types with
# the CF attributes for fill, missing and valid values and for packing, chunked and compressed,
# and compares each with what netCDF4 decodes; a netCDF-3 classic file must be refused in one
# line naming it as such. Fails on a wrong sample, another refusal, a crash or text on standard
# error.
#
# Usage: scripts/netcdfsweep.sh BUILD/converter/tessary-vol
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool=$(realpath "${1:?usage: $0 TESSARY_VOL}")
python=/usr/bin/python3
if ! "$python" -c 'import netCDF4, nibabel' 2>/dev/null; then
    echo "netCDF sweep: skipped, python3-netcdf4 or python3-nibabel is missing"
    exit 0
fi
exec timeout 600 env PYTHONPATH="$root/tests" "$python" -m reference netcdf "$tool"
