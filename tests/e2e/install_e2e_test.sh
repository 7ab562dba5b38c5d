#!/bin/bash
# The installation under a scratch prefix (arguments: the build folder, the version).
set -u
build=$1 version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" && exit 1; }
source=$TESSARY_SOURCE_DIR
prefix=$work/usr
"${CMAKE_COMMAND:-cmake}" --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install"

# --- The layout: exactly these files, so that no test, benchmark or fuzzer slips in.
expected=$(
    printf '%s\n' bin/tessary bin/tessary-vol lib/tessary/tessary share/tessary/bunny.dat \
        share/applications/tessary.desktop share/icons/hicolor/scalable/apps/tessary.svg \
        share/mime/packages/tessary.xml share/metainfo/io.github.tessary.Tessary.metainfo.xml \
        share/bash-completion/completions/tessary share/bash-completion/completions/tessary-vol \
        share/doc/tessary/copyright share/doc/tessary/changelog.gz \
        share/man/man1/tessary.1.gz share/man/man1/tessary-vol.1.gz
    (cd "$source" && ls shaders/* | sed 's|^|share/tessary/|')
)
installed=$(cd "$prefix" && find . ! -type d | sed 's|^\./||' | sort)
[ "$installed" = "$(sort <<<"$expected")" ] ||
    fail "installed files differ: $(diff <(sort <<<"$expected") <(echo "$installed"))"
[ "$("$prefix/bin/tessary-vol" --version)" = "tessary-vol $version" ] || fail "--version"
[ "$("$prefix/bin/tessary-vol" --help | head -n 1)" = "tessary-vol $version" ] ||
    fail "--help's first line"
[ "$("$prefix/bin/tessary" --version)" = "tessary $version" ] || fail "tessary --version"

# --- The manual pages: no warnings from groff, and the converter's page holds each command's
# --help text word for word (whitespace aside), so nothing was lost to roff's escapes.
render() { # plain text, no hyphenation, lines long enough that no word breaks
    zcat "$1" | groff -man -Tutf8 -ww -rLL=2000n -rHY=0 -P-cbou >"$work/page" 2>"$work/warnings"
    [ ! -s "$work/warnings" ] || fail "$1: $(cat "$work/warnings")"
}
squeeze() { tr -s ' \n' '  ' | sed 's/^ //; s/ $//'; }
render "$prefix/share/man/man1/tessary.1.gz"
grep -q "tessary $version" "$work/page" || fail "tessary.1's version"
render "$prefix/share/man/man1/tessary-vol.1.gz"
page=$(squeeze <"$work/page")
grep -qF "tessary-vol $version" <<<"$page" || fail "the page's version"
commands=$("$prefix/bin/tessary-vol" --help | sed -n '/^commands:/,/^$/p' | awk 'NF { print $1 }')
[ "$(wc -w <<<"$commands")" -ge 6 ] || fail "commands: $commands"
for command in $commands; do
    [ "$command" != commands: ] || continue
    help=$("$prefix/bin/tessary-vol" "$command" --help) || fail "$command --help"
    for part in "$(head -n 1 <<<"$help" | sed 's/^usage: //' | squeeze)" \
        "$(tail -n +2 <<<"$help" | squeeze)"; do
        grep -qF -- "$part" <<<"$page" || fail "the page lacks $command's text: $part"
    done
done
for part in "EXIT STATUS" "tessary-vol mesh dragon.ply --up z -o input/bunny.dat"; do
    grep -qF -- "$part" <<<"$page" || fail "the page lacks '$part'"
done

# --- The launcher. The viewer is a stand-in that prints its folder and arguments.
printf '#!/bin/sh\npwd\nprintf "%%s\\n" "$@"\nexit 7\n' >"$prefix/lib/tessary/tessary"
home=$work/home
mkdir "$home"
folder=$home/.local/share/tessary
launch() { (cd / && env -u XDG_DATA_HOME HOME="$home" "$@" 2>"$work/err"); }
same() { cmp -s "$1" "$2" || fail "$2 differs from $1"; }

out=$(launch "$prefix/bin/tessary" -platform offscreen)
status=$?
[ $status = 7 ] || fail "the first start: status $status, $(cat "$work/err")"
notice="tessary: making the working folder $folder; your own volumes go into its input/"
[ "$out" = "$(printf '%s\n' "$notice" "$folder" -platform offscreen)" ] ||
    fail "the first start's output: $out"
[ ! -s "$work/err" ] || fail "the first start said: $(cat "$work/err")"
for name in axes marble wood granite cells terrazzo; do
    [ -s "$folder/input/$name.vol" ] && [ -s "$folder/input/$name.png" ] || fail "no $name"
done
same "$source/input/bunny.dat" "$folder/input/bunny.dat"
for shader in "$source"/shaders/*; do same "$shader" "$folder/shaders/${shader##*/}"; done
[ -z "$(ls -A "$folder" | grep -v '^input$\|^shaders$')" ] || fail "left: $(ls -A "$folder")"

# A second start, through a link, after the user's changes and a package update.
echo mine >"$folder/input/bunny.dat"
echo mine >"$folder/input/marble.vol"
rm "$folder/input/wood.vol" "$folder/input/wood.png"
echo changed >"$folder/shaders/shading.frag"
echo "// updated" >>"$prefix/share/tessary/shaders/shading.vert"
ln -s "$prefix/bin/tessary" "$work/tessary"
[ "$(launch "$work/tessary")" = "$folder" ] || fail "the start through a link"
[ "$(cat "$folder/input/bunny.dat" "$folder/input/marble.vol")" = "$(printf 'mine\nmine')" ] ||
    fail "the user's files were overwritten"
[ ! -e "$folder/input/wood.vol" ] || fail "a deleted sample came back"
same "$prefix/share/tessary/shaders/shading.vert" "$folder/shaders/shading.vert"
same "$source/shaders/shading.frag" "$folder/shaders/shading.frag"
rm "$folder/input/bunny.dat"
launch "$prefix/bin/tessary" >/dev/null
same "$source/input/bunny.dat" "$folder/input/bunny.dat"

# Where the folder is: XDG_DATA_HOME when absolute. --where makes it as a first start does,
# its notice on standard error, so that "$(tessary --where)/input" is there to write into.
where() { env HOME="$home" XDG_DATA_HOME="$1" "$prefix/bin/tessary" --where 2>"$work/err"; }
[ "$(where "$work/data")" = "$work/data/tessary" ] || fail "XDG_DATA_HOME"
[ -s "$work/data/tessary/input/bunny.dat" ] && [ -s "$work/data/tessary/input/wood.vol" ] &&
    [ -s "$work/data/tessary/shaders/shading.frag" ] || fail "--where made no working folder"
grep -q "^tessary: making the working folder $work/data/tessary" "$work/err" || fail "no notice"
[ "$(where "$work/data")" = "$work/data/tessary" ] && [ ! -s "$work/err" ] ||
    fail "--where again: $(cat "$work/err")"
[ "$(where relative)" = "$folder" ] || fail "a relative XDG_DATA_HOME"
# The manual page's example, run as it is written before any start: it packs into the folder.
render "$prefix/share/man/man1/tessary.1.gz"
example=$(grep -o 'tessary-vol pack scans/ .*' "$work/page")
mkdir "$work/example"
"$prefix/bin/tessary-vol" unpack "$work/data/tessary/input/axes.vol" -o "$work/example/scans" \
    >/dev/null || fail "the example's slices"
(cd "$work/example" && PATH=$prefix/bin:$PATH HOME=$work/example-home &&
    export PATH HOME && unset XDG_DATA_HOME && eval "$example" >/dev/null 2>&1) ||
    fail "the manual page's example: $example"
[ -s "$work/example-home/.local/share/tessary/input/scan.vol" ] || fail "the example made nothing"

# Failures: one line on standard error, status 1, the viewer not run, no input/ half made.
touch "$work/file"
cp "$prefix/bin/tessary-vol" "$work/converter"
printf '#!/bin/sh\necho "$2/cells.vol: no space left on device" >&2\nexit 1\n' \
    >"$prefix/bin/tessary-vol"
rm -rf "$home/.local"
while IFS='|' read -r setting expected; do
    out=$(cd / && env -u XDG_DATA_HOME HOME="$home" "$setting" "$prefix/bin/tessary" 2>"$work/err")
    status=$?
    [ $status = 1 ] && ! grep -qx "$folder" <<<"$out" || fail "$setting: status $status, $out"
    [ "$(wc -l <"$work/err")" = 1 ] && grep -q "$expected" "$work/err" ||
        fail "$setting: $(cat "$work/err")"
    [ ! -e "$folder/input" ] && [ -z "$(ls -A "$folder" 2>/dev/null | grep input)" ] ||
        fail "$setting left $(ls -A "$folder")"
done <<EOF
HOME=|^tessary: HOME is not set
XDG_DATA_HOME=$work/file|^$work/file/tessary: can't make the working folder: Not a directory
XDG_DATA_HOME=|/\.input-[0-9]*/cells\.vol: no space left on device$
EOF
# The converter back, the next start makes what the failed one could not.
mv "$work/converter" "$prefix/bin/tessary-vol"
launch "$prefix/bin/tessary" >/dev/null
[ -s "$folder/input/cells.vol" ] || fail "no retry after a failed start"
rm "$prefix/lib/tessary/tessary"
launch "$prefix/bin/tessary" && fail "started without a viewer"
grep -q "lib/tessary/tessary: missing; reinstall tessary" "$work/err" || fail "$(cat "$work/err")"
echo PASS
