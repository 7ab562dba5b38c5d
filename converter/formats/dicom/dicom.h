#pragma once

// DICOM volumes read through GDCM: a folder holding the files of a series (a slice each, in any
// name order, in subfolders too, as on a CD), or one multi-frame file (a frame a slice).

#include "inputformat.h"
#include "typedsource.h"

#include <QString>

#include <string>
#include <vector>

// One series as info lists it.
struct DicomSeriesSummary {
    std::string uid;         // Series Instance UID
    std::string description; // Series Description, "" when none
    int slices = 0;          // its files, or the frames of its one multi-frame file
    int width = 0, height = 0;
    int volumes = 1; // volumes at the same slice positions (time points, echoes, directions)
};

// The image series under path (a folder, or one file), ordered by UID: the order --series
// counts in, from 0. Files that are not DICOM images are passed over; damaged ones of a folder
// are left out of the series beside them, and *leftOut (may be null) says which and why, or is
// "". Returns "" or the message, which names the path.
[[nodiscard]] std::string listDicomSeries(const QString& path, std::vector<DicomSeriesSummary>* out,
                                          std::string* leftOut = nullptr);

// What info prints of a DICOM input it refuses for want of --series or --volume: the series to
// pick from, numbered as --series and --volume count, and the damaged files left out.
void printDicomSeries(const QString& path);

// Opens series number selection.series of listDicomSeries (-1: the only one; a folder with
// more is refused with their count) as a typed source. Slices are ordered by their position along
// the slice normal and must be evenly spaced; a series whose positions each repeat as often holds
// that many volumes, one picked by selection.volume (in instance order; -1: the only one).
// Rescale Slope and Intercept other than 1 and 0 give float32 samples. Siemens mosaics are
// refused. source->files names every file read; source->info.note the damaged files of a folder
// left out. Returns "" or the bare reason (one about a file of a series names it), as do its
// reads.
[[nodiscard]] std::string openDicomSource(const QString& path, const InputSelection& selection,
                                          TypedSource* source);

// Its entry in the table of formats.
InputFormat dicomInputFormat();
