#include "nrrd/nrrddata.h"

#include "inputfile.h"
#include "storedsamples.h"
#include "raw.h"
#include "text.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace {
const char* encodingName(NrrdDataEncoding encoding) {
    switch (encoding) {
    case NrrdDataEncoding::Raw:
        return "raw";
    case NrrdDataEncoding::Gzip:
        return "gzip";
    case NrrdDataEncoding::Bzip2:
        return "bzip2";
    case NrrdDataEncoding::Hex:
        return "hex";
    case NrrdDataEncoding::Ascii:
        break;
    }
    return "ASCII";
}

// Refuses a file too short for the samples it should hold, before any is decoded.
std::string checkLength(const NrrdData& data, long available, std::uint64_t bytes,
                        SampleType type) {
    if (available >= 0 && nrrdDataMayHold(data.encoding, std::uint64_t(available), bytes, type))
        return std::string();
    return formatString("file too short: %ld bytes of %s data can't hold %llu bytes of samples",
                        available, encodingName(data.encoding), (unsigned long long)bytes);
}

// Moves file past lineSkip lines, then byteSkip bytes (-1: to where the last bytes of samples
// begin). The offset of the first sample, or -1.
off_t skipInto(std::FILE* file, const NrrdData& data, std::uint64_t bytes) {
    for (unsigned line = 0; line < data.lineSkip; ++line) {
        int c;
        while ((c = std::getc(file)) != '\n')
            if (c == EOF)
                return -1;
    }
    const off_t here = ftello(file);
    const long left = remainingBytes(file);
    if (here < 0 || left < 0 || (data.byteSkip == -1 && std::uint64_t(left) < bytes))
        return -1;
    return data.byteSkip == -1 ? here + off_t(std::uint64_t(left) - bytes) : here + data.byteSkip;
}

// Reads slices forwards through the data files, each holding slicesPerFile of them.
struct SliceReader {
    NrrdData data;
    SampleType type;
    std::uint64_t sliceBytes = 0;
    int slicesPerFile = 0;
    int current = -1; // the file the stream reads
    std::unique_ptr<NrrdStream> stream;

    std::string open(int index);
    std::string read(int z, unsigned char* out);
};

std::string SliceReader::open(int index) {
    current = -1;
    const std::uint64_t bytes = sliceBytes * std::uint64_t(slicesPerFile);
    const std::string& path = data.files[std::size_t(index)];
    const std::string name = QFileInfo(QFile::decodeName(path.c_str())).fileName().toStdString();
    auto file = std::make_shared<FileHandle>(openFile(path.c_str(), "rb"));
    if (!*file)
        return "can't open the data file " + name;
    const off_t start = skipInto(file->get(), data, bytes);
    if (start < 0 || fseeko(file->get(), start, SEEK_SET) != 0)
        return "file too short: the data file " + name + " ends before its samples";
    const std::string failure = checkLength(data, remainingBytes(file->get()), bytes, type);
    if (!failure.empty())
        return "the data file " + name + ": " + failure;
    stream = openNrrdStream(data.encoding, std::move(file), start, type);
    current = index;
    return std::string();
}

std::string SliceReader::read(int z, unsigned char* out) {
    const int index = z / slicesPerFile;
    const std::uint64_t at = std::uint64_t(z % slicesPerFile) * sliceBytes;
    std::string failure;
    if (index != current)
        failure = open(index);
    else if (at < stream->position && !stream->rewind())
        failure = "can't read the samples again: the file does not seek";
    if (failure.empty() && at > stream->position)
        failure = stream->skip(at - stream->position, out, std::size_t(sliceBytes));
    if (failure.empty())
        failure = stream->next(out, std::size_t(sliceBytes));
    if (failure.empty() && data.swap && data.encoding != NrrdDataEncoding::Ascii)
        swapSampleBytes(type, std::size_t(sliceBytes / sampleTypeBytes(type)), out);
    return failure;
}

std::string openOneFile(const std::shared_ptr<SliceReader>& reader, std::uint64_t total) {
    std::FILE* file = reader->data.file->get();
    const off_t start = ftello(file);
    const std::string failure =
        checkLength(reader->data, start < 0 ? -1 : remainingBytes(file), total, reader->type);
    if (!failure.empty())
        return failure;
    reader->stream = openNrrdStream(reader->data.encoding, reader->data.file, start, reader->type);
    reader->current = 0;
    return std::string();
}
} // namespace

std::string openNrrdData(NrrdData data, TypedSource* source) {
    const VolumeInfo& info = source->info;
    // Checked here as well as at the door: the bounds below multiply the sizes.
    std::string failure = checkVolumeSizes(info);
    if (!failure.empty())
        return failure;
    const bool oneFile = data.files.size() <= 1;
    if (oneFile && data.encoding == NrrdDataEncoding::Raw)
        return openRawSamples(data.file, ftello(data.file->get()), data.swap, source);
    auto reader = std::make_shared<SliceReader>();
    reader->type = info.type;
    reader->sliceBytes = sliceBytes(info);
    if (!oneFile && info.depth % int(data.files.size()) != 0)
        return formatString("unsupported NRRD: %d slices can't be shared out among %zu data "
                            "files of whole slices",
                            info.depth, data.files.size());
    reader->slicesPerFile = oneFile ? info.depth : info.depth / int(data.files.size());
    reader->data = std::move(data);
    if (oneFile)
        failure = openOneFile(reader, reader->sliceBytes * std::uint64_t(info.depth));
    if (!failure.empty())
        return failure;
    source->costlyReads = reader->data.encoding != NrrdDataEncoding::Raw;
    source->read = [reader](int z, void* samples) {
        return reader->read(z, static_cast<unsigned char*>(samples));
    };
    return std::string();
}
