#pragma once

// A NRRD's samples as a source of slices: in the header's own file or one detached data file
// (left open by teem at the first sample), or in several data files of whole slices each, one
// after another; in any of the encodings, read forwards slice by slice.

#include "files.h"
#include "nrrd/nrrdstreams.h"
#include "typedsource.h"

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

struct NrrdData {
    NrrdDataEncoding encoding = NrrdDataEncoding::Raw;
    bool swap = false; // samples in the other byte order than the host's
    // One file: open at its first sample. Several: their paths, in order, each to be skipped
    // into by lineSkip lines, then byteSkip bytes (-1, for raw samples: to the last bytes the
    // samples take).
    std::shared_ptr<FileHandle> file;
    std::vector<std::string> files;
    unsigned lineSkip = 0;
    long byteSkip = 0;
};

// Fills source->read for the samples of source->info (all of its volumes' slices), as data
// holds them. Returns "" or the reason.
[[nodiscard]] std::string openNrrdData(NrrdData data, TypedSource* source);
