#!/bin/bash
# Starts the viewer where it cannot find its shaders. It must print the error line, show the
# "ERROR" box and, once OK is pressed, end with status 1.
# Arguments: the tessary binary, the makevolumes binary (unused: it fails before any volume).
set -u
tessary=$(realpath "$1")
scratch=$(mktemp -d)
pid="" xvfb=""
cleanup() { [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null; }
fail() {
    echo "FAIL: $*" >&2
    [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null
    echo "stdout: $(cat "$scratch/stdout.txt" 2>/dev/null)" >&2
    echo "scratch folder kept: $scratch" >&2
    cleanup
    exit 1
}
if [ -z "${DISPLAY:-}" ]; then
    n=150
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 >/dev/null 2>&1 &
    xvfb=$! && export DISPLAY=":$n"
    timeout 10 bash -c 'until xdpyinfo >/dev/null 2>&1; do sleep 0.1; done' || fail "no Xvfb"
fi

cd "$scratch" || fail "no scratch folder"
"$tessary" >stdout.txt 2>stderr.txt &
pid=$!
box=$(timeout 20 xdotool search --sync --all --onlyvisible --pid "$pid" --name '^ERROR$' | head -n 1)
[ -n "$box" ] || fail "no window named ERROR within 20 s"
timeout 10 import -window root box.png || fail "no screenshot"
# Focus the box and press Return on its default button, OK; sent straight to the window as
# a fallback in case the focus did not move.
timeout 5 xdotool windowfocus --sync "$box" key Return
timeout 5 bash -c "while kill -0 $pid 2>/dev/null; do sleep 0.1; done" ||
    timeout 5 xdotool key --window "$box" Return
timeout 10 bash -c "while kill -0 $pid 2>/dev/null; do sleep 0.1; done" ||
    fail "still running after OK"
wait "$pid"
status=$?
pid=""
[ "$status" -eq 1 ] || fail "exit status $status, expected 1"
[ "$(grep -cxF 'file not found: shaders/shading.vert' stdout.txt)" -eq 1 ] ||
    fail "stdout lacks the line 'file not found: shaders/shading.vert'"
cd / && rm -rf "$scratch"
cleanup
echo "PASS"
