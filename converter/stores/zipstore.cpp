#include "zipstore.h"

#include "inputfile.h"
#include "littleendian.h"
#include "messages.h"

#include <zlib.h>

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <unordered_set>

namespace {

const std::uint32_t endSignature = 0x06054b50, end64Signature = 0x06064b50,
                    locatorSignature = 0x07064b50, entrySignature = 0x02014b50,
                    localSignature = 0x04034b50;
const std::size_t endBytes = 22, locatorBytes = 20, end64Bytes = 56, entryBytes = 46,
                  localBytes = 30;
// A directory this large would hold millions of chunks; more is a broken or hostile file.
const std::uint64_t maxDirectoryBytes = std::uint64_t(1) << 30;
const std::uint16_t encryptedFlag = 1, stored = 0, deflated = 8;

// Whether [offset, offset + length) lies within [0, limit), without overflow.
bool within(std::uint64_t offset, std::uint64_t length, std::uint64_t limit) {
    return offset <= limit && length <= limit - offset;
}

struct Directory {
    std::uint64_t start, size, count;
};

// The zip64 end record that the locator just before the end record names.
std::string readEnd64(int fd, std::uint64_t locatorAt, Directory* directory,
                      std::uint64_t* directoryEnd) {
    unsigned char locator[locatorBytes], end[end64Bytes];
    if (!readExactly(fd, locatorAt, locatorBytes, locator))
        return "can't read its zip64 end locator";
    const std::uint64_t at = littleEndianLong(locator + 8);
    if (littleEndianWord(locator + 4) != 0 || littleEndianWord(locator + 16) > 1)
        return "a zip split over several disks, which the converter does not read";
    if (!within(at, end64Bytes, locatorAt) || !readExactly(fd, at, end64Bytes, end) ||
        littleEndianWord(end) != end64Signature || littleEndianLong(end + 4) != locatorAt - at - 12)
        return "its zip64 end record is damaged or lies outside the file";
    if (littleEndianWord(end + 16) != 0 || littleEndianWord(end + 20) != 0 ||
        littleEndianLong(end + 24) != littleEndianLong(end + 32))
        return "a zip split over several disks, which the converter does not read";
    *directory = {littleEndianLong(end + 48), littleEndianLong(end + 40),
                  littleEndianLong(end + 32)};
    *directoryEnd = at;
    return "";
}

// Finds the end record (it ends the file, after a comment of up to 64 KiB) and, through it,
// the central directory, which must end where the end records begin.
std::string findDirectory(int fd, std::uint64_t fileSize, Directory* directory) {
    if (fileSize < endBytes)
        return "not a zip file (too short)";
    const std::size_t tailSize = std::size_t(std::min<std::uint64_t>(fileSize, endBytes + 0xffff));
    const std::uint64_t tailStart = fileSize - tailSize;
    std::vector<unsigned char> tail(tailSize);
    if (!readExactly(fd, tailStart, tailSize, tail.data()))
        return "can't read the file";
    std::size_t at = tailSize - endBytes + 1;
    do {
        --at;
    } while (at > 0 && !(littleEndianWord(&tail[at]) == endSignature &&
                         at + endBytes + littleEndianHalf(&tail[at + 20]) == tailSize));
    const unsigned char* end = &tail[at];
    if (littleEndianWord(end) != endSignature ||
        at + endBytes + littleEndianHalf(end + 20) != tailSize)
        return "not a zip file (no end of central directory record)";
    if (littleEndianHalf(end + 4) != 0 || littleEndianHalf(end + 6) != 0 ||
        littleEndianHalf(end + 8) != littleEndianHalf(end + 10))
        return "a zip split over several disks, which the converter does not read";
    std::uint64_t directoryEnd = tailStart + at;
    *directory = {littleEndianWord(end + 16), littleEndianWord(end + 12),
                  littleEndianHalf(end + 10)};
    const bool needs64 = directory->start == 0xffffffff || directory->size == 0xffffffff ||
                         directory->count == 0xffff;
    unsigned char signature[4];
    if (directoryEnd >= locatorBytes &&
        readExactly(fd, directoryEnd - locatorBytes, 4, signature) &&
        littleEndianWord(signature) == locatorSignature) {
        if (const std::string failure =
                readEnd64(fd, directoryEnd - locatorBytes, directory, &directoryEnd);
            !failure.empty())
            return failure;
    } else if (needs64) {
        return "its end record needs a zip64 record, which is missing";
    }
    if (!within(directory->start, directory->size, directoryEnd) ||
        directory->start + directory->size != directoryEnd)
        return "its central directory lies outside the file";
    if (directory->size > maxDirectoryBytes)
        return "its central directory is larger than the converter reads";
    return "";
}

// The zip64 extra field gives the 64-bit values of those the entry marks with all ones.
bool applyZip64(const unsigned char* extra, std::size_t length, std::uint64_t* size,
                std::uint64_t* packedSize, std::uint64_t* offset) {
    std::uint64_t* const marked[] = {size, packedSize, offset};
    const std::uint32_t full = 0xffffffff;
    if (std::none_of(std::begin(marked), std::end(marked), [&](auto* v) { return *v == full; }))
        return true;
    for (std::size_t at = 0; at + 4 <= length;) {
        const std::uint16_t id = littleEndianHalf(extra + at),
                            fieldLength = littleEndianHalf(extra + at + 2);
        if (at + 4 + fieldLength > length)
            return false;
        if (id == 0x0001) {
            std::size_t used = 0;
            for (std::uint64_t* value : marked)
                if (*value == full) {
                    if (used + 8 > fieldLength)
                        return false;
                    *value = littleEndianLong(extra + at + 4 + used);
                    used += 8;
                }
            return true;
        }
        at += 4 + fieldLength;
    }
    return false;
}

// One central directory entry at bytes (left bytes of the directory remain). Returns "" and
// sets *used, or the reason.
std::string parseEntry(const unsigned char* bytes, std::uint64_t left, ZipStore::Entry* entry,
                       std::size_t* used) {
    if (left < entryBytes || littleEndianWord(bytes) != entrySignature)
        return "its central directory is damaged";
    const std::size_t nameLength = littleEndianHalf(bytes + 28),
                      extraLength = littleEndianHalf(bytes + 30);
    *used = entryBytes + nameLength + extraLength + littleEndianHalf(bytes + 32);
    if (*used > left)
        return "its central directory is damaged";
    entry->name.assign(reinterpret_cast<const char*>(bytes + entryBytes), nameLength);
    entry->flags = littleEndianHalf(bytes + 8);
    entry->method = littleEndianHalf(bytes + 10);
    entry->crc = littleEndianWord(bytes + 16);
    entry->packedSize = littleEndianWord(bytes + 20);
    entry->size = littleEndianWord(bytes + 24);
    entry->offset = littleEndianWord(bytes + 42);
    if (!applyZip64(bytes + entryBytes + nameLength, extraLength, &entry->size, &entry->packedSize,
                    &entry->offset))
        return "its entry " + entry->name + " lacks its zip64 sizes";
    if (littleEndianHalf(bytes + 34) != 0 && littleEndianHalf(bytes + 34) != 0xffff)
        return "a zip split over several disks, which the converter does not read";
    return "";
}

// The folder that holds every file when no file lies at the root, with its "/"; or "". The
// resource forks that macOS's Archive Utility adds beside a folder ("__MACOSX/") don't count.
std::string topFolder(const std::vector<std::string>& names) {
    std::string top;
    for (const std::string& name : names) {
        if (name.rfind("__MACOSX/", 0) == 0)
            continue;
        const std::size_t slash = name.find('/');
        if (slash == std::string::npos)
            return "";
        if (top.empty())
            top = name.substr(0, slash + 1);
        else if (name.compare(0, slash + 1, top) != 0)
            return "";
    }
    return top;
}

} // namespace

std::string ZipStore::open(const std::string& location, std::unique_ptr<ZipStore>* store) {
    const QString shown = QFile::decodeName(location.c_str());
    std::unique_ptr<ZipStore> zip(new ZipStore);
    zip->path = location;
    zip->file = openFile(location.c_str(), "rb");
    struct stat info;
    if (!zip->file || fstat(fileno(zip->file.get()), &info) != 0)
        return otherFileMessage(shown, inputMessages::cantOpen);
    const int fd = fileno(zip->file.get());
    Directory directory{};
    if (const std::string failure = findDirectory(fd, std::uint64_t(info.st_size), &directory);
        !failure.empty())
        return otherFileMessage(shown, failure);
    std::vector<unsigned char> bytes(std::size_t(directory.size));
    if (!readExactly(fd, directory.start, bytes.size(), bytes.data()))
        return otherFileMessage(shown, "can't read its central directory");
    zip->directoryStart = directory.start;

    std::vector<Entry> files;
    std::unordered_set<std::string> names;
    for (std::size_t at = 0, used = 0; at < bytes.size(); at += used) {
        Entry entry;
        if (const std::string failure = parseEntry(&bytes[at], bytes.size() - at, &entry, &used);
            !failure.empty())
            return otherFileMessage(shown, failure);
        if (!within(entry.offset, localBytes + entry.name.size(), directory.start) ||
            entry.packedSize > directory.start - entry.offset)
            return otherFileMessage(shown, "its entry " + entry.name + " lies outside the file");
        if (entry.method == stored && entry.packedSize != entry.size)
            return otherFileMessage(shown, "its stored entry " + entry.name +
                                               " declares two different sizes");
        if (!names.insert(entry.name).second)
            return otherFileMessage(shown, "it holds " + entry.name + " twice");
        if (isSafeStoreKey(entry.name)) // directories and names that leave the store: no keys
            files.push_back(std::move(entry));
    }
    if (names.size() != directory.count)
        return otherFileMessage(shown, "its central directory does not hold the entries its "
                                       "end record counts");
    std::vector<std::string> fileNames;
    for (const Entry& entry : files)
        fileNames.push_back(entry.name);
    const std::string top = topFolder(fileNames);
    for (Entry& entry : files)
        if (entry.name.compare(0, top.size(), top) == 0)
            zip->entries.emplace(entry.name.substr(top.size()), std::move(entry));
    *store = std::move(zip);
    return "";
}

std::vector<std::string> ZipStore::keys() const {
    std::vector<std::string> all;
    for (const auto& entry : entries)
        all.push_back(entry.first);
    return all;
}

bool ZipStore::readAt(std::uint64_t offset, std::size_t length, unsigned char* out) {
    readBytes += length;
    return readExactly(fileno(file.get()), offset, length, out);
}

std::string ZipStore::get(const std::string& key, std::uint64_t maxBytes,
                          std::vector<unsigned char>* bytes, bool* missing) {
    bytes->clear();
    if (missing)
        *missing = false;
    const QString shown = QFile::decodeName(path.c_str());
    if (!isSafeStoreKey(key))
        return otherFileMessage(shown, "\"" + key + "\" is not a key a store may hold");
    const QString keyShown = shown + "/" + QString::fromStdString(key);
    const auto found = entries.find(key);
    if (found == entries.end()) {
        if (missing) {
            *missing = true;
            return "";
        }
        return otherFileMessage(keyShown, "not in the zip");
    }
    const Entry& entry = found->second;
    if (entry.size > maxBytes)
        return otherFileMessage(keyShown, "holds " + std::to_string(entry.size) +
                                              " bytes, more than the " + std::to_string(maxBytes) +
                                              " a key may hold here");
    const std::string failure = readEntry(entry, bytes);
    if (failure.empty())
        return "";
    bytes->clear();
    return otherFileMessage(keyShown, failure);
}

std::string ZipStore::readEntry(const Entry& entry, std::vector<unsigned char>* bytes) {
    if (entry.flags & encryptedFlag)
        return "encrypted, which the converter does not read";
    if (entry.method != stored && entry.method != deflated)
        return "compressed with method " + std::to_string(entry.method) +
               ", where the converter reads stored and deflated entries";
    std::vector<unsigned char> local(localBytes + entry.name.size());
    if (!readAt(entry.offset, local.size(), local.data()) ||
        littleEndianWord(local.data()) != localSignature ||
        littleEndianHalf(&local[26]) != entry.name.size() ||
        std::string(local.begin() + localBytes, local.end()) != entry.name ||
        littleEndianHalf(&local[8]) != entry.method)
        return "its local header does not match the central directory";
    const std::uint64_t start =
        entry.offset + localBytes + entry.name.size() + littleEndianHalf(&local[28]);
    if (!within(start, entry.packedSize, directoryStart))
        return "its data lies outside the file";
    // Deflate packs at most 1032 bytes into one: a larger claim is no deflated data at all.
    if (entry.method == deflated && entry.size / 1032 > entry.packedSize)
        return "declares more bytes than its deflated data can hold";
    bytes->resize(std::size_t(entry.size));
    if (entry.method == stored) {
        if (!readAt(start, bytes->size(), bytes->data()))
            return "can't read its data";
    } else if (const std::string failure = inflateEntry(start, entry, bytes); !failure.empty()) {
        return failure;
    }
    if (crc32_z(0, bytes->data(), bytes->size()) != entry.crc)
        return "damaged (its CRC-32 does not match)";
    return "";
}

std::string ZipStore::inflateEntry(std::uint64_t start, const Entry& entry,
                                   std::vector<unsigned char>* bytes) {
    z_stream stream{};
    if (inflateInit2(&stream, -15) != Z_OK) // raw deflate, no zlib header
        return "out of memory";
    std::vector<unsigned char> input(
        std::size_t(std::min<std::uint64_t>(entry.packedSize, 1 << 16)));
    std::uint64_t inputLeft = entry.packedSize, written = 0;
    unsigned char spare; // a byte beyond the declared size shows a longer stream
    int result = Z_OK;
    while (result != Z_STREAM_END) {
        if (stream.avail_in == 0 && inputLeft > 0) {
            const std::size_t part = std::size_t(std::min<std::uint64_t>(inputLeft, input.size()));
            if (!readAt(start, part, input.data()))
                break;
            start += part;
            inputLeft -= part;
            stream.next_in = input.data();
            stream.avail_in = uInt(part);
        }
        const std::uint64_t room = bytes->size() - written;
        stream.next_out = room > 0 ? bytes->data() + written : &spare;
        stream.avail_out = room > 0 ? uInt(std::min<std::uint64_t>(room, 1u << 30)) : 1;
        const uInt before = stream.avail_out;
        result = inflate(&stream, Z_NO_FLUSH);
        if (room == 0 && stream.avail_out == 0) {
            written = bytes->size() + 1;
            break;
        }
        written += before - stream.avail_out;
        if (result == Z_BUF_ERROR && stream.avail_in == 0 && inputLeft == 0)
            break;
        if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
            break;
    }
    inflateEnd(&stream);
    if (written > bytes->size())
        return "inflates to more than its declared " + std::to_string(bytes->size()) + " bytes";
    if (result != Z_STREAM_END)
        return "damaged (its deflated data is broken or ends early)";
    if (written != bytes->size())
        return "inflates to " + std::to_string(written) + " bytes, not the declared " +
               std::to_string(bytes->size());
    return "";
}

std::string openZipStore(const std::string& path, std::unique_ptr<KeyStore>* store) {
    std::unique_ptr<ZipStore> zip;
    const std::string failure = ZipStore::open(path, &zip);
    if (failure.empty())
        *store = std::move(zip);
    return failure;
}
