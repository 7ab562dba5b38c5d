#pragma once

// Times tessary-vol's pack of `slices` PNG slices of side x side pixels into a .vol (the best of
// three runs, each beside its baseline), and its unpack back to PNG slices (one run), each
// against the same run's decoding (or encoding) of the same slices alone, and prints a table
// with the ratios (target: within 1.2) and each stage's peak resident memory. slices must equal
// side, as pack takes cubes only. Needs no display or GL; scratch files go to a temporary folder
// under $TMPDIR (or /tmp) and are removed at the end.
void benchmarkPacking(int slices, int side);
