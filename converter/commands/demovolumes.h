#pragma once

// The bundled sample volumes (their table is in demovolumes.cpp; axes' colour is its position,
// for checking orientation), each with a reference picture: its slice z = 0, or for the one
// synthesised, the picture it was synthesised from. All noise comes from a fixed-seed integer
// hash, so every run writes the same bytes.

#include <QString>

#include <string>

// The samples and their sides, as "axes (N = 32), marble (128), ... and terrazzo (128)".
std::string sampleList();

// Writes each sample's .vol and .png into folder (made if missing). A sample whose two files
// both exist is kept unless force. Prints a line per file written; returns "" or the message.
[[nodiscard]] std::string writeSamples(const QString& folder, bool force);
