#pragma once

// Checks of a model file made before Assimp's readers see it, for what they would loop on,
// allocate gigabytes for, read past or misread.

#include <cstdio>
#include <string>

// Assimp's PLY reader loops forever on a header without end_header, allocates what a count
// claims (2e9 vertices: gigabytes), and reads past a body shorter than its header says. So a
// PLY header must end within 64 KiB, and the body must hold at least the smallest size of every
// element it declares (a list counted as empty; in ASCII each value takes a digit and a
// separator). plyName: the file is named .ply, so Assimp takes it for PLY whatever it holds and
// it must begin with the magic. Other files pass. "" or the message.
[[nodiscard]] std::string checkPlyHeader(std::FILE* file, bool plyName);

// Assimp's OFF reader allocates what the counts claim, aborts on a missing face line, clamps a
// face's index past the end and divides by a homogeneous w of 0. So an OFF file (a first line
// starting with a keyword that ends in "OFF", such as "NOFF", "4OFF" or "nOFF") is read through
// first: the counts, a line for each vertex (with a non-zero w in the homogeneous "4" variants),
// and each face's corner count and indices, which must name existing vertices. Other files
// pass. "" or the message.
[[nodiscard]] std::string checkOffFile(std::FILE* file);
