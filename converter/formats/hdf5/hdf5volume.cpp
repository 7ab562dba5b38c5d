#include "hdf5/hdf5volume.h"

#include "hdf5/hdf5file.h"
#include "hdf5/hdf5layouts.h"
#include "files.h"
#include "text.h"
#include "messages.h"
#include "storedsamples.h"
#include "systemmemory.h"
#include "tasks.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

namespace {
// A slab's samples, all channels, are held at most about this many bytes (one slice at least).
const std::size_t slabBudget = std::size_t(32) << 20;
// Slices to a read where a dataset is not chunked.
const std::uint64_t unchunkedDepth = 16;

// The samples of a slab of slices, every read's, read by a child.
struct Slab {
    int start = -1; // -1 until the slab is whole
    SharedSamples samples;
    std::string failure;
};

// Slabs read ahead of the one in use, each by a child of its own: decompressing, libhdf5 is
// one core a child.
const int slabsAhead = 2;

// Reads a level a slab of slices at a time: as deep as a chunk where the memory allows, so that
// each chunk is read and decompressed once. Slab k is kept in slot k % (slabsAhead + 1). A slab's
// slices are used as its child writes them, a chunk's depth at a time, not once it has ended.
struct SlabReader {
    QString path;
    Hdf5Level level;
    VolumeInfo info;
    SampleType stored = SampleType::UInt8; // the datasets' type
    Hdf5Values values;                     // a netCDF-4 variable's masks and packing
    MincScaling minc;                      // a MINC2 image's real values
    int slabDepth = 1;
    std::uint64_t step = 1; // slices the child reads at once
    Slab slabs[slabsAhead + 1];
    int loading[slabsAhead + 1] = {}; // the start of the slab each slot's load reads
    Task<void> loads[slabsAhead + 1]; // last, so that they end before the slabs go

    ~SlabReader() {
        for (Task<void>& load : loads)
            if (load.valid())
                load.wait();
    }

    std::size_t planeSamples() const { return std::size_t(info.width) * std::size_t(info.height); }
    // A slice as the datasets hold it, which the child writes.
    std::uint64_t storedSliceBytes() const {
        return std::uint64_t(planeSamples()) * std::uint64_t(info.channels) *
               sampleTypeBytes(stored);
    }
    int slabCount(int start) const { return std::min(slabDepth, info.depth - start); }
    std::vector<Hdf5Block> blocks(int z0, int count) const {
        std::vector<Hdf5Block> blocks;
        const std::uint64_t h = std::uint64_t(info.height), w = std::uint64_t(info.width);
        for (const Hdf5Read& read : level.reads) {
            Hdf5Block block{
                read.dataset, {std::uint64_t(z0), 0, 0}, {std::uint64_t(count), h, w}, stored};
            if (read.lead >= 0) {
                block.start.insert(block.start.begin(), std::uint64_t(read.lead));
                block.count.insert(block.count.begin(), 1);
                block.depthAxis = 1;
            } else if (read.trailing > 0) {
                block.start.push_back(0);
                block.count.push_back(std::uint64_t(read.trailing));
            }
            blocks.push_back(block);
        }
        return blocks;
    }
    void load(int start, Slab* slab) const {
        slab->start = -1;
        slab->failure = readHdf5Blocks(path, blocks(start, slabCount(start)), step, &slab->samples);
        if (slab->failure.empty())
            slab->start = start;
    }
    // Starts reading slab k on another thread, unless its slot holds it or is reading it. The
    // room is reserved here, as read looks at the slot while the child writes it.
    void readAhead(int k) {
        const int start = k * slabDepth, at = k % (slabsAhead + 1);
        if (start >= info.depth)
            return;
        if (loads[at].valid()) { // the slot is looked at only once its load has ended
            if (loading[at] == start)
                return;
            loads[at].get();
        }
        if (slabs[at].start == start)
            return;
        Slab& slab = slabs[at];
        slab.start = -1;
        if (!slab.samples.reserve(std::uint64_t(slabDepth) * storedSliceBytes()))
            return; // read loads it and says why
        slab.samples.slicesDone().store(0, std::memory_order_relaxed);
        loading[at] = start;
        loads[at] = startTask([this, start, at] { load(start, &slabs[at]); });
    }
    // Whether the child reading slot at has written slice z of its slab; waits while it reads.
    // A slab's last slice waits for the child to end well, so that no pass gets a slab whole
    // from a child that did not.
    bool written(int at, int z, int count) {
        if (z == count - 1)
            return false;
        const std::atomic<std::uint32_t>& done = slabs[at].samples.slicesDone();
        while (done.load(std::memory_order_acquire) <= std::uint32_t(z))
            if (loads[at].waitFor(std::chrono::microseconds(200)))
                return done.load(std::memory_order_acquire) > std::uint32_t(z);
        return true;
    }
    std::string read(int z, void* samples) {
        if (z < 0 || z >= info.depth)
            return ("no slice " + std::to_string(z));
        const int k = z / slabDepth, at = k % (slabsAhead + 1), start = k * slabDepth;
        // This slab and the next start before this one is waited for.
        for (int ahead = 0; ahead <= slabsAhead; ++ahead)
            readAhead(k + ahead);
        Slab& slab = slabs[at];
        const bool inFlight = loads[at].valid() && loading[at] == start;
        if (!inFlight || !written(at, z - start, slabCount(start))) {
            if (loads[at].valid()) // the slot is looked at only once its load has ended
                loads[at].get();
            if (slab.start != start) { // a failed read ahead fails here again, or a new pass
                load(start, &slab);
                if (slab.start < 0)
                    return slab.failure;
            }
        }
        if (!values.active && !minc.active) {
            copySlice(slab.samples.data(), slabCount(start), z - start,
                      static_cast<unsigned char*>(samples));
            return std::string();
        }
        const std::size_t count = planeSamples() * std::size_t(info.channels);
        std::vector<unsigned char> raw(count * sampleTypeBytes(stored));
        copySlice(slab.samples.data(), slabCount(start), z - start, raw.data());
        if (minc.active)
            applyMincScaling(minc, stored, raw.data(), z, info.height,
                             std::size_t(info.width) * std::size_t(info.channels),
                             static_cast<float*>(samples));
        else
            applyHdf5Values(values, stored, raw.data(), count, static_cast<float*>(samples));
        return std::string();
    }
    // Interleaves the reads' channels of slice z of a slab of count slices into samples.
    void copySlice(const unsigned char* slab, int count, int z, unsigned char* samples) const {
        const std::size_t bytes = sampleTypeBytes(stored), plane = planeSamples();
        const std::size_t perRead = std::size_t(info.channels) / level.reads.size();
        const std::size_t run = perRead * bytes, pixel = std::size_t(info.channels) * bytes;
        for (std::size_t r = 0; r < level.reads.size(); ++r) {
            const unsigned char* from =
                slab + (r * std::size_t(count) + std::size_t(z)) * plane * run;
            if (level.reads.size() == 1) {
                std::memcpy(samples, from, plane * run);
                continue;
            }
            unsigned char* to = samples + r * run;
            for (std::size_t i = 0; i < plane; ++i)
                std::memcpy(to + i * pixel, from + i * run, run);
        }
    }
};

// Slices to a chunk, or to a read of a dataset that is not chunked.
std::uint64_t chunkDepth(const Hdf5Level& level) {
    const std::uint64_t chunk = level.reads[0].chunkDepth;
    return chunk ? chunk : unchunkedDepth;
}

// Slices to a slab: a chunk's depth, or less where the budget allows no more. A level of few
// chunk rows is cut into about one slab a core instead, each several rows deep, since a child
// costs about as much to start as a few chunks cost to decompress.
// The bytes a slab may take: the budget, or a chunk's depth of slices where that is more and
// the slabs held at once take at most a quarter of the memory available, so that a chunk is
// decompressed once however wide the slices are.
std::uint64_t slabBytes(std::uint64_t chunkSlab) {
    if (chunkSlab <= slabBudget)
        return slabBudget;
    const std::int64_t available = availableMemory();
    const bool room = available < 0 || (slabsAhead + 1) * chunkSlab <= std::uint64_t(available) / 4;
    return room ? chunkSlab : slabBudget;
}

int slabDepthFor(const Hdf5Level& level, const VolumeInfo& info) {
    const std::uint64_t depth = std::uint64_t(info.depth), unit = chunkDepth(level);
    const std::size_t slice = std::max<std::size_t>(1, sliceBytes(info));
    const std::uint64_t fits = std::max<std::uint64_t>(1, slabBytes(unit * slice) / slice);
    if (fits < unit || depth <= unit)
        return int(std::min(fits, depth));
    const std::uint64_t cores = std::max(1u, std::thread::hardware_concurrency());
    const std::uint64_t rows = (depth + unit - 1) / unit, perCore = (rows + cores - 1) / cores;
    return int(std::min(unit * std::min(perCore, fits / unit), depth));
}

std::string sizesText(const int sizes[3]) {
    return formatString("%d x %d x %d", sizes[0], sizes[1], sizes[2]);
}

// The range of --size N that reads each level, as words.
std::vector<std::string> sizeRanges(const std::vector<PyramidLevel>& levels) {
    std::vector<int> lo(levels.size(), 0), hi(levels.size(), 0);
    for (int n = 1; n <= 16384; ++n) {
        const int picked = pickPyramidLevel(levels, n);
        if (picked < 0)
            break;
        if (lo[std::size_t(picked)] == 0)
            lo[std::size_t(picked)] = n;
        hi[std::size_t(picked)] = n;
    }
    std::vector<std::string> words;
    for (std::size_t l = 0; l < levels.size(); ++l)
        words.push_back(lo[l] == 0 ? "no --size"
                        : l == 0   ? formatString("--size %d and up, or none", lo[l])
                                   : formatString("--size %d to %d", lo[l], hi[l]));
    return words;
}
} // namespace

// A BigDataViewer .xml stands for the HDF5 file it names; any other input for itself.
std::string bigDataViewerInput(const QString& input, QString* path) {
    if (QFileInfo(input).suffix().toLower() != "xml")
        return std::string();
    return bigDataViewerFile(input, path);
}

bool isHdf5File(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == "h5" || suffix == "hdf5" || suffix == "he5" || suffix == "ims")
        return true;
    FileHandle file = openFile(QFile::encodeName(path).constData(), "rb");
    unsigned char start[8];
    return file && std::fread(start, 1, sizeof start, file.get()) == sizeof start &&
           std::memcmp(start, "\x89HDF\r\n\x1a\n", 8) == 0;
}

std::string openHdf5Source(const QString& input, const InputSelection& selection,
                           TypedSource* source) {
    QString path = input;
    std::string failure = bigDataViewerInput(input, &path);
    Hdf5Contents contents;
    Hdf5Layout layout;
    if (failure.empty())
        failure = listHdf5(path, &contents);
    if (failure.empty())
        failure = readHdf5Layout(path, contents, selection, &layout);
    if (!failure.empty())
        return failure;
    auto reader = std::make_shared<SlabReader>();
    VolumeInfo& info = reader->info;
    info.format = layout.format;
    info.type = layout.type;
    info.channels = layout.channels;
    info.spacingKnown = layout.spacingKnown;
    for (bool& known : info.axisSpacingKnown)
        known = layout.spacingKnown;
    info.channelDisplay = layout.display;
    info.storedType = layout.storedType;
    info.axes = layout.axes;
    int picked = 0;
    if (layout.levels.size() > 1) {
        for (const Hdf5Level& level : layout.levels)
            info.levels.push_back(level.level);
        picked = pickPyramidLevel(info.levels, selection.size);
        info.level = picked;
    }
    reader->level = layout.levels[std::size_t(picked)];
    const PyramidLevel& level = reader->level.level;
    info.width = level.sizes[0];
    info.height = level.sizes[1];
    info.depth = level.sizes[2];
    std::copy(level.spacing, level.spacing + 3, info.spacing);
    failure = checkVolumeSizes(info);
    if (!failure.empty())
        return (failure);
    reader->path = path;
    reader->stored = layout.stored;
    reader->values = layout.values;
    reader->minc = layout.minc;
    reader->slabDepth = slabDepthFor(reader->level, info);
    reader->step = std::min<std::uint64_t>(chunkDepth(reader->level), reader->slabDepth);
    source->info = info;
    source->memory = (slabsAhead + 1) * std::uint64_t(reader->slabDepth) *
                     std::max<std::uint64_t>(sliceBytes(info), reader->storedSliceBytes());
    source->files = layout.files;
    if (path != input) // the .h5 a BigDataViewer .xml names
        source->files.push_back(QFile::encodeName(path).toStdString());
    source->read = [reader](int z, void* samples) { return reader->read(z, samples); };
    source->costlyReads = true; // a child decoding chunks: once a pack, not once a pass
    guardReads(source);
    return std::string();
}

std::string openMincSource(const QString& path, const InputSelection& selection,
                           TypedSource* source) {
    FileHandle file = openFile(QFile::encodeName(path).constData(), "rb");
    char start[4];
    if (file && std::fread(start, 1, sizeof start, file.get()) == sizeof start &&
        std::memcmp(start, "CDF", 3) == 0 && (start[3] == 1 || start[3] == 2))
        return "a MINC1 file (netCDF), which pack does not read: convert it to MINC2 with "
               "mincconvert -2 first";
    return openHdf5Source(path, selection, source);
}

std::string describeHdf5(const QString& input, const InputSelection& selection) {
    QString path = input;
    if (!bigDataViewerInput(input, &path).empty() || !isHdf5File(path))
        return std::string();
    Hdf5Contents contents;
    Hdf5Layout layout;
    if (!listHdf5(path, &contents).empty())
        return std::string();
    // A pyramid of several time points shows its levels as the first has them.
    InputSelection first = selection;
    first.volume = 0;
    if (!readHdf5Layout(path, contents, selection, &layout).empty() &&
        (selection.volume >= 0 || !readHdf5Layout(path, contents, first, &(layout = {})).empty()))
        return "  datasets (path, shape slowest axis first, type)\n" + listHdf5Datasets(contents);
    std::string lines;
    if (layout.timePoints > 1)
        lines += formatString("  time points      %d (--volume T picks one)\n", layout.timePoints);
    if (!layout.note.empty())
        lines += "  note             " + layout.note + "\n";
    if (layout.levels.size() < 2)
        return lines;
    std::vector<PyramidLevel> levels;
    for (const Hdf5Level& level : layout.levels)
        levels.push_back(level.level);
    const int picked = pickPyramidLevel(levels, selection.size);
    const std::vector<std::string> ranges = sizeRanges(levels);
    lines += "  levels           finest first; --size N reads the coarsest with N samples a side\n";
    for (std::size_t l = 0; l < levels.size(); ++l)
        lines += formatString("    %-2d %-20s spacing %g, %g, %g  %s%s\n", int(l),
                              sizesText(levels[l].sizes).c_str(), levels[l].spacing[0],
                              levels[l].spacing[1], levels[l].spacing[2], ranges[l].c_str(),
                              int(l) == picked ? "  (pack reads this one)" : "");
    return lines;
}

void printHdf5Contents(const QString& path) {
    std::printf("%s", describeHdf5(path, InputSelection()).c_str());
}

InputFormat hdf5InputFormat() {
    return {
        "HDF5",
        "an HDF5 file (.h5, .hdf5, .he5, .ims): an Imaris or BigDataViewer pyramid (the level as\n"
        "      for Zarr; a BigDataViewer .xml reads the .h5 it names), or any 3-D or 4-D dataset\n"
        "      picked with --dataset PATH",
        {"h5", "hdf5", "he5", "ims", "xml"},
        [](const std::string& start) { return hasMarkAt(start, 0, "\x89HDF\r\n\x1a\n"); },
        openHdf5Source,
        printHdf5Contents,
        {},
        "hdf5",
        nullptr,
        picksVolume | picksDataset,
        {{"application/x-hdf", nullptr, {"h5", "hdf5"}},
         {"application/x-hdf-eos5", "HDF-EOS5 file", {"he5"}, "application/x-hdf"},
         {"application/x-imaris", "Imaris image", {"ims"}, "application/x-hdf"}},
        {"xml"}};
}
