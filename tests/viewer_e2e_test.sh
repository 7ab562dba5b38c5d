#!/bin/bash
# Drives the real viewer like a person with xdotool on $DISPLAY: every step must change what
# the window shows, and closing the window must end the process cleanly. Arguments: the
# tessary and makevolumes binaries. Coordinates fit the form's fixed 597x643 layout.
set -u
work=$(mktemp -d) pid=
trap '[ -n "$pid" ] && kill $pid 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" && exit 1; }

cd "$work" && timeout 120 "$2" input >/dev/null || fail "makevolumes"
cp "$TESSARY_SOURCE_DIR/input/bunny.dat" input/ && cp -r "$TESSARY_SOURCE_DIR/shaders" . || fail "copy"
# Leak checking is off for a sanitizer build: Mesa unloads its driver at exit, leaving its own
# allocations unreachable and unnamed, so they cannot be suppressed by library name.
ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" "$1" >out.txt &
pid=$!
win=$(timeout 30 xdotool search --sync --onlyvisible --name '^Tessary$' | head -n 1)
[ -n "$win" ] || fail "no Tessary window"
for _ in $(seq 100); do grep -q '^\[done\]' out.txt && break || sleep 0.1; done
sleep 1
import -window "$win" shot0.png || fail "screenshot"
step=0

# Takes screenshots until one differs from the last step's (up to 10 s), within the crop
# geometry $2 when given.
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
drag() { # button, from x y, to x y
    xdotool mousemove --window "$win" "$2" "$3" mousedown "$1" sleep 0.1 mousemove --window \
        "$win" $(($2 + 10)) $(($3 + 5)) sleep 0.1 mousemove --window "$win" "$4" "$5" sleep 0.1 \
        mouseup "$1"
}
click() { xdotool mousemove --window "$win" "$1" "$2" click 1; }

drag 1 300 380 360 410 && expect_change "left drag"
drag 3 300 380 250 340 && expect_change "right drag"
xdotool mousemove --window "$win" 300 380 click --repeat 3 4 && expect_change "wheel up"
xdotool click --repeat 5 5 && expect_change "wheel down"
click 192 52 && expect_change "Cube radio"
click 387 55 && expect_change "XZ Plane radio"
click 360 85 && expect_change "slider"
# The popup list covers part of the form; the reference image at the panel's bottom-left
# shows that another volume was loaded.
click 115 48 && sleep 0.5 && xdotool key Down Return && expect_change "combo" 40x40+15+585

# Closes the window as a window manager's close button does, with WM_DELETE_WINDOW: Qt takes
# no notice of `xdotool windowclose`, which destroys the X window behind its back.
python3 - "$win" <<'PYTHON' || fail "could not ask the window to close"
import ctypes as c, sys
x = c.CDLL("libX11.so.6")
x.XOpenDisplay.restype = c.c_void_p
x.XInternAtom.restype = c.c_ulong
x.XInternAtom.argtypes = [c.c_void_p, c.c_char_p, c.c_int]
x.XSendEvent.argtypes = [c.c_void_p, c.c_ulong, c.c_int, c.c_long, c.c_void_p]
x.XFlush.argtypes = [c.c_void_p]
class ClientMessage(c.Structure):  # an XEvent: 24 longs
    _fields_ = [("type", c.c_int), ("serial", c.c_ulong), ("send_event", c.c_int),
                ("display", c.c_void_p), ("window", c.c_ulong), ("message_type", c.c_ulong),
                ("format", c.c_int), ("data", c.c_long * 5), ("pad", c.c_long * 12)]
d, w = x.XOpenDisplay(None), int(sys.argv[1])
event = ClientMessage(33, 0, 1, d, w, x.XInternAtom(d, b"WM_PROTOCOLS", 0), 32)
event.data[0] = x.XInternAtom(d, b"WM_DELETE_WINDOW", 0)
x.XSendEvent(d, w, 0, 0, c.byref(event))
x.XFlush(d)
PYTHON
for _ in $(seq 100); do kill -0 $pid 2>/dev/null && sleep 0.1 || break; done
kill -0 $pid 2>/dev/null && fail "still running after the window closed"
wait $pid
status=$? pid=
[ $status = 0 ] || fail "exit status $status"
grep -q "^loading 'bunny'\.\.\. min: (" out.txt || fail "no bunny loading line: $(cat out.txt)"
grep -q '^\[done\]' out.txt || fail "no [done] line"
echo PASS
