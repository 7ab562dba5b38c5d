#!/usr/bin/env bash
# Checks the Debian package as a user meets it: builds it (scripts/package.sh), runs lintian
# (errors fail), installs it with apt-get, starts the launcher with a scratch home under the X
# server and checks its screenshot for the lit bunny (kept as packagecheck-screenshot.png beside
# the package), checks the desktop's files and that the MIME database took the package's types,
# then purges the package and checks that none of its files or types is left. Needs root or
# sudo; leaves the package purged, whatever happens.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
apt() { DEBIAN_FRONTEND=noninteractive $sudo apt-get -y -qq -o DPkg::Lock::Timeout=600 "$@"; }

deb=$(bash "$root/scripts/package.sh" | tail -n 1)
echo "package: $deb"
lintian --fail-on error "$deb"

scratch=$(mktemp -d)
pid=
own_xvfb=
cleanup() {
    [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
    [ -z "$own_xvfb" ] || kill "$own_xvfb" 2>/dev/null || true
    if dpkg -s tessary >/dev/null 2>&1; then apt purge tessary >/dev/null; fi
    rm -rf "$scratch"
}
trap cleanup EXIT
if dpkg -s tessary >/dev/null 2>&1; then apt purge tessary >/dev/null; fi
apt install "$deb" >/dev/null
dpkg -L tessary >"$scratch/listed"

# Passed to helpers that fail the script.
source "$root/scripts/drive.sh"
version=$(dpkg-deb -f "$deb" Version)
[ "$(tessary-vol --version)" = "tessary-vol $version" ] || fail "tessary-vol --version"
desktop-file-validate /usr/share/applications/tessary.desktop || fail "the desktop entry"
appstreamcli validate --no-net /usr/share/metainfo/io.github.tessary.Tessary.metainfo.xml ||
    fail "the AppStream metadata"
# The package's triggers brought its MIME types into the shared database.
grep -qx application/x-tessary-volume /usr/share/mime/types || fail "no MIME type for .vol"
[ -s /usr/share/bash-completion/completions/tessary ] || fail "no completion for tessary"
# A file manager's "Open with": the desktop's default for a volume and for a NIfTI file, for a
# user who has chosen none.
for type in application/x-tessary-volume application/x-nifti; do
    chosen=$(env -u XDG_DATA_HOME -u XDG_CONFIG_HOME HOME="$scratch" xdg-mime query default "$type")
    [ "$chosen" = tessary.desktop ] || fail "xdg-mime's default for $type is '$chosen'"
done
# From the package itself: some systems leave manual pages out when they install one.
dpkg-deb -x "$deb" "$scratch/unpacked"
for page in tessary tessary-vol; do
    warnings=$(zcat "$scratch/unpacked/usr/share/man/man1/$page.1.gz" | groff -man -ww -z 2>&1)
    [ -z "$warnings" ] || fail "the manual page $page: $warnings"
done

home=$scratch/home
mkdir "$home"
[ "$(env -u XDG_DATA_HOME HOME="$home" tessary --where)" = "$home/.local/share/tessary" ] ||
    fail "tessary --where"
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    source "$root/scripts/xvfb.sh"
    start_xvfb 1280x1024x24
    own_xvfb=$xvfb
fi
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$scratch}
cd "$scratch"
(cd / && exec env -u XDG_DATA_HOME HOME="$home" tessary >"$scratch/out.txt" 2>&1) &
pid=$!
find_viewer 120
# The lit bunny in the middle of the view: many pixels that are not the white background, in
# many shades.
convert shot0.png -crop 200x200+200+200 +repage middle.png
convert -size 200x200 xc:white white.png
drawn=$(compare -metric AE -fuzz 3% middle.png white.png null: 2>&1 || true)
shades=$(convert middle.png -format %k info:)
cp shot0.png "$(dirname "$deb")/packagecheck-screenshot.png"
echo "screenshot: $drawn drawn pixels of 40000, $shades colours"
[ "$drawn" -gt 4000 ] && [ "$shades" -gt 100 ] || fail "no lit bunny in the screenshot"
close_viewer 30
folder=$home/.local/share/tessary
for file in input/bunny.dat input/axes.vol input/cells.vol shaders/shading.frag; do
    [ -s "$folder/$file" ] || fail "the working folder has no $file"
done

apt purge tessary >/dev/null
while read -r path; do
    # Folders the package shares with others (/usr/bin) stay; its own must go.
    [ ! -e "$path" ] || [ -d "$path" ] || fail "$path is left after the purge"
done <"$scratch/listed"
for path in /usr/share/tessary /usr/lib/tessary /usr/share/doc/tessary; do
    [ ! -e "$path" ] || fail "$path is left after the purge"
done
! grep -qx application/x-tessary-volume /usr/share/mime/types || fail "the MIME type outlived it"
echo "the package installs, starts, shows the bunny and purges cleanly"
