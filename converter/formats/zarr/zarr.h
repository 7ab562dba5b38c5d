#pragma once

// Zarr (v2 and v3, sharded or not) and OME-Zarr images, from a folder, a .zip or an HTTP
// server: the levels of a multiscale image are listed, and the one pack needs for its output
// size is read, chunk by chunk, never the whole array at once.

#include "inputformat.h"
#include "typedsource.h"

#include <QString>

#include <string>

// Whether path names a Zarr input: an http(s)://, s3:// or gs:// URL, a .zip or .ozx file, or a
// folder holding zarr.json, .zgroup or .zarray.
bool isZarrInput(const QString& path);

// Opens the image (or the plain array) at path. selection.size picks the pyramid's level,
// selection.volume the time point of an image of several. Returns "" or the message.
[[nodiscard]] std::string openZarrSource(const QString& path, const InputSelection& selection,
                                         TypedSource* source);

// Its entry in the table of formats.
InputFormat zarrInputFormat();
