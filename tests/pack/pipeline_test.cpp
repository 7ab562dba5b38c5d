#include "packplan.h"
#include "resample.h"
#include "samplemap.h"
#include "storedsamples.h"
#include "packsupport.h"

#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

namespace {
// A float32 source of the given sizes and channels whose samples f(x, y, z, c) gives.
TypedSource floatSource(int w, int h, int d, int channels,
                        std::function<float(int, int, int, int)> f) {
    TypedSource source;
    source.info.width = w;
    source.info.height = h;
    source.info.depth = d;
    source.info.channels = channels;
    source.info.type = SampleType::Float32;
    source.read = [=](int z, void* samples) {
        float* out = static_cast<float*>(samples);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < channels; ++c)
                    *out++ = f(x, y, z, c);
        return std::string();
    };
    return source;
}

// An RGB source whose grey value g(x, y, z), modulo 256, fills all three colours.
SliceSource greySource(int w, int h, int d, std::function<int(int, int, int)> g) {
    SliceSource source;
    source.width = w;
    source.height = h;
    source.depth = d;
    source.read = [=](int z, unsigned char* rgb) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x, rgb += 3)
                rgb[0] = rgb[1] = rgb[2] = static_cast<unsigned char>(g(x, y, z));
        return std::string();
    };
    return source;
}

// Counts in reads each slice the source reads from now on.
template <typename Source> void countReads(Source* source, int* reads) {
    source->read = [read = source->read, reads](int z, auto* samples) {
        ++*reads;
        return read(z, samples);
    };
}

// Every slice of a source, the red bytes only, or all of them when step is 1.
std::vector<unsigned char> redOf(const SliceSource& source, std::size_t step = 3) {
    std::vector<unsigned char> slice(3 * std::size_t(source.width) * std::size_t(source.height));
    std::vector<unsigned char> red;
    for (int z = 0; z < source.depth; ++z) {
        EXPECT_EQ(source.read(z, slice.data()), "");
        for (std::size_t i = 0; i < slice.size(); i += step)
            red.push_back(slice[i]);
    }
    return red;
}
} // namespace

TEST(SampleMap, WindowAtItsEdgesForEveryType) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        SampleType type;
        bool copy;
        double lo, hi, value;
        int expected;
    } cases[] = {
        {SampleType::UInt8, true, 0, 0, 173, 173}, // copied exactly, the window unused
        {SampleType::UInt8, false, 100, 200, 150, 128},
        {SampleType::Int8, false, -128, 127, -128, 0},
        {SampleType::Int8, false, -128, 127, 127, 255},
        {SampleType::UInt16, false, 0, 1000, 1000, 255},
        {SampleType::UInt16, false, 0, 1000, 2, 1},        // 0.51 rounds up
        {SampleType::UInt16, false, 0, 1000, 1, 0},        // 0.255 rounds down
        {SampleType::Int16, false, -1000, 1000, -1001, 0}, // below lo: clamped
        {SampleType::Int16, false, -1000, 1000, 32767, 255},
        {SampleType::Int16, false, 0, 2, 1, 128}, // 127.5 rounds up
        {SampleType::Int16, false, 5, 5, 5, 0},   // hi == lo: a step, lo itself black
        {SampleType::Int16, false, 5, 5, 6, 255},
        {SampleType::UInt32, false, 0, 4e9, 4e9, 255},
        {SampleType::Int32, false, -2e9, 2e9, 0, 128},
        {SampleType::Float32, false, 0, 1, 0.5, 128},
        {SampleType::Float32, false, 0, 1, nan, 0},
        {SampleType::Float64, false, -1e300, 1e300, 1e300, 255},
        {SampleType::Float64, false, 0, 1, -std::numeric_limits<double>::infinity(), 0},
    };
    for (const Case& c : cases) {
        const std::string bytes = typedBytes(c.type, {c.value});
        unsigned char out = 77;
        makeSampleMapper(c.type, {c.copy, c.lo, c.hi})(bytes.data(), 1, 0, 1, false, &out);
        EXPECT_EQ(int(out), c.expected) << sampleTypeName(c.type) << " " << c.value;
    }
}

TEST(SampleMap, ChannelMaps) {
    struct Case {
        int channels, alpha;
        const char* expected; // the default map, or a piece of its refusal
    } cases[] = {
        {1, -1, "grey from channel 0"}, {2, -1, "R=0 G=1 B=-"},
        {2, 1, "grey from channel 0"},  {3, -1, "R=0 G=1 B=2"},
        {4, 3, "R=0 G=1 B=2"},          {4, 0, "R=1 G=2 B=3"},
        {4, -1, "4 channels"},          {5, 4, "4 channels besides alpha"},
    };
    for (const Case& c : cases) {
        VolumeInfo info;
        info.channels = c.channels;
        info.alphaChannel = c.alpha;
        ChannelMap map;
        const std::string failure = defaultChannelMap(info, &map);
        const std::string got = failure.empty() ? describeChannelMap(map) : failure;
        EXPECT_NE(got.find(c.expected), std::string::npos) << got;
        EXPECT_TRUE(failure.empty() || failure.find("--channels") != std::string::npos);
    }
    ChannelMap map;
    EXPECT_EQ(parseChannelMap("4,-,0", 5, &map), "");
    EXPECT_EQ(describeChannelMap(map), "R=4 G=- B=0");
    for (const char* bad : {"5,0,0", "0,1", "a,0,0", "-1,0,0", "0,,0"})
        EXPECT_NE(parseChannelMap(bad, 5, &map), "") << bad;
}

TEST(StoredSamples, ConversionSwapsThenRescalesIntoTheSourcesType) {
    struct Case {
        SampleType type;
        bool swapped;
        double slope, intercept;
        SampleType to;
        std::vector<double> stored, values;
    } cases[] = {
        // A big-endian int16 NIfTI with a slope and an intercept.
        {SampleType::Int16, true, 0.5, -3, SampleType::Float32, {-4, 0, 300}, {-5, -3, 147}},
        // Swapped only: the stored type again.
        {SampleType::UInt16, true, 1, 0, SampleType::UInt16, {1, 65535}, {1, 65535}},
        // float64 stays float64 when rescaled.
        {SampleType::Float64, false, 2, 1, SampleType::Float64, {0.25, -1}, {1.5, -1}},
        // A series where other files rescale: this one's identity still gives floats.
        {SampleType::Int16, false, 1, 0, SampleType::Float32, {-1024, 7}, {-1024, 7}},
        // A slope of 0 or NaN is no rescale.
        {SampleType::UInt8, false, 0, 5, SampleType::Float32, {200}, {200}},
        {SampleType::Int32, false, NAN, 0, SampleType::Float32, {-9}, {-9}},
    };
    for (const Case& c : cases) {
        StoredSamples stored{c.type, c.swapped, c.slope, c.intercept};
        SCOPED_TRACE(sampleTypeName(c.type));
        std::string bytes = typedBytes(c.type, c.stored, c.swapped);
        std::string out(c.values.size() * sampleTypeBytes(c.to), '\0');
        stored.convert(&bytes[0], c.stored.size(), c.to, &out[0]);
        EXPECT_EQ(out, typedBytes(c.to, c.values));
    }
    EXPECT_EQ((StoredSamples{SampleType::Int16, false, 2, 0}.valueType()), SampleType::Float32);
    EXPECT_EQ((StoredSamples{SampleType::Int16, true, 1, 0}.valueType()), SampleType::Int16);
}

TEST(SampleMap, StoredLookupGivesTheBytesOfTheConvertedSamples) {
    // Every stored value of each layout, through the folded table and through the conversion
    // and the typed path, with the range of each and windows whose edges fall between values.
    const StoredSamples layouts[] = {
        {SampleType::Int16, true, 0.1, 0.3},     {SampleType::Int16, false, 2, -1024},
        {SampleType::UInt16, true, -0.37, 12.5}, {SampleType::UInt16, true, 1, 0},
        {SampleType::Int8, false, 1e-3, 0},      {SampleType::UInt8, false, 3, 0.5},
        {SampleType::Int16, false, 1e36, 0}, // overflows to infinities, left out of the range
    };
    for (const StoredSamples& layout : layouts) {
        SCOPED_TRACE(formatString("%s %d %g %g", sampleTypeName(layout.type), layout.swapped,
                                  layout.slope, layout.intercept));
        const int values = sampleTypeBytes(layout.type) == 2 ? 65536 : 256;
        std::string bytes;
        for (int u = 0; u < values; ++u)
            bytes.append(reinterpret_cast<const char*>(&u), sampleTypeBytes(layout.type));
        TypedSource stored;
        stored.info.width = 256;
        stored.info.height = values / 256;
        stored.info.depth = 1;
        stored.info.type = layout.rescaled() ? SampleType::Float32 : layout.type; // as readers do
        readThrough(
            layout,
            [bytes](int, void* samples) {
                std::memcpy(samples, bytes.data(), bytes.size());
                return std::string();
            },
            &stored);
        TypedSource converted = stored;
        converted.stored = nullptr;
        converted.readStored = nullptr;
        ASSERT_TRUE(mapsStored(stored));
        ChannelMap map;
        double lo = 0, hi = 0, typedLo = 0, typedHi = 0;
        ASSERT_EQ(sampleRange(stored, map, &lo, &hi), "");
        ASSERT_EQ(sampleRange(converted, map, &typedLo, &typedHi), "");
        EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(typedLo, typedHi));
        for (const SampleWindow window :
             {SampleWindow{false, lo, hi}, SampleWindow{false, lo + (hi - lo) / 3, hi - 1e-3},
              SampleWindow{false, lo, lo}})
            EXPECT_EQ(redOf(mapToRgb(stored, map, window)),
                      redOf(mapToRgb(converted, map, window)));
    }
}

TEST(SampleMap, TheRangePassCoversTheMappedChannelsAndKeepsTheSlicesForTheNextPass) {
    TypedSource source =
        floatSource(3, 2, 4, 1, [](int x, int y, int z, int) { return float(x - y * z); });
    source.costlyReads = true;
    int reads = 0;
    countReads(&source, &reads);
    ChannelMap map;
    double lo = 0, hi = 0;
    TypedSource replay;
    ASSERT_EQ(sampleRange(source, map, &lo, &hi, &replay), "");
    EXPECT_EQ(reads, 4);
    EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(-3.0, 2.0));
    const SampleWindow window{false, lo, hi};
    EXPECT_EQ(redOf(mapToRgb(replay, map, window)), redOf(mapToRgb(source, map, window)));
    EXPECT_EQ(reads, 8); // the replay read none of them again

    // Channel 0 runs 10..17, channel 1 holds a NaN and -100, channel 2 (unmapped) 1e9.
    source = floatSource(2, 2, 2, 3, [](int x, int y, int z, int c) {
        const float nan = std::numeric_limits<float>::quiet_NaN();
        return c == 0 ? float(10 + x + 2 * y + 4 * z) : c == 1 ? (x ? nan : -100.0f) : 1e9f;
    });
    ASSERT_EQ(parseChannelMap("0,1,-", 3, &map), "");
    ASSERT_EQ(sampleRange(source, map, &lo, &hi), "");
    EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(-100.0, 17.0));
    const SliceSource rgb = mapToRgb(source, map, {false, lo, hi});
    unsigned char slice[12];
    ASSERT_EQ(rgb.read(1, slice), "");
    // (0, 0, 1): R = 14 -> round(255 * 114 / 117) = 248, G = -100 -> 0, B black; (1, 0, 1): G NaN.
    EXPECT_EQ(std::vector<int>(slice, slice + 6), (std::vector<int>{248, 0, 0, 251, 0, 0}));
}

TEST(Resample, CheckerboardShrinksToGreyAndRampGrowsLinearly) {
    const auto checker = [](int x, int y, int z) { return (x + y + z) % 2 ? 255 : 0; };
    for (unsigned char v : redOf(resampleSource(greySource(8, 8, 8, checker), 4, 4, 4)))
        EXPECT_EQ(v, 128); // 4 of 8 white: 127.5
    // Shrinking by a fraction still covers every source sample in proportion.
    for (unsigned char v : redOf(resampleSource(greySource(9, 9, 9, checker), 4, 4, 4)))
        EXPECT_NEAR(v, 127.5, 12);
    // Weights sum to one whatever each axis does: a flat volume stays flat.
    for (unsigned char v :
         redOf(resampleSource(greySource(4, 9, 2, [](int, int, int) { return 200; }), 7, 3, 5)))
        EXPECT_EQ(v, 200);
    const auto ramp = [](int x, int, int) { return x * 255; };
    const std::vector<unsigned char> grown =
        redOf(resampleSource(greySource(2, 1, 1, ramp), 4, 1, 1));
    EXPECT_EQ(std::vector<int>(grown.begin(), grown.end()), (std::vector<int>{0, 64, 191, 255}));
}

TEST(Resample, AGreySourceWeighsOneColourIntoTheSameBytes) {
    const auto noise = [](int x, int y, int z) {
        return int((x * 73 + y * 151 + z * 29) * 2654435761u >> 24);
    };
    // Shrinking, growing, an axis copied, and padding around the samples.
    const int sizes[][6] = {{9, 7, 5, 4, 11, 3}, {6, 6, 6, 6, 3, 8}, {3, 8, 2, 8, 8, 8}};
    for (const int* s : sizes) {
        SliceSource colour = greySource(s[0], s[1], s[2], noise), cube;
        ASSERT_EQ(fitToCube(colour, CubeFit::Pad, "in", &cube), "");
        for (const SliceSource& source : {colour, cube}) {
            SliceSource grey = source;
            grey.grey = true;
            const SliceSource a = resampleSource(source, s[3], s[4], s[5]),
                              b = resampleSource(grey, s[3], s[4], s[5]);
            EXPECT_TRUE(b.grey);
            EXPECT_EQ(redOf(a, 1), redOf(b, 1)) << s[0] << "x" << s[1] << "x" << s[2];
        }
    }
}

TEST(Resample, AnisotropicSphereComesOutRound) {
    // A sphere of radius 12 around the centre of a 32^3 space, sampled every 1 along x and y
    // and every 2.5 along z, resampled to the sizes that spacing gives (the table below).
    const SliceSource flat = greySource(32, 32, 13, [&](int x, int y, int z) {
        const double dx = x + 0.5 - 16, dy = y + 0.5 - 16, dz = (z + 0.5) * 2.5 - 16.25;
        return dx * dx + dy * dy + dz * dz < 144 ? 255 : 0;
    });
    const std::vector<unsigned char> round = redOf(resampleSource(flat, 32, 32, 33));
    // The sphere's extent through its centre along x and along z, counting samples over half.
    int alongX = 0, alongZ = 0;
    for (int i = 0; i < 32; ++i)
        alongX += round[std::size_t(16 * 32 * 32 + 16 * 32 + i)] > 127;
    for (int i = 0; i < 33; ++i)
        alongZ += round[std::size_t(i * 32 * 32 + 16 * 32 + 16)] > 127;
    EXPECT_NEAR(alongX, 24, 1);
    EXPECT_NEAR(alongZ, 24, 2);
}

TEST(Resample, CubicSizesFollowTheSpacingSaveAlongAnAxisOfOneSample) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        int sizes[3];
        double spacing[3];
        int expected[3]; // 0, 0, 0: refused
    } cases[] = {
        {{32, 32, 13}, {1, 1, 2.5}, {32, 32, 33}}, // the sphere above
        // One slice whose thickness the file gives, or the default of 1: never the finest.
        {{128, 128, 1}, {1.8, 1.8, 5}, {128, 128, 1}},
        {{128, 128, 1}, {1.8, 1.8, 1}, {128, 128, 1}},
        {{64, 32, 1}, {1, 2, 0.1}, {64, 64, 1}},
        // A reader may leave a one-sample axis' spacing unusable; it is not looked at.
        {{1, 1, 2048}, {0, nan, 1}, {1, 1, 2048}},
        {{4, 1, 8}, {2, -1, 1}, {8, 1, 8}},
        {{1, 1, 1}, {nan, 0, 7}, {1, 1, 1}},
        {{4, 4, 4}, {1, 0, 1}, {0, 0, 0}}, // a file may give it; the command line can't
    };
    for (const Case& c : cases) {
        int resampled[3] = {0, 0, 0};
        const std::string failure = cubicSampleSizes(c.sizes, c.spacing, 16384, resampled);
        EXPECT_EQ(failure.empty(), c.expected[0] > 0) << failure;
        EXPECT_TRUE(failure.empty() || failure.find("--spacing") != std::string::npos) << failure;
        if (failure.empty()) {
            EXPECT_EQ(std::vector<int>(resampled, resampled + 3),
                      std::vector<int>(c.expected, c.expected + 3))
                << c.sizes[0] << " x " << c.sizes[1] << " x " << c.sizes[2];
        }
    }
}

TEST(Resample, PaddingIsNeverReadYetResamplesAsBlack) {
    // Each inner volume padded to a cube, then resized: the result must be what resampling the
    // whole padded cube sample by sample gives, to the byte.
    struct Case {
        int w, h, d, n;
    } cases[] = {{3, 5, 2, 2}, {3, 5, 2, 3}, {3, 5, 2, 7}, {5, 1, 4, 12},
                 {1, 1, 9, 4}, {6, 6, 1, 5}, {2, 7, 7, 7}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << " x " << c.h << " x " << c.d << " to " << c.n);
        int innerReads = 0;
        SliceSource inner = greySource(
            c.w, c.h, c.d, [](int x, int y, int z) { return 40 + 37 * x + 23 * y + 51 * z; });
        countReads(&inner, &innerReads);
        SliceSource cube;
        ASSERT_EQ(fitToCube(inner, CubeFit::Pad, "in", &cube), "");
        ASSERT_TRUE(cube.padding);
        SliceSource plain = cube; // the same samples, with nothing known about the padding
        plain.padding.reset();
        const std::vector<unsigned char> expected = redOf(resampleSource(plain, c.n, c.n, c.n)),
                                         whole = redOf(plain, 1);
        innerReads = 0;
        EXPECT_EQ(redOf(resampleSource(cube, c.n, c.n, c.n)), expected);
        EXPECT_LE(innerReads, c.d); // each inner slice once at most, no padding slice
        // Streamed as it is, each inner slice is read once and the padding written unread.
        std::vector<unsigned char> streamed;
        SliceSink sink;
        sink.write = [&](const unsigned char* rgb) {
            streamed.insert(streamed.end(), rgb, rgb + whole.size() / std::size_t(cube.depth));
            return std::string();
        };
        sink.commit = [] { return std::string(); };
        innerReads = 0;
        ASSERT_EQ(streamSlices(cube, sink, "test"), "");
        EXPECT_EQ(streamed, whole);
        EXPECT_EQ(innerReads, c.d);
    }
}

// Slices reach the sink in order from one reader or two; a failing read, a read that throws and
// a failing sink each end the stream at once, with nothing committed and no reader left waiting.
TEST(StreamSlices, WritesInOrderAndStopsAtTheFirstFailure) {
    const int depth = 40, never = 1000;
    struct Case {
        int readFails, readThrows, sinkFails; // the slice at which each happens
        const char* expected;
    } cases[] = {{never, never, never, ""},
                 {17, never, never, "read 17"},
                 {never, 9, never, "thrown"},
                 {never, never, 5, "sink 5"},
                 {0, never, never, "read 0"}};
    for (const bool concurrent : {false, true})
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << concurrent << " " << c.expected);
            std::atomic<int> reads{0};
            SliceSource source = greySource(2, 2, depth, [](int, int, int z) { return z; });
            source.concurrent = concurrent;
            source.read = [read = source.read, &reads, c](int z, unsigned char* rgb) {
                ++reads;
                if (z == c.readThrows)
                    throw std::bad_alloc();
                return z == c.readFails ? "read " + std::to_string(z) : read(z, rgb);
            };
            std::vector<int> written;
            bool committed = false;
            SliceSink sink;
            sink.write = [&](const unsigned char* rgb) {
                written.push_back(rgb[0]);
                return int(written.size()) - 1 == c.sinkFails ? "sink " + std::to_string(rgb[0])
                                                              : std::string();
            };
            sink.commit = [&] {
                committed = true;
                return std::string();
            };
            std::string result;
            try {
                result = streamSlices(source, sink, "test");
            } catch (const std::bad_alloc&) {
                result = "thrown";
            }
            EXPECT_EQ(result, c.expected);
            EXPECT_EQ(committed, result.empty());
            // The slices written: those before a failing read, up to a failing write's.
            const int whole = std::min({depth, c.readFails, c.readThrows, c.sinkFails + 1});
            ASSERT_EQ(written.size(), std::size_t(whole));
            for (int z = 0; z < whole; ++z)
                EXPECT_EQ(written[std::size_t(z)], z);
            EXPECT_LE(reads, whole + 3); // readers stop a few slices ahead at most
        }
}

TEST(Resample, ShrinkingALongThinPaddedVolumeTakesTimeOfTheOutput) {
    // 1 x 1 x 2048 padded to 2048^3 and shrunk to 16^3: the padding is 2^33 samples, which
    // must never be made, read or weighed.
    SliceSource cube;
    ASSERT_EQ(fitToCube(greySource(1, 1, 2048, [](int, int, int) { return 255; }), CubeFit::Pad,
                        "in", &cube),
              "");
    cube.read = [](int, unsigned char*) {
        ADD_FAILURE() << "a slice of the padded cube was made";
        return std::string("made");
    };
    QElapsedTimer clock;
    clock.start();
    const std::vector<unsigned char> small = redOf(resampleSource(cube, 16, 16, 16));
    EXPECT_LT(clock.elapsed(), 30000);
    EXPECT_EQ(*std::max_element(small.begin(), small.end()), 0); // 1/16384 of each sample
}

TEST(PackPlan, SizesAndMemoryAreKnownBeforeAnySampleIsRead) {
    struct Case {
        int w, h, d, size;
        CubeFit fit;
        int n;
        std::uint64_t minMemory; // at least what the largest step's buffers take
    } cases[] = {
        // One slice of a diffusion scan, padded: its plane is not resampled.
        {1610, 1610, 1, 0, CubeFit::Pad, 1610, 3 * 1610ull * 1610 * 3},
        // A small volume resized far up: three float slices of the output's.
        {4, 4, 4, 16384, CubeFit::Refuse, 16384, 3 * 3 * 16384ull * 16384 * 4},
        {1, 1, 2048, 16, CubeFit::Pad, 16, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.n);
        int reads = 0;
        TypedSource source = floatSource(c.w, c.h, c.d, 1, [](int, int, int, int) { return 0.0f; });
        if (c.d == 1)
            source.info.spacing[2] = 7; // the slice's thickness
        countReads(&source, &reads);
        PackSettings settings;
        settings.fit = c.fit;
        settings.size = c.size;
        PackPlan plan;
        const std::string failure = planSizes(source, settings, "in.nii", &plan);
        EXPECT_TRUE(failure.empty() || failure.find("in.nii: out of memory: packing needs ") == 0)
            << failure;
        EXPECT_EQ(reads, 0);
        EXPECT_EQ(plan.n, c.n);
        EXPECT_EQ(plan.outputBytes, 4096 + 3 * std::uint64_t(c.n) * std::uint64_t(c.n) * c.n);
        EXPECT_GE(plan.memory, c.minMemory);
        // Growing or shrinking, what is held stays within a few output and input slices.
        EXPECT_LT(plan.memory, 100 * std::uint64_t(c.n) * c.n + 100 * std::uint64_t(c.w) * c.h);
    }
    const std::tuple<std::uint64_t, std::int64_t, std::string> checks[] = {
        {10, 5, "in.nii: out of memory: packing needs 10 bytes at once, 5 bytes available"},
        {5, 5, ""},
        {std::uint64_t(1) << 40, -1, ""}, // unknown: not refused
    };
    for (const auto& [needs, available, message] : checks)
        EXPECT_EQ(checkPackMemory("in.nii", needs, available), message);
}

TEST(PackPlan, ASpacingTheFileLeavesOutIsNeverMadeUp) {
    // Frames whose plane spacing is given but whose distance apart is not: a placeholder must not
    // stretch or squash the stack; the closing line says why nothing was resampled.
    TypedSource source = floatSource(8, 8, 4, 1, [](int, int, int, int) { return 0.0f; });
    source.info.spacing[0] = source.info.spacing[1] = 0.5;
    source.info.axisSpacingKnown[0] = source.info.axisSpacingKnown[1] = true;
    PackSettings settings;
    settings.fit = CubeFit::Pad;
    PackPlan plan;
    ASSERT_EQ(planSizes(source, settings, "in.dcm", &plan), "");
    EXPECT_EQ(std::vector<int>(plan.resampled, plan.resampled + 3), std::vector<int>({8, 8, 4}));
    EXPECT_NE(describePlan(source.info, plan).find("not resampled: no spacing along z"),
              std::string::npos);
    // All three known, or given by the user: resampled as usual.
    source.info.axisSpacingKnown[2] = source.info.spacingKnown = true;
    ASSERT_EQ(planSizes(source, settings, "in.dcm", &plan), "");
    EXPECT_EQ(plan.resampled[2], 8);
    EXPECT_EQ(describePlan(source.info, plan).find("not resampled"), std::string::npos);
}

// A level's side counts its largest reduction against the full level, whichever axis keeps its
// samples: levels that keep their slices, levels of a file coarse along z, single slices.
TEST(PyramidLevels, TheSideFollowsTheLargestReduction) {
    const auto level = [](int x, int y, int z, double sx, double sy, double sz) {
        PyramidLevel l;
        l.sizes[0] = x, l.sizes[1] = y, l.sizes[2] = z;
        l.spacing[0] = sx, l.spacing[1] = sy, l.spacing[2] = sz;
        return l;
    };
    struct Case {
        const char* label;
        std::vector<PyramidLevel> levels;
        std::vector<long long> sides;
    };
    const Case cases[] = {
        {"halved on every axis",
         {level(64, 64, 64, 1, 1, 1), level(32, 32, 32, 2, 2, 2), level(16, 16, 16, 4, 4, 4)},
         {64, 32, 16}},
        {"slices kept",
         {level(64, 48, 40, 1, 1, 1), level(32, 24, 40, 2, 2, 1), level(16, 12, 40, 4, 4, 1)},
         {40, 20, 10}},
        {"coarse along z, x and y halved",
         {level(40, 36, 10, 0.5, 0.5, 4), level(20, 18, 10, 1, 1, 4)},
         {36, 18}},
        {"one slice", {level(64, 32, 1, 1, 1, 1), level(32, 16, 1, 2, 2, 1)}, {32, 16}},
        {"no spacing", {level(8, 8, 8, 1, 1, 1), level(4, 4, 4, 0, 2, 2)}, {8, -1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<long long> sides;
        for (int l = 0; l < int(c.levels.size()); ++l)
            sides.push_back(pyramidLevelSide(c.levels, l));
        EXPECT_EQ(sides, c.sides);
    }
}
