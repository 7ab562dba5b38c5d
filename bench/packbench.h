#pragma once

#include <cstdint>

// Times tessary-vol's pack of `slices` PNG slices of side x side pixels into a .vol (the best of
// three runs, each beside its baseline), and its unpack back to PNG slices (one run), each
// against the same run's decoding (or encoding) of the same slices alone, and prints a table
// with the ratios (target: within 1.2) and each stage's peak resident memory. slices must equal
// side, as pack takes cubes only. Needs no display or GL; scratch files go to a temporary folder
// under $TMPDIR (or /tmp) and are removed at the end.
void benchmarkPacking(int slices, int side);

// Times pack of a width x height x depth int16 volume that it writes as a DICOM series through
// GDCM and as a NIfTI-1 .nii.gz through nifti_clib (cropped to the cube), each pack a whole
// tessary-vol process against a process that reads the same input alone in the same run (a
// GDCM read loop over the files, target 3 times that; one inflate, targets 1.4 times that with
// the range as window, 1.15 with --window and 1.6 with --size 256), and the DICOM pack against
// dcm2niix on the same files where it is installed (target: no slower). Prints the ratios and
// each process's peak memory.
void benchmarkTypedPacking(int width, int height, int depth);

// The baseline process of benchmarkTypedPacking's rows: reads every sample of path as the
// library alone reads it, kind "dicom" (a folder of files, through GDCM) or "nifti" (one
// inflate through nifti_clib). Exit status 0 when all read.
int readAlone(const char* kind, const char* path);

// readAlone, then bytes written to out and made durable, as a converter's output must be: the
// bound of a format whose read is cheap beside the write of its volume. 0, or 1 when either fails.
int readWriteAlone(const char* kind, const char* path, std::uint64_t bytes, const char* out);
