#!/bin/bash
# The launcher given inputs, installed under a scratch prefix (arguments: the build folder,
# fixture-file): each input is packed into the cache once for each state of it and listed
# first in a session folder of its own; a refusal ends before any viewer starts.
set -u
build=$1 fixture=$2
work=$(mktemp -d) held=
trap '[ -z "$held" ] || kill "$held" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" && exit 1; }
prefix=$work/usr
"${CMAKE_COMMAND:-cmake}" --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install"

# The viewer is a stand-in that prints its folder and arguments or, with HOLD set, stays as the
# viewer does while its window is open. The converter logs the commands it is given.
printf '#!/bin/sh\n[ -z "${HOLD-}" ] || exec sleep 300\npwd\nfor a; do echo "$a"; done\n' \
    >"$prefix/lib/tessary/tessary"
mv "$prefix/bin/tessary-vol" "$work/converter"
printf '#!/bin/sh\nfor last; do :; done\necho "$1 $last" >>"%s/calls"\nexec "%s/converter" "$@"\n' \
    "$work" "$work" >"$prefix/bin/tessary-vol"
chmod +x "$prefix/bin/tessary-vol"
home=$work/home files=$work/files
mkdir "$home" "$files"
folder=$home/.local/share/tessary cache=$home/.cache/tessary
launch() {
    (cd "$files" && env -u XDG_DATA_HOME -u XDG_CACHE_HOME HOME="$home" "$prefix/bin/tessary" \
        "$@" >"$work/out" 2>"$work/err")
}
# The folder the viewer started in, the first line it printed.
session() { grep -m 1 "^$folder/sessions/" "$work/out"; }
sessions() { find "$folder/sessions" -mindepth 1 -maxdepth 1 -type d | sort; }
# The volume's N as the converter reads its header.
side() { "$work/converter" info "$1" | sed -n 's/^  size N  *//p'; }
packs() { grep -c "^pack $1" "$work/calls"; }

"$fixture" nifti "$files/brain.nii.gz" 8,8,4 0,255,0 || fail "fixture-file nifti"
"$fixture" tiff "$files/stack.tif" 6,6,6 255,0,0 || fail "fixture-file tiff"
"$work/converter" pack "$files/stack.tif" -o "$files/mine.vol" --reference-slice 0 >/dev/null ||
    fail "mine.vol"

# --- One input: packed, padded to a cube, listed first; Qt's options go to the viewer.
launch brain.nii.gz -platform offscreen || fail "tessary brain.nii.gz: $(cat "$work/err")"
dir=$(session)
[ "$(dirname "$dir")" = "$folder/sessions" ] || fail "not started in a session: $dir"
[ "$(tail -n 2 "$work/out")" = "$(printf '%s\n' -platform offscreen)" ] ||
    fail "the viewer's arguments: $(cat "$work/out")"
entry=$(readlink "$dir/input/ brain.vol") || fail "no ' brain.vol' in $(ls "$dir/input")"
[[ $entry == "$cache"/*.vol ]] && [ "$(side "$entry")" = 8 ] || fail "the pack $entry"
grep -qx "pack brain.nii.gz" "$work/calls" || fail "calls: $(cat "$work/calls")"
for name in bunny.dat axes.vol axes.png wood.vol; do
    [ "$(readlink "$dir/input/$name")" = "$folder/input/$name" ] || fail "no $name in the session"
done
[ "$(readlink "$dir/shaders")" = "$folder/shaders" ] || fail "no shaders in the session"
# The viewer lists the .vol names in code point order: the input's sorts before them all.
first=$(cd "$dir/input" && ls -- *.vol | LC_ALL=C sort | head -n 1)
[ "$first" = " brain.vol" ] || fail "listed first: $first"

# --- Opened again: the cache's pack, with no pack run; a changed input is packed again.
: >"$work/calls"
launch brain.nii.gz || fail "again: $(cat "$work/err")"
[ "$(readlink "$(session)/input/ brain.vol")" = "$entry" ] && [ "$(packs brain)" = 0 ] ||
    fail "not from the cache: $(cat "$work/calls")"
touch -d '+1 hour' "$files/brain.nii.gz"
launch brain.nii.gz && [ "$(packs brain)" = 1 ] || fail "a changed input from the cache"
[ "$(readlink "$(session)/input/ brain.vol")" != "$entry" ] || fail "the changed input's pack"
# Other options make another pack.
launch --size 4 brain.nii.gz && [ "$(side "$(readlink "$(session)/input/ brain.vol")")" = 4 ] ||
    fail "--size 4: $(cat "$work/err")"
launch brain.nii.gz --crop && [ "$(side "$(readlink "$(session)/input/ brain.vol")")" = 4 ] ||
    fail "--crop: $(cat "$work/err")"
[ "$(packs brain)" = 3 ] || fail "calls: $(cat "$work/calls")"
[ -z "$(find "$cache" -name '.*')" ] || fail "temporaries left: $(ls -A "$cache")"

# --- Several inputs, in order; a .vol is listed as it is, with its picture, never packed.
: >"$work/calls"
cp "$files/stack.tif" "$files/-odd.tif"
launch stack.tif mine.vol -- -odd.tif || fail "three inputs: $(cat "$work/err")"
dir=$(session)
listed=$(cd "$dir/input" && ls -- *.vol | LC_ALL=C sort | head -n 3)
[ "$listed" = "$(printf '%s\n' " 1 stack.vol" " 2 mine.vol" " 3 -odd.vol")" ] ||
    fail "listed first: $listed"
[ "$(readlink "$dir/input/ 2 mine.vol")" = "$files/mine.vol" ] || fail "mine.vol not linked"
[ "$(readlink "$dir/input/mine.png")" = "$files/mine.png" ] || fail "mine.vol's picture"
[ "$(packs mine)" = 0 ] && grep -qx "check mine.vol" "$work/calls" || fail "$(cat "$work/calls")"
[ "$(tail -n 1 "$work/out")" = "$dir" ] || fail "the viewer was given: $(cat "$work/out")"

# --- Refusals: the converter's one line, status 1, no viewer and no session left (the ended
# ones go too).
printf 'not a volume' >"$files/notes.txt"
printf 'VOLU' >"$files/short.vol"
head -c 400 /dev/zero >"$files/zeros.nii"
while IFS='|' read -r arguments expected; do
    # shellcheck disable=SC2086 # the arguments are words
    launch $arguments
    status=$?
    [ $status = 1 ] && [ "$(wc -l <"$work/err")" = 1 ] && grep -q "^$expected" "$work/err" ||
        fail "$arguments: status $status, $(cat "$work/err")"
    ! grep -q "^$folder/sessions/" "$work/out" || fail "$arguments started the viewer"
    [ -z "$(sessions)" ] || fail "$arguments left a session: $(sessions)"
done <<EOF
missing.nii|missing.nii: can't open input file: no such file
notes.txt|notes.txt: unsupported format
zeros.nii|zeros.nii: 
short.vol|short.vol: 
stack.tif missing.nii|missing.nii: can't open input file
EOF
# With --dialog, as the desktop entry starts it, the refusal shows in a window too: the first
# window tool installed is given the converter's line, or the launcher's own.
mkdir "$work/tools"
printf '#!/bin/sh\nfor a; do echo "$a"; done >"%s/window"\n' "$work" >"$work/tools/zenity"
chmod +x "$work/tools/zenity"
for arguments in "notes.txt|notes.txt: unsupported format" \
    "short.vol|short.vol: "; do
    rm -f "$work/window"
    (cd "$files" && env -u XDG_DATA_HOME -u XDG_CACHE_HOME HOME="$home" DISPLAY=:0 \
        PATH="$work/tools:$PATH" "$prefix/bin/tessary" --dialog "${arguments%%|*}" \
        >"$work/out" 2>"$work/err")
    [ $? = 1 ] && grep -q "^--text=${arguments#*|}" "$work/window" &&
        [ "$(grep "^--text=" "$work/window")" = "--text=$(cat "$work/err")" ] ||
        fail "--dialog ${arguments%%|*}: $(cat "$work/window" "$work/err")"
done
launch notes.txt
[ ! -e "$work/window" ] || [ "$(find "$work/window" -newer "$work/err")" = "" ] ||
    fail "a window without --dialog"
launch --size x stack.tif
[ $? = 2 ] && grep -q "^tessary: --size takes a number" "$work/err" || fail "--size x"

# --- Sessions go at the next start once their viewer has ended; a running one stays.
mkdir "$folder/sessions/abandoned"
(cd "$files" && exec env -u XDG_DATA_HOME -u XDG_CACHE_HOME HOME="$home" HOLD=1 \
    "$prefix/bin/tessary" stack.tif >/dev/null 2>&1) &
held=$!
for _ in $(seq 100); do
    [ "$(readlink "/proc/$held/exe")" = "$(readlink -f "$(command -v sleep)")" ] && break
    sleep 0.1
done
running=$(readlink "/proc/$held/cwd") || fail "the held viewer did not start"
launch stack.tif
[ "$(sessions)" = "$(printf '%s\n' "$running" "$(session)" | sort)" ] ||
    fail "the sessions after a start beside a running one: $(sessions)"
kill "$held" && wait "$held" 2>/dev/null
held=
launch stack.tif
[ "$(sessions)" = "$(session)" ] || fail "the sessions after the viewer ended: $(sessions)"

# --- No input: the working folder, as before, and the sessions folder tidied.
launch -platform offscreen
[ "$(cat "$work/out")" = "$(printf '%s\n' "$folder" -platform offscreen)" ] ||
    fail "no input: $(cat "$work/out")"
[ -z "$(sessions)" ] || fail "a session left: $(sessions)"
# The cache where XDG_CACHE_HOME says.
(cd "$files" && env HOME="$home" XDG_CACHE_HOME="$work/cache" "$prefix/bin/tessary" stack.tif \
    >/dev/null) && [ -n "$(find "$work/cache/tessary" -name '*.vol')" ] || fail "XDG_CACHE_HOME"
echo PASS
