#pragma once

// NumPy's .npz: a zip of .npy arrays, stored (numpy.savez) or deflated (numpy.savez_compressed),
// read through the converter's own zip reader (stores/zipstore.h). One array is the volume:
// the only one, or the one --dataset NAME names (NAME as numpy.load's keys give it, with or
// without ".npy"). Each array is read as a .npy file is; the member is inflated whole, once,
// and held while the volume is read.

#include "inputformat.h"
#include "typedsource.h"

#include <QString>

#include <string>
#include <vector>

// Opens the array named (any name: the only array) of an .npz as a typed source. Returns "" or
// the bare reason, as do its reads.
[[nodiscard]] std::string openNpzSource(const QString& path, const std::string& name,
                                        TypedSource* source);

// The names of the arrays of an .npz whose zip directory reads, in name order; empty otherwise.
std::vector<std::string> npzArrayNames(const QString& path);

// Its entry in the table of formats.
InputFormat npzInputFormat();
