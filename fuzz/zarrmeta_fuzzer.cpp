// Zarr's metadata: v2 and v3 arrays (sharding included), v3 node types and the OME-NGFF
// attributes of an image, each read from the same document.

#include "zarrmeta.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (int format : {2, 3}) {
        ZarrArray array;
        if (parseZarrArray(text, format, &array).empty()) {
            zarrChunkKey(array, std::vector<std::int64_t>(array.shape.size(), 1));
            zarrChunkBytes(array, array.sharded);
            std::vector<ZarrAxis> axes;
            plainArrayAxes(array, &axes);
        }
        ZarrImage image;
        parseZarrImage(text, format, &image);
    }
    std::string type;
    zarrNodeType(text, &type);
    return 0;
}
