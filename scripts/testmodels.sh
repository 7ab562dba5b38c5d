#!/usr/bin/env bash
# Converts every file of Debian's assimp-testmodels (/usr/share/assimp/models: about 600 files
# in some 40 formats, damaged ones included) with `tessary-vol mesh`, two at a time, and
# fails when a run exits with anything but 0 (converted) or 1 (refused), when a refusal is not
# exactly one line on standard error or leaves a file behind, when a conversion leaves anything
# but its mesh, when a run outlives the time limit it was given, or when a conversion lost a
# triangle: its closing line must count every triangle that Assimp reads with triangulation
# only (tests/support/model_triangles.cpp), less exactly those with two corners at one
# position, which it names as dropped. Prints the counts.
#
# Usage: scripts/testmodels.sh [TESSARY_VOL] [MODELS_FOLDER] [MODEL_TRIANGLES]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool=$(realpath "${1:-$root/build/converter/tessary-vol}")
models=${2:-/usr/share/assimp/models}
triangles=$(realpath "${3:-$(dirname "$tool")/../tests/model-triangles}")
limit=10 # CPU seconds each import may take; the watchdog allows more than its wall-clock backstop
[ -x "$triangles" ] || { echo "testmodels: $triangles is missing (build the tests)" && exit 1; }
[ -d "$models" ] || { echo "testmodels: $models is missing (package assimp-testmodels)" && exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -z "${KEEP_TESTMODELS:-}" ] || trap 'echo "kept $work"' EXIT
# One folder per model for its output, so a leftover is told apart from another run's mesh.
find "$models" -type f | sort >"$work/list"
export tool triangles limit work
# shellcheck disable=SC2016 # expanded by the inner shell
nl -ba "$work/list" | xargs -P2 -L1 bash -c '
    n=$1; shift; model="$*"; out="$work/$n"; mkdir "$out"
    status=0
    (cd "$out" && timeout -s KILL $((4 * limit)) "$tool" mesh "$model" -o "$out/m.dat" \
        --timeout "$limit" >stdout 2>stderr) || status=$?
    lines=$(wc -l <"$out/stderr"); left=$(ls "$out" | grep -vxE "stdout|stderr|m.dat" || true)
    verdict=
    # What the closing line kept and dropped, against what Assimp reads.
    kept() {
        local got dropped reference
        got=$(sed -n "s/.* vertices, \([0-9]*\) triangles.*/\1/p" "$out/stdout")
        dropped=$(sed -n "s/.*(\([0-9]*\) dropped: repeated corners.*/\1/p" "$out/stdout")
        reference=$(timeout -s KILL $((4 * limit)) "$triangles" "$model" 2>/dev/null) ||
            { echo "model-triangles failed"; return; }
        set -- $reference
        [ "$got" = $(($1 - $2)) ] && [ "${dropped:-0}" = "$2" ] ||
            echo "kept $got triangles, dropped ${dropped:-0}; Assimp reads $1, $2 of repeated corners"
    }
    case $status in
    0) [ -f "$out/m.dat" ] || verdict="exit 0 without a mesh"
       [ -n "$verdict" ] || verdict=$(kept) ;;
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
