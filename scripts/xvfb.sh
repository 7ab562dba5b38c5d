# Sourced by the run and test scripts. start_xvfb SCREEN starts Xvfb on a display it picks
# itself (so it never collides with a running server), waits until it is ready, exports
# DISPLAY and leaves the server's pid in $xvfb.
start_xvfb() {
    local ready
    ready=$(mktemp)
    Xvfb -displayfd 3 -screen 0 "$1" 3>"$ready" >/dev/null 2>&1 &
    xvfb=$!
    for _ in $(seq 100); do
        [ -s "$ready" ] && break
        sleep 0.1
    done
    DISPLAY=:$(head -n 1 "$ready")
    export DISPLAY
    rm -f "$ready"
}
