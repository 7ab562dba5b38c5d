#include "hdf5/hdf5chunks.h"

#include "codecs/chunkcodecs.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {
const int maxRank = 32;

struct Filters {
    int count = 0;
    H5Z_filter_t ids[2] = {};
    std::size_t shuffleBytes = 0; // the size of the values the shuffle interleaved
};

// The dataset's filters, in the order they were applied in writing; false when one is not
// undone here.
bool filtersOf(hid_t create, Filters* filters) {
    const int count = H5Pget_nfilters(create);
    if (count < 0 || count > 2)
        return false;
    for (int k = 0; k < count; ++k) {
        unsigned flags = 0, values[4] = {}, config = 0;
        std::size_t valueCount = 4;
        const H5Z_filter_t id =
            H5Pget_filter2(create, unsigned(k), &flags, &valueCount, values, 0, nullptr, &config);
        if ((id != H5Z_FILTER_DEFLATE && id != H5Z_FILTER_SHUFFLE) ||
            (k == 1 && id == filters->ids[0]))
            return false;
        if (id == H5Z_FILTER_SHUFFLE) {
            if (valueCount < 1 || values[0] < 1 || values[0] > 64)
                return false;
            filters->shuffleBytes = values[0];
        }
        filters->ids[k] = id;
    }
    filters->count = count;
    return true;
}

// The geometry of a read: the dataset's chunks and the block asked for.
struct Layout {
    int rank = 0;
    std::size_t valueBytes = 0, chunkBytes = 0;
    hsize_t chunk[maxRank] = {}, start[maxRank] = {}, count[maxRank] = {};
};

// Undoes byteshuffle's interleaving of n bytes: byte b of value i was stored at b * values + i;
// bytes past the last whole value were left as they were.
void unshuffle(const unsigned char* in, std::size_t n, std::size_t size, unsigned char* out) {
    const std::size_t values = n / size;
    for (std::size_t b = 0; b < size; ++b)
        for (std::size_t i = 0; i < values; ++i)
            out[i * size + b] = in[b * values + i];
    std::memcpy(out + values * size, in + values * size, n - values * size);
}

struct Buffers {
    std::vector<unsigned char> stored, inflated, unshuffled;
    std::vector<unsigned char> filled; // a chunk of the fill value, once one is needed
};

// Undoes the filters of a chunk's stored bytes, as *data and *bytes, those the mask skipped
// left out. Returns "" or why.
std::string undoFilters(const Filters& filters, std::uint32_t mask, std::size_t chunkBytes,
                        Buffers* buffers, const unsigned char** data, std::size_t* bytes) {
    for (int k = filters.count - 1; k >= 0; --k) {
        if (mask & (1u << k))
            continue;
        if (filters.ids[k] == H5Z_FILTER_SHUFFLE) {
            buffers->unshuffled.resize(*bytes);
            unshuffle(*data, *bytes, filters.shuffleBytes, buffers->unshuffled.data());
            *data = buffers->unshuffled.data();
            continue;
        }
        buffers->inflated.resize(chunkBytes);
        const Inflated result =
            inflateWhole(*data, *bytes, buffers->inflated.data(), chunkBytes, false, bytes);
        if (result == Inflated::Overflow)
            return "a chunk inflates past its size";
        if (result != Inflated::Whole)
            return "its data is damaged";
        *data = buffers->inflated.data();
    }
    if (*bytes > chunkBytes)
        return "a chunk inflates past its size";
    if (*bytes < chunkBytes)
        return "a chunk decodes to fewer bytes than its size: the file is damaged";
    return std::string();
}

// Copies the part of the chunk at origin (its samples at data) that lies in the block into to.
void copyPart(const Layout& layout, const hsize_t* origin, const unsigned char* data,
              unsigned char* to) {
    const int rank = layout.rank;
    hsize_t lo[maxRank], hi[maxRank], at[maxRank];
    for (int k = 0; k < rank; ++k) {
        lo[k] = std::max(layout.start[k], origin[k]);
        hi[k] = std::min(layout.start[k] + layout.count[k], origin[k] + layout.chunk[k]);
        at[k] = lo[k];
    }
    const std::size_t run = std::size_t(hi[rank - 1] - lo[rank - 1]) * layout.valueBytes;
    for (;;) {
        std::size_t from = 0, into = 0;
        for (int k = 0; k < rank; ++k) {
            from = from * layout.chunk[k] + (at[k] - origin[k]);
            into = into * layout.count[k] + (at[k] - layout.start[k]);
        }
        std::memcpy(to + into * layout.valueBytes, data + from * layout.valueBytes, run);
        int k = rank - 2;
        while (k >= 0 && ++at[k] == hi[k]) {
            at[k] = lo[k];
            --k;
        }
        if (k < 0)
            return;
    }
}

// A chunk's worth of the dataset's fill value.
bool fillChunk(hid_t create, hid_t memoryType, const Layout& layout,
               std::vector<unsigned char>* filled) {
    std::vector<unsigned char> value(layout.valueBytes);
    H5D_fill_value_t defined = H5D_FILL_VALUE_UNDEFINED;
    if (H5Pfill_value_defined(create, &defined) >= 0 && defined != H5D_FILL_VALUE_UNDEFINED &&
        H5Pget_fill_value(create, memoryType, value.data()) < 0)
        return false;
    filled->resize(layout.chunkBytes);
    for (std::size_t at = 0; at < layout.chunkBytes; at += layout.valueBytes)
        std::memcpy(filled->data() + at, value.data(), layout.valueBytes);
    return true;
}
// Reads the chunk at origin into the block: its stored bytes undone, or the fill value where
// the file holds none.
std::string readChunk(hid_t dataset, hid_t create, hid_t type, const Layout& layout,
                      const Filters& filters, const hsize_t* origin, Buffers* buffers,
                      unsigned char* to) {
    unsigned mask = 0;
    haddr_t address = 0;
    hsize_t size = 0;
    if (H5Dget_chunk_info_by_coord(dataset, origin, &mask, &address, &size) < 0)
        return "its chunk index is damaged";
    if (address == HADDR_UNDEF) {
        if (buffers->filled.empty() && !fillChunk(create, type, layout, &buffers->filled))
            return "its fill value is damaged";
        copyPart(layout, origin, buffers->filled.data(), to);
        return std::string();
    }
    // Deflate's stored blocks add a few bytes a block; more than that is no chunk of its size.
    if (size > layout.chunkBytes + layout.chunkBytes / 64 + 4096)
        return "a chunk is stored in more bytes than its samples could take: the file is damaged";
    buffers->stored.resize(std::size_t(size));
    std::uint32_t skipped = 0;
    if (H5Dread_chunk(dataset, H5P_DEFAULT, origin, &skipped, buffers->stored.data()) < 0)
        return "its data is damaged";
    const unsigned char* data = buffers->stored.data();
    std::size_t bytes = std::size_t(size);
    const std::string failure =
        undoFilters(filters, skipped, layout.chunkBytes, buffers, &data, &bytes);
    if (failure.empty())
        copyPart(layout, origin, data, to);
    return failure;
}

} // namespace

bool readsChunksDirectly(hid_t dataset, hid_t create, hid_t memoryType) {
    Filters filters;
    const hid_t stored = H5Dget_type(dataset);
    const bool same = stored >= 0 && H5Tequal(stored, memoryType) > 0;
    if (stored >= 0)
        H5Tclose(stored);
    return same && H5Pget_layout(create) == H5D_CHUNKED && filtersOf(create, &filters);
}

std::string readChunksDirectly(hid_t dataset, hid_t create, int rank, const hsize_t* start,
                               const hsize_t* count, unsigned char* to) {
    Layout layout;
    Filters filters;
    const hid_t type = H5Dget_type(dataset);
    layout.valueBytes = type >= 0 ? H5Tget_size(type) : 0;
    layout.rank = rank;
    layout.chunkBytes = layout.valueBytes;
    if (rank < 1 || rank > maxRank || H5Pget_chunk(create, rank, layout.chunk) != rank ||
        !filtersOf(create, &filters) || layout.valueBytes == 0) {
        if (type >= 0)
            H5Tclose(type);
        return "its data is damaged";
    }
    hsize_t first[maxRank], last[maxRank], origin[maxRank];
    for (int k = 0; k < rank; ++k) {
        layout.start[k] = start[k];
        layout.count[k] = count[k];
        layout.chunkBytes *= layout.chunk[k]; // the caller checked chunks against a bound
        first[k] = start[k] / layout.chunk[k];
        last[k] = (start[k] + count[k] - 1) / layout.chunk[k];
        origin[k] = first[k] * layout.chunk[k];
    }
    Buffers buffers;
    std::string failure;
    for (int k = 0; failure.empty() && k >= 0;) {
        failure = readChunk(dataset, create, type, layout, filters, origin, &buffers, to);
        // The next chunk, the last axis fastest.
        for (k = rank - 1; k >= 0 && (origin[k] += layout.chunk[k]) > last[k] * layout.chunk[k];
             --k)
            origin[k] = first[k] * layout.chunk[k];
    }
    H5Tclose(type);
    return failure;
}
