// A reader of one format as the converter's door opens it: the input's bytes become a file
// named input.SUFFIX (FUZZ_SUFFIX), read as it is or, where the format holds several volumes
// (FUZZ_PICKS_VOLUME), with a volume picked from the input's length (none, the first or the
// second). Built once for each target of kind file.SUFFIX or volume.SUFFIX in targets.txt.

#include "readerfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString path = fuzzFolder() + "/input" FUZZ_SUFFIX;
    writeBytes(path, data, size);
#if FUZZ_PICKS_VOLUME
    fuzzReader(path, InputSelection(-1, int(size % 3) - 1));
#else
    fuzzReader(path);
#endif
    return 0;
}
