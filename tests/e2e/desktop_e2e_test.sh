#!/bin/bash
# The desktop's and the shell's files as installed under a scratch prefix (argument: the build
# folder): the desktop entry and the AppStream metadata pass their validators, the MIME types
# are known by the globs the converter's table gives, and the completion completes.
set -u
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" && exit 1; }
prefix=$work/usr share=$work/usr/share
"${CMAKE_COMMAND:-cmake}" --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install"
converter=$prefix/bin/tessary-vol

# --- The desktop entry and the AppStream metadata.
entry=$share/applications/tessary.desktop
desktop-file-validate "$entry" || fail "desktop-file-validate"
appstreamcli validate --no-net "$share/metainfo/io.github.tessary.Tessary.metainfo.xml" ||
    fail "appstreamcli validate"
grep -qx 'Exec=tessary --dialog %F' "$entry" || fail "Exec= takes no files, or no window for a refusal"
types=$("$converter" --mime-types)
[ "$(sed -n 's/^MimeType=//p' "$entry")" = "$(awk '{ printf "%s;", $1 }' <<<"$types")" ] ||
    fail "MimeType= is not the table's: $(grep MimeType "$entry")"

# --- The MIME database, the system's with the package's types: each type is known, by each
# glob the table gives it, and a .vol by its magic too.
mkdir -p "$work/mime/packages"
cp /usr/share/mime/packages/freedesktop.org.xml "$share/mime/packages/tessary.xml" \
    "$work/mime/packages/"
update-mime-database "$work/mime" 2>/dev/null || fail "update-mime-database"
while read -r type suffixes; do
    grep -qx "$type" "$work/mime/types" || fail "$type is no MIME type"
    for suffix in $suffixes; do
        grep -q "^[0-9]*:$type:\*\.$suffix\(:.*\)\?$" "$work/mime/globs2" ||
            fail "*.$suffix is not $type"
    done
done <<<"$types"
grep -qaF "application/x-tessary-volume" "$work/mime/magic" || fail "no magic for .vol"

# --- The completion, under both names: it sources without error and completes commands,
# options and the files each command takes.
completions=$share/bash-completion/completions
[ "$(readlink -f "$completions/tessary")" = "$(readlink -f "$completions/tessary-vol")" ] ||
    fail "tessary's completion is another file"
mkdir -p "$work/files/sub"
touch "$work/files/"{scan.nii.gz,ct.DCM,picture.png,notes.txt,old.vol}
completes() { # WORDS...: what the completion offers for the last word, sorted, a line each
    (
        cd "$work/files" || exit 1
        # shellcheck disable=SC1090
        source "$completions/tessary-vol" || exit 1
        COMP_WORDS=("$@")
        COMP_CWORD=$(($# - 1))
        case $1 in
        tessary-vol) _tessary_vol ;;
        tessary) _tessary ;;
        esac
        [ ${#COMPREPLY[@]} = 0 ] || printf '%s\n' "${COMPREPLY[@]}" | sort -u
    )
}
expect() { # EXPECTED WORDS...
    local expected=$1 got
    shift
    got=$(completes "$@" | tr '\n' ' ')
    [ "$got" = "$expected" ] || fail "$*: '$got', not '$expected'"
}
said=$(bash -c 'source "$1" && complete -p tessary tessary-vol' - "$completions/tessary" 2>&1)
[ "$said" = "$(printf '%s\n' "complete -F _tessary tessary" "complete -F _tessary_vol tessary-vol")" ] ||
    fail "sourcing the completion: $said"
expect "pack " tessary-vol pa
expect "samples synth " tessary-vol s
expect "--max-size " tessary-vol pack scan.nii.gz --ma
expect "-o " tessary-vol unpack -o
expect "ct.DCM old.vol picture.png scan.nii.gz sub " tessary-vol pack ""
expect "old.vol sub " tessary-vol check ""
expect "sub " tessary-vol samples ""
expect "" tessary-vol pack --size ""
expect "notes.txt " tessary-vol pack -o no
expect "--crop " tessary --c
expect "--size " tessary --s
expect "scan.nii.gz " tessary sc
expect "ct.DCM old.vol picture.png scan.nii.gz sub " tessary --crop ""
echo PASS
