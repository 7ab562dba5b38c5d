#pragma once

// The bundled sample volumes: axes (N = 32, colour = position, for checking orientation),
// marble (128), wood (64), granite (45) and cells (256), each with a reference picture of its
// slice z = 0. All noise comes from a fixed-seed integer hash, so every run writes the same
// bytes.

#include <QString>

#include <string>

// Writes each sample's .vol and .png into folder (made if missing). A sample whose two files
// both exist is kept unless force. Prints a line per file written; returns "" or the message.
[[nodiscard]] std::string writeSamples(const QString& folder, bool force);
