#pragma once

// A block of a chunked dataset read chunk by chunk, the chunks' stored bytes taken through
// H5Dread_chunk and undone here: ISA-L inflates more than twice as fast as the zlib libhdf5
// calls, and each chunk is held to the size it must decode to. libhdf5 checks no size: a chunk
// that inflates short leaves the rest of its buffer as the heap had it, and one that inflates on
// grows its buffer for as long as the stream goes. Runs in the contained child, as every call
// into libhdf5 does.

#include <hdf5.h>

#include <string>

// Whether the dataset's blocks are read here: chunked, through no filters but shuffling and
// deflate (each at most once), of a type stored as the host holds it (memoryType: the type read
// into).
bool readsChunksDirectly(hid_t dataset, hid_t create, hid_t memoryType);

// Reads the block of count samples from start along each of rank axes into to, in order
// (the last axis fastest). Returns "" or why not, as "a chunk inflates past its size".
[[nodiscard]] std::string readChunksDirectly(hid_t dataset, hid_t create, int rank,
                                             const hsize_t* start, const hsize_t* count,
                                             unsigned char* to);
