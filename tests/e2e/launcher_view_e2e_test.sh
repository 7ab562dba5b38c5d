#!/bin/bash
# The installed launcher opening a file with the real viewer (arguments: the build folder,
# fixture-file): the viewer lists the file first and shows it, a green volume on the bunny where
# the samples would show their colours; the viewer holds its session's lock while it runs.
set -u
build=$1 fixture=$2
work=$(mktemp -d) pid=
trap '[ -z "$pid" ] || kill $pid 2>/dev/null || true; rm -rf "$work"' EXIT
source "$TESSARY_SOURCE_DIR/scripts/drive.sh"
prefix=$work/usr
"${CMAKE_COMMAND:-cmake}" --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install"
home=$work/home
mkdir "$home"
sessions=$home/.local/share/tessary/sessions

cd "$work" && "$fixture" nifti green.nii.gz 16,16,16 0,200,0 || fail "fixture-file"
# No leak checking in a sanitizer build: Mesa's driver, unloaded at exit, leaves unnamed leaks.
ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" env -u XDG_DATA_HOME -u XDG_CACHE_HOME \
    HOME="$home" "$prefix/bin/tessary" green.nii.gz >out.txt 2>&1 &
pid=$!
find_viewer 60
session=$(readlink "/proc/$pid/cwd")
[ "$(dirname "$session")" = "$sessions" ] || fail "the viewer runs in $session"
flock -n "$session/.lock" true && fail "the running viewer holds no lock on its session"

# The middle of the view: the bunny drawn, and nearly all of it green (the first sample has
# red, green and blue axes).
convert shot0.png -crop 200x200+200+200 +repage middle.png
drawn=$(convert middle.png -fx 'r + g + b < 2.8 ? 1 : 0' -format '%[fx:round(mean * 100)]' info:)
green=$(convert middle.png -fx 'g > r + 0.15 && g > b + 0.15 ? 1 : 0' \
    -format '%[fx:round(mean * 100)]' info:)
echo "drawn $drawn%, green $green% of the middle"
[ "$drawn" -gt 10 ] && [ "$green" -gt $((drawn * 9 / 10)) ] || fail "the bunny is not green"

close_viewer 10
flock -n "$session/.lock" true || fail "the lock outlived the viewer"
echo PASS
