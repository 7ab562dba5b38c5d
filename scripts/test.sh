#!/usr/bin/env bash
# Sets up, builds and runs every test: the normal build, then the same suite built with
# AddressSanitizer and UndefinedBehaviorSanitizer, then the fuzz smoke run (scripts/fuzz.sh).
# GL tests run under Xvfb when no display is set. Exits non-zero when any test fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}

if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    source "$root/scripts/xvfb.sh"
    start_xvfb 1280x1024x24
    trap 'kill $xvfb 2>/dev/null || true' EXIT
fi

echo "== normal build"
bash "$root/scripts/build.sh" "$root/build"
(cd "$root/build" && ctest --output-on-failure)
bash "$root/scripts/testmodels.sh" "$root/build/tools/tessary-vol"

echo "== sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer)"
bash "$root/scripts/build.sh" "$root/build-asan" -DTESSARY_SANITIZE=ON
# Leak checking covers the program's own allocations; the suppressions name only leaks that
# belong to the system libraries (Mesa, fontconfig, X).
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=0:detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
(cd "$root/build-asan" && ctest --output-on-failure)

echo "== fuzz smoke (each libFuzzer target for a fixed number of executions)"
bash "$root/scripts/fuzz.sh"
