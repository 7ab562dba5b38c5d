#include "nrrdfile.h"

#include "helpers.h"
#include "inputfile.h"
#include "output.h"
#include "rawfile.h"

#include <teem/nrrd.h>
#include <zlib.h>

#include <QFileInfo>

#include <climits>
#include <cstdlib>
#include <limits>
#include <memory>
#include <vector>

namespace {
// teem's explanation, innermost (last) line first, without its "[nrrd] function:" prefix.
std::string teemFailure() {
    char* text = biffGetDone(NRRD);
    std::string all(text ? text : "");
    std::free(text);
    while (!all.empty() && all.back() == '\n')
        all.pop_back();
    std::string line = all.substr(all.rfind('\n') + 1);
    const std::size_t colon = line.find(": ");
    return colon == std::string::npos ? line : line.substr(colon + 2);
}

// A gzip stream read forwards from an open file.
struct Inflater {
    std::shared_ptr<FileHandle> file;
    z_stream stream{};
    std::vector<unsigned char> input = std::vector<unsigned char>(1 << 16);
    std::uint64_t position = 0; // decompressed bytes consumed so far

    explicit Inflater(std::shared_ptr<FileHandle> f) : file(std::move(f)) {
        inflateInit2(&stream, 15 + 16); // gzip framing
    }
    ~Inflater() { inflateEnd(&stream); }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // Fills out with the next length bytes; false when the data ends early or is damaged.
    bool next(unsigned char* out, std::size_t length) {
        stream.next_out = out;
        stream.avail_out = uInt(length);
        while (stream.avail_out > 0) {
            if (stream.avail_in == 0) {
                stream.avail_in = uInt(std::fread(input.data(), 1, input.size(), file->get()));
                stream.next_in = input.data();
                if (stream.avail_in == 0)
                    return false;
            }
            const int result = inflate(&stream, Z_NO_FLUSH);
            if (result != Z_OK && !(result == Z_STREAM_END && stream.avail_out == 0))
                return false;
        }
        position += length;
        return true;
    }
};

std::string openGzipSamples(const QString& path, std::shared_ptr<FileHandle> file, int width,
                            int height, int depth, int channels, SliceSource* source) {
    auto inflater = std::make_shared<Inflater>(std::move(file));
    const std::size_t pixels = std::size_t(width) * std::size_t(height);
    auto buffer = std::make_shared<std::vector<unsigned char>>(pixels * std::size_t(channels));
    source->width = width;
    source->height = height;
    source->depth = depth;
    source->read = [=](int z, unsigned char* rgb) {
        // Skipped slices are decompressed into the buffer and dropped.
        const std::uint64_t start = std::uint64_t(z) * buffer->size();
        bool good = true;
        while (good && inflater->position < start)
            good = inflater->next(buffer->data(), std::size_t(std::min<std::uint64_t>(
                                                      start - inflater->position, buffer->size())));
        if (!good || !inflater->next(buffer->data(), buffer->size()))
            return fileMessage(path, "file too short or damaged: truncated gzip samples");
        expandToRgb(buffer->data(), channels, pixels, rgb);
        return std::string();
    };
    return std::string();
}

// nrrdNix frees an array's description, not its data: the arrays here have none of teem's.
struct NrrdDeleter {
    void operator()(Nrrd* nrrd) const { nrrdNix(nrrd); }
    void operator()(NrrdIoState* nio) const {
        if (nio->dataFile)
            std::fclose(nio->dataFile);
        nio->dataFile = nullptr;
        nrrdIoStateNix(nio);
    }
};
} // namespace

std::string openNrrdSource(const QString& path, SliceSource* source) {
    // teem opens files itself; only regular ones are handed to it, as everywhere.
    FileHandle input;
    const std::string openFailure = openInputFile(path, &input);
    if (!openFailure.empty())
        return openFailure;
    std::unique_ptr<Nrrd, NrrdDeleter> nrrd(nrrdNew());
    std::unique_ptr<NrrdIoState, NrrdDeleter> nio(nrrdIoStateNew());
    nrrdIoStateSet(nio.get(), nrrdIoStateSkipData, AIR_TRUE);
    nrrdIoStateSet(nio.get(), nrrdIoStateKeepNrrdDataFileOpen, AIR_TRUE);
    if (nrrdLoad(nrrd.get(), QFile::encodeName(path).constData(), nio.get()))
        return fileMessage(path, "bad NRRD: " + teemFailure());

    if (nrrd->type != nrrdTypeUChar)
        return fileMessage(path, std::string("unsupported NRRD type '") +
                                     airEnumStr(nrrdType, nrrd->type) +
                                     "': only unsigned char samples are volumes");
    const unsigned int dim = nrrd->dim;
    const std::size_t channels = dim == 4 ? nrrd->axis[0].size : 1;
    if ((dim != 3 && dim != 4) || channels < 1 || channels > 4)
        return fileMessage(path, "unsupported NRRD layout: need x y z axes, after 1 to 4 channels");
    int sizes[3];
    for (unsigned int k = 0; k < 3; ++k) {
        const std::size_t size = nrrd->axis[dim - 3 + k].size;
        sizes[k] = size > INT_MAX ? 0 : int(size); // 0 is refused as a size later
    }
    const bool gzip = nio->encoding == nrrdEncodingGzip;
    if (nio->encoding != nrrdEncodingRaw && !gzip)
        return fileMessage(path, std::string("unsupported NRRD encoding '") + nio->encoding->name +
                                     "': only raw and gzip");
    if (!nio->dataFile)
        return fileMessage(path, "unsupported NRRD: data in several files");
    if (gzip && nio->byteSkip != 0)
        return fileMessage(path, "unsupported NRRD: byte skip with gzip encoding");

    // The data file, left open by teem at the first sample, becomes the source's.
    auto file = std::make_shared<FileHandle>(nio->dataFile);
    nio->dataFile = nullptr;
    if (gzip)
        return openGzipSamples(path, file, sizes[0], sizes[1], sizes[2], int(channels), source);
    return openRawSamples(path, file, ftello(file->get()), sizes[0], sizes[1], sizes[2],
                          int(channels), source);
}

std::string openNrrdSink(const QString& path, int n, SliceSink* sink) {
    std::unique_ptr<Nrrd, NrrdDeleter> nrrd(nrrdNew());
    std::unique_ptr<NrrdIoState, NrrdDeleter> nio(nrrdIoStateNew());
    // teem checks that an array has data even when asked to skip it; it is never read.
    static unsigned char unread;
    const std::size_t sizes[4] = {3, std::size_t(n), std::size_t(n), std::size_t(n)};
    const int kinds[4] = {nrrdKindRGBColor, nrrdKindDomain, nrrdKindDomain, nrrdKindDomain};
    const double nan = std::numeric_limits<double>::quiet_NaN(); // "none": the colour axis has no
                                                                 // direction in space
    const double directions[4][NRRD_SPACE_DIM_MAX] = {
        {nan, nan, nan}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    const double origin[3] = {0, 0, 0};
    char* header = nullptr;
    bool failed = nrrdWrap_nva(nrrd.get(), &unread, nrrdTypeUChar, 4, sizes) ||
                  nrrdSpaceSet(nrrd.get(), nrrdSpaceLeftPosteriorSuperior) ||
                  nrrdSpaceOriginSet(nrrd.get(), origin);
    if (!failed) {
        nrrdAxisInfoSet_nva(nrrd.get(), nrrdAxisInfoKind, kinds);
        nrrdAxisInfoSet_nva(nrrd.get(), nrrdAxisInfoSpaceDirection, directions);
        failed = nrrdIoStateSet(nio.get(), nrrdIoStateSkipData, AIR_TRUE) ||
                 nrrdIoStateEncodingSet(nio.get(), nrrdEncodingRaw) ||
                 nrrdStringWrite(&header, nrrd.get(), nio.get());
    }
    if (failed)
        return fileMessage(path, "can't write: " + teemFailure());
    std::string text(header);
    std::free(header);
    // The string form stops before the blank line that ends a header with attached data.
    if (text.size() < 2 || text.compare(text.size() - 2, 2, "\n\n") != 0)
        text += "\n";
    return openFileSink(path, text, n, sink);
}
