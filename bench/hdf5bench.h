#pragma once

// Times tessary-vol's pack with --size side/4 (and a window given, so one pass) of a side^3 uint16
// volume in the Imaris layout (four levels, chunks of 64^3, no compression), written here through
// libhdf5, against reading the level it needs (level 2) alone in the same run, and prints the
// ratios against their bounds: bytes read from the file (at most 1.1 times the level's stored
// size), time (at most 1.5 times reading it alone), and peak memory (at most 128 MB).
void benchmarkPyramidPacking(int side);
