#include "dicomdecoded.h"

#include "contained.h"
#include "systemmemory.h"

#include <algorithm>

namespace {
std::uint64_t layoutBytes(const DicomLayout& layout) {
    return std::uint64_t(layout.columns) * std::uint64_t(layout.rows) *
           std::uint64_t(layout.frames) * std::uint64_t(layout.channels) *
           sampleTypeBytes(layout.type);
}

// Whether the file's pixels hold what the layout says.
bool holds(const DecodedDicomFile& file, const DicomLayout& layout) {
    return file.columns == layout.columns && file.rows == layout.rows &&
           file.frames == layout.frames && file.channels == layout.channels &&
           file.type == int(layout.type) && file.pixels.size() == layoutBytes(layout);
}

void fill(DecodedDicomFile&& file, DicomPixels* decoded) {
    *decoded = DicomPixels();
    decoded->pixels = std::move(file.pixels);
    decoded->slope = file.slope;
    decoded->intercept = file.intercept;
    for (std::size_t k = 0; k < 3 && k < file.spacing.size(); ++k)
        decoded->spacing[k] = file.spacing[k];
    for (std::size_t k = 0; k < 6 && k < file.cosines.size(); ++k)
        decoded->cosines[k] = file.cosines[k];
    decoded->framePositions = std::move(file.framePositions);
    std::copy_n(file.spacingGiven, 3, decoded->spacingGiven);
    decoded->orientationGiven = file.orientationGiven;
}
} // namespace

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
    if (!holds(entry, layout))
        return false;
    fill(std::move(entry), decoded);
    return true;
}

bool DecodedDicomFiles::takeFirst(const std::string& file, DicomLayout* layout,
                                  DicomPixels* decoded) {
    DicomLayout found;
    {
        std::lock_guard<std::mutex> hold(lock);
        const auto entry = files.find(file);
        if (entry == files.end() || entry->second.type < 0 ||
            entry->second.type > int(SampleType::Float64))
            return false;
        const DecodedDicomFile& f = entry->second;
        found = {f.columns, f.rows, f.frames, f.channels, SampleType(f.type)};
    }
    if (found.columns <= 0 || found.rows <= 0 || found.frames <= 0 || found.channels <= 0 ||
        !take(file, found, decoded))
        return false;
    *layout = found;
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
    file.spacing.assign(decoded.spacing, decoded.spacing + 3);
    file.cosines.assign(decoded.cosines, decoded.cosines + 6);
    file.framePositions = decoded.framePositions;
    std::copy_n(decoded.spacingGiven, 3, file.spacingGiven);
    file.orientationGiven = decoded.orientationGiven;
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
