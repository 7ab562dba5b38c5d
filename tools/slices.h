#pragma once

// Volumes as stacks of 2D pictures, one a slice, z = 0 first: read through Qt's image reader in
// any format it knows, written as PNG. A picture shows its slice as the viewer does, the top row
// being y = N - 1.

#include "volumestream.h"

#include <QStringList>

// The slice pictures that inputs name, in natural order (slice2 before slice10): the pictures
// of the one folder given, or the files given. Returns "" or the message.
std::string listSliceFiles(const QStringList& inputs, QStringList* files);

// Slices all of the first one's size; a picture of another size is refused when its turn comes.
std::string openSliceSource(const QStringList& files, SliceSource* source);

// A folder of PNG slices named slice_0000.png, slice_0001.png, ...; the folder must not exist
// yet or be empty.
std::string openSliceFolderSink(const QString& folder, int n, SliceSink* sink);
