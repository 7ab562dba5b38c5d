#include "dicom/dicomelements.h"

#include "files.h"
#include "inputfile.h"
#include "littleendian.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {
// The outcome of walking part of a file.
enum class Walked { Fits, RunsPast, Unknown };

const std::uint32_t undefinedLength = 0xffffffff;
const int maxDepth = 32; // sequences nested deeper are left to GDCM
const std::uint64_t windowBytes = 64 << 10;

// The file, read through a window so that each element costs no system call.
struct Source {
    int fd = -1;
    std::uint64_t size = 0;
    std::uint64_t windowAt = 0, windowSize = 0;
    std::vector<unsigned char> window = std::vector<unsigned char>(windowBytes);

    // The count bytes at at, or null when they run past the file's end or cannot be read.
    const unsigned char* bytes(std::uint64_t at, std::size_t count) {
        if (at > size || count > size - at)
            return nullptr;
        if (at < windowAt || at + count > windowAt + windowSize) {
            windowAt = at;
            windowSize = std::min(windowBytes, size - at);
            if (!readExactly(fd, at, std::size_t(windowSize), window.data())) {
                windowSize = 0;
                return nullptr;
            }
        }
        return window.data() + (at - windowAt);
    }
};

// One element's header: tag, value representation (empty in implicit data) and length.
struct Header {
    std::uint16_t group = 0, element = 0;
    char vr[3] = {0, 0, 0};
    std::uint32_t length = 0;
    unsigned size = 0; // the header's bytes
};

bool isTag(const Header& header, std::uint16_t group, std::uint16_t element) {
    return header.group == group && header.element == element;
}

// The representations whose length takes four bytes after two reserved ones.
bool longLength(const char* vr) {
    static const char* const names[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ",
                                        "SV", "UC", "UN", "UR", "UT", "UV"};
    for (const char* name : names)
        if (std::memcmp(vr, name, 2) == 0)
            return true;
    return false;
}

bool knownVr(const unsigned char* bytes) {
    static const char* const names[] = {"AE", "AS", "AT", "CS", "DA", "DS", "DT",
                                        "FD", "FL", "IS", "LO", "LT", "PN", "SH",
                                        "SL", "SS", "ST", "TM", "UI", "UL", "US"};
    for (const char* name : names)
        if (std::memcmp(bytes, name, 2) == 0)
            return true;
    return longLength(reinterpret_cast<const char*>(bytes));
}

// Reads the header at at; false when it runs past the file or names no known representation.
// Items and delimiters have no representation, in explicit data too.
bool readHeader(Source& source, std::uint64_t at, bool explicitVr, Header* header) {
    const unsigned char* bytes = source.bytes(at, 8);
    if (!bytes)
        return false;
    header->group = littleEndianHalf(bytes);
    header->element = littleEndianHalf(bytes + 2);
    if (!explicitVr || header->group == 0xfffe) {
        header->length = littleEndianWord(bytes + 4);
        header->size = 8;
        return true;
    }
    if (!knownVr(bytes + 4))
        return false;
    std::memcpy(header->vr, bytes + 4, 2);
    if (!longLength(header->vr)) {
        header->length = littleEndianHalf(bytes + 6);
        header->size = 8;
        return true;
    }
    const unsigned char* length = source.bytes(at + 8, 4);
    if (!length)
        return false;
    header->length = littleEndianWord(length);
    header->size = 12;
    return true;
}

// A walk over elements, items or fragments from at up to end (or, with untilDelimiter, up to
// the delimiter that ends them); *next is where the walk stopped.
struct Walk {
    Source& source;
    bool explicitVr;
    int depth;
};

Walked walkElements(Walk walk, std::uint64_t at, std::uint64_t end, bool untilDelimiter,
                    bool topLevel, std::uint64_t* next);

// Whether a stated length fits in the file after at.
bool fits(const Source& source, std::uint64_t at, std::uint32_t length) {
    return at <= source.size && length <= source.size - at;
}

// The items of a sequence (or the fragments of encapsulated pixel data, when fragments), from
// at: up to end when defined, or to the sequence delimiter.
Walked walkItems(Walk walk, std::uint64_t at, std::uint64_t end, bool untilDelimiter,
                 bool fragments, std::uint64_t* next) {
    while (untilDelimiter || at < end) {
        Header item;
        if (!readHeader(walk.source, at, false, &item))
            return Walked::Unknown;
        at += item.size;
        if (untilDelimiter && isTag(item, 0xfffe, 0xe0dd)) {
            *next = at;
            return Walked::Fits;
        }
        if (!isTag(item, 0xfffe, 0xe000))
            return Walked::Unknown;
        if (item.length == undefinedLength) {
            if (fragments)
                return Walked::Unknown;
            const Walked inside = walkElements({walk.source, walk.explicitVr, walk.depth + 1}, at,
                                               0, true, false, &at);
            if (inside != Walked::Fits)
                return inside;
            continue;
        }
        // A fragment's bytes are held at once; an item's elements are read one by one, so
        // only they are checked, up to the file's end where the item's length is stale.
        if (fragments && !fits(walk.source, at, item.length))
            return Walked::RunsPast;
        const std::uint64_t stated = at + item.length;
        if (!fragments) {
            std::uint64_t after = 0;
            const Walked inside =
                walkElements({walk.source, walk.explicitVr, walk.depth + 1}, at,
                             std::min(stated, walk.source.size), false, false, &after);
            if (inside != Walked::Fits)
                return inside;
        }
        at = stated;
    }
    *next = at;
    return Walked::Fits;
}

// Whether the value at at opens with an item: a sequence in data that does not name its
// representation (implicit data, or UN).
bool opensItem(Source& source, std::uint64_t at) {
    const unsigned char* bytes = source.bytes(at, 4);
    return bytes && littleEndianHalf(bytes) == 0xfffe && littleEndianHalf(bytes + 2) == 0xe000;
}

// One element's value, from at (past its header).
Walked walkValue(Walk walk, const Header& header, std::uint64_t at, std::uint64_t* next) {
    const bool sequence = walk.explicitVr && std::memcmp(header.vr, "SQ", 2) == 0;
    const bool unnamed = !walk.explicitVr || std::memcmp(header.vr, "UN", 2) == 0;
    // A sequence written as UN holds implicit data.
    const Walk inner = {walk.source, walk.explicitVr && !unnamed, walk.depth};
    if (header.length == undefinedLength) {
        if (isTag(header, 0x7fe0, 0x0010)) // encapsulated pixel data, as an icon holds
            return walkItems(walk, at, 0, true, true, next);
        return sequence || unnamed ? walkItems(inner, at, 0, true, false, next) : Walked::Unknown;
    }
    *next = at + header.length;
    if (sequence || (unnamed && opensItem(walk.source, at))) {
        // GDCM reads a sequence's items one by one, so they are checked rather than its
        // length, up to the file's end where that length is stale.
        std::uint64_t after = 0;
        return walkItems(sequence ? walk : inner, at, std::min(*next, walk.source.size), false,
                         false, &after);
    }
    return fits(walk.source, at, header.length) ? Walked::Fits : Walked::RunsPast;
}

Walked walkElements(Walk walk, std::uint64_t at, std::uint64_t end, bool untilDelimiter,
                    bool topLevel, std::uint64_t* next) {
    // Every nesting passes through here, one level deeper each time.
    if (walk.depth > maxDepth)
        return Walked::Unknown;
    while (untilDelimiter || at < end) {
        Header header;
        if (!readHeader(walk.source, at, walk.explicitVr, &header))
            return Walked::Unknown;
        if (untilDelimiter && isTag(header, 0xfffe, 0xe00d)) {
            *next = at + header.size;
            return Walked::Fits;
        }
        if (header.group == 0xfffe)
            return Walked::Unknown;
        // GDCM reads a file's tags up to its pixel data before the pixels themselves, which
        // are checked by their own reader.
        if (topLevel && isTag(header, 0x7fe0, 0x0010))
            break;
        const Walked value = walkValue(walk, header, at + header.size, &at);
        if (value != Walked::Fits)
            return value;
    }
    *next = at;
    return Walked::Fits;
}

// Whether the element at at is written with explicit representations, as its bytes say.
bool looksExplicit(Source& source, std::uint64_t at) {
    const unsigned char* bytes = source.bytes(at, 6);
    return bytes && knownVr(bytes + 4);
}

// The meta information (group 2, always explicit little-endian) from *at; its transfer syntax
// in *syntax. Unknown when it is not laid out as it should be.
Walked walkMeta(Source& source, std::uint64_t* at, std::string* syntax) {
    for (;;) {
        Header header;
        const unsigned char* group = source.bytes(*at, 2);
        if (!group || littleEndianHalf(group) != 0x0002)
            return Walked::Fits;
        if (!readHeader(source, *at, true, &header) || header.length == undefinedLength)
            return Walked::Unknown;
        const std::uint64_t value = *at + header.size;
        if (!fits(source, value, header.length))
            return Walked::RunsPast;
        if (isTag(header, 0x0002, 0x0010) && header.length <= 64) {
            const unsigned char* text = source.bytes(value, header.length);
            syntax->assign(reinterpret_cast<const char*>(text), header.length);
            while (!syntax->empty() && (syntax->back() == '\0' || syntax->back() == ' '))
                syntax->pop_back();
        }
        *at = value + header.length;
    }
}

Walked walkFile(Source& source) {
    const unsigned char* magic = source.bytes(128, 4);
    std::uint64_t at = magic && std::memcmp(magic, "DICM", 4) == 0 ? 132 : 0;
    std::string syntax;
    const Walked meta = walkMeta(source, &at, &syntax);
    if (meta != Walked::Fits)
        return meta;
    if (syntax == "1.2.840.10008.1.2.2" || syntax == "1.2.840.10008.1.2.1.99")
        return Walked::Unknown; // big-endian or deflated: not walked here
    if (at == 0) {
        // No meta information: only a file that starts as such files do, with group 8.
        const unsigned char* first = source.bytes(0, 2);
        if (!first || littleEndianHalf(first) != 0x0008)
            return Walked::Unknown;
    }
    // The representations as the data set writes them: GDCM reads files whose meta
    // information names the wrong kind the same way.
    const bool explicitVr = looksExplicit(source, at);
    std::uint64_t end = 0;
    return walkElements({source, explicitVr, 0}, at, source.size, false, true, &end);
}
} // namespace

const char dicomLengthRunsPast[] =
    "damaged DICOM file: an element's length runs past the file's end";

std::string dicomLengthFault(const std::string& file) {
    struct stat status;
    Source source;
    source.fd = openRegularFile(file.c_str(), &status);
    if (source.fd < 0)
        return std::string();
    source.size = std::uint64_t(status.st_size);
    const Walked walked = walkFile(source);
    ::close(source.fd);
    return walked == Walked::RunsPast ? dicomLengthRunsPast : std::string();
}
