#pragma once

// The viewer's own .vol file as an input (unpack, pack again) and as the output of pack.

#include "inputformat.h"
#include "slicestream.h"
#include "volumefile.h"

#include <QString>

#include <string>

// A .vol file as a source, checked as the viewer checks it before reading samples
// (checkVolumeFile without the GL step; the memory check is moot when streaming). Its reasons
// are the viewer's messages, without the path.
[[nodiscard]] std::string openVolumeSource(const QString& path, SliceSource* source,
                                           VolumeHeader* header);

// A .vol file with the given header as a sink, the header checked as the viewer checks it.
[[nodiscard]] std::string openVolumeSink(const QString& path, const VolumeHeader& header,
                                         SliceSink* sink);

// Whether a name fits the .vol name field and names a picture beside the volume.
bool isUsableVolumeName(const QString& name);

// Its entry in the table of formats.
InputFormat volumeInputFormat();
