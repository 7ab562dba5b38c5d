#!/bin/bash
# Starts the viewer on $DISPLAY where it cannot find its shaders. It must print the error line,
# show the "ERROR" box and, once the script presses OK, end with status 1.
# Arguments: the tessary binary, the tessary-vol binary (unused: it fails before any volume).
set -u
tessary=$(realpath "$1")
scratch=$(mktemp -d) pid=
trap '[ -z "$pid" ] || kill -9 $pid 2>/dev/null || true; rm -rf "$scratch"' EXIT
fail() {
    echo "FAIL: $*" >&2
    echo "stdout: $(cat "$scratch/stdout.txt" 2>/dev/null)" >&2
    echo "stderr: $(cat "$scratch/stderr.txt" 2>/dev/null)" >&2
    exit 1
}
# Waits up to $1 seconds for the viewer to end.
ended() { timeout "$1" bash -c "while kill -0 $pid 2>/dev/null; do sleep 0.1; done"; }

[ -n "${DISPLAY:-}" ] || fail "no DISPLAY: start an X server such as Xvfb"
cd "$scratch" || fail "no scratch folder"
"$tessary" >stdout.txt 2>stderr.txt &
pid=$!
box=$(timeout 20 xdotool search --sync --all --onlyvisible --pid "$pid" --name '^ERROR$' | head -n 1)
[ -n "$box" ] || fail "no window named ERROR within 20 s"
# Return presses the box's default button, OK; sent straight to the window as a fallback in
# case the focus did not move.
timeout 5 xdotool windowfocus --sync "$box" key Return
ended 5 || timeout 5 xdotool key --window "$box" Return
ended 10 || fail "still running after OK"
wait "$pid"
status=$? pid=
[ "$status" -eq 1 ] || fail "exit status $status, expected 1"
[ "$(grep -cxF 'file not found: shaders/shading.vert' stdout.txt)" -eq 1 ] ||
    fail "stdout lacks the one line 'file not found: shaders/shading.vert'"
echo "PASS"
