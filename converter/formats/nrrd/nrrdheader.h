#pragma once

// A NRRD header looked over before teem parses it: its magic, its length in lines and
// key/value lines (teem adds each in time growing with the number before it; real headers have
// a few dozen lines), and the data files it names, each of which must be a regular file in the
// header's folder or below it (teem opens them itself, and would open a FIFO and wait).

#include <QString>

#include <cstdio>
#include <string>
#include <vector>

const int maxNrrdKeyValues = 1000;
const int maxNrrdHeaderLines = 10000;
// A stack of slices in files of their own may be long; one of more files than this is refused
// rather than walked.
const int maxNrrdDataFiles = 1 << 18;

// Reads the header at the start of file (of the header at path) and checks it. The data files
// it names, in order and as canonical paths, go to *dataFiles (none: the data follows the
// header). Returns "" or the message.
[[nodiscard]] std::string checkNrrdHeader(const QString& path, std::FILE* file,
                                          std::vector<std::string>* dataFiles);

// The names of the data files that a "data file:" field's value gives: one name, "LIST" (the
// names then being the header's lines after it, in following) or a printf-style pattern with
// its first, last and step numbers ("slice%03d.raw 1 40 1"), either with a dimension after it.
// Returns "" or the message.
[[nodiscard]] std::string nrrdDataFileNames(const std::string& value,
                                            const std::vector<std::string>& following,
                                            std::vector<std::string>* names);
