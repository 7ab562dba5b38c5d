#pragma once

// Times tessary-vol's pack of an OME-Zarr pyramid (side^3 uint16, four levels each half the one
// before, blosc-zstd chunks of 64^3, written here) with --size side / 4 (the slices dropped, not
// written): the bytes it reads against level 2's stored size (target 1.1 times), its time against
// decoding level 2's chunks alone in the same run (target 1.5 times) and its peak memory (target
// 128 MB); from the folder, and over HTTP from two servers on 127.0.0.1: Python's file server and
// a small sendfile server (fileserver.h) that leaves the reader's own cost.
void benchmarkZarrPacking(int side);
