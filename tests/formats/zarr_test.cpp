#include "codecs/chunkcodecs.h"
#include "folderstore.h"
#include "formattable.h"
#include "packplan.h"
#include "testruns.h"

#include <map>
#include <regex>

#include <unistd.h>

namespace {
// The stores zarrfixtures.py writes, each beside the RGB bytes pack must make of it.
class ZarrStores : public testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(scriptOutput("zarrfixtures.py").isEmpty()); }
    static QString at(const char* name) { return scriptOutput("zarrfixtures.py") + "/" + name; }
};

TEST_F(ZarrStores, PackMakesWhatZarrReads) {
    ScratchDir scratch;
    const struct {
        const char* store;
        const char* options;
        const char* expected; // NAME.expected
        const char* closing;  // on pack's closing line
    } cases[] = {
        // The middle of three levels for --size 16, blosc (zstd) level unread, zlib read.
        {"ome2.zarr", "--size 16 --window 0,4095", "ome2_window", "pyramid level 1 (\"1\") of 3"},
        // The file's colours make the map, its windows the windows (lz4 level).
        {"ome2.zarr", "--size 8", "ome2_file",
         "windows from the file R 100 to 3000 G 0 to 4000, R=0 G=1 B=- (the file's channel"},
        // --channels overrides the map and keeps the file's window of the channel picked.
        {"ome2.zarr", "--size 8 --channels 1,1,1", "ome2_grey",
         "windows from the file R 0 to 4000 G 0 to 4000 B 0 to 4000, grey from channel 1"},
        {"ome2.ozx", "--size 8", "ome2_file", "pyramid level 2 (the coarsest) of 3"},
        // Fortran order, big-endian floats, "/" keys, edge chunks, chunks missing (NaN).
        {"fortran.zarr", "--window -1,1", "fortran", "N = 12"},
        {"time.zarr", "--volume 1 --window -500,1000", "time", "N = 10"},
        // Nested keys under a .zarray that names no separator: found by the NGFF version (0.3),
        // and by the keys present.
        {"nested.zarr", "", "nested",
         "pyramid level 0 (the finest) of 2, nested chunk keys, rows top-down, as pictures: N = "
         "12"},
        {"nested_plain.zarr", "", "nested",
         "copied, grey from channel 0, nested chunk keys, rows top-down"},
        // bioformats2raw's root: its one image series, in 0/.
        {"series.zarr", "", "series", "N = 6"},
        // Masks: true is full, not 1 of 255.
        {"mask2.zarr", "", "mask2", "8 x 8 x 8 bool (read as 0 and 255), copied"},
        {"mask3.zarr", "", "mask3", "8 x 8 x 8 bool (read as 0 and 255), copied"},
        // v3 shards with checksums, an inner chunk and a shard missing.
        {"sharded.zarr", "--window 0,3000 --crop", "sharded", "cropped to 16^3"},
        {"transposed.zarr", "--window -100,600", "transposed", "N = 6"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.store) + " " + c.options);
        const ToolRun run = runTool(QStringList{"pack", at(c.store), "-o", "out.vol"} +
                                    QString(c.options).split(' ', Qt::SkipEmptyParts));
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find(c.closing), std::string::npos) << run.out;
        const std::string expected = fileBytes(at(c.expected) + ".expected");
        ASSERT_FALSE(expected.empty());
        EXPECT_TRUE(loadedSamples("out.vol") ==
                    std::vector<unsigned char>(expected.begin(), expected.end()));
    }
}

// A pack that needs the samples' range reads each slice of the store once: the pass for the
// range keeps what it decodes for the output's pass.
TEST_F(ZarrStores, EachSliceIsDecodedOncePerPack) {
    TypedSource source;
    ASSERT_EQ(openPackInput({at("fortran.zarr")}, InputSelection(), &source), "");
    auto reads = std::make_shared<std::map<int, int>>();
    const auto counted = [reads](const std::function<std::string(int, void*)>& read) {
        return [reads, read](int z, void* samples) {
            ++(*reads)[z];
            return read(z, samples);
        };
    };
    source.read = counted(source.read);
    if (source.readStored)
        source.readStored = counted(source.readStored);
    PackPlan plan;
    ASSERT_EQ(planPack(source, PackSettings(), "fortran.zarr", &plan), "");
    ASSERT_TRUE(plan.rangeMeasured);
    std::vector<unsigned char> slice(3 * std::size_t(plan.n) * std::size_t(plan.n));
    for (int z = 0; z < plan.rgb.depth; ++z)
        ASSERT_EQ(plan.rgb.read(z, slice.data()), "");
    EXPECT_EQ(int(reads->size()), source.info.depth);
    for (const auto& [z, count] : *reads)
        EXPECT_EQ(count, 1) << "slice " << z;
}

TEST_F(ZarrStores, InfoListsTheLevels) {
    const ToolRun plain = runTool({"info", at("ome2.zarr")});
    ASSERT_EQ(plain.status, 0) << plain.err;
    for (const char* line : {"format           OME-Zarr v2", "sizes            32 x 32 x 32",
                             "level 0          0: 32 x 32 x 32, spacing 0.5, 0.5, 0.5  (pack reads",
                             "level 1          1: 16 x 16 x 16, spacing 1, 1, 1  (--size 16 reads",
                             "level 2          2: 8 x 8 x 8, spacing 2, 2, 2  (--size 8 reads"})
        EXPECT_NE(plain.out.find(line), std::string::npos) << line << "\n" << plain.out;
    // --max-size picks the level as --size does, and keeps a level smaller than its N.
    const std::tuple<const char*, const char*, const char*, const char*> sizes[] = {
        {"--size", "12", "1: 16 x 16 x 16, spacing 1, 1, 1  (pack reads it)", "N = 12"},
        {"--max-size", "12", "1: 16 x 16 x 16, spacing 1, 1, 1  (pack reads it)", "N = 12"},
        {"--max-size", "64", "0: 32 x 32 x 32, spacing 0.5, 0.5, 0.5  (pack reads it)", "N = 32"},
    };
    for (const auto& [option, n, level, output] : sizes) {
        const ToolRun sized = runTool({"info", at("ome2.zarr"), option, n});
        EXPECT_NE(sized.out.find(level), std::string::npos) << option << n << "\n" << sized.out;
        EXPECT_NE(sized.out.find(output), std::string::npos) << option << n << "\n" << sized.out;
    }
}

// NGFF 0.3 gives no scales: a level halved in y and x only spans the first level's space, so
// --size reads it at spacing 2, 2, 1 and makes a cube of it, not a flattened cut.
TEST_F(ZarrStores, LevelsWithoutScalesSpanTheFirstLevelsSpace) {
    ScratchDir scratch;
    const ToolRun packed = runTool({"pack", at("nested.zarr"), "-o", "out.vol", "--size", "6"});
    ASSERT_EQ(packed.status, 0) << packed.err;
    EXPECT_NE(
        packed.out.find(
            "pyramid level 1 (the coarsest) of 2, spacing from the levels' shapes, nested chunk "
            "keys, resampled to 12 x 12 x 12 for spacing 2, 2, 1, resized to 6^3"),
        std::string::npos)
        << packed.out;
    const ToolRun info = runTool({"info", at("nested.zarr")});
    EXPECT_NE(info.out.find("1: 6 x 6 x 12, spacing 2, 2, 1"), std::string::npos) << info.out;
    // The first level is read as it is, and the closing line has nothing to say of its spacing.
    const ToolRun finest = runTool({"pack", at("nested.zarr"), "-o", "out.vol"});
    EXPECT_EQ(finest.out.find("spacing from"), std::string::npos) << finest.out;
}

// A one-line refusal naming the store (or its file at fault), and no output written.
void expectPackRefuses(const QString& store, const QStringList& options, const std::string& what) {
    SCOPED_TRACE(store.toStdString());
    expectRefusal(runTool(QStringList{"pack", store, "-o", "out.vol"} + options),
                  store.toStdString(), what);
    EXPECT_FALSE(QFileInfo::exists("out.vol"));
}

TEST_F(ZarrStores, RefusesDamagedChunksAndChunksOfTheWrongLength) {
    ScratchDir scratch;
    const std::pair<const char*, const char*> cases[] = {
        // A byte of the shard flipped: in its index, in its first inner chunk.
        {"sharded_index.zarr", "/s0/c/0/0/0: shard index crc32c checksum mismatch"},
        {"sharded_chunk.zarr", "/s0/c/0/0/0: inner chunk 0: crc32c checksum mismatch"},
        {"zlib_bomb.zarr", "/0.0.0: decodes to more than 4096 bytes"},
        {"zstd_bomb.zarr", "/0.0.0: decodes to more than 4096 bytes"},
        {"blosc_bomb.zarr", "/0.0.0: decodes to more than 4096 bytes"},
        {"lz4_short.zarr", "/0.0.0: decodes to 4095 bytes, not 4096"},
        {"raw_long.zarr", "/0.0.0: decodes to more than 4096 bytes"},
        {"gzip_cut.zarr", "/0.0.0: truncated gzip data"},
        {"time.zarr", "3 time points: pick one with --volume T (0 to 2)"},
        {"series_two.zarr", "/.zattrs: image series 0/, 1/, ... (bioformats2raw): name one's "
                            "folder, as "},
        {"nested_empty.zarr", "/0/.zarray: not one chunk of the level read is in the store (the "
                              "first would be 0/0/0/0): if its chunks are named as 0.0.0, give "
                              "the .zarray \"dimension_separator\": \".\""},
    };
    for (const auto& [store, what] : cases)
        expectPackRefuses(at(store), {"--window", "0,1", "--crop"}, what);
}

const char plainArray[] = R"({"zarr_format": 2, "shape": [4, 4, 4], "chunks": [4, 4, 4],
    "dtype": "|u1", "order": "C", "fill_value": 0, "compressor": null, "filters": null})";

// The array's metadata with the value of one key replaced.
std::string array(const std::string& key, const std::string& value,
                  const std::string& text = plainArray) {
    const std::regex field("\"" + key + "\": (\\[[^\\]]*\\]|[^,}]*)");
    return std::regex_replace(text, field, "\"" + key + "\": " + value);
}

// An image whose .zattrs carries multiscales with the given axes and dataset paths.
std::string multiscales(const std::string& axes, const std::string& paths) {
    return R"({"multiscales": [{"axes": )" + axes + R"(, "datasets": [)" + paths + "]}]}";
}

// A v3 array of one-byte samples, sharded with the given shard and inner chunk shapes.
std::string shardedArray(const std::string& shape, const std::string& shard,
                         const std::string& inner) {
    return R"({"zarr_format": 3, "node_type": "array", "shape": )" + shape +
           R"(, "data_type": "uint8", "fill_value": 0,
        "chunk_grid": {"name": "regular", "configuration": {"chunk_shape": )" +
           shard + R"(}}, "chunk_key_encoding": {"name": "default"},
        "codecs": [{"name": "sharding_indexed", "configuration": {"chunk_shape": )" +
           inner + R"(, "codecs": [{"name": "bytes"}],
            "index_codecs": [{"name": "bytes", "configuration": {"endian": "little"}}]}}]})";
}

// CRC-32C's check value, and sums that do not depend on how the bytes are split or aligned.
TEST(ChunkChecksums, Crc32cIsCastagnolis) {
    const std::string check = "123456789";
    EXPECT_EQ(crc32c(reinterpret_cast<const unsigned char*>(check.data()), check.size()),
              0xe3069283u);
    EXPECT_EQ(crc32c(nullptr, 0), 0u);
    std::string bytes(4099, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 131 + i / 7);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    // Bitwise, one byte at a time: the definition itself.
    const auto reference = [](const unsigned char* p, std::size_t n) {
        std::uint32_t c = 0xffffffffu;
        for (std::size_t i = 0; i < n; ++i) {
            c ^= p[i];
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? (c >> 1) ^ 0x82f63b78u : c >> 1;
        }
        return c ^ 0xffffffffu;
    };
    for (std::size_t start : {0, 1, 3, 7})
        for (std::size_t length : {1, 15, 64, 4091})
            EXPECT_EQ(crc32c(data + start, length), reference(data + start, length))
                << start << " " << length;
}

TEST(ZarrMetadata, RefusesLiesAndLevelsThatDisagree) {
    ScratchDir scratch;
    const std::string zyx = R"(["z", "y", "x"])";
    // The key written, its text, and a piece of the refusal. A level's key (1/) is written as the
    // second of an image whose first is plainArray.
    const std::tuple<std::string, std::string, const char*> cases[] = {
        {".zarray", array("shape", "[-1, 4, 4]"), "shape must be whole"},
        {".zarray", array("shape", "[1.5, 4, 4]"), "shape must be whole"},
        {".zarray", array("chunks", "[0, 4, 4]"), "chunks must be whole"},
        {".zarray", array("shape", "[4, 4, 4, 1, 1, 1]"), "shape must list 1 to 5"},
        {".zarray", array("chunks", "[4, 4]"), "chunks and shape differ"},
        {".zarray", array("shape", "[4, 4]", array("chunks", "[4, 4]")),
         "lie.zarr/.zarray: 2 dimensions: need 3 to 5"},
        {".zarray", array("chunks", "[100000, 100000, 100000]"), "chunks too large"},
        // Sizes whose product wraps past 2^64 to a small one, and chunks that would decode
        // gigabytes for a few samples.
        {".zarray", array("chunks", "[1, 1073741824, 17179869184]"), "chunks too large"},
        {".zarray", array("chunks", "[1024, 1024, 1024]"),
         "chunks far larger than the array: 1 GiB each, for 0 MiB of samples"},
        {"zarr.json", shardedArray("[4, 4, 4]", "[1, 4294967296, 4294967296]", "[1, 1, 1]"),
         "shards too large: more than 64 GiB each"},
        {"zarr.json", shardedArray("[4, 4, 4]", "[4, 65536, 65536]", "[4, 4, 4]"),
         "shards far larger than the array"},
        {"zarr.json", shardedArray("[4, 4096, 4096]", "[4, 4096, 4096]", "[1, 1, 1]"),
         "shards of too many inner chunks"},
        {".zarray", array("filters", "[{\"id\": \"delta\"}]"), "unsupported filters"},
        {".zarray", array("compressor", "{\"id\": \"bz2\"}"), "unsupported compressor 'bz2'"},
        {".zarray", array("dtype", "\"<c8\""), "unsupported dtype '<c8'"},
        {".zarray", array("order", "\"K\""), "order must be"},
        {".zarray", array("fill_value", "-1"), "fill_value out of range"},
        {".zarray", std::string(plainArray).substr(0, 40), "bad JSON metadata"},
        {".zattrs", "{\"a\": " + std::string(200, '[') + std::string(200, ']') + "}",
         "nested too deeply"},
        {".zattrs", multiscales(R"(["q", "y", "x"])", R"({"path": "0"})"), "unsupported axis 'q'"},
        {".zattrs", multiscales(R"(["z", "z", "x"])", R"({"path": "0"})"), "given twice"},
        {".zattrs", multiscales(zyx, R"({"path": "../outside"})"), "unsafe level path"},
        {".zattrs",
         multiscales(zyx, R"({"path": "0", "coordinateTransformations": [{"type": "scale",
             "scale": [1, 0, 1]}]})"),
         "scales must be positive"},
        // Levels that disagree with the image or each other.
        {"1/.zarray", array("shape", "[1, 4, 4, 4]", array("chunks", "[1, 4, 4, 4]")),
         "/1/.zarray: 4 dimensions, but the image has 3 axes"},
        {"1/.zarray", array("shape", "[8, 8, 8]"), "level larger than the one before"},
    };
    for (const auto& [key, text, what] : cases) {
        SCOPED_TRACE(what);
        QDir("lie.zarr").removeRecursively();
        writeFile("lie.zarr/" + key, text);
        if (key != ".zarray")
            writeFile("lie.zarr/.zgroup", "{\"zarr_format\": 2}");
        if (key == "1/.zarray") {
            writeFile("lie.zarr/.zattrs", multiscales(zyx, R"({"path": "0"}, {"path": "1"})"));
            writeFile("lie.zarr/0/.zarray", plainArray);
        }
        const QString store = QDir::current().filePath("lie.zarr");
        expectPackRefuses(store, {}, what);
        expectRefusal(runTool({"info", store}), store.toStdString(), what);
    }
}

// The root's documents are asked for at once, and the levels' too: the first of zarr.json,
// .zarray and .zattrs that is there or fails decides whatever the others hold, and the first
// level at fault is the one named.
TEST(ZarrMetadata, TheFirstDocumentThereOrAtFaultDecides) {
    ScratchDir scratch;
    const QString plain = QDir::current().filePath("plain.zarr");
    writeFile("plain.zarr/.zarray", plainArray);
    writeFile("plain.zarr/0.0.0", std::string(64, '\7'));
    QDir().mkpath("plain.zarr/.zattrs"); // can't be read, and is not needed
    const ToolRun read = runTool({"info", plain});
    EXPECT_EQ(read.status, 0) << read.err;
    QDir().mkpath("plain.zarr/zarr.json"); // can't be read, and comes first
    expectPackRefuses(plain, {}, "plain.zarr/zarr.json: ");

    writeFile("levels.zarr/.zgroup", "{\"zarr_format\": 2}");
    writeFile("levels.zarr/.zattrs", multiscales(R"(["z", "y", "x"])",
                                                 R"({"path": "0"}, {"path": "1"}, {"path": "2"},
                                                    {"path": "../outside"})"));
    writeFile("levels.zarr/0/.zarray", plainArray);
    writeFile("levels.zarr/2/.zarray", array("shape", "[8, 8, 8]"));
    expectPackRefuses(QDir::current().filePath("levels.zarr"), {}, "levels.zarr/1/.zarray: ");
}

TEST(FolderStore, KeysStayInTheFolder) {
    ScratchDir scratch;
    writeFile("store/a/b", "12345");
    writeFile("outside", "secret");
    ASSERT_EQ(symlink("../outside", "store/out"), 0);
    ASSERT_EQ(symlink("b", "store/a/in"), 0);
    std::unique_ptr<KeyStore> store;
    ASSERT_EQ(openKeyStore("store", &store), "");
    // The key, the most bytes allowed, the bytes or a piece of the message, and whether missing.
    const std::tuple<const char*, std::uint64_t, std::string, bool> cases[] = {
        {"a/b", 5, "12345", false},
        {"a/in", 5, "12345", false},
        {"a/c", 5, "", true},
        {"nothing/at/all", 5, "", true},
        {"a/b", 4, "too large", false},
        {"out", 10, "leads out of the folder", false},
        {"../outside", 10, "unsafe key", false},
        {"/etc/passwd", 10, "unsafe key", false},
        {"a//b", 10, "unsafe key", false},
        {"a", 10, "can't open", false},
    };
    for (const auto& [key, most, result, isMissing] : cases) {
        SCOPED_TRACE(key);
        std::vector<unsigned char> bytes;
        bool missing = false;
        const std::string failure = store->get(key, most, &bytes, &missing);
        EXPECT_EQ(missing, isMissing);
        if (failure.empty())
            EXPECT_EQ(std::string(bytes.begin(), bytes.end()), result);
        else
            EXPECT_NE(failure.find(result), std::string::npos) << failure;
    }
    EXPECT_EQ(store->bytesRead(), 10u);
}

} // namespace
