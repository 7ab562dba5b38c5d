#include "volumefile.h"

#include "files.h"
#include "littleendian.h"
#include "systemmemory.h"

#include <cstring>
#include <new>

using namespace volumeLayout;

namespace {
void putInt(std::vector<unsigned char>& bytes, int offset, std::int32_t value) {
    const std::uint32_t word = std::uint32_t(value);
    for (int i = 0; i < 4; ++i)
        bytes[std::size_t(offset + i)] = static_cast<unsigned char>(word >> (8 * i));
}
} // namespace

bool hasVolumeMagic(const unsigned char* bytes, std::size_t length) {
    // A file too short to hold the header cannot carry the magic either.
    return length >= std::size_t(headerSize) && std::memcmp(bytes + magicOffset, magic, 4) == 0;
}

std::string parseVolumeHeader(const unsigned char* bytes, std::size_t length,
                              VolumeHeader* header) {
    if (!hasVolumeMagic(bytes, length))
        return volumeMessages::badMagic;
    header->version = littleEndianInt(bytes + versionOffset);
    header->components = littleEndianInt(bytes + componentsOffset);
    header->componentType = littleEndianInt(bytes + componentTypeOffset);
    header->size = littleEndianInt(bytes + sizeOffset);
    const char* field = reinterpret_cast<const char*>(bytes + nameOffset);
    header->name.assign(field, strnlen(field, nameLength));
    if (header->version != version)
        return volumeMessages::badVersion;
    if (header->components != components)
        return volumeMessages::notRgb;
    if (header->componentType != componentType)
        return volumeMessages::notBytes;
    if (header->size <= 0 || header->size > maxSize)
        return volumeMessages::badSize;
    return std::string();
}

std::vector<unsigned char> encodeVolumeHeader(const VolumeHeader& header) {
    std::vector<unsigned char> bytes(headerSize, 0);
    std::memcpy(bytes.data() + magicOffset, magic, 4);
    putInt(bytes, versionOffset, header.version);
    std::memcpy(bytes.data() + nameOffset, header.name.data(),
                std::min(header.name.size(), std::size_t(nameLength - 1)));
    putInt(bytes, sizeOffset, header.size);
    putInt(bytes, componentsOffset, header.components);
    putInt(bytes, componentTypeOffset, header.componentType);
    return bytes;
}

std::uint64_t volumeSampleBytes(std::int32_t n) {
    return 3 * std::uint64_t(n) * std::uint64_t(n) * std::uint64_t(n);
}

std::string readVolumeHeader(std::FILE* file, VolumeHeader* header) {
    unsigned char bytes[headerSize];
    const std::size_t length = std::fread(bytes, 1, sizeof bytes, file);
    return parseVolumeHeader(bytes, length, header);
}

std::string checkVolumeLength(std::FILE* file, std::int32_t n) {
    return checkVolumeSamples(n, remainingBytes(file), nullptr, -1);
}

std::string checkVolumeMemory(std::int32_t n, std::int64_t availableMemory) {
    if (availableMemory >= 0 && volumeSampleBytes(n) > std::uint64_t(availableMemory))
        return volumeMessages::outOfMemory;
    return std::string();
}

std::string checkVolumeSamples(std::int32_t n, std::int64_t sampleBytes, const VolumeGlStep& glStep,
                               std::int64_t availableMemory) {
    std::string failure = glStep ? glStep(n) : std::string();
    if (failure.empty() && (sampleBytes < 0 || std::uint64_t(sampleBytes) < volumeSampleBytes(n)))
        failure = volumeMessages::truncated;
    if (failure.empty())
        failure = checkVolumeMemory(n, availableMemory);
    return failure;
}

std::string checkVolumeFile(const char* path, const VolumeGlStep& glStep,
                            std::int64_t availableMemory, FileHandle* file, VolumeHeader* header) {
    *file = openFile(path, "rb");
    if (!*file)
        return inputMessages::cantOpen;
    const std::string failure = readVolumeHeader(file->get(), header);
    if (!failure.empty())
        return failure;
    return checkVolumeSamples(header->size, remainingBytes(file->get()), glStep, availableMemory);
}

std::string readVolumeSamples(std::FILE* file, std::int32_t n,
                              std::unique_ptr<unsigned char[]>* samples,
                              std::int64_t availableMemory) {
    // The sizes are checked before anything is allocated: against the bytes the file really
    // has, then against the memory the system can give without killing the process.
    std::string failure = checkVolumeLength(file, n);
    if (!failure.empty())
        return failure;
    samples->reset(); // the previous volume's samples make room for these
    failure = checkVolumeMemory(n, availableMemory);
    if (!failure.empty())
        return failure;
    const std::uint64_t count = volumeSampleBytes(n);
    // Uninitialised on purpose: the read fills every byte, and zero-filling hundreds of
    // megabytes first would cost as much as the read.
    samples->reset(new (std::nothrow) unsigned char[count]);
    if (!*samples)
        return volumeMessages::outOfMemory;
    if (std::fread(samples->get(), 1, count, file) != count)
        return volumeMessages::truncated;
    return std::string();
}

bool isSafePictureName(const std::string& name) {
    if (!name.empty() && name[0] == '/')
        return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string::npos)
            end = name.size();
        if (name.compare(start, end - start, "..") == 0)
            return false;
        start = end + 1;
    }
    return true;
}
