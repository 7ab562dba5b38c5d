#include "dicomdecoded.h"

#include "contained.h"
#include "systemmemory.h"

#include <algorithm>

bool DecodedDicomFiles::take(const std::string& file, const DicomLayout& layout,
                             DicomPixels* decoded) {
    Entry entry;
    {
        std::lock_guard<std::mutex> hold(lock);
        const auto found = files.find(file);
        if (found == files.end())
            return false;
        entry = std::move(found->second);
        files.erase(found);
    }
    const DicomLayout& had = entry.layout;
    const std::uint64_t bytes = std::uint64_t(layout.columns) * std::uint64_t(layout.rows) *
                                std::uint64_t(layout.frames) * std::uint64_t(layout.channels) *
                                sampleTypeBytes(layout.type);
    if (had.columns != layout.columns || had.rows != layout.rows || had.frames != layout.frames ||
        had.channels != layout.channels || had.type != layout.type || entry.pixels.size() != bytes)
        return false;
    *decoded = DicomPixels();
    decoded->pixels = std::move(entry.pixels);
    decoded->slope = entry.slope;
    decoded->intercept = entry.intercept;
    return true;
}

std::uint64_t decodedDicomBudget() {
    const std::int64_t available = availableMemory();
    const std::uint64_t limit = defaultMemoryLimit() / 4;
    return available > 0 ? std::min(limit, std::uint64_t(available) / 4) : 0;
}

void writeDecodedDicom(ResultWriter* out, const std::string& file, const DicomLayout& layout,
                       const DicomPixels& decoded) {
    out->text(file);
    for (int value :
         {layout.columns, layout.rows, layout.frames, layout.channels, int(layout.type)})
        out->integer(value);
    out->real(decoded.slope);
    out->real(decoded.intercept);
    out->number(decoded.pixels.size());
    out->out->insert(out->out->end(), decoded.pixels.begin(), decoded.pixels.end());
}

bool readDecodedDicom(ResultReader* in, std::uint64_t count, DecodedDicomFiles* files) {
    for (std::uint64_t k = 0; k < count; ++k) {
        std::string file;
        DecodedDicomFiles::Entry entry;
        DicomLayout& layout = entry.layout;
        int type = 0;
        std::uint64_t size = 0;
        if (!in->text(&file) || !in->integer(&layout.columns) || !in->integer(&layout.rows) ||
            !in->integer(&layout.frames) || !in->integer(&layout.channels) || !in->integer(&type) ||
            type < 0 || type > int(SampleType::Float64) || !in->real(&entry.slope) ||
            !in->real(&entry.intercept) || !in->count(1, &size))
            return false;
        layout.type = SampleType(type);
        const auto start = in->in.begin() + std::ptrdiff_t(in->pos);
        entry.pixels.assign(start, start + std::ptrdiff_t(size));
        in->pos += size;
        files->files[file] = std::move(entry);
    }
    return true;
}
