#pragma once

// The one place that tells, from a path, which reader opens an input of pack and info.

#include "typedsource.h"

#include <QStringList>

#include <string>

// What pack reads, in words, for the message that refuses anything else.
extern const char packReads[];

// Opens the input that paths name as a typed source: one file by its extension (a picture
// format Qt knows becomes a one-slice volume), a folder of slice pictures, or a list of
// pictures. selection picks a series or a volume of inputs that hold several. Returns "" or
// the message; an input of no kind pack reads gives "PATH: unsupported format (pack reads ...)".
std::string openPackInput(const QStringList& paths, const InputSelection& selection,
                          TypedSource* source);
