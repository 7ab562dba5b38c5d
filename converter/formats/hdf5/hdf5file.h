#pragma once

// HDF5 files read through libhdf5, whose record on damaged files is long: every call into the
// library runs in a contained child process, and what the child sends back is checked before
// the parent trusts it. The child lists the file's objects (with the attributes and the small
// numeric datasets a layout is told by) and reads blocks of samples; the layouts are read from
// that list in the parent.

#include "typedsource.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

struct Hdf5Attribute {
    std::string name;
    bool text = false;
    std::string value;           // text: strings and arrays of characters, joined
    std::vector<double> numbers; // numbers: a few integers or floats
};

struct Hdf5Object {
    std::string path; // "/DataSet/ResolutionLevel 0"
    bool dataset = false;
    int type = -1;        // a dataset's samples as a SampleType, or -1 when not one pack takes
    std::string typeName; // "uint16", "int64", "compound", ...
    std::vector<std::uint64_t> dims;  // slowest axis first, as HDF5 gives them
    std::vector<std::uint64_t> chunk; // chunk sizes, empty when not chunked
    std::vector<double> values;       // a small numeric dataset's values
    std::string refusal; // why its samples are not read ("is a virtual dataset ..."), or ""
    std::vector<Hdf5Attribute> attributes;

    const Hdf5Attribute* attribute(const std::string& name) const;
};

// What the contained child's list hands back of each, declared once (resultbytes.h).
template <typename Io> bool fieldsOf(Io& io, Hdf5Attribute& attribute) {
    return io.field(attribute.name) && io.field(attribute.text) && io.field(attribute.value) &&
           io.field(attribute.numbers);
}
template <typename Io> bool fieldsOf(Io& io, Hdf5Object& object) {
    return io.field(object.path) && io.field(object.dataset) && io.field(object.type) &&
           io.field(object.typeName) && io.field(object.dims) && io.field(object.chunk) &&
           io.field(object.values) && io.field(object.refusal) && io.field(object.attributes);
}

struct Hdf5Contents {
    std::vector<Hdf5Object> objects;
    bool truncated = false; // more objects than are listed

    const Hdf5Object* find(const std::string& path) const;
};

// One block of a dataset: count samples from start along each axis.
struct Hdf5Block {
    std::string dataset;
    std::vector<std::uint64_t> start, count;
    SampleType type = SampleType::UInt8; // what the dataset holds, read in host byte order
    std::size_t depthAxis = 0;           // the axis along which a volume's slices follow
};

// Lists the objects of the HDF5 file at path, in a contained child. Returns "" or the message,
// which names the file.
std::string listHdf5(const QString& path, Hdf5Contents* contents);

// Memory shared with the reader children, which read straight into it: no pipe to pass the
// samples through, and no more room than the blocks need, whatever a child does. Kept from read
// to read, so that its pages are faulted in once. The count of slices written lives on a page
// of its own, apart from the samples, where no stray write past them reaches it.
class SharedSamples {
public:
    SharedSamples() = default;
    ~SharedSamples();
    SharedSamples(const SharedSamples&) = delete;
    SharedSamples& operator=(const SharedSamples&) = delete;

    // At least bytes of room, the samples held lost when it grows; false when the system
    // gives no more.
    bool reserve(std::uint64_t bytes);
    unsigned char* data() const { return static_cast<unsigned char*>(map_); }
    // Maps in the pages of data()[offset, offset + bytes) at once, for a child that writes them.
    void populate(std::uint64_t offset, std::uint64_t bytes) const;
    // The slices a reader child has written so far, as it says; only once room is reserved.
    std::atomic<std::uint32_t>& slicesDone() const { return *done_; }

private:
    void* map_ = nullptr;
    std::uint64_t size_ = 0;
    std::atomic<std::uint32_t>* done_ = nullptr;
};

// Reads the blocks into samples in a contained child, step slices along their depth axis at a
// time (the blocks are of equal depth; each step reads every block's slices), and counts the
// slices in samples->slicesDone() as each step ends, so that they can be used while the child
// reads on. Returns "" or the message, which names the file.
std::string readHdf5Blocks(const QString& path, const std::vector<Hdf5Block>& blocks,
                           std::uint64_t step, SharedSamples* samples);

// The child's side of listHdf5, for the tests: libhdf5 quiet, then the file's list as the bytes
// the parent decodes. Returns "" or the refusal.
std::string listOpenHdf5(long long file, std::vector<unsigned char>* bytes);
void quietHdf5();

// The parent's side: the child's bytes back into a list, every count and size checked.
bool decodeHdf5Contents(const std::vector<unsigned char>& bytes, Hdf5Contents* contents);

// Bytes of a block's samples, or 0 when they would pass limit.
std::uint64_t hdf5BlockBytes(const Hdf5Block& block, std::uint64_t limit);
