# shellcheck shell=bash
# Sourced by tests/e2e/viewer_e2e_test.sh and scripts/memcheck.sh: drives the viewer like a person
# with xdotool and tells each step's effect from screenshots. The caller starts the viewer in
# the current folder with its standard output in out.txt and its pid in $pid, then calls
# find_viewer. Screenshots are shot0.png, shot1.png, ... in the current folder.
#
# Pacing, for a viewer that draws a frame in milliseconds (the defaults) or in seconds (under
# valgrind): drive_pause, the seconds between the moves of a drag; drive_poll, the seconds
# between screenshots; drive_wait, the seconds a step may take to show; drive_settle=1 waits
# after each step until the window stops changing, so a frame still being drawn is not taken
# for the next step's effect.
drive_pause=${drive_pause:-0.1}
drive_poll=${drive_poll:-0.2}
drive_wait=${drive_wait:-10}
drive_settle=${drive_settle:-0}
step=0

fail() { echo "FAIL: $*" && exit 1; }

# Waits up to $1 seconds for the viewer's window and its "[done]" line, then takes shot0.png.
find_viewer() {
    local end=$((SECONDS + $1))
    # Polled: `xdotool search --sync` dies of an X error when a window goes away meanwhile.
    win=
    until [ -n "$win" ]; do
        [ $SECONDS -lt $end ] || fail "no Tessary window: $(tail -n 3 out.txt 2>/dev/null)"
        sleep 0.2
        win=$(xdotool search --onlyvisible --name '^Tessary$' 2>/dev/null | head -n 1 || true)
    done
    until grep -q '^\[done\]' out.txt; do
        [ $SECONDS -lt $end ] || fail "no [done] line: $(cat out.txt)"
        sleep 0.2
    done
    sleep 1
    import -window "$win" shot0.png || fail "screenshot"
    [ "$drive_settle" = 1 ] && settle
    return 0
}

# Waits until two screenshots a few seconds apart match; leaves the last as the step's.
settle() {
    local pixels end=$((SECONDS + 300))
    while [ $SECONDS -lt $end ]; do
        sleep 2
        import -window "$win" next.png || continue
        pixels=$(compare -metric AE "shot$step.png" next.png null: 2>&1 || true)
        [ "$pixels" = 0 ] && return
        mv next.png "shot$step.png"
    done
    fail "the window never settled"
}

# Screenshots until one differs from the last step's in the crop $2 (default: the whole form),
# up to drive_wait seconds.
expect_change() {
    local prev="shot$step.png" next="shot$((step + 1)).png" crop=${2:-597x643+0+0} pixels
    local end=$((SECONDS + drive_wait))
    step=$((step + 1))
    while [ $SECONDS -lt $end ]; do
        sleep "$drive_poll"
        import -window "$win" "$next" || continue
        pixels=$(compare -metric AE "${prev}[$crop]" "${next}[$crop]" null: 2>&1 || true)
        if [[ $pixels =~ ^[0-9.e+]+$ && $pixels != 0 ]]; then
            echo "$1: $pixels pixels"
            [ "$drive_settle" = 1 ] && settle
            return 0
        fi
    done
    fail "$1 changed nothing"
}

# Drags with button $1 from ($2, $3) to ($4, $5). The first move after a press only records the
# pointer; the pauses keep Qt from merging the moves while a frame is being drawn.
drag() {
    xdotool mousemove --window "$win" "$2" "$3" mousedown "$1" sleep "$drive_pause" \
        mousemove_relative 10 5 sleep "$drive_pause" mousemove_relative 10 5 \
        sleep "$drive_pause" mousemove --window "$win" "$4" "$5" sleep "$drive_pause" mouseup "$1"
}

click() { xdotool mousemove --window "$win" "$1" "$2" click 1; }

# Asks the window to close as a window manager would, then waits up to $1 seconds for the
# viewer to end; fails unless it ends with status 0.
close_viewer() {
    python3 "$(dirname "${BASH_SOURCE[0]}")/closewindow.py" "$win" ||
        fail "could not ask the window to close"
    timeout "$1" tail --pid="$pid" -f /dev/null || fail "still running $1 s after the close"
    local status=0
    wait "$pid" || status=$?
    pid=
    [ "$status" = 0 ] || fail "exit status $status"
}
