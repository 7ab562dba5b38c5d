#pragma once

// Chunked inputs (Zarr) are stores of keys: "zarr.json", ".zarray", "0/c/1/2/3". A store hands
// out the bytes of a key from wherever it lives (a folder, a .zip, an HTTP server); the format
// on top reads its layout and decodes the chunks. Every key comes from the untrusted metadata,
// so each store refuses one that would leave it ("..", an absolute path, a link out of the
// folder) before it touches anything.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class KeyStore {
public:
    virtual ~KeyStore() = default;
    // Fills *bytes with the value of key, at most maxBytes of it: a longer value is refused, so a
    // server or a file can never make the converter hold more than the caller allows. *missing
    // (may be null where a missing key is an error) is set when the store has no such key, which
    // is no failure: a chunk never written reads as the fill value. Returns "" or the message,
    // which names the store (and the key). Safe to call from several threads at once.
    virtual std::string get(const std::string& key, std::uint64_t maxBytes,
                            std::vector<unsigned char>* bytes, bool* missing) = 0;
    // The store as messages name it: the folder, the .zip or the URL without its password.
    virtual std::string name() const = 0;
    // Counts of what the store has fetched, for the benchmark's bound on bytes read.
    virtual std::uint64_t bytesRead() const = 0;
    // How many keys are worth fetching at once. A local store answers as fast as its chunks
    // decode, so one a core; a server's answers wait on the network, so more are kept in flight.
    virtual unsigned fetchesAtOnce() const;
};

// Keys fetched at once from a local store: one a core, as fast as they decode.
unsigned localFetches();

// Whether key is one a store may look up: relative, "/"-separated, with no empty, "." or ".."
// part and no byte outside printable ASCII.
bool isSafeStoreKey(const std::string& key);

// Opens the store that location names: an http:// or https:// URL, an s3:// or gs:// bucket's,
// a .zip file or a folder.
// Returns "" or the message.
[[nodiscard]] std::string openKeyStore(const std::string& location,
                                       std::unique_ptr<KeyStore>* store);
