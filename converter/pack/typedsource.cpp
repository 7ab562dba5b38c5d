#include "typedsource.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

std::size_t sampleTypeBytes(SampleType type) {
    switch (type) {
    case SampleType::UInt8:
    case SampleType::Int8:
        return 1;
    case SampleType::UInt16:
    case SampleType::Int16:
        return 2;
    case SampleType::UInt32:
    case SampleType::Int32:
    case SampleType::Float32:
        return 4;
    case SampleType::Float64:
        return 8;
    }
    return 1;
}

const char* sampleTypeName(SampleType type) {
    switch (type) {
    case SampleType::UInt8:
        return "uint8";
    case SampleType::Int8:
        return "int8";
    case SampleType::UInt16:
        return "uint16";
    case SampleType::Int16:
        return "int16";
    case SampleType::UInt32:
        return "uint32";
    case SampleType::Int32:
        return "int32";
    case SampleType::Float32:
        return "float32";
    case SampleType::Float64:
        return "float64";
    }
    return "unknown";
}

long long pyramidLevelSide(const std::vector<PyramidLevel>& levels, int l) {
    const PyramidLevel &level = levels[std::size_t(l)], &full = levels[0];
    // The level's finest spacing is the full level's, times its largest reduction: a level
    // that keeps its slices and halves x and y has half the full level's detail, however fine
    // its spacing along z.
    double finest = -1, reduced = 1;
    for (int k = 0; k < 3; ++k) {
        // An axis of one sample (a single slice) has nothing to lose.
        if (full.sizes[k] <= 1)
            continue;
        if (!(full.spacing[k] > 0) || !(level.spacing[k] > 0))
            return -1;
        finest = finest < 0 ? full.spacing[k] : std::min(finest, full.spacing[k]);
        reduced = std::max(reduced, level.spacing[k] / full.spacing[k]);
    }
    long long side = -1;
    for (int k = 0; k < 3 && finest > 0; ++k)
        if (full.sizes[k] > 1) {
            const long long n =
                std::llround(level.sizes[k] * level.spacing[k] / (finest * reduced));
            side = side < 0 ? n : std::min(side, n);
        }
    return side;
}

int pickPyramidLevel(const std::vector<PyramidLevel>& levels, int size) {
    if (levels.empty())
        return -1;
    int picked = 0;
    for (int l = 1; size > 0 && l < int(levels.size()); ++l)
        if (pyramidLevelSide(levels, l) >= size)
            picked = l;
    return picked;
}

bool parseRawShape(const std::string& text, RawShape* shape) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    for (std::string part; std::getline(stream, part, ',');)
        parts.push_back(part);
    if (parts.size() != 5 && parts.size() != 6)
        return false;
    RawShape read;
    // Sides and channels as plain decimal counts, so that "1e3" or "0x10" is no size.
    const auto count = [](const std::string& word, int* value) {
        if (word.empty() || word.size() > 9 ||
            !std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        *value = std::atoi(word.c_str());
        return *value > 0;
    };
    for (int k = 0; k < 3; ++k)
        if (!count(parts[std::size_t(k)], &read.sizes[k]))
            return false;
    bool known = false;
    for (SampleType type :
         {SampleType::UInt8, SampleType::Int8, SampleType::UInt16, SampleType::Int16,
          SampleType::UInt32, SampleType::Int32, SampleType::Float32, SampleType::Float64})
        if (parts[3] == sampleTypeName(type)) {
            read.type = type;
            known = true;
        }
    if (!known || (parts[4] != "le" && parts[4] != "be"))
        return false;
    read.bigEndian = parts[4] == "be";
    if (parts.size() == 6 && !count(parts[5], &read.channels))
        return false;
    read.given = true;
    read.offset = shape->offset;
    *shape = read;
    return true;
}
