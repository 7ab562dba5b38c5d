// The MetaImage reader: the strict header parser, the data file checks (data.raw lies beside
// the input) and raw or inflated slices.

#include "metaimage.h"
#include "formattable.h"
#include "readerfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The parser on its own must never read past the text, whatever it holds.
    MetaImageHeader header;
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (parseMetaImageHeader(text, &header).empty())
        FUZZ_CHECK(header.headerLength <= size);
    const QString path = fuzzFolder() + "/input.mha";
    writeBytes(path, data, size);
    fuzzReader(path, [&](TypedSource* source) { return openPackInput({path}, {}, source); });
    return 0;
}
