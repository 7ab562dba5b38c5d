#pragma once

// Times tessary-vol's pack of `slices` PNG slices of side x side pixels into a .vol, and its
// unpack back to PNG slices, each against the same run's decoding (or encoding) of the same
// slices alone, and prints a table with the ratios (target: within 1.2) and each stage's peak
// resident memory. Needs no display or GL; scratch files go to a temporary folder under $TMPDIR
// (or /tmp) and are removed at the end. The slices are made with slices = side in mind: pack
// needs a cube.
void benchmarkPacking(int slices, int side);
