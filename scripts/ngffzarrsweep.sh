#!/usr/bin/env bash
# Writes OME-Zarr stores with @fideus-labs/ngff-zarr, the JavaScript OME-Zarr writer (installed
# by scripts/setup.sh under /opt/tessary-test/npm), in NGFF 0.4 and 0.5, as folders and as a
# zipped .ozx, uint8 to float32, cubic and not, with the writer's own pyramids; packs every
# store and compares each level with the values the writer was given and zarrita's read of
# them. Fails on a wrong sample, a refusal, a crash, a hang or text on standard error.
#
# Usage: scripts/ngffzarrsweep.sh BUILD/converter/tessary-vol
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool=$(realpath "${1:?usage: $0 TESSARY_VOL}")
modules=${TESSARY_TEST_NPM:-/opt/tessary-test/npm}/node_modules
if ! command -v node >/dev/null || [ ! -f "$modules/@fideus-labs/ngff-zarr/package.json" ]; then
    echo "ngff-zarr sweep: skipped, node or @fideus-labs/ngff-zarr (scripts/setup.sh) is missing"
    exit 0
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# The writer resolves its packages from beside the script.
mkdir "$scratch/writer" "$scratch/stores"
cp "$root/scripts/ngffzarrwrite.mjs" "$scratch/writer/"
ln -s "$modules" "$scratch/writer/node_modules"
if ! timeout 300 node "$scratch/writer/ngffzarrwrite.mjs" "$scratch/stores" 2>"$scratch/stderr" ||
    [ -s "$scratch/stderr" ]; then
    echo "ngff-zarr sweep: the writer failed:"
    cat "$scratch/stderr"
    exit 1
fi
exec env PYTHONPATH="$root/tests" /usr/bin/python3 -m reference ngffzarr "$tool" "$scratch/stores"
