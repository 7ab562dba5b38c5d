#!/usr/bin/env bash
# Sets up, builds and starts the viewer on the bundled sample data, from the repository root.
# Without a display it says so, runs the viewer under Xvfb for a few seconds and saves a
# screenshot instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" "$root/build"
# The sample volumes are generated, not stored; this makes the ones that are missing.
"$root/build/converter/tessary-vol" samples "$root/input"
cd "$root"
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    exec "$root/build/tessary" "$@"
fi

echo "No display available: running Tessary headless under Xvfb and saving a screenshot."
source "$root/scripts/xvfb.sh"
start_xvfb 1024x768x24
viewer=
trap 'kill $viewer $xvfb 2>/dev/null || true' EXIT
"$root/build/tessary" "$@" &
viewer=$!
# Polls rather than `xdotool search --sync`, which dies of an X error when a window it is
# looking at goes away meanwhile (the viewer opens and closes short-lived ones while starting).
for _ in $(seq 150); do
    xdotool search --onlyvisible --name '^Tessary$' >/dev/null 2>&1 && break
    kill -0 $viewer 2>/dev/null || { echo "the viewer ended early" && exit 1; }
    sleep 0.2
done
xdotool search --onlyvisible --name '^Tessary$' >/dev/null 2>&1 || { echo "no window" && exit 1; }
sleep 2
shot="$root/build/tessary-screenshot.png"
import -window root "$shot"
echo "Screenshot saved to $shot"
