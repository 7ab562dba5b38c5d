#include "dicomdecoded.h"

#include "contained.h"
#include "systemmemory.h"

#include <algorithm>

bool DecodedDicomFiles::take(const std::string& file, const DicomLayout& layout,
                             DicomPixels* decoded) {
    DecodedDicomFile entry;
    {
        std::lock_guard<std::mutex> hold(lock);
        const auto found = files.find(file);
        if (found == files.end())
            return false;
        entry = std::move(found->second);
        files.erase(found);
    }
    const std::uint64_t bytes = std::uint64_t(layout.columns) * std::uint64_t(layout.rows) *
                                std::uint64_t(layout.frames) * std::uint64_t(layout.channels) *
                                sampleTypeBytes(layout.type);
    if (entry.columns != layout.columns || entry.rows != layout.rows ||
        entry.frames != layout.frames || entry.channels != layout.channels ||
        entry.type != int(layout.type) || entry.pixels.size() != bytes)
        return false;
    *decoded = DicomPixels();
    decoded->pixels = std::move(entry.pixels);
    decoded->slope = entry.slope;
    decoded->intercept = entry.intercept;
    return true;
}

std::uint64_t DecodedDicomFiles::bytes() {
    std::lock_guard<std::mutex> hold(lock);
    std::uint64_t sum = 0;
    for (const auto& entry : files)
        sum += entry.second.pixels.size();
    return sum;
}

std::uint64_t decodedDicomBudget() {
    const std::int64_t available = availableMemory();
    const std::uint64_t limit = defaultMemoryLimit() / 4;
    return available > 0 ? std::min(limit, std::uint64_t(available) / 4) : 0;
}

DecodedDicomFile decodedDicomFile(const std::string& path, const DicomLayout& layout,
                                  DicomPixels&& decoded) {
    DecodedDicomFile file;
    file.path = path;
    file.columns = layout.columns;
    file.rows = layout.rows;
    file.frames = layout.frames;
    file.channels = layout.channels;
    file.type = int(layout.type);
    file.slope = decoded.slope;
    file.intercept = decoded.intercept;
    file.pixels = std::move(decoded.pixels);
    return file;
}

bool readDecodedDicom(ResultReader* in, DecodedDicomFiles* files) {
    std::vector<DecodedDicomFile> list;
    if (!in->field(list))
        return false;
    for (DecodedDicomFile& file : list) {
        std::string path = file.path;
        files->files[path] = std::move(file);
    }
    return true;
}
