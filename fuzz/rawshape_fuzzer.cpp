// Bare samples of a --raw shape: the shape, its type, byte order, channels and offset taken from
// the input's first bytes, so that lengths short of, equal to and past the shape's all come up.

#include "readerfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5)
        return 0;
    const char* types[] = {"uint8",  "int8",  "uint16",  "int16",
                           "uint32", "int32", "float32", "float64"};
    const std::string text =
        std::to_string(1 + data[0] % 6) + "," + std::to_string(1 + data[1] % 6) + "," +
        std::to_string(1 + data[2] % 6) + "," + types[data[3] % 8] + (data[3] & 8 ? ",be" : ",le") +
        "," + std::to_string(1 + data[3] / 16 % 4);
    InputSelection selection;
    selection.raw.offset = data[4] % 32;
    FUZZ_CHECK(parseRawShape(text, &selection.raw));
    const QString path = fuzzFolder() + "/input.dat";
    writeBytes(path, data, size);
    fuzzReader(path, selection);
    return 0;
}
