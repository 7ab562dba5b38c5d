#include "hdf5/hdf5file.h"

#include "allocator.h"
#include "contained.h"
#include "hdf5/hdf5chunks.h"
#include "messages.h"
#include "resultbytes.h"
#include "text.h"

#include <QFile>

#include <hdf5.h>

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

namespace {
// Bounds on what the child lists, so that a file of millions of objects or long names cannot
// make the list itself large.
const std::size_t maxObjects = 20000;
const std::size_t maxAttributes = 64;
const std::size_t maxNameLength = 1024;
const std::size_t maxTextBytes = 4096;
const hssize_t maxNumbers = 64;
// A MINC2 image's image-min and image-max give a range for each slice or row: as many values as
// a time series' rows.
const hssize_t maxRangeNumbers = hssize_t(1) << 22;
const int maxRank = 32;
// CPU seconds a child may take: reading samples may inflate gigabytes, but the list of objects
// is metadata alone, and a damaged file can send libhdf5 round its metadata cache for ever.
const int readSeconds = 300;
const int listSeconds = 5;
// A chunk is decoded whole, so one of more bytes is refused, as the Zarr reader refuses one.
const std::uint64_t maxChunkBytes = std::uint64_t(1) << 30;
// Address space a read of a chunked dataset may take beyond a few of its chunks: libhdf5's own
// structures, and a heap that grows by whole arenas; and what libhdf5 keeps for each chunk a
// read touches (its selections), which counts where chunks are tiny.
const std::uint64_t readRoom = std::uint64_t(128) << 20;
const std::uint64_t roomPerChunk = std::uint64_t(16) << 10;

// Closes an HDF5 identifier of any kind when it goes out of scope.
struct Id {
    hid_t id;
    explicit Id(hid_t id) : id(id) {}
    ~Id() {
        if (id >= 0)
            H5Idec_ref(id);
    }
    Id(const Id&) = delete;
    Id& operator=(const Id&) = delete;
    operator hid_t() const { return id; }
    bool ok() const { return id >= 0; }
};

// The sample type a stored type reads as, with its name; -1 for one pack does not take.
int sampleTypeOf(hid_t type, std::string* name) {
    const H5T_class_t kind = H5Tget_class(type);
    const std::size_t size = H5Tget_size(type);
    if (kind == H5T_INTEGER) {
        const bool sign = H5Tget_sign(type) == H5T_SGN_2;
        *name = std::string(sign ? "int" : "uint") + std::to_string(size * 8);
        switch (size) {
        case 1:
            return int(sign ? SampleType::Int8 : SampleType::UInt8);
        case 2:
            return int(sign ? SampleType::Int16 : SampleType::UInt16);
        case 4:
            return int(sign ? SampleType::Int32 : SampleType::UInt32);
        default:
            return -1;
        }
    }
    if (kind == H5T_FLOAT) {
        *name = "float" + std::to_string(size * 8);
        return size == 4 ? int(SampleType::Float32) : size == 8 ? int(SampleType::Float64) : -1;
    }
    static const char* const kinds[] = {"integer",  "float",           "time",     "string",
                                        "bitfield", "opaque",          "compound", "reference",
                                        "enum",     "variable-length", "array"};
    *name = kind >= 0 && kind < int(sizeof kinds / sizeof *kinds) ? kinds[kind] : "unknown";
    return -1;
}

// Text attributes: one string (fixed or variable length), or an array of fixed strings (Imaris
// writes each value as an array of one-character strings).
bool readTextAttribute(hid_t attribute, hid_t type, hssize_t points, std::string* value) {
    if (H5Tis_variable_str(type) > 0) {
        if (points != 1)
            return false;
        Id memory(H5Tcopy(H5T_C_S1));
        char* text = nullptr;
        if (H5Tset_size(memory, H5T_VARIABLE) < 0 || H5Aread(attribute, memory, &text) < 0)
            return false;
        if (text)
            value->assign(text, strnlen(text, maxTextBytes));
        H5free_memory(text);
        return true;
    }
    const std::size_t size = H5Tget_size(type);
    if (size == 0 || points < 1 || size * std::size_t(points) > maxTextBytes)
        return false;
    std::vector<char> bytes(size * std::size_t(points));
    // Read as stored: a conversion to C strings would make room for a terminator.
    if (H5Aread(attribute, type, bytes.data()) < 0)
        return false;
    for (char c : bytes)
        if (c != '\0')
            value->push_back(c);
    return true;
}

herr_t listAttribute(hid_t object, const char* name, const H5A_info_t*, void* data) {
    Hdf5Object* listed = static_cast<Hdf5Object*>(data);
    if (listed->attributes.size() >= maxAttributes)
        return 1;
    Id attribute(H5Aopen(object, name, H5P_DEFAULT));
    Id type(attribute.ok() ? H5Aget_type(attribute) : -1);
    Id space(attribute.ok() ? H5Aget_space(attribute) : -1);
    if (!type.ok() || !space.ok())
        return 0;
    const hssize_t points = H5Sget_simple_extent_npoints(space);
    Hdf5Attribute entry;
    entry.name.assign(name, strnlen(name, maxNameLength));
    const H5T_class_t kind = H5Tget_class(type);
    if (kind == H5T_STRING) {
        entry.text = true;
        if (!readTextAttribute(attribute, type, points, &entry.value))
            return 0;
    } else if ((kind == H5T_INTEGER || kind == H5T_FLOAT) && points >= 1 && points <= maxNumbers) {
        entry.numbers.resize(std::size_t(points));
        if (H5Aread(attribute, H5T_NATIVE_DOUBLE, entry.numbers.data()) < 0)
            return 0;
    } else {
        return 0;
    }
    listed->attributes.push_back(entry);
    return 0;
}

// Why a dataset's samples lie elsewhere than in the file, or "": libhdf5 would open the files
// that the file names, whatever they are (a secret, a FIFO, /dev/zero) and wherever they lie.
std::string storedElsewhere(hid_t create) {
    if (H5Pget_layout(create) == H5D_VIRTUAL)
        return "is a virtual dataset made of other files' datasets, which pack does not open: "
               "copy its samples into the file, e.g. with h5repack";
    if (H5Pget_external_count(create) > 0)
        return "keeps its samples in other files (external storage), which pack does not open: "
               "copy them into the file, e.g. with h5repack";
    return std::string();
}

// The length of the file that holds object, from the file system: libhdf5's own length is the
// larger of that and what the file claims. 0 when unknown.
std::uint64_t fileLength(hid_t object) {
    Id file(H5Iget_file_id(object));
    void* handle = nullptr;
    struct stat status;
    if (!file.ok() || H5Fget_vfd_handle(file, H5P_DEFAULT, &handle) < 0 || !handle ||
        fstat(*static_cast<int*>(handle), &status) != 0)
        return 0;
    return std::uint64_t(status.st_size);
}

// Why a compact or contiguous dataset's stored bytes do not hold its samples, or "": libhdf5
// copies a compact dataset's samples out of a buffer of the size stored, whatever the shape
// needs, and reads a contiguous one past the file's end as zeros.
std::string layoutLie(hid_t dataset, hid_t create) {
    const H5D_layout_t layout = H5Pget_layout(create);
    if (layout != H5D_COMPACT && layout != H5D_CONTIGUOUS)
        return std::string();
    Id type(H5Dget_type(dataset));
    Id space(H5Dget_space(dataset));
    const hssize_t points = space.ok() ? H5Sget_simple_extent_npoints(space) : -1;
    const std::uint64_t size = type.ok() ? H5Tget_size(type) : 0;
    std::uint64_t needed = 0;
    if (points < 0 || size == 0 || __builtin_mul_overflow(std::uint64_t(points), size, &needed))
        return "has no shape that can be read: the file is damaged";
    const std::uint64_t stored = H5Dget_storage_size(dataset);
    if (layout == H5D_COMPACT && stored < needed)
        return formatString("holds %llu bytes of compact data where its shape needs %llu: the "
                            "file is damaged",
                            (unsigned long long)stored, (unsigned long long)needed);
    const haddr_t at = H5Dget_offset(dataset), length = fileLength(dataset);
    if (layout == H5D_CONTIGUOUS && at != HADDR_UNDEF && length > 0 &&
        (stored < needed || at > length || needed > length - at))
        return "keeps its samples past the end of the file: the file is damaged or cut short";
    return std::string();
}

// The bytes of one chunk of the dataset whose create property list is create, or 0 when it is
// not chunked; UINT64_MAX when they overflow.
std::uint64_t chunkBytes(hid_t dataset, hid_t create) {
    hsize_t chunk[maxRank];
    Id type(H5Dget_type(dataset));
    const int rank =
        H5Pget_layout(create) == H5D_CHUNKED ? H5Pget_chunk(create, maxRank, chunk) : 0;
    std::uint64_t bytes = type.ok() ? H5Tget_size(type) : 0;
    if (rank <= 0 || rank > maxRank || bytes == 0)
        return 0;
    for (int k = 0; k < rank; ++k)
        if (__builtin_mul_overflow(bytes, std::uint64_t(chunk[k]), &bytes))
            return UINT64_MAX;
    return bytes;
}

std::size_t pageBytes() {
    return std::size_t(sysconf(_SC_PAGESIZE));
}

std::uint64_t addressSpaceInUse() {
    FILE* statm = std::fopen("/proc/self/statm", "r");
    unsigned long long pages = 0;
    const bool read = statm && std::fscanf(statm, "%llu", &pages) == 1;
    if (statm)
        std::fclose(statm);
    return read ? pages * pageBytes() : 0;
}

// Lowers the child's address space to room beyond what it holds now; 0 raises it back to the
// child's own limit.
void limitAddressSpace(std::uint64_t room) {
    rlimit limit;
    if (!addressSpaceLimitWorks() || getrlimit(RLIMIT_AS, &limit) != 0)
        return;
    const std::uint64_t used = room ? addressSpaceInUse() : 0;
    limit.rlim_cur = used ? std::min<std::uint64_t>(limit.rlim_max, used + room) : limit.rlim_max;
    setrlimit(RLIMIT_AS, &limit);
}

herr_t noteAllocation(unsigned, const H5E_error2_t* error, void* failed) {
    if (error->min_num == H5E_CANTALLOC || error->min_num == H5E_NOSPACE)
        *static_cast<bool*>(failed) = true;
    return 0;
}

// Whether the last call into libhdf5 failed for want of memory.
bool allocationFailed() {
    bool failed = false;
    H5Ewalk2(H5E_DEFAULT, H5E_WALK_DOWNWARD, noteAllocation, &failed);
    return failed;
}

// How many chunks a read of space's selection touches at most; UINT64_MAX when past counting.
std::uint64_t chunksTouched(hid_t create, hid_t space) {
    hsize_t chunk[maxRank], start[maxRank], end[maxRank];
    const int rank = H5Pget_chunk(create, maxRank, chunk);
    if (rank <= 0 || rank > maxRank || H5Sget_simple_extent_ndims(space) != rank ||
        H5Sget_select_bounds(space, start, end) < 0)
        return 1;
    std::uint64_t count = 1;
    for (int k = 0; k < rank; ++k)
        if (chunk[k] == 0 || end[k] < start[k] ||
            __builtin_mul_overflow(count, end[k] / chunk[k] - start[k] / chunk[k] + 1, &count))
            return UINT64_MAX;
    return count;
}

// The address space a read of space's selection of the dataset may take beyond what the child
// holds: a few chunks, and libhdf5's own for each chunk touched. 0 for a dataset not chunked.
std::uint64_t readSpace(hid_t dataset, hid_t space) {
    Id create(H5Dget_create_plist(dataset));
    const std::uint64_t chunk = create.ok() ? chunkBytes(dataset, create) : 0;
    if (chunk == 0 || chunk > maxChunkBytes)
        return 0;
    std::uint64_t perChunks = 0;
    if (__builtin_mul_overflow(chunksTouched(create, space), roomPerChunk, &perChunks))
        return 0;
    return 4 * chunk + readRoom + std::min(perChunks, std::uint64_t(1) << 40);
}

// H5Dread with the address space bounded to what a read of the dataset's chunks takes:
// libhdf5's inflate grows its buffer for as long as the stream goes on, so that a chunk of a few
// megabytes could inflate towards gigabytes before the child's own limit ended it. *outOfRoom tells
// a read that failed for want of memory (before any other call clears libhdf5's errors).
herr_t readBounded(hid_t dataset, hid_t memoryType, hid_t memorySpace, hid_t fileSpace, void* to,
                   bool* outOfRoom = nullptr) {
    limitAddressSpace(readSpace(dataset, fileSpace));
    const herr_t status = H5Dread(dataset, memoryType, memorySpace, fileSpace, H5P_DEFAULT, to);
    limitAddressSpace(0);
    if (outOfRoom)
        *outOfRoom = status < 0 && allocationFailed();
    return status;
}

// The filters that Debian's libhdf5 lacks most often, and how to read them.
const struct {
    H5Z_filter_t id;
    const char* name;
    const char* remedy;
} missingFilters[] = {
    {307, "BZip2", "install hdf5-filter-plugin"},
    {32000, "LZF", "rewrite it with gzip, e.g. with h5py, which reads LZF"},
    {32001, "Blosc", "install hdf5-filter-plugin-blosc-serial"},
    {32004, "LZ4", "install hdf5-filter-plugin"},
    {32008, "Bitshuffle", "install hdf5-filter-plugin"},
    {32013, "ZFP", "install hdf5-filter-plugin-zfp-serial"},
};

// The refusal of a dataset compressed with filter id, named in the file as stored.
std::string missingFilter(H5Z_filter_t id, const char* stored) {
    std::string name = std::string(stored, strnlen(stored, 64));
    std::string remedy = "install the HDF5 filter plugin that decodes it (in HDF5_PLUGIN_PATH)";
    for (const auto& filter : missingFilters)
        if (filter.id == id) {
            name = filter.name;
            remedy = filter.remedy;
        }
    return formatString("is compressed with HDF5 filter %d%s, which this system's HDF5 library "
                        "lacks: ",
                        int(id), name.empty() ? "" : (" (" + name + ")").c_str()) +
           remedy;
}

// Why a dataset's filters cannot be undone here, or "": libhdf5 only says the data is damaged.
std::string filterRefusal(hid_t create) {
    const int filters = H5Pget_nfilters(create);
    for (int k = 0; k < filters; ++k) {
        unsigned flags = 0, config = 0;
        std::size_t values = 0;
        char name[256] = "";
        const H5Z_filter_t id = H5Pget_filter2(create, unsigned(k), &flags, &values, nullptr,
                                               sizeof name, name, &config);
        if (id >= 0 && H5Zfilter_avail(id) <= 0)
            return missingFilter(id, name);
    }
    return std::string();
}

// Why a dataset's samples cannot be read in place, or "". The create property list is checked
// before any sample is read, in the list and again in the child that reads.
std::string storageRefusal(hid_t dataset) {
    Id create(H5Dget_create_plist(dataset));
    if (!create.ok())
        return "has no readable storage properties: the file is damaged";
    std::string refusal = storedElsewhere(create);
    if (refusal.empty())
        refusal = layoutLie(dataset, create);
    if (refusal.empty())
        refusal = filterRefusal(create);
    if (refusal.empty() && chunkBytes(dataset, create) > maxChunkBytes)
        refusal = "is stored in chunks of more than the " + memorySizeText(maxChunkBytes) +
                  " pack decodes at once: the file is damaged";
    return refusal;
}

// How many values of a dataset at path are listed at most.
hssize_t numbersListed(const std::string& path) {
    const auto endsWith = [&](const std::string& end) {
        return path.size() >= end.size() &&
               path.compare(path.size() - end.size(), end.size(), end) == 0;
    };
    return path.rfind("/minc-2.0/", 0) == 0 && (endsWith("/image-min") || endsWith("/image-max"))
               ? maxRangeNumbers
               : maxNumbers;
}

void describeDataset(hid_t dataset, Hdf5Object* listed) {
    listed->dataset = true;
    listed->refusal = storageRefusal(dataset);
    Id type(H5Dget_type(dataset));
    if (type.ok())
        listed->type = sampleTypeOf(type, &listed->typeName);
    // The space of a virtual dataset of unlimited extent is taken from its sources, opened
    // for it.
    Id create(H5Dget_create_plist(dataset));
    if (!create.ok() || H5Pget_layout(create) == H5D_VIRTUAL)
        return;
    Id space(H5Dget_space(dataset));
    if (!type.ok() || !space.ok())
        return;
    const int rank = H5Sget_simple_extent_ndims(space);
    if (rank < 0 || rank > maxRank)
        return;
    hsize_t dims[maxRank];
    H5Sget_simple_extent_dims(space, dims, nullptr);
    listed->dims.assign(dims, dims + rank);
    if (H5Pget_layout(create) == H5D_CHUNKED && H5Pget_chunk(create, rank, dims) == rank)
        listed->chunk.assign(dims, dims + rank);
    const H5T_class_t kind = H5Tget_class(type);
    const hssize_t points = H5Sget_simple_extent_npoints(space);
    if ((kind == H5T_INTEGER || kind == H5T_FLOAT) && points >= 1 &&
        points <= numbersListed(listed->path) && listed->refusal.empty()) {
        std::vector<double> values{};
        values.resize(std::size_t(points));
        if (readBounded(dataset, H5T_NATIVE_DOUBLE, H5S_ALL, space, values.data()) >= 0)
            listed->values = values;
    }
}

herr_t listLink(hid_t group, const char* name, const H5L_info_t* link, void* data) {
    Hdf5Contents* contents = static_cast<Hdf5Contents*>(data);
    if (contents->objects.size() >= maxObjects) {
        contents->truncated = true;
        return 1;
    }
    // Soft and external links are not followed: an external one names another file, and is
    // listed to be refused by name.
    if (strnlen(name, maxNameLength) >= maxNameLength)
        return 0;
    if (link->type == H5L_TYPE_EXTERNAL) {
        Hdf5Object listed;
        listed.path = std::string("/") + name;
        listed.refusal = "is an external link to another file, which pack does not follow: copy "
                         "the dataset into the file, e.g. with h5copy";
        contents->objects.push_back(std::move(listed));
        return 0;
    }
    if (link->type != H5L_TYPE_HARD)
        return 0;
    Id object(H5Oopen(group, name, H5P_DEFAULT));
    if (!object.ok())
        return 0;
    Hdf5Object listed;
    listed.path = std::string("/") + name;
    const H5I_type_t kind = H5Iget_type(object);
    if (kind != H5I_GROUP && kind != H5I_DATASET)
        return 0;
    if (kind == H5I_DATASET)
        describeDataset(object, &listed);
    hsize_t index = 0;
    H5Aiterate2(object, H5_INDEX_NAME, H5_ITER_INC, &index, listAttribute, &listed);
    contents->objects.push_back(std::move(listed));
    return 0;
}

void writeContents(const Hdf5Contents& contents, std::vector<unsigned char>* bytes) {
    ResultWriter out{bytes};
    out.field(contents.truncated);
    out.field(contents.objects);
}

std::string readBlock(hid_t file, const Hdf5Block& block, unsigned char* to) {
    Id dataset(H5Dopen2(file, block.dataset.c_str(), H5P_DEFAULT));
    if (!dataset.ok())
        return "can't open dataset " + block.dataset;
    const std::string refusal = storageRefusal(dataset);
    if (!refusal.empty())
        return "dataset " + block.dataset + " " + refusal;
    Id type(H5Dget_type(dataset));
    Id space(H5Dget_space(dataset));
    if (!type.ok() || !space.ok())
        return "can't open dataset " + block.dataset;
    std::string name;
    const int rank = H5Sget_simple_extent_ndims(space);
    if (sampleTypeOf(type, &name) != int(block.type) || rank != int(block.start.size()) ||
        rank != int(block.count.size()) || rank > maxRank)
        return "dataset " + block.dataset + " changed while it was read";
    hsize_t dims[maxRank];
    H5Sget_simple_extent_dims(space, dims, nullptr);
    for (int k = 0; k < rank; ++k)
        if (block.start[std::size_t(k)] > dims[k] ||
            block.count[std::size_t(k)] > dims[k] - block.start[std::size_t(k)])
            return "dataset " + block.dataset + " is smaller than its layout says";
    const std::uint64_t size = hdf5BlockBytes(block, std::uint64_t(1) << 40);
    Id memoryType(H5Tget_native_type(type, H5T_DIR_ASCEND));
    hsize_t start[maxRank], count[maxRank];
    std::copy(block.start.begin(), block.start.end(), start);
    std::copy(block.count.begin(), block.count.end(), count);
    Id memorySpace(H5Screate_simple(rank, count, nullptr));
    if (size == 0 || !memoryType.ok() || !memorySpace.ok() ||
        H5Sselect_hyperslab(space, H5S_SELECT_SET, start, nullptr, count, nullptr) < 0)
        return "can't read dataset " + block.dataset;
    Id create(H5Dget_create_plist(dataset));
    if (create.ok() && readsChunksDirectly(dataset, create, memoryType)) {
        const std::string failure = readChunksDirectly(dataset, create, rank, start, count, to);
        return failure.empty() ? failure : "can't read dataset " + block.dataset + ": " + failure;
    }
    bool outOfRoom = false;
    if (readBounded(dataset, memoryType, memorySpace, space, to, &outOfRoom) < 0)
        return "can't read dataset " + block.dataset +
               (outOfRoom ? ": a chunk inflates past its size" : ": its data is damaged");
    return std::string();
}

std::uint64_t blocksBytes(const std::vector<Hdf5Block>& blocks) {
    std::uint64_t total = 0;
    for (const Hdf5Block& block : blocks)
        total += hdf5BlockBytes(block, std::uint64_t(1) << 40);
    return total;
}

// The message for a child that did not end with a result of its own.
std::string childFailure(const ContainedResult& result, int seconds) {
    switch (result.end) {
    case ContainedEnd::Refused:
        return result.message;
    case ContainedEnd::OutOfMemory:
        return ("needs more than " + memorySizeText(defaultMemoryLimit()));
    case ContainedEnd::TimedOut:
        return "the HDF5 library took more than " + std::to_string(seconds) +
               " s of CPU: the file is damaged, or hostile";
    default:
        return "malformed HDF5 data: the HDF5 library gave up on it";
    }
}

// Runs work on the file opened read-only in a contained child of at most `seconds` of CPU.
std::string onOpenFile(const QString& path, int seconds,
                       const std::function<std::string(hid_t, std::vector<unsigned char>*)>& work,
                       std::vector<unsigned char>* bytes) {
    const QByteArray name = QFile::encodeName(path);
    ContainedResult result = runContained(
        [&](std::vector<unsigned char>* out) {
            quietHdf5();
            Id file(H5Fopen(name.constData(), H5F_ACC_RDONLY, H5P_DEFAULT));
            if (!file.ok())
                return std::string("not an HDF5 file, or a damaged one");
            return work(file, out);
        },
        {defaultMemoryLimit(), seconds});
    if (result.end != ContainedEnd::Done)
        return childFailure(result, seconds);
    *bytes = std::move(result.bytes);
    return std::string();
}
} // namespace

const Hdf5Attribute* Hdf5Object::attribute(const std::string& name) const {
    for (const Hdf5Attribute& entry : attributes)
        if (entry.name == name)
            return &entry;
    return nullptr;
}

const Hdf5Object* Hdf5Contents::find(const std::string& path) const {
    for (const Hdf5Object& object : objects)
        if (object.path == path)
            return &object;
    return nullptr;
}

void quietHdf5() {
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
}

std::string listOpenHdf5(long long file, std::vector<unsigned char>* bytes) {
    Hdf5Contents contents;
    if (H5Lvisit(hid_t(file), H5_INDEX_NAME, H5_ITER_INC, listLink, &contents) < 0 &&
        contents.objects.empty())
        return "can't list the file's objects: it is damaged";
    writeContents(contents, bytes);
    return std::string();
}

bool decodeHdf5Contents(const std::vector<unsigned char>& bytes, Hdf5Contents* contents) {
    ResultReader in{bytes};
    if (!in.field(contents->truncated) || !in.field(contents->objects))
        return false;
    // A type the converter has no samples of is none.
    for (Hdf5Object& object : contents->objects)
        if (object.type < -1 || object.type > int(SampleType::Float64))
            object.type = -1;
    return in.atEnd();
}

std::uint64_t hdf5BlockBytes(const Hdf5Block& block, std::uint64_t limit) {
    std::uint64_t size = sampleTypeBytes(block.type);
    for (std::uint64_t count : block.count) {
        if (count == 0 || size > limit / count)
            return 0;
        size *= count;
    }
    return size;
}

std::string listHdf5(const QString& path, Hdf5Contents* contents) {
    std::vector<unsigned char> bytes;
    const std::string failure = onOpenFile(
        path, listSeconds,
        [](hid_t file, std::vector<unsigned char>* out) { return listOpenHdf5(file, out); },
        &bytes);
    if (!failure.empty())
        return failure;
    if (!decodeHdf5Contents(bytes, contents))
        return "malformed HDF5 data: the list of its objects is damaged";
    return std::string();
}

SharedSamples::~SharedSamples() {
    if (map_)
        munmap(map_, std::size_t(size_));
    if (done_)
        munmap(done_, pageBytes());
}

// The count of slices done is shared with the reader children, so it takes no lock.
static_assert(std::atomic<std::uint32_t>::is_always_lock_free);

bool SharedSamples::reserve(std::uint64_t bytes) {
    if (!done_) {
        void* page =
            mmap(nullptr, pageBytes(), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (page == MAP_FAILED)
            return false;
        done_ = new (page) std::atomic<std::uint32_t>(0);
    }
    if (bytes <= size_)
        return true;
    if (bytes > std::uint64_t(SIZE_MAX))
        return false;
    void* grown = mmap(nullptr, std::size_t(bytes), PROT_READ | PROT_WRITE,
                       MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (grown == MAP_FAILED)
        return false;
    if (map_)
        munmap(map_, std::size_t(size_));
    map_ = grown;
    size_ = bytes;
    return true;
}

void SharedSamples::populate(std::uint64_t offset, std::uint64_t bytes) const {
    // A forked child faults in a shared mapping's pages one by one.
    if (map_ && offset <= size_ && bytes <= size_ - offset)
        populateForWriting(data() + offset, std::size_t(bytes));
}

namespace {
// Where each block's samples begin in the room and the bytes of one of its slices, for blocks of
// equal depth; false when they are not.
bool slicePlaces(const std::vector<Hdf5Block>& blocks, std::vector<std::uint64_t>* offsets,
                 std::vector<std::uint64_t>* sliceSizes) {
    std::uint64_t offset = 0;
    for (const Hdf5Block& block : blocks) {
        const std::uint64_t depth =
            block.depthAxis < block.count.size() ? block.count[block.depthAxis] : 0;
        if (depth == 0 || depth != blocks[0].count[blocks[0].depthAxis])
            return false;
        const std::uint64_t size = hdf5BlockBytes(block, std::uint64_t(1) << 40);
        offsets->push_back(offset);
        sliceSizes->push_back(size / depth);
        offset += size;
    }
    return true;
}

// Slices [from, from + count) of block.
Hdf5Block sliceRange(Hdf5Block block, std::uint64_t from, std::uint64_t count) {
    block.start[block.depthAxis] += from;
    block.count[block.depthAxis] = count;
    return block;
}

// The child's side of readHdf5Blocks. Each step's room is mapped in as the step begins, so that
// the first slices are ready before the last pages are.
std::string readInSteps(hid_t file, const std::vector<Hdf5Block>& blocks, std::uint64_t step,
                        const SharedSamples& samples) {
    std::vector<std::uint64_t> offsets, sliceSizes;
    if (!slicePlaces(blocks, &offsets, &sliceSizes))
        return "blocks of samples of different depths";
    const std::uint64_t depth = blocks[0].count[blocks[0].depthAxis];
    for (std::uint64_t from = 0; from < depth; from += step) {
        const std::uint64_t count = std::min(step, depth - from);
        for (std::size_t b = 0; b < blocks.size(); ++b) {
            const std::uint64_t offset = offsets[b] + from * sliceSizes[b];
            samples.populate(offset, count * sliceSizes[b]);
            const std::string failure =
                readBlock(file, sliceRange(blocks[b], from, count), samples.data() + offset);
            if (!failure.empty())
                return failure;
        }
        samples.slicesDone().store(std::uint32_t(from + count), std::memory_order_release);
    }
    return std::string();
}
} // namespace

std::string readHdf5Blocks(const QString& path, const std::vector<Hdf5Block>& blocks,
                           std::uint64_t step, SharedSamples* samples) {
    const std::uint64_t expected = blocksBytes(blocks);
    if (expected == 0 || step == 0)
        return "no samples to read";
    if (!samples->reserve(expected))
        return "needs more memory than the system gives";
    samples->slicesDone().store(0, std::memory_order_release);
    std::vector<unsigned char> none;
    return onOpenFile(
        path, readSeconds,
        [&](hid_t file, std::vector<unsigned char>*) {
            return readInSteps(file, blocks, step, *samples);
        },
        &none);
}
