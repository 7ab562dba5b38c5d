#pragma once

// Times `tessary-vol mesh` on a closed lumpy sphere of about `triangles` triangles written as a
// binary PLY (a scan's shape and size), against Assimp's read of the same file with the
// post-processing steps the converter asks of it (and with Assimp's join of identical vertices
// too, which the converter does itself), each in a process of its own, in the same run: the best
// of three of each, wall-clock and CPU time (children included), and the ratio of CPU times
// (target: within 2; the wall clock follows the machine's load).
// Needs no display or GL; the file goes to a temporary folder, removed at the end.
void benchmarkModels(long long triangles);
