#include "dicom/dicompixels.h"

#include "dicom/dicomrle.h"

#include "littleendian.h"
#include "files.h"
#include "inputfile.h"
#include "systemmemory.h"
#include "text.h"
#include "messages.h"
#include "quietstderr.h"
#include "storedsamples.h"

#include <gdcmFragment.h>
#include <gdcmImage.h>
#include <gdcmImageReader.h>
#include <gdcmImageRegionReader.h>
#include <gdcmReader.h>
#include <gdcmSequenceOfFragments.h>
#include <gdcmSequenceOfItems.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <sstream>
#include <streambuf>
#include <vector>

namespace {
const gdcm::Tag pixelDataTag(0x7fe0, 0x0010);
const gdcm::Tag perFrameTag(0x5200, 0x9230);

// Files up to this size are read at once and parsed from memory: one read instead of GDCM's
// many small ones and seeks, and the stored samples compared without reading the file again.
// Larger ones (multi-frame files, large pictures) GDCM reads from the file, as they would be
// held three times over.
const std::uint64_t wholeFileLimit = std::uint64_t(16) << 20;

// A file's bytes, read at once; size 0 when the file is not read so.
struct WholeFile {
    std::unique_ptr<char[]> bytes; // not zero-filled first
    std::uint64_t size = 0;
};

// Reads file whole when it is a regular file of at most limit bytes.
WholeFile readWholeFile(const std::string& file, std::uint64_t limit = wholeFileLimit) {
    WholeFile whole;
    struct stat status;
    const int fd = openRegularFile(file.c_str(), &status);
    if (fd < 0)
        return whole;
    if (status.st_size > 0 && std::uint64_t(status.st_size) <= limit) {
        whole.bytes.reset(new (std::nothrow) char[std::size_t(status.st_size)]);
        if (whole.bytes && readExactly(fd, 0, std::size_t(status.st_size), whole.bytes.get()))
            whole.size = std::uint64_t(status.st_size);
    }
    ::close(fd);
    return whole;
}

// Where a file's transfer syntax is looked for: its meta information, at the start.
const std::size_t metaBytes = 64 << 10;

// Whether bytes, a file's start, name RLE Lossless as a whole value (the meta information
// stores the transfer syntax as text, padded with a zero): only such a file is given GDCM's
// header read first, which then says for certain.
bool namesRle(const char* bytes, std::size_t size) {
    static const char uid[] = "1.2.840.10008.1.2.5";
    const std::size_t length = sizeof uid - 1;
    const char* end = bytes + std::min(size, metaBytes);
    for (const char* at = bytes; (at = std::search(at, end, uid, uid + length)) != end; ++at)
        if (at + length == end || at[length] == '\0' || at[length] == ' ')
            return true;
    return false;
}

// Whether file, too large to be read at once, names RLE pixel data: such a file is read whole
// all the same, since GDCM then holds only its header, so that its fragments are checked
// against the file's end.
bool largeRleFile(const std::string& file) {
    std::vector<char> start(metaBytes);
    const int fd = openRegularFile(file.c_str());
    const ssize_t got = fd >= 0 ? ::pread(fd, start.data(), start.size(), 0) : -1;
    if (fd >= 0)
        ::close(fd);
    return got > 0 && namesRle(start.data(), std::size_t(got));
}

// A read-only stream over bytes in memory, seekable as GDCM needs.
class MemoryBuffer : public std::streambuf {
public:
    MemoryBuffer(char* bytes, std::size_t size) { setg(bytes, bytes, bytes + size); }

protected:
    pos_type seekoff(off_type offset, std::ios_base::seekdir from,
                     std::ios_base::openmode) override {
        char* base = from == std::ios_base::beg   ? eback()
                     : from == std::ios_base::cur ? gptr()
                                                  : egptr();
        if (offset < eback() - base || offset > egptr() - base)
            return pos_type(off_type(-1));
        setg(eback(), base + offset, egptr());
        return pos_type(off_type(gptr() - eback()));
    }
    pos_type seekpos(pos_type at, std::ios_base::openmode mode) override {
        return seekoff(off_type(at), std::ios_base::beg, mode);
    }
};

bool sampleType(gdcm::PixelFormat::ScalarType scalar, SampleType* type) {
    switch (scalar) {
    case gdcm::PixelFormat::SINGLEBIT: // unpacked to a byte each
    case gdcm::PixelFormat::UINT8:
        *type = SampleType::UInt8;
        return true;
    case gdcm::PixelFormat::INT8:
        *type = SampleType::Int8;
        return true;
    case gdcm::PixelFormat::UINT16:
        *type = SampleType::UInt16;
        return true;
    case gdcm::PixelFormat::INT16:
        *type = SampleType::Int16;
        return true;
    case gdcm::PixelFormat::UINT32:
        *type = SampleType::UInt32;
        return true;
    case gdcm::PixelFormat::INT32:
        *type = SampleType::Int32;
        return true;
    case gdcm::PixelFormat::FLOAT32:
        *type = SampleType::Float32;
        return true;
    case gdcm::PixelFormat::FLOAT64:
        *type = SampleType::Float64;
        return true;
    default:
        return false;
    }
}

bool usablePhotometric(const gdcm::Image& image, int channels) {
    using PI = gdcm::PhotometricInterpretation;
    const PI::PIType photometric = image.GetPhotometricInterpretation();
    const bool grey = photometric == PI::MONOCHROME1 || photometric == PI::MONOCHROME2;
    // GDCM's codecs turn the YBR of compressed colour into RGB; uncompressed YBR (RLE included,
    // decoded here) would stay as stored.
    const bool colour = photometric == PI::RGB ||
                        (image.GetTransferSyntax().IsEncapsulated() &&
                         image.GetTransferSyntax() != gdcm::TransferSyntax::RLELossless &&
                         (photometric == PI::YBR_FULL || photometric == PI::YBR_FULL_422 ||
                          photometric == PI::YBR_ICT || photometric == PI::YBR_RCT));
    return channels == 1 ? grey : colour;
}

// The first item of a sequence element of data, or null.
const gdcm::DataSet* firstItem(const gdcm::DataSet& data, const gdcm::Tag& tag) {
    if (!data.FindDataElement(tag))
        return nullptr;
    const gdcm::SmartPointer<gdcm::SequenceOfItems> items = data.GetDataElement(tag).GetValueAsSQ();
    return items && items->GetNumberOfItems() > 0 ? &items->GetItem(1).GetNestedDataSet() : nullptr;
}

// Which of the spacings and the orientation GDCM took from the file: the top level, or the
// shared or first per-frame functional groups of an enhanced multi-frame file.
void findGeometry(const gdcm::DataSet& data, DicomPixels* decoded) {
    const gdcm::Tag pixelSpacing(0x0028, 0x0030), betweenSlices(0x0018, 0x0088),
        gridOffsets(0x3004, 0x000c), orientation(0x0020, 0x0037);
    std::vector<const gdcm::DataSet*> measures, planes;
    for (const gdcm::Tag& groups : {gdcm::Tag(0x5200, 0x9229), gdcm::Tag(0x5200, 0x9230)})
        if (const gdcm::DataSet* item = firstItem(data, groups)) {
            measures.push_back(firstItem(*item, gdcm::Tag(0x0028, 0x9110)));
            planes.push_back(firstItem(*item, gdcm::Tag(0x0020, 0x9116)));
        }
    auto inAny = [](const std::vector<const gdcm::DataSet*>& sets, const gdcm::Tag& tag) {
        for (const gdcm::DataSet* set : sets)
            if (set && set->FindDataElement(tag) && !set->GetDataElement(tag).IsEmpty())
                return true;
        return false;
    };
    auto top = [&](const gdcm::Tag& tag) {
        return data.FindDataElement(tag) && !data.GetDataElement(tag).IsEmpty();
    };
    decoded->spacingGiven[0] = decoded->spacingGiven[1] =
        top(pixelSpacing) || inAny(measures, pixelSpacing);
    decoded->spacingGiven[2] =
        top(betweenSlices) || top(gridOffsets) || inAny(measures, betweenSlices);
    decoded->orientationGiven = top(orientation) || inAny(planes, orientation);
}

// The text of an element of data, "" when absent.
std::string elementText(const gdcm::DataSet& data, const gdcm::Tag& tag) {
    if (!data.FindDataElement(tag))
        return std::string();
    const gdcm::ByteValue* value = data.GetDataElement(tag).GetByteValue();
    return value ? std::string(value->GetPointer(), value->GetLength()) : std::string();
}

// Each frame's Image Position from the per-frame functional groups, when every frame has one.
std::vector<double> framePositions(const gdcm::DataSet& data, int frames) {
    std::vector<double> positions;
    if (!data.FindDataElement(perFrameTag))
        return positions;
    const gdcm::SmartPointer<gdcm::SequenceOfItems> items =
        data.GetDataElement(perFrameTag).GetValueAsSQ();
    if (!items || items->GetNumberOfItems() != std::size_t(frames))
        return positions;
    for (std::size_t i = 1; i <= items->GetNumberOfItems(); ++i) {
        const gdcm::DataSet* plane =
            firstItem(items->GetItem(i).GetNestedDataSet(), gdcm::Tag(0x0020, 0x9113));
        const std::vector<double> position =
            plane ? dicomNumbers(elementText(*plane, gdcm::Tag(0x0020, 0x0032)).c_str())
                  : std::vector<double>();
        if (position.size() != 3)
            return std::vector<double>();
        positions.insert(positions.end(), position.begin(), position.end());
    }
    return positions;
}

// Where the value of the pixel data starts when it ends the file, as it does in nearly every
// file: the element's own header (tag, VR, length) then lies just before its last bytes. -1
// otherwise, and for a big-endian file.
std::int64_t valueEndingFile(const std::string& file, const WholeFile& whole,
                             const gdcm::Image& image) {
    const gdcm::TransferSyntax syntax = image.GetTransferSyntax();
    const std::uint32_t length = image.GetDataElement().GetVL();
    if (syntax.GetSwapCode() != gdcm::SwapCode::LittleEndian || length == 0xffffffffu)
        return -1;
    FileHandle handle;
    struct stat status;
    if (!whole.size) {
        handle = openFile(file.c_str(), "rb");
        if (!handle || fstat(fileno(handle.get()), &status) != 0)
            return -1;
    }
    const std::int64_t fileSize = whole.size ? std::int64_t(whole.size) : status.st_size;
    const bool explicitVr = syntax.IsExplicit();
    const std::int64_t headerBytes = explicitVr ? 12 : 8;
    const std::int64_t start = fileSize - std::int64_t(length);
    unsigned char header[12];
    if (start < headerBytes)
        return -1;
    if (whole.size)
        std::memcpy(header, whole.bytes.get() + (start - headerBytes), std::size_t(headerBytes));
    else if (!readExactly(fileno(handle.get()), std::uint64_t(start - headerBytes),
                          std::size_t(headerBytes), header))
        return -1;
    const unsigned char* size = header + headerBytes - 4;
    const std::uint32_t given = littleEndianWord(size);
    const bool tag = std::memcmp(header, "\xe0\x7f\x10\x00", 4) == 0;
    const bool vr =
        !explicitVr ||
        ((std::memcmp(header + 4, "OW", 2) == 0 || std::memcmp(header + 4, "OB", 2) == 0) &&
         header[6] == 0 && header[7] == 0);
    return tag && vr && given == length ? start : -1;
}

// GDCM pads pixel data that ends early with zeros (with a warning only): the value must lie
// whole within the file. Where it does not end the file, the header is read again, up to the
// pixel data's value and without it, to learn where that value starts (*start).
std::string checkPixelDataWhole(const std::string& file, const WholeFile& whole,
                                const gdcm::Image& image, std::uint64_t length,
                                std::int64_t* start) {
    const gdcm::TransferSyntax syntax = image.GetTransferSyntax();
    if (syntax.IsEncapsulated() || syntax == gdcm::TransferSyntax::DeflatedExplicitVRLittleEndian)
        return std::string(); // the codecs refuse short streams; deflated offsets are not file's
    *start = valueEndingFile(file, whole, image);
    if (*start >= 0)
        return std::string(); // the value, at least length bytes, is the end of the file
    struct stat status;
    if (stat(file.c_str(), &status) != 0)
        return inputMessages::cantOpen;
    gdcm::Reader header;
    header.SetFileName(file.c_str());
    bool read = false;
    try {
        const QuietStderr quiet;
        read = header.ReadUpToTag(pixelDataTag, {pixelDataTag});
    } catch (...) {
        read = false;
    }
    if (!read)
        return "can't read the DICOM image";
    const std::uint64_t at = header.GetStreamCurrentPosition();
    const std::uint64_t size = std::uint64_t(status.st_size);
    if (at + length > size)
        return formatString("DICOM pixel data too short: the file ends %llu bytes into %llu",
                            static_cast<unsigned long long>(size > at ? size - at : 0),
                            static_cast<unsigned long long>(length));
    *start = std::int64_t(at);
    return std::string();
}

// GDCM swaps big-endian pixel data as 16-bit words whatever the sample size: the halves of
// each 32-bit sample come out exchanged.
void fixBigEndianWords(const gdcm::Image& image, SampleType type, std::vector<char>* pixels) {
    if (image.GetTransferSyntax().GetSwapCode() != gdcm::SwapCode::BigEndian ||
        sampleTypeBytes(type) != 4)
        return;
    for (std::size_t i = 0; i + 4 <= pixels->size(); i += 4) {
        char* s = &(*pixels)[i];
        std::swap(s[0], s[2]);
        std::swap(s[1], s[3]);
    }
}

// One fragment of encapsulated pixel data: a frame's codestream.
struct Fragment {
    const unsigned char* data;
    std::size_t size;
};

// RLE frames decoded here, one fragment a frame: GDCM mixes up the bytes of colour samples
// wider than one byte.
std::string decodeRleFrames(const std::vector<Fragment>& fragments, const DicomLayout& layout,
                            char* out) {
    if (fragments.size() != std::size_t(layout.frames))
        return "unsupported DICOM RLE data: not one fragment a frame";
    const std::size_t count = std::size_t(layout.columns) * std::size_t(layout.rows);
    const std::size_t frameBytes =
        count * std::size_t(layout.channels) * sampleTypeBytes(layout.type);
    for (std::size_t f = 0; f < fragments.size(); ++f) {
        const std::string failure =
            decodeRleFrame(fragments[f].data, fragments[f].size, count, layout.channels,
                           int(sampleTypeBytes(layout.type)), out + f * frameBytes);
        if (!failure.empty())
            return failure;
    }
    return std::string();
}

std::string decodeRle(const gdcm::Image& image, const DicomLayout& layout, char* out) {
    const gdcm::SequenceOfFragments* sequence = image.GetDataElement().GetSequenceOfFragments();
    if (!sequence)
        return "unsupported DICOM RLE data: not one fragment a frame";
    std::vector<Fragment> fragments;
    for (std::size_t f = 0; f < sequence->GetNumberOfFragments(); ++f) {
        const gdcm::ByteValue* value = sequence->GetFragment(f).GetByteValue();
        if (!value)
            return "damaged DICOM RLE data: an empty fragment";
        fragments.push_back(
            {reinterpret_cast<const unsigned char*>(value->GetPointer()), value->GetLength()});
    }
    return decodeRleFrames(fragments, layout, out);
}

// Whether the file's bytes at `at` start the header of encapsulated pixel data, in explicit VR
// little endian as RLE always is: its tag, OB or OW, and an undefined length.
bool encapsulatedPixelData(const WholeFile& whole, std::uint64_t at) {
    if (at > whole.size || whole.size - at < 12)
        return false;
    const auto* element = reinterpret_cast<const unsigned char*>(whole.bytes.get()) + at;
    return littleEndianHalf(element) == 0x7fe0 && littleEndianHalf(element + 2) == 0x0010 &&
           element[4] == 'O' && (element[5] == 'B' || element[5] == 'W') && !element[6] &&
           !element[7] && littleEndianWord(element + 8) == 0xffffffffU;
}

// The fragments of the encapsulated pixel data whose element's header ends at `at` in the
// file's bytes, the offset table left out. False where the element is not whole and plain:
// items of stated lengths inside the file, then the sequence's end.
bool encapsulatedFragments(const WholeFile& whole, std::uint64_t at,
                           std::vector<Fragment>* fragments) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(whole.bytes.get());
    const std::uint64_t size = whole.size;
    if (at < 12 || !encapsulatedPixelData(whole, at - 12))
        return false;
    bool table = true; // the first item is the offset table
    for (std::uint64_t p = at;;) {
        if (size - p < 8)
            return false;
        const std::uint32_t tag =
            std::uint32_t(littleEndianHalf(bytes + p)) << 16 | littleEndianHalf(bytes + p + 2);
        const std::uint32_t length = littleEndianWord(bytes + p + 4);
        p += 8;
        if (tag == 0xfffee0ddU)
            return length == 0 && !table;
        if (tag != 0xfffee000U || length > size - p)
            return false;
        if (!table)
            fragments->push_back({bytes + p, length});
        table = false;
        p += length;
    }
}

// How an RLE file held whole was read: not such a file (GDCM's full read takes it), its header
// read and its fragments found, or its fragments not lying whole in the file.
enum class RleHeader { other, read, damaged };

// Reads the header of an RLE file held whole, up to its pixel data's value, and finds its
// fragments. GDCM's full read decodes every frame through its streams to learn whether the
// codec is lossy, which RLE never is, and the frames are decoded here anyway; it also pads a
// fragment cut short with zeros, which would decode to samples the file does not hold.
RleHeader readRleHeader(const WholeFile& whole, std::istream& stream,
                        gdcm::ImageRegionReader* reader, std::vector<Fragment>* fragments) {
    reader->SetStream(stream);
    try {
        if (!reader->ReadInformation())
            return RleHeader::other;
    } catch (...) {
        return RleHeader::other;
    }
    const gdcm::TransferSyntax syntax = reader->GetFile().GetHeader().GetDataSetTransferSyntax();
    gdcm::Image& image = reader->GetImage();
    if (syntax != gdcm::TransferSyntax::RLELossless ||
        image.GetPixelFormat().GetScalarType() == gdcm::PixelFormat::SINGLEBIT)
        return RleHeader::other;
    image.SetTransferSyntax(syntax); // the header's read leaves the image's unset
    return encapsulatedFragments(whole, std::uint64_t(reader->GetStreamCurrentPosition()),
                                 fragments)
               ? RleHeader::read
               : RleHeader::damaged;
}

// Whether the samples of a JPEG 2000 frame are signed, from the codestream's SIZ marker: GDCM
// goes by the header's Pixel Representation where the two disagree. -1 when not found.
int jpeg2000Signed(const gdcm::Image& image) {
    const gdcm::SequenceOfFragments* fragments = image.GetDataElement().GetSequenceOfFragments();
    if (!fragments || fragments->GetNumberOfFragments() == 0)
        return -1;
    const gdcm::ByteValue* value = fragments->GetFragment(0).GetByteValue();
    if (!value)
        return -1;
    const unsigned char* data = reinterpret_cast<const unsigned char*>(value->GetPointer());
    const std::size_t size = value->GetLength();
    // SOC then SIZ; the first component's Ssiz lies 40 bytes into SIZ, its top bit the sign.
    for (std::size_t i = 0; i + 41 < size; ++i)
        if (data[i] == 0xff && data[i + 1] == 0x4f && data[i + 2] == 0xff && data[i + 3] == 0x51)
            return data[i + 2 + 40] >> 7;
    return -1;
}

std::string checkJpeg2000Sign(const gdcm::Image& image, SampleType type) {
    const gdcm::TransferSyntax syntax = image.GetTransferSyntax();
    if (syntax != gdcm::TransferSyntax::JPEG2000 &&
        syntax != gdcm::TransferSyntax::JPEG2000Lossless)
        return std::string();
    const int sign = jpeg2000Signed(image);
    const bool headerSigned =
        type == SampleType::Int8 || type == SampleType::Int16 || type == SampleType::Int32;
    if (sign >= 0 && (sign == 1) != headerSigned)
        return formatString("JPEG 2000 data %s, its header's Pixel Representation %s",
                            sign ? "signed" : "unsigned", headerSigned ? "signed" : "unsigned");
    return std::string();
}

// Colour planes stored one after the other become interleaved samples.
void interleavePlanes(const DicomLayout& layout, std::vector<char>* pixels) {
    const std::vector<char> planes(*pixels);
    const std::size_t plane = std::size_t(layout.columns) * std::size_t(layout.rows);
    const std::size_t size = sampleTypeBytes(layout.type);
    for (std::size_t f = 0; f < std::size_t(layout.frames); ++f)
        for (std::size_t i = 0; i < plane; ++i)
            for (std::size_t c = 0; c < 3; ++c)
                std::memcpy(&(*pixels)[((f * plane + i) * 3 + c) * size],
                            &planes[((f * 3 + c) * plane + i) * size], size);
}

// The image's layout, checked against what the series expects; "" or the message.
std::string readLayout(const gdcm::Image& image, DicomLayout* layout, bool fill) {
    const gdcm::PixelFormat& format = image.GetPixelFormat();
    DicomLayout found;
    if (!sampleType(gdcm::PixelFormat::ScalarType(format.GetScalarType()), &found.type))
        return formatString("unsupported DICOM sample type %s (%d bits allocated)",
                            format.GetScalarTypeAsString(), int(format.GetBitsAllocated()));
    found.channels = format.GetSamplesPerPixel();
    if (found.channels != 1 && found.channels != 3)
        return formatString("unsupported DICOM samples per pixel %d", found.channels);
    if (!usablePhotometric(image, found.channels))
        return std::string("unsupported DICOM photometric interpretation ") +
               gdcm::PhotometricInterpretation::GetPIString(image.GetPhotometricInterpretation());
    found.columns = int(image.GetDimension(0));
    found.rows = int(image.GetDimension(1));
    found.frames = image.GetNumberOfDimensions() > 2 ? int(image.GetDimension(2)) : 1;
    if (fill) {
        *layout = found;
        // Checked on the file that sets the layout only: every other must be of its sizes.
        return checkVolumeSizes(found.columns, found.rows, found.frames, found.channels, found.type,
                                nullptr);
    }
    if (found.columns != layout->columns || found.rows != layout->rows ||
        found.frames != layout->frames || found.channels != layout->channels ||
        found.type != layout->type)
        return formatString("DICOM image of %d x %d x %d %s, unlike the series' first "
                            "(%d x %d x %d %s)",
                            found.columns, found.rows, found.channels, sampleTypeName(found.type),
                            layout->columns, layout->rows, layout->channels,
                            sampleTypeName(layout->type));
    return std::string();
}

// Single-bit samples, eight a byte from the lowest bit, become one byte each (0 or 1).
void unpackBits(std::vector<char>* pixels, std::size_t count) {
    const std::vector<char> packed(*pixels);
    pixels->resize(count);
    for (std::size_t i = 0; i < count; ++i)
        (*pixels)[i] = char((static_cast<unsigned char>(packed[i / 8]) >> (i % 8)) & 1);
}

// The layout's samples of bytes, as the image's buffer must hold, held in memory: "" or why not.
std::string checkPixelsSize(const gdcm::Image& image, const DicomLayout& layout,
                            std::size_t bytes) {
    const std::size_t samples = std::size_t(layout.columns) * std::size_t(layout.rows) *
                                std::size_t(layout.frames) * std::size_t(layout.channels);
    // A multi-frame file is held whole while read: it must fit the memory easily.
    const std::int64_t memory = layout.frames > 1 ? availableMemory() : -1;
    if (memory >= 0 && samples * sampleTypeBytes(layout.type) > std::size_t(memory / 4))
        return "multi-frame DICOM image too large for the memory available";
    if (image.GetBufferLength() != bytes)
        return "unsupported DICOM pixel layout";
    return std::string();
}

// The pixels of a read image, whose layout has been checked; "" or the message.
std::string readPixels(const std::string& file, const WholeFile& whole, const gdcm::Image& image,
                       const DicomLayout& layout, std::vector<char>* pixels,
                       std::int64_t* storedAt) {
    const std::size_t samples = std::size_t(layout.columns) * std::size_t(layout.rows) *
                                std::size_t(layout.frames) * std::size_t(layout.channels);
    const bool bits = image.GetPixelFormat().GetScalarType() == gdcm::PixelFormat::SINGLEBIT;
    const std::size_t bytes = bits ? (samples + 7) / 8 : samples * sampleTypeBytes(layout.type);
    const std::string size = checkPixelsSize(image, layout, bytes);
    if (!size.empty())
        return size;
    const gdcm::TransferSyntax syntax = image.GetTransferSyntax();
    if (!syntax.IsEncapsulated()) {
        const gdcm::ByteValue* value = image.GetDataElement().GetByteValue();
        if (!value || value->GetLength() < bytes)
            return formatString("DICOM pixel data too short: %u bytes of %zu",
                                value ? unsigned(value->GetLength()) : 0u, bytes);
        const std::string failure = checkPixelDataWhole(file, whole, image, bytes, storedAt);
        if (!failure.empty())
            return failure;
    }
    const std::string sign = checkJpeg2000Sign(image, layout.type);
    if (!sign.empty())
        return sign;
    pixels->resize(bytes);
    if (syntax == gdcm::TransferSyntax::RLELossless && !bits)
        return decodeRle(image, layout, pixels->data());
    bool decoded = false;
    {
        const QuietStderr quiet;
        decoded = image.GetBuffer(pixels->data());
    }
    if (!decoded)
        return "can't decode the DICOM pixel data";
    if (bits)
        unpackBits(pixels, samples);
    fixBigEndianWords(image, layout.type, pixels);
    if (layout.channels == 3 && image.GetPlanarConfiguration() == 1)
        interleavePlanes(layout, pixels);
    return std::string();
}
// The pixels of an RLE file whose header alone was read (readRleHeader), its layout checked.
std::string readRlePixels(const gdcm::Image& image, const DicomLayout& layout,
                          const std::vector<Fragment>& fragments, std::vector<char>* pixels) {
    const std::size_t bytes = std::size_t(layout.columns) * std::size_t(layout.rows) *
                              std::size_t(layout.frames) * std::size_t(layout.channels) *
                              sampleTypeBytes(layout.type);
    const std::string size = checkPixelsSize(image, layout, bytes);
    if (!size.empty())
        return size;
    pixels->resize(bytes);
    return decodeRleFrames(fragments, layout, pixels->data());
}
} // namespace

std::vector<double> dicomNumbers(const char* value) {
    std::vector<double> out;
    if (!value)
        return out;
    std::stringstream text(value);
    std::string item;
    while (std::getline(text, item, '\\')) {
        char* end = nullptr;
        const double number = std::strtod(item.c_str(), &end);
        while (end && (*end == ' ' || *end == '\0') && end < item.c_str() + item.size())
            ++end;
        if (end != item.c_str() + item.size() || !std::isfinite(number) || item.empty())
            return std::vector<double>();
        out.push_back(number);
    }
    return out;
}

std::string decodeDicomFile(const std::string& file, DicomLayout* layout, bool fill,
                            DicomPixels* decoded) {
    const QString name = QString::fromStdString(file);
    decoded->storedAt = -1;
    decoded->storedMatch = -1;
    // Once for the whole file: each redirection costs several system calls.
    const QuietStderr quiet;
    WholeFile whole = readWholeFile(file);
    const std::int64_t memory = whole.size ? -1 : availableMemory();
    if (memory > 0 && largeRleFile(file))
        whole = readWholeFile(file, std::uint64_t(memory) / 4);
    MemoryBuffer buffer(whole.bytes.get(), std::size_t(whole.size));
    std::istream stream(&buffer);
    gdcm::ImageRegionReader headerReader;
    gdcm::ImageReader fullReader;
    std::vector<Fragment> fragments;
    const RleHeader header = whole.size && namesRle(whole.bytes.get(), std::size_t(whole.size))
                                 ? readRleHeader(whole, stream, &headerReader, &fragments)
                                 : RleHeader::other;
    if (header == RleHeader::damaged)
        return otherFileMessage(name, "damaged DICOM RLE data: its fragments do not lie whole "
                                      "in the file");
    const bool rle = header == RleHeader::read;
    gdcm::ImageReader& reader = rle ? headerReader : fullReader;
    if (!rle) {
        stream.clear();
        stream.seekg(0);
        if (whole.size)
            reader.SetStream(stream);
        else
            reader.SetFileName(file.c_str());
        bool read = false;
        try {
            read = reader.Read();
        } catch (...) {
            read = false;
        }
        if (!read)
            return otherFileMessage(name, "can't read the DICOM image");
    }
    const gdcm::Image& image = reader.GetImage();
    std::string failure = readLayout(image, layout, fill);
    if (failure.empty())
        failure =
            rle ? readRlePixels(image, *layout, fragments, &decoded->pixels)
                : readPixels(file, whole, image, *layout, &decoded->pixels, &decoded->storedAt);
    if (!failure.empty())
        return otherFileMessage(name, failure);
    if (whole.size && decoded->storedAt >= 0)
        decoded->storedMatch =
            std::uint64_t(decoded->storedAt) <= whole.size &&
            decoded->pixels.size() <= whole.size - std::uint64_t(decoded->storedAt) &&
            std::memcmp(whole.bytes.get() + decoded->storedAt, decoded->pixels.data(),
                        decoded->pixels.size()) == 0;
    decoded->slope = image.GetSlope();
    decoded->intercept = image.GetIntercept();
    for (int k = 0; k < 3; ++k)
        decoded->spacing[k] = image.GetSpacing(unsigned(k));
    for (int k = 0; k < 6; ++k)
        decoded->cosines[k] = image.GetDirectionCosines(unsigned(k));
    findGeometry(reader.GetFile().GetDataSet(), decoded);
    if (layout->frames > 1)
        decoded->framePositions = framePositions(reader.GetFile().GetDataSet(), layout->frames);
    return std::string();
}
