#include "nrrd/nrrdstreams.h"

#include "codecs/inflater.h"
#include "messages.h"

#include <bzlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

namespace {
const char truncatedSamples[] = "file too short or damaged: truncated samples";

// The file's bytes from start on, buffered; reads at its own offset, so that nothing else
// moving the stream's position matters.
class ByteReader {
public:
    ByteReader(std::shared_ptr<FileHandle> file, off_t start)
        : file(std::move(file)), start(start) {}
    int get() {
        if (at == end && !fill())
            return EOF;
        return buffer[at++];
    }
    // The next bytes read, at most length: as many as are buffered, or a fresh buffer's worth.
    std::size_t take(const unsigned char** bytes, std::size_t length) {
        if (at == end && !fill())
            return 0;
        *bytes = buffer.data() + at;
        const std::size_t count = std::min(length, end - at);
        at += count;
        return count;
    }
    bool rewind() {
        offset = start;
        at = end = 0;
        return true;
    }

private:
    std::shared_ptr<FileHandle> file;
    off_t start, offset = start;
    std::vector<unsigned char> buffer = std::vector<unsigned char>(1 << 16);
    std::size_t at = 0, end = 0;

    bool fill() {
        if (fseeko(file->get(), offset, SEEK_SET) != 0)
            return false;
        end = std::fread(buffer.data(), 1, buffer.size(), file->get());
        at = 0;
        offset += off_t(end);
        return end > 0;
    }
};

class RawStream : public NrrdStream {
public:
    RawStream(std::shared_ptr<FileHandle> file, off_t start)
        : file(std::move(file)), start(start) {}
    std::string next(unsigned char* out, std::size_t length) override {
        if (fseeko(file->get(), start + off_t(position), SEEK_SET) != 0 ||
            std::fread(out, 1, length, file->get()) != length)
            return truncatedSamples;
        position += length;
        return std::string();
    }
    std::string skip(std::uint64_t length, unsigned char*, std::size_t) override {
        position += length;
        return std::string();
    }
    bool rewind() override {
        position = 0;
        return true;
    }

private:
    std::shared_ptr<FileHandle> file;
    off_t start;
};

class GzipStream : public NrrdStream {
public:
    GzipStream(std::shared_ptr<FileHandle> file, off_t start)
        : file(std::move(file)), inflater(this->file->get(), start, -1, true) {}
    std::string next(unsigned char* out, std::size_t length) override {
        if (inflater.next(out, length) != Inflater::Result::Done)
            return "file too short or damaged: truncated gzip samples";
        position = inflater.position;
        return std::string();
    }
    bool rewind() override {
        position = 0;
        return inflater.rewind();
    }

private:
    std::shared_ptr<FileHandle> file; // the inflater's, held for it
    Inflater inflater;
};

// bzip2 data, of one stream or several one after another (as parallel compressors write them).
class Bzip2Stream : public NrrdStream {
public:
    Bzip2Stream(std::shared_ptr<FileHandle> file, off_t start) : input(std::move(file), start) {
        started = BZ2_bzDecompressInit(&stream, 0, 0) == BZ_OK;
    }
    ~Bzip2Stream() override {
        if (started)
            BZ2_bzDecompressEnd(&stream);
    }
    std::string next(unsigned char* out, std::size_t length) override;
    bool rewind() override {
        if (started)
            BZ2_bzDecompressEnd(&stream);
        stream = bz_stream();
        started = BZ2_bzDecompressInit(&stream, 0, 0) == BZ_OK;
        position = 0;
        return input.rewind() && started;
    }

private:
    ByteReader input;
    bz_stream stream = bz_stream();
    bool started = false;

    // Starts the next of several streams on the input left after the one that ended.
    bool restart() {
        char* left = stream.next_in;
        const unsigned int leftCount = stream.avail_in;
        BZ2_bzDecompressEnd(&stream);
        stream = bz_stream();
        started = BZ2_bzDecompressInit(&stream, 0, 0) == BZ_OK;
        stream.next_in = left;
        stream.avail_in = leftCount;
        return started;
    }
};

std::string Bzip2Stream::next(unsigned char* out, std::size_t length) {
    if (!started)
        return "out of memory: can't start a bzip2 decoder";
    stream.next_out = reinterpret_cast<char*>(out);
    while (length > 0) {
        const std::size_t step = std::min<std::size_t>(length, 1u << 30);
        stream.avail_out = unsigned(step);
        while (stream.avail_out > 0) {
            const unsigned char* bytes = nullptr;
            if (stream.avail_in == 0) {
                stream.avail_in = unsigned(input.take(&bytes, 1u << 30));
                stream.next_in = const_cast<char*>(reinterpret_cast<const char*>(bytes));
            }
            if (stream.avail_in == 0)
                return "file too short or damaged: truncated bzip2 samples";
            const int result = BZ2_bzDecompress(&stream);
            if (result == BZ_STREAM_END && stream.avail_out > 0 && !restart())
                return "file too short or damaged: truncated bzip2 samples";
            if (result != BZ_OK && result != BZ_STREAM_END)
                return "damaged bzip2 samples";
        }
        length -= step;
        position += step;
    }
    return std::string();
}

// Two hex digits a byte, upper or lower case, with any white space between them.
class HexStream : public NrrdStream {
public:
    HexStream(std::shared_ptr<FileHandle> file, off_t start) : input(std::move(file), start) {}
    std::string next(unsigned char* out, std::size_t length) override {
        for (std::size_t i = 0; i < length; ++i) {
            const int high = digit(), low = high < 0 ? high : digit();
            if (high == -1 || low == -1)
                return truncatedSamples;
            if (high < 0 || low < 0)
                return "bad NRRD: a character other than a hex digit in the hex samples";
            out[i] = static_cast<unsigned char>(high << 4 | low);
        }
        position += length;
        return std::string();
    }
    bool rewind() override {
        position = 0;
        return input.rewind();
    }

private:
    ByteReader input;
    // The next digit's value; -1 at the end, -2 for a character that is no digit.
    int digit() {
        int c = input.get();
        while (c == ' ' || c == '\n' || c == '\r' || c == '\t')
            c = input.get();
        if (c == EOF)
            return -1;
        if (c >= '0' && c <= '9')
            return c - '0';
        if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f')
            return (c | 0x20) - 'a' + 10;
        return -2;
    }
};

// Numbers written out as text, separated by white space or commas; each must be a number of
// the type (an integer in its range for the integer types).
class AsciiStream : public NrrdStream {
public:
    AsciiStream(std::shared_ptr<FileHandle> file, off_t start, SampleType type)
        : input(std::move(file), start), type(type) {}
    std::string next(unsigned char* out, std::size_t length) override;
    bool rewind() override {
        position = 0;
        return input.rewind();
    }

private:
    ByteReader input;
    SampleType type;
    // The next number's text, at most a number's length; false at the end.
    bool token(std::string* text);
};

bool separator(int c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == ',';
}

bool AsciiStream::token(std::string* text) {
    int c = input.get();
    while (separator(c))
        c = input.get();
    text->clear();
    for (; c != EOF && !separator(c) && text->size() <= 64; c = input.get())
        text->push_back(char(c));
    return !text->empty();
}

template <typename T> bool parseNumber(const std::string& text, T* value) {
    char* end = nullptr;
    errno = 0;
    if constexpr (std::is_floating_point_v<T>) {
        const double read = std::strtod(text.c_str(), &end);
        *value = static_cast<T>(read);
        return end == text.c_str() + text.size() && end != text.c_str();
    } else {
        const long long read = std::strtoll(text.c_str(), &end, 10);
        *value = static_cast<T>(read);
        return end == text.c_str() + text.size() && end != text.c_str() && errno == 0 &&
               read >= static_cast<long long>(std::numeric_limits<T>::min()) &&
               read <= static_cast<long long>(std::numeric_limits<T>::max());
    }
}

std::string AsciiStream::next(unsigned char* out, std::size_t length) {
    std::string failure, text;
    withSampleType(type, [&](auto* typed) {
        using T = std::remove_const_t<std::remove_pointer_t<decltype(typed)>>;
        const std::size_t count = length / sizeof(T);
        for (std::size_t i = 0; i < count && failure.empty(); ++i) {
            T value;
            if (!token(&text))
                failure = truncatedSamples;
            else if (!parseNumber(text, &value))
                failure = "bad NRRD: '" + text + "' in the ASCII samples is not a number of type " +
                          sampleTypeName(type);
            else
                std::memcpy(out + i * sizeof(T), &value, sizeof(T));
        }
    });
    if (failure.empty())
        position += length;
    return failure;
}
} // namespace

std::string NrrdStream::skip(std::uint64_t length, unsigned char* out, std::size_t chunk) {
    while (length > 0) {
        const std::size_t step = std::size_t(std::min<std::uint64_t>(length, chunk));
        const std::string failure = next(out, step);
        if (!failure.empty())
            return failure;
        length -= step;
    }
    return std::string();
}

std::unique_ptr<NrrdStream> openNrrdStream(NrrdDataEncoding encoding,
                                           std::shared_ptr<FileHandle> file, off_t start,
                                           SampleType type) {
    switch (encoding) {
    case NrrdDataEncoding::Raw:
        return std::make_unique<RawStream>(std::move(file), start);
    case NrrdDataEncoding::Gzip:
        return std::make_unique<GzipStream>(std::move(file), start);
    case NrrdDataEncoding::Bzip2:
        return std::make_unique<Bzip2Stream>(std::move(file), start);
    case NrrdDataEncoding::Hex:
        return std::make_unique<HexStream>(std::move(file), start);
    case NrrdDataEncoding::Ascii:
        break;
    }
    return std::make_unique<AsciiStream>(std::move(file), start, type);
}

bool nrrdDataMayHold(NrrdDataEncoding encoding, std::uint64_t fileBytes, std::uint64_t sampleBytes,
                     SampleType type) {
    switch (encoding) {
    case NrrdDataEncoding::Raw:
        return fileBytes >= sampleBytes;
    case NrrdDataEncoding::Gzip:
        return sampleBytes / maxDeflateExpansion <= fileBytes;
    case NrrdDataEncoding::Hex:
        return fileBytes / 2 >= sampleBytes;
    case NrrdDataEncoding::Ascii:
        return fileBytes / 2 + 1 >= sampleBytes / sampleTypeBytes(type);
    case NrrdDataEncoding::Bzip2:
        break;
    }
    return true;
}
