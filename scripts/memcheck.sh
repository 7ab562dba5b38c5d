#!/usr/bin/env bash
# Runs the viewer of a normal build under valgrind memcheck on the sample data, driven like
# tests/e2e/viewer_e2e_test.sh: both drags, the wheel, each volume, Cube, each plane, the slider,
# then the window manager's close. Under valgrind a frame takes a while, so each step waits for
# the window to change and settle. Then it prints the errors and definite leaks whose stacks
# hold the project's own code (app/, render/, data/, support/, state/) and exits non-zero when
# there is one; tests/memcheck.supp names library noise. scripts/test.sh runs it after the
# normal build's tests; it takes a few minutes. Usage: scripts/memcheck.sh [BUILD_DIR]; the
# whole log is BUILD_DIR/memcheck.log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
command -v valgrind >/dev/null || { echo "valgrind is missing (apt-get install valgrind)" && exit 1; }
build=$(realpath "${1:-$root/build}")
bash "$root/scripts/build.sh" "$build"
log=$build/memcheck.log
work=$(mktemp -d) pid= xvfb=
trap '[ -z "$pid" ] || kill $pid 2>/dev/null || true; [ -z "$xvfb" ] || kill $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT

cd "$work"
"$build/converter/tessary-vol" samples input >/dev/null
cp "$root/input/bunny.dat" input/ && cp -r "$root/shaders" .
source "$root/scripts/xvfb.sh"
start_xvfb 800x700x24
export XDG_RUNTIME_DIR=$work QT_QPA_PLATFORM=xcb
# A dlclose that keeps the library: Mesa's driver is unloaded at exit otherwise, and then its
# allocations show as definite leaks without names, the pointers to them gone with its data.
echo 'int dlclose(void* handle) { (void)handle; return 0; }' >keep.c
cc -shared -fPIC keep.c -o keep.so
# Mesa's software renderer on the main thread; --fullpath-after= prints whole source paths,
# which tell the project's frames from the libraries'.
LD_PRELOAD=$work/keep.so LIBGL_ALWAYS_SOFTWARE=1 GALLIUM_DRIVER=llvmpipe LP_NUM_THREADS=0 \
    valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite \
    --errors-for-leak-kinds=definite --track-origins=yes --num-callers=40 --fullpath-after= \
    --suppressions="$root/tests/memcheck.supp" \
    --log-file="$log" "$build/tessary" >out.txt 2>&1 &
pid=$!
# Under valgrind a frame takes seconds: slow drags, long waits, and a settled window per step.
drive_pause=3 drive_poll=1 drive_wait=300 drive_settle=1
source "$root/scripts/drive.sh"
find_viewer 600
drag 1 300 380 360 410 && expect_change "left drag"
drag 3 300 380 250 340 && expect_change "right drag"
xdotool mousemove --window "$win" 300 380 click --repeat 3 --delay 300 4 && expect_change "wheel"
# The volumes after the first (axes), in name order; the reference picture shows each load.
for volume in cells granite marble wood; do
    click 115 48 && sleep 3 && xdotool key Down Return && expect_change "$volume" 40x40+15+585
done
click 192 52 && expect_change "Cube"
click 387 55 && expect_change "XZ Plane"
click 488 55 && expect_change "YZ Plane"
click 287 55 && expect_change "XY Plane"
click 360 85 && expect_change "slider"
# valgrind's leak search at exit takes a while.
close_viewer 600
grep "ERROR SUMMARY\|definitely lost:" "$log" | sed 's/^==[0-9]*== //'

# A record (valgrind separates them with empty lines; a forked child writes its own, under its
# own pid) names project code when one of its frames is a source file of the project's
# libraries. main() counts only as the innermost frame: it lies beneath every stack of the GUI
# thread.
python3 - "$log" "$root" <<'PYTHON'
import collections, re, sys
log, root = sys.argv[1], sys.argv[2]
own = re.compile(r"\(" + re.escape(root) + r"/(app|render|data|support|state)/[^)]*\)")
lines = collections.defaultdict(list)
for line in open(log, errors="replace"):
    match = re.match(r"==(\d+)== ?(.*)", line.rstrip("\n"))
    if match:
        lines[match.group(1)].append(match.group(2))
found = 0
for pid, texts in lines.items():
    record = []
    for text in texts + [""]:
        if text:
            record.append(text)
            continue
        stack = [l for l in record if re.match(r"\s+(at|by) 0x", l)]
        if any(own.search(l) and ("/app/main.cpp:" not in l or "at 0x" in l) for l in stack):
            found += 1
            print("\n".join(record) + "\n")
        record = []
print("memcheck: %d error or definite leak record(s) hold project code" % found)
sys.exit(1 if found else 0)
PYTHON
