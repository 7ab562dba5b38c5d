#!/usr/bin/env bash
# Builds the Debian package: a release build without the tests, with Debian's hardening flags,
# in build-package/ (or BUILD_DIR), then cpack -G DEB. Prints the package's path last.
# Usage: scripts/package.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build-package}
bash "$root/scripts/setup.sh" >&2
cd "$root"
# The flags a package built by dpkg-buildpackage gets, less the debugging information, which
# the package would strip again, and with every symbol bound at start (lintian asks for it).
export DEB_BUILD_MAINT_OPTIONS=hardening=+bindnow
flags=$(DEB_CXXFLAGS_MAINT_STRIP=-g dpkg-buildflags --get CXXFLAGS)
bash "$root/scripts/build.sh" "$dir" -DCMAKE_BUILD_TYPE=Release -DTESSARY_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >&2
rm -f "$dir"/tessary_*.deb
(cd "$dir" && cpack -G DEB >&2)
ls "$dir"/tessary_*.deb
