#pragma once

// The keys of a chunked input that lives in a folder: each key a file below it.

#include "keystore.h"

#include <atomic>
#include <string>

class FolderStore : public KeyStore {
public:
    // root must be the folder's canonical path (no links, no trailing slash).
    explicit FolderStore(std::string root) : root_(std::move(root)) {}
    std::string get(const std::string& key, std::uint64_t maxBytes,
                    std::vector<unsigned char>* bytes, bool* missing) override;
    std::string name() const override { return root_; }
    std::uint64_t bytesRead() const override { return read_; }

private:
    std::string root_;
    std::atomic<std::uint64_t> read_{0};
};

// Opens the folder at path as a store. Returns "" or the message.
[[nodiscard]] std::string openFolderStore(const std::string& path,
                                          std::unique_ptr<KeyStore>* store);
