#include "dicom/dicomrle.h"

#include "littleendian.h"
#include "text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {
// Writes run bytes of value into out, which has room for room >= run. Runs are short, so where
// the room allows it they go in 8-byte stores rather than through memset, whose start costs
// more than such a run; the stores past the run are written over by the runs after it.
inline void repeatByte(unsigned char value, std::size_t run, std::size_t room, unsigned char* out) {
    if (room < run + 8) {
        std::memset(out, value, run);
        return;
    }
    const std::uint64_t bytes = value * 0x0101010101010101ULL;
    for (std::size_t k = 0; k < run; k += 8)
        std::memcpy(out + k, &bytes, 8);
}

// Decodes the PackBits segment data[at, end) into count bytes of plane: a byte n of 0 to 127
// is followed by n + 1 literal bytes, one of -127 to -1 by a byte repeated 1 - n times, and -128
// is nothing. Runs past count are cut. False where the segment ends before count bytes.
bool decodeRleSegment(const unsigned char* data, std::size_t at, std::size_t end, std::size_t count,
                      unsigned char* plane) {
    std::size_t done = 0;
    while (at < end && done < count) {
        const int n = static_cast<signed char>(data[at++]);
        if (n >= 0) {
            const std::size_t run = std::min<std::size_t>(std::size_t(n) + 1, count - done);
            if (end - at < run)
                return false;
            std::memcpy(plane + done, data + at, run);
            at += std::size_t(n) + 1;
            done += run;
        } else if (n != -128) {
            if (at >= end)
                return false;
            const std::size_t run = std::min<std::size_t>(std::size_t(1 - n), count - done);
            repeatByte(data[at], run, count - done, plane + done);
            ++at;
            done += run;
        }
    }
    return done == count;
}

// Interleaves the decoded segments, which hold the samples' bytes most significant first,
// channel after channel, into little-endian samples with their channels interleaved.
void interleaveRlePlanes(const unsigned char* planes, std::size_t count, int channels,
                         int sampleBytes, char* out) {
    unsigned char* bytes = reinterpret_cast<unsigned char*>(out);
    if (channels == 1 && sampleBytes == 2) { // the common case, in a loop the compiler widens
        const unsigned char *high = planes, *low = planes + count;
        for (std::size_t i = 0; i < count; ++i) {
            bytes[2 * i] = low[i];
            bytes[2 * i + 1] = high[i];
        }
        return;
    }
    const std::size_t stride = std::size_t(channels) * std::size_t(sampleBytes);
    for (std::size_t s = 0; s < stride; ++s) {
        const std::size_t channel = s / std::size_t(sampleBytes);
        const std::size_t byte = std::size_t(sampleBytes) - 1 - s % std::size_t(sampleBytes);
        unsigned char* target = bytes + channel * std::size_t(sampleBytes) + byte;
        const unsigned char* plane = planes + s * count;
        for (std::size_t i = 0; i < count; ++i)
            target[i * stride] = plane[i];
    }
}
} // namespace

std::string decodeRleFrame(const unsigned char* data, std::size_t size, std::size_t count,
                           int channels, int sampleBytes, char* out) {
    const std::size_t segments = std::size_t(channels) * std::size_t(sampleBytes);
    auto word = [&](std::size_t at) { return littleEndianWord(data + at); };
    if (size < 64 || word(0) != segments)
        return formatString("damaged DICOM RLE data: %s segments where %zu are needed",
                            size < 64 ? "no" : std::to_string(word(0)).c_str(), segments);
    // One segment is the frame itself; several are decoded apart, then interleaved.
    std::vector<unsigned char> planes(segments > 1 ? segments * count : 0);
    unsigned char* const first =
        segments > 1 ? planes.data() : reinterpret_cast<unsigned char*>(out);
    for (std::size_t s = 0; s < segments; ++s) {
        const std::size_t begin = word(4 + 4 * s);
        const std::size_t end = s + 1 < segments ? word(8 + 4 * s) : size;
        if (begin < 64 || begin > end || end > size)
            return "damaged DICOM RLE data: a segment outside its fragment";
        if (!decodeRleSegment(data, begin, end, count, first + s * count))
            return "damaged DICOM RLE data: a segment ends early";
    }
    if (segments > 1)
        interleaveRlePlanes(planes.data(), count, channels, sampleBytes, out);
    return std::string();
}
