#include "zarr/zarr.h"

#include "littleendian.h"
#include "allocator.h"
#include "codecs/chunkcodecs.h"
#include "text.h"
#include "keystore.h"
#include "messages.h"
#include "zarr/zarrmeta.h"
#include "storedsamples.h"
#include "tasks.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>

namespace {
// What the fetching threads' buffers may hold: a server is kept busy with more requests than
// there are cores only while their chunks (or shards) are small.
const std::uint64_t fetchBudget = std::uint64_t(64) << 20;

// Strips and checks the crc32c values appended to a chunk's bytes, outermost first.
bool stripChecksums(int count, const unsigned char* bytes, std::size_t* size) {
    for (int k = 0; k < count; ++k) {
        if (*size < 4 || crc32c(bytes, *size - 4) != littleEndianWord(bytes + *size - 4))
            return false;
        *size -= 4;
    }
    return true;
}

template <std::size_t B>
void copySamples(const unsigned char* in, std::ptrdiff_t inStep, unsigned char* out,
                 std::ptrdiff_t outStep, std::int64_t n, bool swap) {
    for (std::int64_t i = 0; i < n; ++i, in += inStep, out += outStep) {
        if (swap)
            std::reverse_copy(in, in + B, out);
        else
            std::memcpy(out, in, B);
    }
}

// The key of the array metadata of the level at prefix.
std::string arrayKey(int format, const std::string& prefix) {
    return prefix + (format == 3 ? "zarr.json" : ".zarray");
}

// One level of the image as this reader reads it.
struct LevelLayout {
    ZarrArray array;
    std::string prefix;         // the level's path in the store, with its slash, or ""
    int dimensionOf[5];         // the array dimension of each AxisRole, or -1
    std::int64_t extent[5];     // along each AxisRole (1 where there is no such axis)
    std::int64_t timeIndex = 0; // the time point read
};

// The decoded samples of one slab: every chunk covering one chunk-depth of z, as slices of
// channels fastest, then x, then y.
struct Slab {
    std::int64_t index = -1;
    // Made without zeroing, since the chunks write every byte, and kept for the next slab.
    std::unique_ptr<unsigned char[]> samples;
    std::size_t size = 0;
    std::string failure;

    void reserve(std::size_t bytes) {
        if (bytes > size) {
            samples.reset(new unsigned char[bytes]);
            size = bytes;
            populateForWriting(samples.get(), bytes); // one call, not a fault a page
        }
    }
};

class ZarrReader {
public:
    ZarrReader(std::shared_ptr<KeyStore> store, LevelLayout layout)
        : store_(std::move(store)), layout_(std::move(layout)) {
        const ZarrArray& array = layout_.array;
        sampleBytes_ = sampleTypeBytes(array.type);
        swap_ = sampleBytes_ > 1 &&
                (layout_.array.sharded ? array.innerCoding : array.coding).bigEndian !=
                    (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__);
        slabDepth_ = array.chunks[std::size_t(layout_.dimensionOf[int(AxisRole::Z)])];
        sliceBytes_ = std::uint64_t(layout_.extent[0]) * std::uint64_t(layout_.extent[1]) *
                      std::uint64_t(layout_.extent[3]) * sampleBytes_;
    }
    ~ZarrReader() {
        if (pending_.valid())
            pending_.wait();
    }

    // What reading holds: two slabs (one read, one fetched) and each thread's chunk buffers.
    std::uint64_t memory() const {
        const std::uint64_t slab = sliceBytes_ * std::uint64_t(slabDepth_);
        return 2 * slab + fetchers() * fetcherBytes();
    }

    std::string read(int z, void* samples) {
        const std::int64_t s = z / slabDepth_;
        if (current_.index != s) {
            if (pending_.valid())
                pending_.get(); // the fetch's own failure is in next_; this passes bad_alloc on
            if (next_.index == s)
                std::swap(current_, next_);
            else
                load(s, &current_);
            next_.index = -1;
            if (!current_.failure.empty()) {
                current_.index = -1;
                return current_.failure;
            }
            // The next slab is fetched while this one is read. A level read to its end without
            // one of its chunks found is named unlike its keys: all fill would be a wrong picture.
            if ((s + 1) * slabDepth_ < layout_.extent[int(AxisRole::Z)]) {
                next_.index = s + 1;
                pending_ = startTask([this, s] { load(s + 1, &next_); });
            } else if (cellsFound_ == 0) {
                current_.index = -1;
                return noChunkFound();
            }
        }
        std::memcpy(samples, current_.samples.get() + (z - s * slabDepth_) * sliceBytes_,
                    sliceBytes_);
        return std::string();
    }

private:
    // Keys fetched and decoded at once while the slab before is read: as many as the store
    // keeps in flight where fetchBudget allows, and never fewer than a local store reads.
    unsigned fetchers() const {
        const unsigned most = store_->fetchesAtOnce(), least = std::min(most, localFetches());
        return unsigned(std::clamp<std::uint64_t>(fetchBudget / fetcherBytes(), least, most));
    }

    // A fetching thread's buffers: the stored bytes and a decoded chunk (a shard never written
    // is filled whole).
    std::uint64_t fetcherBytes() const {
        return fetchBound() + zarrChunkBytes(layout_.array, false);
    }

    std::uint64_t fetchBound() const {
        const ZarrArray& array = layout_.array;
        if (!array.sharded)
            return encodedChunkBound(zarrChunkBytes(array, false)) + 4 * array.coding.checksums;
        return zarrInnerChunks(array) * (encodedChunkBound(zarrChunkBytes(array, true)) +
                                         4 * array.innerCoding.checksums + 16) +
               4;
    }

    std::string keyMessage(const std::string& key, const std::string& reason) const {
        return otherFileMessage(QString::fromStdString(store_->name() + "/" + key), reason);
    }

    // Places a chunk of the fill value, as a chunk never written reads.
    void placeFill(const std::vector<std::int64_t>& shape, const std::vector<std::int64_t>& origin,
                   std::int64_t s, Slab* slab, std::vector<unsigned char>* chunk) const {
        unsigned char value[8] = {};
        withFill(value);
        if (swap_) // place swaps the file's order into the host's
            std::reverse(value, value + sampleBytes_);
        std::uint64_t bytes = sampleBytes_;
        for (std::int64_t extent : shape)
            bytes *= std::uint64_t(extent);
        chunk->resize(std::size_t(bytes));
        for (std::size_t i = 0; i < chunk->size(); i += sampleBytes_)
            std::memcpy(chunk->data() + i, value, sampleBytes_);
        place(chunk->data(), shape, false, origin, s, slab);
    }

    // The fill value as one sample of the array's type in host order.
    void withFill(unsigned char* out) const {
        const double fill =
            layout_.array.boolean && layout_.array.fill != 0 ? 255 : layout_.array.fill;
        withSampleType(layout_.array.type, [&](auto* typed) {
            const auto v = std::remove_const_t<std::remove_pointer_t<decltype(typed)>>(fill);
            std::memcpy(out, &v, sizeof v);
        });
    }

    // The grid cells (chunks or shards) of slab s, each once.
    std::vector<std::vector<std::int64_t>> slabCells(std::int64_t s) const {
        const ZarrArray& array = layout_.array;
        std::vector<std::vector<std::int64_t>> cells(1);
        for (std::size_t d = 0; d < array.shape.size(); ++d) {
            std::int64_t first = 0, last = (array.shape[d] + array.chunks[d] - 1) / array.chunks[d];
            if (int(d) == layout_.dimensionOf[int(AxisRole::Z)])
                first = s, last = s + 1;
            else if (int(d) == layout_.dimensionOf[int(AxisRole::Time)])
                first = layout_.timeIndex / array.chunks[d], last = first + 1;
            std::vector<std::vector<std::int64_t>> grown;
            for (const auto& cell : cells)
                for (std::int64_t i = first; i < last; ++i) {
                    grown.push_back(cell);
                    grown.back().push_back(i);
                }
            cells.swap(grown);
        }
        return cells;
    }

    // Fills slab with slab s; its index is set only once it is whole.
    void load(std::int64_t s, Slab* slab) const {
        slab->index = -1;
        slab->failure.clear();
        const std::int64_t depth =
            std::min<std::int64_t>(slabDepth_, layout_.extent[int(AxisRole::Z)] - s * slabDepth_);
        // Every sample is written: by its chunk, or as the fill value where that is missing.
        slab->reserve(std::size_t(sliceBytes_ * std::uint64_t(depth)));
        const auto cells = slabCells(s);
        std::atomic<std::size_t> nextCell{0};
        std::mutex failureLock;
        const auto work = [&](unsigned t) {
            ChunkBuffers& buffers = buffers_[t];
            for (std::size_t c = nextCell++; c < cells.size(); c = nextCell++) {
                std::string failure;
                try {
                    failure = loadCell(cells[c], s, slab, &buffers.bytes, &buffers.chunk);
                } catch (const std::bad_alloc&) {
                    failure =
                        otherFileMessage(QString::fromStdString(store_->name()), "out of memory");
                }
                if (!failure.empty()) {
                    const std::lock_guard<std::mutex> lock(failureLock);
                    if (slab->failure.empty())
                        slab->failure = failure;
                    nextCell = cells.size();
                }
            }
        };
        const unsigned count = unsigned(std::min<std::size_t>(fetchers(), cells.size()));
        buffers_.resize(std::max<std::size_t>(buffers_.size(), count));
        runOnThreads(count, work);
        slab->index = s;
    }

    std::string loadCell(const std::vector<std::int64_t>& cell, std::int64_t s, Slab* slab,
                         std::vector<unsigned char>* bytes,
                         std::vector<unsigned char>* chunk) const {
        const ZarrArray& array = layout_.array;
        const std::string key = layout_.prefix + zarrChunkKey(array, cell);
        bool missing = false;
        const std::string failure = store_->get(key, fetchBound(), bytes, &missing);
        if (!failure.empty())
            return failure;
        cellsFound_ += !missing;
        std::vector<std::int64_t> origin(cell.size());
        for (std::size_t d = 0; d < cell.size(); ++d)
            origin[d] = cell[d] * array.chunks[d];
        if (missing) { // a chunk never written reads as the fill value
            placeFill(array.chunks, origin, s, slab, chunk);
            return std::string();
        }
        if (array.sharded)
            return loadShard(key, *bytes, origin, s, slab, chunk);
        std::size_t size = bytes->size();
        if (!stripChecksums(array.coding.checksums, bytes->data(), &size))
            return keyMessage(key, "crc32c checksum mismatch");
        chunk->resize(std::size_t(zarrChunkBytes(array, false)));
        const std::string decoded =
            decodeChunk(array.coding.compressor, bytes->data(), size, chunk->data(), chunk->size());
        if (!decoded.empty())
            return keyMessage(key, decoded);
        place(chunk->data(), array.chunks, array.coding.fortran, origin, s, slab);
        return std::string();
    }

    // The origin of inner chunk i (C order over the shard's grid) of the shard at origin;
    // false when it lies outside the array or misses the time point read.
    bool innerChunkOrigin(std::size_t i, const std::vector<std::int64_t>& grid,
                          const std::vector<std::int64_t>& origin,
                          std::vector<std::int64_t>* innerOrigin) const {
        const ZarrArray& array = layout_.array;
        std::size_t rest = i;
        bool needed = true;
        for (std::size_t d = grid.size(); d-- > 0;) {
            const std::int64_t at =
                origin[d] + std::int64_t(rest % std::size_t(grid[d])) * array.inner[d];
            (*innerOrigin)[d] = at;
            rest /= std::size_t(grid[d]);
            needed = needed && at < array.shape[d];
            if (int(d) == layout_.dimensionOf[int(AxisRole::Time)])
                needed =
                    needed && layout_.timeIndex >= at && layout_.timeIndex < at + array.inner[d];
        }
        return needed;
    }

    std::string loadShard(const std::string& key, const std::vector<unsigned char>& bytes,
                          const std::vector<std::int64_t>& origin, std::int64_t s, Slab* slab,
                          std::vector<unsigned char>* chunk) const {
        const ZarrArray& array = layout_.array;
        std::vector<std::int64_t> grid(array.chunks.size());
        for (std::size_t d = 0; d < grid.size(); ++d)
            grid[d] = array.chunks[d] / array.inner[d];
        const std::size_t count = std::size_t(zarrInnerChunks(array));
        const std::size_t indexBytes = 16 * count + (array.indexChecksum ? 4 : 0);
        if (bytes.size() < indexBytes)
            return keyMessage(key, "shard shorter than its index");
        const unsigned char* index =
            bytes.data() + (array.indexAtEnd ? bytes.size() - indexBytes : 0);
        if (array.indexChecksum &&
            crc32c(index, 16 * count) != littleEndianWord(index + 16 * count))
            return keyMessage(key, "shard index crc32c checksum mismatch");
        std::vector<std::int64_t> innerOrigin(grid.size());
        for (std::size_t i = 0; i < count; ++i) {
            if (!innerChunkOrigin(i, grid, origin, &innerOrigin))
                continue;
            const std::uint64_t offset = littleEndianLong(index + 16 * i);
            const std::uint64_t size = littleEndianLong(index + 16 * i + 8);
            if (offset == ~std::uint64_t(0) && size == ~std::uint64_t(0)) {
                placeFill(array.inner, innerOrigin, s, slab, chunk);
                continue; // an inner chunk never written
            }
            if (offset > bytes.size() || size > bytes.size() - offset)
                return keyMessage(key, formatString("inner chunk %zu lies outside the shard", i));
            chunk->resize(std::size_t(zarrChunkBytes(array, true)));
            std::size_t used = std::size_t(size);
            if (!stripChecksums(array.innerCoding.checksums, bytes.data() + offset, &used))
                return keyMessage(key,
                                  formatString("inner chunk %zu: crc32c checksum mismatch", i));
            const std::string decoded =
                decodeChunk(array.innerCoding.compressor, bytes.data() + offset, used,
                            chunk->data(), chunk->size());
            if (!decoded.empty())
                return keyMessage(key, formatString("inner chunk %zu: ", i) + decoded);
            place(chunk->data(), array.inner, array.innerCoding.fortran, innerOrigin, s, slab);
        }
        return std::string();
    }

    // Copies the samples of a decoded chunk of the given shape and origin that fall in the
    // array, at the time point read, into slab s.
    void place(const unsigned char* chunk, const std::vector<std::int64_t>& shape, bool fortran,
               const std::vector<std::int64_t>& origin, std::int64_t s, Slab* slab) const {
        const std::size_t dimensions = shape.size();
        std::vector<std::int64_t> stride(dimensions);
        std::int64_t step = std::int64_t(sampleBytes_);
        for (std::size_t k = 0; k < dimensions; ++k) {
            const std::size_t d = fortran ? k : dimensions - 1 - k;
            stride[d] = step;
            step *= shape[d];
        }
        // For each role: the chunk's stride, the first and count of samples, the slab's stride.
        std::int64_t inStep[5] = {}, first[5] = {}, count[5] = {1, 1, 1, 1, 1}, outStep[5] = {};
        std::int64_t outBase = 0;
        const std::int64_t pixel = layout_.extent[3] * std::int64_t(sampleBytes_);
        const std::int64_t outStrides[5] = {pixel, pixel * layout_.extent[0],
                                            pixel * layout_.extent[0] * layout_.extent[1],
                                            std::int64_t(sampleBytes_), 0};
        for (int role = 0; role < 5; ++role) {
            const int d = layout_.dimensionOf[role];
            if (d < 0)
                continue;
            inStep[role] = stride[std::size_t(d)];
            outStep[role] = outStrides[role];
            count[role] = std::min(shape[std::size_t(d)],
                                   layout_.array.shape[std::size_t(d)] - origin[std::size_t(d)]);
            std::int64_t at = origin[std::size_t(d)];
            if (role == int(AxisRole::Time)) {
                first[role] = layout_.timeIndex - at;
                count[role] = 1;
                at = 0;
            } else if (role == int(AxisRole::Z)) {
                at -= s * slabDepth_;
            }
            outBase += at * outStrides[role];
        }
        const unsigned char* in = chunk + first[4] * inStep[4];
        unsigned char* out = slab->samples.get() + outBase;
        const int X = int(AxisRole::X), Y = int(AxisRole::Y), Z = int(AxisRole::Z),
                  C = int(AxisRole::Channel);
        for (std::int64_t z = 0; z < count[Z]; ++z)
            for (std::int64_t y = 0; y < count[Y]; ++y)
                for (std::int64_t c = 0; c < count[C]; ++c) {
                    const unsigned char* from = in + z * inStep[Z] + y * inStep[Y] + c * inStep[C];
                    unsigned char* to = out + z * outStep[Z] + y * outStep[Y] + c * outStep[C];
                    copyRow(from, inStep[X], to, outStep[X], count[X]);
                }
    }

    void copyRow(const unsigned char* in, std::ptrdiff_t inStep, unsigned char* out,
                 std::ptrdiff_t outStep, std::int64_t n) const {
        if (layout_.array.boolean) { // any byte but 0 is true, as numpy reads it
            for (std::int64_t i = 0; i < n; ++i, in += inStep, out += outStep)
                *out = *in ? 255 : 0;
            return;
        }
        if (inStep == outStep && inStep == std::ptrdiff_t(sampleBytes_) && !swap_)
            return std::memcpy(out, in, std::size_t(n) * sampleBytes_), void();
        switch (sampleBytes_) {
        case 1:
            return copySamples<1>(in, inStep, out, outStep, n, false);
        case 2:
            return copySamples<2>(in, inStep, out, outStep, n, swap_);
        case 4:
            return copySamples<4>(in, inStep, out, outStep, n, swap_);
        default:
            return copySamples<8>(in, inStep, out, outStep, n, swap_);
        }
    }

    // The refusal of a level none of whose chunks was there, with what may be wrong.
    std::string noChunkFound() const {
        const ZarrArray& array = layout_.array;
        const std::string first =
            zarrChunkKey(array, std::vector<std::int64_t>(array.shape.size()));
        return otherFileMessage(
            QString::fromStdString(store_->name() + "/" + arrayKey(array.format, layout_.prefix)),
            "not one chunk of the level read is in the store (the first would be " +
                layout_.prefix + first + "): " + keyHint());
    }

    // What the user can check where the keys seem named otherwise than the metadata says.
    std::string keyHint() const {
        if (layout_.array.format == 3)
            return "check its chunk_key_encoding against the store's keys";
        const bool nested = layout_.array.separator == '/';
        return std::string("if its chunks are named as ") + (nested ? "0.0.0" : "0/0/0") +
               ", give the .zarray \"dimension_separator\": \"" + (nested ? "." : "/") + "\"";
    }

    std::shared_ptr<KeyStore> store_;
    LevelLayout layout_;
    std::size_t sampleBytes_ = 1;
    bool swap_ = false;
    std::int64_t slabDepth_ = 1;
    std::uint64_t sliceBytes_ = 0;
    Slab current_, next_;
    // Each fetching thread's stored and decoded chunk, kept from slab to slab (one slab is
    // loaded at a time): fresh ones would be zeroed and faulted in for every slab.
    struct ChunkBuffers {
        std::vector<unsigned char> bytes, chunk;
    };
    mutable std::vector<ChunkBuffers> buffers_;
    mutable std::atomic<std::uint64_t> cellsFound_{0}; // chunks (or shards) the store held
    Task<void> pending_; // last, so that it is waited for before the slabs go
};
} // namespace

namespace {
// A metadata document of the store: missing is set (and "" returned) when it has none.
std::string getDocument(KeyStore& store, const std::string& key, std::string* text, bool* missing) {
    std::vector<unsigned char> bytes;
    const std::string failure = store.get(key, maxZarrDocument, &bytes, missing);
    text->assign(bytes.begin(), bytes.end());
    return failure;
}

std::string documentMessage(const KeyStore& store, const std::string& key,
                            const std::string& reason) {
    return otherFileMessage(QString::fromStdString(store.name() + "/" + key), reason);
}

// Runs fetch(k) for every k in [0, count), as many at once as the store keeps in flight: over a
// network each document is a round trip. fetch must catch what it throws.
void fetchAtOnce(const KeyStore& store, std::size_t count,
                 const std::function<void(std::size_t)>& fetch) {
    std::atomic<std::size_t> next{0};
    runOnThreads(unsigned(std::min<std::size_t>(store.fetchesAtOnce(), count)), [&](unsigned) {
        for (std::size_t k = next++; k < count; k = next++)
            fetch(k);
    });
}

// A document fetched: its text, or that the store has none, or the failure.
struct Document {
    std::string key, text, failure;
    bool missing = false;
};

// The documents of keys, fetched at once; a missing one is no failure.
std::vector<Document> getDocuments(KeyStore& store, const std::vector<std::string>& keys) {
    std::vector<Document> documents(keys.size());
    fetchAtOnce(store, keys.size(), [&](std::size_t k) {
        Document& document = documents[k];
        document.key = keys[k];
        try {
            document.failure = getDocument(store, keys[k], &document.text, &document.missing);
        } catch (const std::bad_alloc&) {
            document.failure = documentMessage(store, keys[k], "out of memory");
        }
    });
    return documents;
}

// What the store's root holds: a v3 zarr.json (array or group) or v2's .zarray or .zattrs.
struct RootNode {
    int format = 0;
    bool array = false;
    ZarrImage image;      // without levels for a plain array
    ZarrArray plainArray; // a plain array's metadata, read with the root
};

// Reads the array metadata in document. Returns "" or the message.
std::string readArray(const KeyStore& store, int format, const Document& document,
                      ZarrArray* array) {
    if (!document.failure.empty())
        return document.failure;
    const std::string reason = parseZarrArray(document.text, format, array);
    return reason.empty() ? reason : documentMessage(store, document.key, reason);
}

// The document that says what the root is: a v3 zarr.json, else v2's .zarray, else .zattrs.
// All three are asked for at once; the first that fails or is there decides.
std::string rootDocument(KeyStore& store, Document* root) {
    std::vector<Document> documents = getDocuments(store, {"zarr.json", ".zarray", ".zattrs"});
    for (Document& document : documents)
        if (!document.failure.empty() || !document.missing) {
            *root = std::move(document);
            return root->failure;
        }
    return otherFileMessage(QString::fromStdString(store.name()),
                            "no Zarr array or image (no zarr.json, .zarray or .zattrs)");
}

// The paths of a bioformats2raw store's series: those its OME group lists (*listed set), else 0
// (and 1 where there is one, standing for the rest).
std::vector<std::string> seriesPaths(KeyStore& store, int format, bool* listed) {
    const std::string attributes = format == 3 ? "zarr.json" : ".zattrs";
    const std::vector<Document> documents =
        getDocuments(store, {"OME/" + attributes, "1/" + attributes});
    ZarrImage listing;
    const auto there = [](const Document& d) { return d.failure.empty() && !d.missing; };
    *listed = there(documents[0]) && parseZarrImage(documents[0].text, format, &listing).empty() &&
              !listing.series.empty();
    if (*listed)
        return listing.series;
    return there(documents[1]) ? std::vector<std::string>{"0", "1"} : std::vector<std::string>{"0"};
}

// "0/, 1/, ...": the series paths as a refusal names them, the first few.
std::string describeSeries(const std::vector<std::string>& series, bool listed) {
    std::string text;
    for (std::size_t k = 0; k < std::min<std::size_t>(series.size(), 8); ++k)
        text += (k ? ", " : "") + series[k] + "/";
    return text + (!listed || series.size() > 8 ? ", ..." : "");
}

// A bioformats2raw store's root holds no image itself: its one series is read, with its levels'
// paths below the series' own; several are refused, naming them.
std::string readSeriesImage(KeyStore& store, const std::string& rootKey, RootNode* root) {
    bool listed = false;
    const std::vector<std::string> series = seriesPaths(store, root->format, &listed);
    if (series.size() > 1)
        return documentMessage(store, rootKey,
                               "image series " + describeSeries(series, listed) +
                                   " (bioformats2raw): name one's folder, as " + store.name() +
                                   "/" + series[0]);
    const std::string& path = series[0];
    const std::string key = path + "/" + (root->format == 3 ? "zarr.json" : ".zattrs");
    if (!isSafeStoreKey(key))
        return documentMessage(store, rootKey, "unsafe series path '" + path + "'");
    Document image;
    image.failure = getDocument(store, key, &image.text, nullptr);
    if (!image.failure.empty())
        return image.failure;
    std::string reason = parseZarrImage(image.text, root->format, &root->image);
    if (reason.empty() && root->image.levels.empty())
        reason = "the one image series holds no multiscales";
    for (ZarrLevel& level : root->image.levels)
        level.path = path + "/" + level.path;
    return reason.empty() ? reason : documentMessage(store, key, reason);
}

std::string readRoot(KeyStore& store, RootNode* root) {
    Document document;
    const std::string failure = rootDocument(store, &document);
    if (!failure.empty())
        return failure;
    root->format = document.key == "zarr.json" ? 3 : 2;
    std::string reason;
    if (root->format == 3) {
        std::string type;
        reason = zarrNodeType(document.text, &type);
        root->array = type == "array";
    } else {
        root->array = document.key == ".zarray";
    }
    if (reason.empty() && !root->array)
        reason = parseZarrImage(document.text, root->format, &root->image);
    if (reason.empty() && !root->array && root->image.levels.empty() && root->image.seriesLayout)
        return readSeriesImage(store, document.key, root);
    if (reason.empty() && !root->array && root->image.levels.empty())
        reason = "a group without multiscales: name the image's or the array's own folder";
    if (reason.empty() && root->array) {
        // A plain array is an image of one level whose axes its own metadata gives.
        if (const std::string failed = readArray(store, root->format, document, &root->plainArray);
            !failed.empty())
            return failed;
        root->image.levels = {ZarrLevel{"", {}, {}}};
        reason = plainArrayAxes(root->plainArray, &root->image.axes);
    }
    return reason.empty() ? reason : documentMessage(store, document.key, reason);
}

// Whether the store holds key, found without fetching its value: a get that may take no byte
// fails where there is one.
bool holdsKey(KeyStore& store, const std::string& key) {
    std::vector<unsigned char> bytes;
    bool missing = false;
    store.get(key, 0, &bytes, &missing);
    return !missing;
}

// A v2 array that names no dimension_separator was written before there was one: with flat
// keys ("0.1.2"), but nested ones ("0/1/2") in NGFF 0.2 and 0.3. Where the store holds the first
// chunk under the other key only, that decides; else the version's layout stands.
void findSeparator(KeyStore& store, const RootNode& root, LevelLayout* layout) {
    ZarrArray& array = layout->array;
    if (array.format != 2 || array.separatorGiven)
        return;
    const bool nested = root.image.version == "0.2" || root.image.version == "0.3";
    array.separator = nested ? '/' : '.';
    const std::vector<std::int64_t> first(array.shape.size(), 0);
    if (holdsKey(store, layout->prefix + zarrChunkKey(array, first)))
        return;
    ZarrArray other = array;
    other.separator = nested ? '.' : '/';
    if (holdsKey(store, layout->prefix + zarrChunkKey(other, first)))
        array.separator = other.separator;
}

// Each level's array metadata, fetched and read at once, so that no more than a document for
// each fetch in flight is held; a plain array's, read with the root. Returns the failures, level
// by level ("" for none).
std::vector<std::string> readLevelArrays(KeyStore& store, const RootNode& root,
                                         std::vector<LevelLayout>* layouts) {
    const std::vector<ZarrLevel>& levels = root.image.levels;
    std::vector<std::string> failures(levels.size());
    layouts->resize(levels.size());
    if (root.array) {
        layouts->front().array = root.plainArray;
        return failures;
    }
    fetchAtOnce(store, levels.size(), [&](std::size_t l) {
        const std::string& path = levels[l].path;
        if (!path.empty() && !isSafeStoreKey(path)) {
            failures[l] = otherFileMessage(QString::fromStdString(store.name()),
                                           "unsafe level path '" + path + "'");
            return;
        }
        LevelLayout& layout = (*layouts)[l];
        layout.prefix = path.empty() ? "" : path + "/";
        Document document;
        document.key = arrayKey(root.format, layout.prefix);
        try {
            document.failure = getDocument(store, document.key, &document.text, nullptr);
            failures[l] = readArray(store, root.format, document, &layout.array);
        } catch (const std::bad_alloc&) {
            failures[l] = documentMessage(store, document.key, "out of memory");
        }
    });
    return failures;
}

// Maps the dimensions of a level's array, read, to the image's axes.
std::string mapLevelAxes(const KeyStore& store, const RootNode& root, LevelLayout* layout) {
    const std::vector<ZarrAxis>& axes = root.image.axes;
    const std::string key = arrayKey(root.format, layout->prefix);
    if (layout->array.shape.size() != axes.size())
        return documentMessage(store, key,
                               formatString("%zu dimensions, but the image has %zu axes",
                                            layout->array.shape.size(), axes.size()));
    std::fill_n(layout->dimensionOf, 5, -1);
    std::fill_n(layout->extent, 5, 1);
    for (std::size_t d = 0; d < axes.size(); ++d) {
        const int role = int(axes[d].role);
        layout->dimensionOf[role] = int(d);
        layout->extent[role] = layout->array.shape[d];
        if (role <= int(AxisRole::Z) && layout->extent[role] > INT_MAX)
            return documentMessage(store, key, "too large a side");
    }
    return std::string();
}

// A level's sizes and spacing: its scale, or where the image gives none (NGFF 0.3 and before)
// the first level's extent over its own, so that every level spans the first one's space.
PyramidLevel pyramidLevel(const RootNode& root, const std::vector<LevelLayout>& layouts,
                          std::size_t l) {
    const LevelLayout& layout = layouts[l];
    const ZarrLevel& level = root.image.levels[l];
    PyramidLevel pyramid;
    pyramid.name = level.path;
    for (int k = 0; k < 3; ++k) {
        pyramid.sizes[k] = int(layout.extent[k]);
        const int d = layout.dimensionOf[k];
        pyramid.spacing[k] = !root.image.transformed
                                 ? double(layouts[0].extent[k]) / double(layout.extent[k])
                             : level.scale.empty() ? 1
                                                   : level.scale[std::size_t(d)];
    }
    return pyramid;
}

// The levels of the image (or the one of a plain array), each checked to agree with the one
// before and to be no finer than it.
std::string readLevels(KeyStore& store, const RootNode& root, std::vector<LevelLayout>* layouts) {
    const std::vector<std::string> failures = readLevelArrays(store, root, layouts);
    for (std::size_t l = 0; l < layouts->size(); ++l) {
        LevelLayout& layout = (*layouts)[l];
        const std::string failure =
            failures[l].empty() ? mapLevelAxes(store, root, &layout) : failures[l];
        if (!failure.empty())
            return failure;
        if (l > 0) {
            const LevelLayout& last = (*layouts)[l - 1];
            const std::string& path = root.image.levels[l].path;
            const auto role = [](AxisRole r) { return int(r); };
            if (layout.array.type != last.array.type ||
                layout.array.boolean != last.array.boolean ||
                layout.extent[role(AxisRole::Channel)] != last.extent[role(AxisRole::Channel)] ||
                layout.extent[role(AxisRole::Time)] != last.extent[role(AxisRole::Time)])
                return otherFileMessage(
                    QString::fromStdString(store.name() + "/" + path),
                    "level differs from the one before in sample type, channels "
                    "or time points");
            for (int k = 0; k < 3; ++k)
                if (layout.extent[k] > last.extent[k])
                    return otherFileMessage(QString::fromStdString(store.name() + "/" + path),
                                            "level larger than the one before (levels go finest "
                                            "first)");
        }
    }
    return std::string();
}

std::string describeFormat(const RootNode& root) {
    return std::string(root.array ? "Zarr" : "OME-Zarr") + (root.format == 3 ? " v3" : " v2") +
           (root.array ? " array" : "");
}

// The time point read, and the level's channels, of which there may be at most 256.
std::string pickTimeAndChannels(const InputSelection& selection, LevelLayout* layout) {
    const std::int64_t times = layout->extent[int(AxisRole::Time)];
    const std::string failure =
        pickVolume(times, selection.volume, formatString("%lld time points", (long long)times),
                   &layout->timeIndex);
    if (!failure.empty())
        return failure;
    const std::int64_t channels = layout->extent[int(AxisRole::Channel)];
    if (channels > 256)
        return (formatString("%lld channels: at most 256 are read", (long long)channels));
    return std::string();
}

// The picked level's sizes, spacing, channels and type; its pyramid when it has levels.
void describeLevel(const RootNode& root, const LevelLayout& layout, VolumeInfo* info) {
    const std::int64_t channels = layout.extent[int(AxisRole::Channel)];
    const PyramidLevel& level = info->levels[std::size_t(info->level)];
    info->width = level.sizes[0];
    info->height = level.sizes[1];
    info->depth = level.sizes[2];
    std::copy_n(level.spacing, 3, info->spacing);
    info->spacingKnown = !root.array;
    std::fill_n(info->axisSpacingKnown, 3, info->spacingKnown);
    info->channels = int(channels);
    info->type = layout.array.type;
    if (layout.array.boolean)
        info->storedType = "bool (read as 0 and 255)";
    if (root.image.channels.size() == std::size_t(channels))
        info->channelDisplay = root.image.channels;
    if (!root.image.transformed && info->level > 0)
        info->choices = "spacing from the levels' shapes";
    if (!layout.array.separatorGiven && layout.array.separator == '/')
        info->choices += std::string(info->choices.empty() ? "" : ", ") + "nested chunk keys";
    if (info->levels.size() < 2)
        info->level = -1, info->levels.clear();
}
} // namespace

bool isZarrInput(const QString& path) {
    if (path.startsWith("http://") || path.startsWith("https://") || path.startsWith("s3://") ||
        path.startsWith("gs://"))
        return true;
    const QFileInfo file(path);
    if (file.isFile())
        return path.endsWith(".zip", Qt::CaseInsensitive) ||
               path.endsWith(".ozx", Qt::CaseInsensitive); // zipped OME-Zarr's own suffix
    const QDir folder(path);
    return file.isDir() && (folder.exists("zarr.json") || folder.exists(".zgroup") ||
                            folder.exists(".zarray") || folder.exists(".zattrs"));
}

std::string openZarrSource(const QString& path, const InputSelection& selection,
                           TypedSource* source) {
    std::unique_ptr<KeyStore> opened;
    std::string failure = openKeyStore(path.toStdString(), &opened);
    if (!failure.empty())
        return failure;
    std::shared_ptr<KeyStore> store = std::move(opened);
    RootNode root;
    std::vector<LevelLayout> layouts;
    failure = readRoot(*store, &root);
    if (failure.empty())
        failure = readLevels(*store, root, &layouts);
    if (!failure.empty())
        return failure;

    VolumeInfo& info = source->info;
    info = VolumeInfo();
    info.format = describeFormat(root);
    for (std::size_t l = 0; l < layouts.size(); ++l)
        info.levels.push_back(pyramidLevel(root, layouts, l));
    info.level = pickPyramidLevel(info.levels, selection.size);
    LevelLayout layout = layouts[std::size_t(info.level)];
    failure = pickTimeAndChannels(selection, &layout);
    if (!failure.empty())
        return failure;
    findSeparator(*store, root, &layout);
    describeLevel(root, layout, &info);
    auto reader = std::make_shared<ZarrReader>(store, layout);
    source->memory = reader->memory();
    source->read = [reader](int z, void* samples) { return reader->read(z, samples); };
    source->costlyReads = true; // chunks decoded, maybe fetched: once a pack, not once a pass
    return std::string();
}

InputFormat zarrInputFormat() {
    return {
        "Zarr",
        "a Zarr array or OME-Zarr image (a folder holding zarr.json, .zgroup or .zarray, a .zip "
        "or\n"
        "      .ozx of one, or an http(s)://, s3:// or gs:// URL; Zarr v2 or v3, sharded or not;\n"
        "      axes z, y, x and optionally c and t): of a multiscale image, the coarsest level "
        "that\n"
        "      still has N samples a side for --size N (else the finest)",
        {}, // a folder, a .zip or .ozx, or a URL: claimed by what it is
        nullptr,
        openZarrSource,
        nullptr,
        {},
        "zarrmeta",
        isZarrInput,
        picksVolume,
        // A store in a folder or behind a URL has no file to open; a .zip is rarely one.
        {{"application/x-ome-zarr+zip", "OME-Zarr image (zip)", {"ozx"}, "application/zip"}}};
}
