#pragma once

// A store in a .zip file, read by our own strict reader of the zip layout: the end record
// (zip64 where the sizes need it), the central directory, and each entry's local header when
// its key is read. Entries are stored or deflated, each inflated into exactly its declared size
// and checked against its CRC-32. The entry names are the keys; a name that leaves the store
// ("..", an absolute path, a backslash) is unreachable. The store sits at the root of the zip,
// or in its one top folder when every file lies inside that folder (a zipped "x.zarr/"; macOS's
// "__MACOSX/" beside it aside).
// Everything the directory says is checked against the file's size before it is used.

#include "files.h"
#include "keystore.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class ZipStore : public KeyStore {
public:
    // Reads the directory of the zip at path. Returns "" or the message.
    static std::string open(const std::string& path, std::unique_ptr<ZipStore>* store);

    std::string get(const std::string& key, std::uint64_t maxBytes,
                    std::vector<unsigned char>* bytes, bool* missing) override;
    std::string name() const override { return path; }
    std::uint64_t bytesRead() const override { return readBytes; }
    // The keys the store holds, in no particular order.
    std::vector<std::string> keys() const;

    struct Entry {
        std::string name; // as the zip spells it, top folder included
        std::uint64_t offset, packedSize, size;
        std::uint32_t crc;
        std::uint16_t flags, method;
    };

private:
    std::string readEntry(const Entry& entry, std::vector<unsigned char>* bytes);
    std::string inflateEntry(std::uint64_t start, const Entry& entry,
                             std::vector<unsigned char>* bytes);
    bool readAt(std::uint64_t offset, std::size_t length, unsigned char* out);

    std::string path;
    FileHandle file;
    std::uint64_t directoryStart = 0;               // the entries' data lies before it
    std::unordered_map<std::string, Entry> entries; // by key, the top folder taken off
    std::atomic<std::uint64_t> readBytes{0};
};

[[nodiscard]] std::string openZipStore(const std::string& path, std::unique_ptr<KeyStore>* store);
