#include "typedsource.h"

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
