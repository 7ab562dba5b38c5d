#!/usr/bin/env bash
# Packs every DICOM file of pydicom's test files (those under dicomdirtests too, and its series
# folders) with tessary-vol: each must pack to the samples pydicom decodes, or be refused in one
# line with the reason listed below. Fails on any other refusal, a crash, text on standard error or a
# mismatch. Usage: scripts/dicomsweep.sh BUILD/converter/tessary-vol
set -euo pipefail
tool=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
data=$(/usr/bin/python3 -c 'import os, pydicom.data; print(os.path.dirname(pydicom.data.__file__))' \
    2>/dev/null || true)/test_files
if [ ! -d "$data" ]; then
    echo "pydicom's test files are not installed (python3-pydicom): sweep skipped"
    exit 0
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The refusals expected: a file's name, a tab, part of the one line that refuses it.
cat >"$scratch/refusals" <<'LIST'
# Files that hold no image (a name may be a shell pattern)
DICOMDIR*	not a DICOM image file
IM0000??	not a DICOM image file
rtplan.dcm	not a DICOM image file
rtstruct.dcm	not a DICOM image file
test-SR.dcm	not a DICOM image file
reportsi.dcm	not a DICOM image file
reportsi_with_empty_number_tags.dcm	not a DICOM image file
waveform_ecg.dcm	not a DICOM image file
UN_sequence.dcm	not a DICOM image file
nested_priv_SQ.dcm	not a DICOM image file
priv_SQ.dcm	not a DICOM image file
no_meta.dcm	not a DICOM image file
no_meta_group_length.dcm	not a DICOM image file
meta_missing_tsyntax.dcm	not a DICOM image file
empty_charset_LEI.dcm	not a DICOM image file
ExplVR_BigEndNoMeta.dcm	not a DICOM image file
ExplVR_LitEndNoMeta.dcm	not a DICOM image file
# Damaged or contradictory files
rtplan_truncated.dcm	damaged DICOM file: an element's length runs past the file's end
MR_truncated.dcm	pixel data too short
badVR.dcm	bad DICOM Number of Frames
J2K_pixelrep_mismatch.dcm	JPEG 2000 data unsigned, its header's Pixel Representation signed
JPEG2000-embedded-sequence-delimiter.dcm	can't decode the DICOM pixel data
DICOMDIR-nooffset	malformed DICOM data
# What GDCM cannot take: its assertions end the contained reader
rtdose_1frame.dcm	malformed DICOM data
rtdose_expb_1frame.dcm	malformed DICOM data
rtdose_rle_1frame.dcm	malformed DICOM data
# A kind the converter leaves out: uncompressed YBR
SC_ybr_full_422_uncompressed.dcm	unsupported DICOM photometric interpretation YBR_FULL_422
# Folders: a CD layout without images, and one of several series in subfolders
TINY_ALPHA	no slice pictures or DICOM images in this folder
98892003	7 DICOM series
# Series folders of one study (the rest pack as pydicom's slices stacked in position order)
MR[12]	3 DICOM series
MR700	slices of different orientations
CT2N	slices of different orientations
CT2	uneven slice positions
LIST

{
    find "$data" -type f \( -name '*.dcm' -o -path '*/dicomdirtests/*' \) ! -name 'README*'
    echo "$data/dicomdirtests/TINY_ALPHA"
    echo "$data/dicomdirtests/98892003"
    find "$data/dicomdirtests" -mindepth 2 -maxdepth 2 -type d ! -path '*/TINY_ALPHA/*'
} | sort | PYTHONPATH="$here/../tests" /usr/bin/python3 -m reference dicom "$tool" "$scratch/refusals"

# The whole tree as one folder, as a user hands over a CD or an archive: its series listed to
# pick from, its damaged files left out and named, never the whole folder refused for them.
listing=$("$tool" info "$data" 2>"$scratch/info.err") && {
    echo "dicomsweep: info of the whole tree did not ask for a series"
    exit 1
}
grep -q "DICOM series; pick one with --series K" "$scratch/info.err" &&
    grep -q "^  series 1 " <<<"$listing" &&
    grep -q "^  note  *[0-9]* damaged files left out: .*DICOMDIR-nooffset (malformed DICOM data" \
        <<<"$listing" || {
    echo "dicomsweep: info of the whole tree:"
    cat "$scratch/info.err"
    echo "$listing"
    exit 1
}
echo "the whole tree: $(grep -c '^  series ' <<<"$listing") series listed, $(sed -n 's/^  note  *\([0-9]*\) damaged.*/\1/p' <<<"$listing") damaged files left out"
