// Zarr's metadata: v2 and v3 arrays (sharding included), v3 node types and the OME-NGFF
// attributes of an image, each read from the same document.

#include "checkedsize.h"
#include "zarr/zarrmeta.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
// An array that parses has sizes whose every product the reader takes stays within its limits.
void checkSizes(const ZarrArray& array) {
    const std::uint64_t sample = sampleTypeBytes(array.type);
    std::uint64_t bytes = 0, count = 0;
    const std::uint64_t cellLimit = array.sharded ? maxZarrShardBytes : maxZarrChunkBytes;
    if (array.shape.size() != array.chunks.size() ||
        !checkedProduct(array.chunks, sample, cellLimit, &bytes) ||
        bytes != zarrChunkBytes(array, false))
        std::abort();
    if (!array.sharded)
        return;
    std::vector<std::int64_t> grid(array.chunks.size());
    for (std::size_t d = 0; d < grid.size(); ++d)
        grid[d] = array.chunks[d] / array.inner[d];
    if (array.inner.size() != array.chunks.size() ||
        !checkedProduct(array.inner, sample, maxZarrChunkBytes, &bytes) ||
        bytes != zarrChunkBytes(array, true) ||
        !checkedProduct(grid, 1, maxZarrInnerChunks, &count) || count != zarrInnerChunks(array))
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    // Refusals are discarded: what is checked is that nothing crashes or reads past the input.
    for (int format : {2, 3}) {
        ZarrArray array;
        if (parseZarrArray(text, format, &array).empty()) {
            checkSizes(array);
            (void)zarrChunkKey(array, std::vector<std::int64_t>(array.shape.size(), 1));
            std::vector<ZarrAxis> axes;
            (void)plainArrayAxes(array, &axes);
        }
        ZarrImage image;
        (void)parseZarrImage(text, format, &image);
    }
    std::string type;
    (void)zarrNodeType(text, &type);
    return 0;
}
