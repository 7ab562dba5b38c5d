#include "hdf5bench.h"

#include "inflatebench.h"

#include "allocator.h"

#include "formattable.h"
#include "memory.h"
#include "pyramids.h"
#include "packplan.h"
#include "slicestream.h"

#include <hdf5.h>
#include <malloc.h>

#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
const int levels = 4, chunk = 64;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void textAttribute(hid_t object, const char* name, const std::string& value) {
    const hid_t type = H5Tcopy(H5T_C_S1);
    H5Tset_size(type, 1);
    const hsize_t count = value.size();
    const hid_t space = H5Screate_simple(1, &count, nullptr);
    const hid_t attribute = H5Acreate2(object, name, type, space, H5P_DEFAULT, H5P_DEFAULT);
    H5Awrite(attribute, type, value.data());
    H5Aclose(attribute);
    H5Sclose(space);
    H5Tclose(type);
}

hid_t createGroup(hid_t file, const std::string& path) {
    const hid_t create = H5Pcreate(H5P_LINK_CREATE);
    H5Pset_create_intermediate_group(create, 1);
    const hid_t group = H5Gcreate2(file, path.c_str(), create, H5P_DEFAULT, H5P_DEFAULT);
    H5Pclose(create);
    return group;
}

// The group of level r's only channel, as Imaris names it.
std::string channelGroup(int r) {
    return "/DataSet/ResolutionLevel " + std::to_string(r) + "/TimePoint 0/Channel 0";
}

// Writes level r (side >> r a side) a chunk's depth of slices at a time.
bool writeLevel(hid_t file, int r, int side) {
    const int n = side >> r;
    const hid_t channel = createGroup(file, channelGroup(r));
    for (const char* axis : {"ImageSizeX", "ImageSizeY", "ImageSizeZ"})
        textAttribute(channel, axis, std::to_string(n));
    const hsize_t padded = hsize_t((n + chunk - 1) / chunk * chunk),
                  dims[3] = {padded, padded, padded};
    const hsize_t chunks[3] = {hsize_t(std::min(chunk, n)), hsize_t(std::min(chunk, n)),
                               hsize_t(std::min(chunk, n))};
    const hid_t space = H5Screate_simple(3, dims, nullptr), create = H5Pcreate(H5P_DATASET_CREATE);
    H5Pset_chunk(create, 3, chunks);
    H5Pset_deflate(create, 1); // as Imaris writes its files
    const hid_t data =
        H5Dcreate2(channel, "Data", H5T_NATIVE_UINT16, space, H5P_DEFAULT, create, H5P_DEFAULT);
    bool good = data >= 0;
    const hsize_t depth = chunks[0];
    std::vector<std::uint16_t> slab(std::size_t(depth * padded * padded));
    for (hsize_t z0 = 0; good && z0 < padded; z0 += depth) {
        std::size_t i = 0;
        for (hsize_t z = z0; z < z0 + depth; ++z)
            for (hsize_t y = 0; y < padded; ++y)
                for (hsize_t x = 0; x < padded; ++x)
                    slab[i++] = pyramidSample(r, (long long)x, (long long)y, (long long)z);
        const hsize_t start[3] = {z0, 0, 0}, count[3] = {depth, padded, padded};
        const hid_t memory = H5Screate_simple(3, count, nullptr);
        H5Sselect_hyperslab(space, H5S_SELECT_SET, start, nullptr, count, nullptr);
        good = H5Dwrite(data, H5T_NATIVE_UINT16, memory, space, H5P_DEFAULT, slab.data()) >= 0;
        H5Sclose(memory);
    }
    H5Dclose(data);
    H5Pclose(create);
    H5Sclose(space);
    H5Gclose(channel);
    return good;
}

bool writeImaris(const QString& path, int side) {
    const hid_t file =
        H5Fcreate(QFile::encodeName(path).constData(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    if (file < 0)
        return false;
    const hid_t image = createGroup(file, "/DataSetInfo/Image");
    for (int k = 0; k < 3; ++k) {
        textAttribute(image, ("ExtMin" + std::to_string(k)).c_str(), "0");
        textAttribute(image, ("ExtMax" + std::to_string(k)).c_str(), std::to_string(side));
    }
    H5Gclose(image);
    bool good = true;
    for (int r = 0; good && r < levels; ++r)
        good = writeLevel(file, r, side);
    return H5Fclose(file) >= 0 && good;
}

// Level r's samples read alone, a chunk's depth of slices at a time; its bytes, or 0.
std::uint64_t readLevelAlone(const QString& path, int r, int side) {
    const int n = side >> r;
    const hid_t file = H5Fopen(QFile::encodeName(path).constData(), H5F_ACC_RDONLY, H5P_DEFAULT);
    const std::string name = channelGroup(r) + "/Data";
    const hid_t data = H5Dopen2(file, name.c_str(), H5P_DEFAULT), space = H5Dget_space(data);
    const hsize_t depth = hsize_t(std::min(chunk, n));
    std::vector<std::uint16_t> slab(std::size_t(depth) * std::size_t(n) * std::size_t(n));
    std::uint64_t bytes = 0;
    for (hsize_t z0 = 0; data >= 0 && z0 < hsize_t(n); z0 += depth) {
        const hsize_t start[3] = {z0, 0, 0}, count[3] = {depth, hsize_t(n), hsize_t(n)};
        const hid_t memory = H5Screate_simple(3, count, nullptr);
        H5Sselect_hyperslab(space, H5S_SELECT_SET, start, nullptr, count, nullptr);
        if (H5Dread(data, H5T_NATIVE_UINT16, memory, space, H5P_DEFAULT, slab.data()) >= 0)
            bytes += slab.size() * 2;
        H5Sclose(memory);
    }
    H5Sclose(space);
    H5Dclose(data);
    H5Fclose(file);
    return bytes;
}

// The bytes level r's compressed chunks take in the file.
std::uint64_t storedBytes(const QString& path, int r) {
    const hid_t file = H5Fopen(QFile::encodeName(path).constData(), H5F_ACC_RDONLY, H5P_DEFAULT);
    const std::string name = channelGroup(r) + "/Data";
    const hid_t data = H5Dopen2(file, name.c_str(), H5P_DEFAULT);
    const std::uint64_t bytes = data >= 0 ? H5Dget_storage_size(data) : 0;
    H5Dclose(data);
    H5Fclose(file);
    return bytes;
}

// Bytes this process and its waited-for children have read (rchar: files and pipes alike).
std::uint64_t bytesRead() {
    FILE* io = std::fopen("/proc/self/io", "r");
    unsigned long long value = 0;
    if (io) {
        if (std::fscanf(io, "rchar: %llu", &value) != 1)
            value = 0;
        std::fclose(io);
    }
    return value;
}

// CPU seconds this process and its waited-for children have used, user and system.
struct CpuSeconds {
    double user = 0, system = 0;
    double total() const { return user + system; }
    CpuSeconds since(const CpuSeconds& start) const {
        return {user - start.user, system - start.system};
    }
};

CpuSeconds cpuSeconds() {
    CpuSeconds seconds;
    const auto of = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage = {};
        getrusage(who, &usage);
        seconds.user += of(usage.ru_utime);
        seconds.system += of(usage.ru_stime);
    }
    return seconds;
}

// One level packed as a user packs it, and read alone through libhdf5.
struct LevelCost {
    CpuSeconds packed, alone;
    double wall = 0, peak = 0;
    std::string failure;
};

// Level r packed with no --window (a range pass, then the mapping) to half its side, the slices
// dropped.
LevelCost packLevel(const QString& path, int r, int side) {
    LevelCost cost;
    const int size = std::min((side >> r) / 2, 512);
    CpuSeconds start = cpuSeconds();
    if (readLevelAlone(path, r, side) == 0) {
        cost.failure = "can't read level " + std::to_string(r) + " back";
        return cost;
    }
    cost.alone = cpuSeconds().since(start);
    // The level read alone goes back to the system, as after writing: the pack's reader
    // children would be forked from it, and every page of it the pack then used copied.
    malloc_trim(0);
    resetPeakRss();
    const double before = kibToMb(procStatusKiB("VmRSS"));
    const auto wall = Clock::now();
    start = cpuSeconds();
    cost.failure = packDropped(path, size, -1, channelGroup(r) + "/Data");
    cost.packed = cpuSeconds().since(start);
    cost.wall = secondsSince(wall);
    cost.peak = kibToMb(procStatusKiB("VmHWM")) - before;
    return cost;
}

// The finest level packed as a user packs it: its CPU time against libhdf5 reading the same
// level alone, and against the next level's pack, of an eighth of the samples.
void benchmarkFinestLevel(const QString& path, int side) {
    const LevelCost finest = packLevel(path, 0, side), next = packLevel(path, 1, side);
    for (const LevelCost* cost : {&finest, &next})
        if (!cost->failure.empty()) {
            std::printf("FAILED: %s\n", cost->failure.c_str());
            return;
        }
    std::printf("\nLevel 0 (%d^3) packed with --size %d and no --window (a range pass, then the "
                "mapping); bound = reading level 0 through libhdf5 here, once\n",
                side, std::min(side / 2, 512));
    std::printf("%-28s %12.2f %12.2f %7.2f %8s\n", "CPU seconds, children too",
                finest.packed.total(), finest.alone.total(),
                finest.packed.total() / finest.alone.total(), "<= 1.30");
    // The kernel's share: the file's reads, the children, and the decoded level kept on disk.
    std::printf("%-28s %12.2f %12.2f\n", "  of which system", finest.packed.system,
                finest.alone.system);
    std::printf("%-28s %12.2f\n", "wall seconds", finest.wall);
    std::printf("%-28s %12.1f\n", "peak MB above the process", finest.peak);
    std::printf("%-28s %12.2f %12.2f %7.2f %8s\n", "  against level 1's pack",
                finest.packed.total(), next.packed.total(),
                finest.packed.total() / next.packed.total(), "<= 9.00");
    std::printf("level 1's pack: %d^3 samples, an eighth, packed the same way (to --size %d)\n",
                side / 2, std::min(side / 4, 512));
}
} // namespace

void benchmarkPyramidPacking(int side) {
    benchmarkInflate();
    keepFreedMemory(); // as the converter runs, for the pack and the reading alone
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    QTemporaryDir scratch;
    scratch.setAutoRemove(qEnvironmentVariableIsEmpty("TESSARY_BENCH_KEEP"));
    if (!scratch.autoRemove())
        std::printf("inputs kept in %s\n", qPrintable(scratch.path()));
    const QString path = scratch.filePath("pyramid.ims");
    const int size = side / 4, level = 2;
    std::printf("\nPacking a %d^3 uint16 Imaris file (levels %d to %d, chunks %d^3, deflate "
                "level 1) with --size %d and --window 0,65535 (one pass), the slices dropped; "
                "alone = reading level %d "
                "through libhdf5 here\n",
                side, side, side >> (levels - 1), chunk, size, level);
    if (!writeImaris(path, side)) {
        std::printf("FAILED: can't write %s\n", qPrintable(path));
        return;
    }
    sync(); // the writing's write-back done, not running beside the reads timed
    // The writing's freed slabs go back to the system: a converter starts without them, and each
    // reader child would be forked from them.
    malloc_trim(0);
    const std::uint64_t stored = storedBytes(path, level);
    double alone = 1e30, packed = 1e30, peak = 0;
    std::uint64_t read = 0;
    std::string failure;
    for (int run = 0; run < 5 && failure.empty(); ++run) {
        auto start = Clock::now();
        if (readLevelAlone(path, level, side) == 0)
            failure = "can't read level 2 back";
        alone = std::min(alone, secondsSince(start));
        resetPeakRss();
        const double before = kibToMb(procStatusKiB("VmRSS"));
        const std::uint64_t readBefore = bytesRead();
        start = Clock::now();
        if (failure.empty())
            failure = packDropped(path, size, 65535);
        packed = std::min(packed, secondsSince(start));
        read = bytesRead() - readBefore;
        peak = std::max(peak, kibToMb(procStatusKiB("VmHWM")) - before);
    }
    if (!failure.empty()) {
        std::printf("FAILED: %s\n", failure.c_str());
        return;
    }
    rusage children = {};
    getrusage(RUSAGE_CHILDREN, &children);
    std::printf("%-28s %12s %12s %7s %8s\n", "measure", "pack", "bound", "ratio", "target");
    std::printf("%-28s %12.1f %12.1f %7.2f %8s\n", "MB read from the file", read / 1e6,
                stored / 1e6, double(read) / double(stored), "<= 1.10");
    std::printf("%-28s %12.3f %12.3f %7.2f %8s\n", "seconds (best of 5)", packed, alone,
                packed / alone, "<= 1.50");
    std::printf("%-28s %12.1f %12.1f %7.2f %8s\n", "peak MB above the process", peak, 128.0,
                peak / 128, "<= 1.00");
    std::printf("%-28s %12.1f\n", "largest reader child's RSS MB", kibToMb(children.ru_maxrss));
    std::printf("MB read: the rchar of pack and its reader children (the children read into "
                "memory shared with pack); bound: level %d's stored size\n",
                level);
    benchmarkFinestLevel(path, side);
}
