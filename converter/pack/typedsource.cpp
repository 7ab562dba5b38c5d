#include "typedsource.h"

#include <algorithm>
#include <cmath>

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
    const PyramidLevel& level = levels[std::size_t(l)];
    const double finest = *std::min_element(level.spacing, level.spacing + 3);
    long long side = -1;
    for (int k = 0; k < 3 && finest > 0; ++k) {
        // An axis of one sample (a single slice) has nothing to lose.
        if (levels[0].sizes[k] > 1) {
            const long long n = std::llround(level.sizes[k] * level.spacing[k] / finest);
            side = side < 0 ? n : std::min(side, n);
        }
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
