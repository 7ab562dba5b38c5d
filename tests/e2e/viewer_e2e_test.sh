#!/bin/bash
# Drives the real viewer (arguments: tessary, tessary-vol) like a person with xdotool, in the
# form's fixed 597x643 layout: each step must change the window; closing it must exit with 0.
set -u
work=$(mktemp -d) pid=
trap '[ -z "$pid" ] || kill $pid 2>/dev/null || true; rm -rf "$work"' EXIT
source "$TESSARY_SOURCE_DIR/scripts/drive.sh"

cd "$work" && timeout 120 "$2" samples input >/dev/null || fail "tessary-vol samples"
cp "$TESSARY_SOURCE_DIR/input/bunny.dat" input/ && cp -r "$TESSARY_SOURCE_DIR/shaders" . || fail "copy"
# No leak checking in a sanitizer build: Mesa's driver, unloaded at exit, leaves unnamed leaks.
ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" "$1" >out.txt &
pid=$!
find_viewer 30
drag 1 300 380 360 410 && expect_change "left drag"
drag 3 300 380 250 340 && expect_change "right drag"
xdotool mousemove --window "$win" 300 380 click --repeat 3 4 && expect_change "wheel up"
xdotool click --repeat 5 5 && expect_change "wheel down"
click 192 52 && expect_change "Cube radio"
click 387 55 && expect_change "XZ Plane radio"
click 360 85 && expect_change "slider"
# The popup covers part of the form: the new reference image at the bottom-left shows the load.
click 115 48 && sleep 0.5 && xdotool key Down Return && expect_change "combo" 40x40+15+585
close_viewer 10
grep -q "^loading 'bunny'\.\.\. min: (" out.txt && grep -q '^\[done\]' out.txt ||
    fail "no bunny loading line or no [done] line: $(cat out.txt)"
echo PASS
