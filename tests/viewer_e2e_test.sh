#!/bin/bash
# Drives the real viewer (arguments: tessary, tessary-vol) like a person with xdotool, in the
# form's fixed 597x643 layout: each step must change the window; closing it must exit with 0.
set -u
work=$(mktemp -d) pid=
trap '[ -n "$pid" ] && kill $pid 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" && exit 1; }

cd "$work" && timeout 120 "$2" samples input >/dev/null || fail "tessary-vol samples"
cp "$TESSARY_SOURCE_DIR/input/bunny.dat" input/ && cp -r "$TESSARY_SOURCE_DIR/shaders" . || fail "copy"
# No leak checking in a sanitizer build: Mesa's driver, unloaded at exit, leaves unnamed leaks.
ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" "$1" >out.txt &
pid=$!
win=$(timeout 30 xdotool search --sync --onlyvisible --name '^Tessary$' | head -n 1)
[ -n "$win" ] || fail "no Tessary window"
for _ in $(seq 100); do grep -q '^\[done\]' out.txt && break || sleep 0.1; done
sleep 1
import -window "$win" shot0.png || fail "screenshot"
step=0

# Screenshots until one differs from the last step's in the crop $2 (default: all), up to 10 s.
expect_change() {
    local prev="shot$step.png" next="shot$((step + 1)).png" crop=${2:-597x643+0+0} pixels
    step=$((step + 1))
    for _ in $(seq 50); do
        sleep 0.2
        import -window "$win" "$next" || continue
        pixels=$(compare -metric AE "${prev}[$crop]" "${next}[$crop]" null: 2>&1)
        [[ $pixels =~ ^[0-9.e+]+$ && $pixels != 0 ]] && echo "$1: $pixels pixels" && return
    done
    fail "$1 changed nothing"
}
drag() { # button, from x y, to x y; the first move after a press only records the pointer
    xdotool mousemove --window "$win" "$2" "$3" mousedown "$1" sleep 0.1 mousemove_relative 10 5 \
        sleep 0.1 mousemove --window "$win" "$4" "$5" sleep 0.1 mouseup "$1"
}
click() { xdotool mousemove --window "$win" "$1" "$2" click 1; }
drag 1 300 380 360 410 && expect_change "left drag"
drag 3 300 380 250 340 && expect_change "right drag"
xdotool mousemove --window "$win" 300 380 click --repeat 3 4 && expect_change "wheel up"
xdotool click --repeat 5 5 && expect_change "wheel down"
click 192 52 && expect_change "Cube radio"
click 387 55 && expect_change "XZ Plane radio"
click 360 85 && expect_change "slider"
# The popup covers part of the form: the new reference image at the bottom-left shows the load.
click 115 48 && sleep 0.5 && xdotool key Down Return && expect_change "combo" 40x40+15+585
# Asks the window to close as a window manager would.
python3 "$TESSARY_SOURCE_DIR/scripts/closewindow.py" "$win" || fail "could not ask the window to close"
timeout 10 tail --pid=$pid -f /dev/null || fail "still running after the window closed"
wait $pid || fail "exit status $?"
grep -q "^loading 'bunny'\.\.\. min: (" out.txt && grep -q '^\[done\]' out.txt ||
    fail "no bunny loading line or no [done] line: $(cat out.txt)"
echo PASS
