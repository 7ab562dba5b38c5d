#!/usr/bin/env bash
# Converts every file of Debian's assimp-testmodels (/usr/share/assimp/models: about 600 files
# in some 40 formats, damaged ones included) with `tessary-vol mesh`, two at a time, and
# fails when a run exits with anything but 0 (converted) or 1 (refused), when a refusal is not
# exactly one line on standard error or leaves a file behind, when a conversion leaves anything
# but its mesh, or when a run outlives the time limit it was given. Prints the counts.
#
# Usage: scripts/testmodels.sh [TESSARY_VOL] [MODELS_FOLDER]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool=$(realpath "${1:-$root/build/tools/tessary-vol}")
models=${2:-/usr/share/assimp/models}
limit=10 # seconds each import may take; the watchdog allows twice that for start and output
[ -d "$models" ] || { echo "testmodels: $models is missing (package assimp-testmodels)" && exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -z "${KEEP_TESTMODELS:-}" ] || trap 'echo "kept $work"' EXIT
# One folder per model for its output, so a leftover is told apart from another run's mesh.
find "$models" -type f | sort >"$work/list"
export tool limit work
# shellcheck disable=SC2016 # expanded by the inner shell
nl -ba "$work/list" | xargs -P2 -L1 bash -c '
    n=$1; shift; model="$*"; out="$work/$n"; mkdir "$out"
    status=0
    (cd "$out" && timeout -s KILL $((2 * limit)) "$tool" mesh "$model" -o "$out/m.dat" \
        --timeout "$limit" >stdout 2>stderr) || status=$?
    lines=$(wc -l <"$out/stderr"); left=$(ls "$out" | grep -vxE "stdout|stderr|m.dat" || true)
    verdict=
    case $status in
    0) [ -f "$out/m.dat" ] || verdict="exit 0 without a mesh" ;;
    1) [ "$lines" = 1 ] || verdict="a refusal of $lines lines"
       [ ! -e "$out/m.dat" ] || verdict="a refusal left its mesh" ;;
    137) verdict="ran past the time limit" ;;
    *) verdict="exit status $status" ;;
    esac
    [ -z "$left" ] || verdict="left $left behind"
    echo "$status ${verdict:-ok} $model" >"$out/verdict"
' _
converted=$(cat "$work"/*/verdict | grep -c '^0 ok' || true)
refused=$(cat "$work"/*/verdict | grep -c '^1 ok' || true)
bad=$(cat "$work"/*/verdict | grep -v '^[01] ok' || true)
contained() { cat "$work"/*/stderr | grep -c "$1" || true; }
echo "testmodels: $(wc -l <"$work/list") models, $converted converted, $refused refused" \
    "(importer crashed $(contained 'importer crashed'), out of memory $(contained 'needs more')," \
    "timed out $(contained 'took more'))"
if [ -n "$bad" ]; then
    echo "$bad"
    exit 1
fi
