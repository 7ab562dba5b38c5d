#include "tiff.h"

#include "inputfile.h"
#include "checkedsize.h"
#include "files.h"
#include "text.h"
#include "output.h"
#include "raw.h"
#include "storedsamples.h"
#include "volumefile.h"

#include <QXmlStreamReader>

#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

namespace {
// libtiff reports through process-wide handlers: the first error of a call is kept for the
// message (later ones follow from it), warnings (unknown tags and the like) dropped. Pages are
// read on a thread of their own.
thread_local std::string lastTiffError;

void keepError(const char*, const char* format, va_list args) {
    char buffer[512];
    std::vsnprintf(buffer, sizeof buffer, format, args);
    if (lastTiffError.empty())
        lastTiffError = buffer;
}

void installHandlers() {
    static const bool installed = [] {
        TIFFSetErrorHandler(keepError);
        TIFFSetWarningHandler(nullptr);
        return true;
    }();
    (void)installed;
}

// libtiff's last error in words a user can act on: data that ends early is said so, rather
// than with libtiff's byte counts.
std::string tiffReason() {
    const std::string& text = lastTiffError;
    if (text.find("bad magic number") != std::string::npos)
        return "it does not start with a TIFF header";
    for (const char* cut :
         {"Read error", "Seek error", "Premature", "Cannot read", "Can not read", "EOF"})
        if (text.find(cut) != std::string::npos)
            return "the file is cut short or damaged";
    return text.empty() ? std::string("damaged data") : text;
}

using TiffHandle = std::shared_ptr<TIFF>;

// How a page's samples are read: directly (any integer or float type libtiff decodes), or,
// for palettes, bilevel, YCbCr and the like, as 8-bit RGB(A) through libtiff's RGBA reader.
struct PageLayout {
    int width = 0, height = 0;
    int channels = 1;
    SampleType type = SampleType::UInt8;
    int alphaChannel = -1;
    bool planar = false; // the channels stored one plane after another
    bool tiled = false;
    bool viaRgba = false;

    bool operator==(const PageLayout& o) const {
        return width == o.width && height == o.height && channels == o.channels && type == o.type &&
               alphaChannel == o.alphaChannel;
    }
};

std::string pageLayout(TIFF* tiff, PageLayout* page) {
    std::uint32_t w = 0, h = 0;
    std::uint16_t bits = 1, channels = 1, photometric = PHOTOMETRIC_MINISBLACK,
                  planar = PLANARCONFIG_CONTIG, format = SAMPLEFORMAT_UINT, extraCount = 0;
    std::uint16_t* extra = nullptr;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &channels);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    page->width = w > INT_MAX ? INT_MAX : int(w);
    page->height = h > INT_MAX ? INT_MAX : int(h);
    page->planar = planar == PLANARCONFIG_SEPARATE;
    page->tiled = TIFFIsTiled(tiff);
    const bool alpha = extraCount > 0 && extraCount <= channels &&
                       (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA);
    const std::pair<int, SampleType> types[] = {
        {SAMPLEFORMAT_UINT * 100 + 8, SampleType::UInt8},
        {SAMPLEFORMAT_INT * 100 + 8, SampleType::Int8},
        {SAMPLEFORMAT_UINT * 100 + 16, SampleType::UInt16},
        {SAMPLEFORMAT_INT * 100 + 16, SampleType::Int16},
        {SAMPLEFORMAT_UINT * 100 + 32, SampleType::UInt32},
        {SAMPLEFORMAT_INT * 100 + 32, SampleType::Int32},
        {SAMPLEFORMAT_IEEEFP * 100 + 32, SampleType::Float32},
        {SAMPLEFORMAT_IEEEFP * 100 + 64, SampleType::Float64}};
    const bool plain = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_RGB;
    for (const auto& [key, type] : types)
        if (plain && key == format * 100 + bits) {
            page->type = type;
            page->channels = channels;
            page->alphaChannel = alpha ? channels - extraCount : -1;
            return std::string();
        }
    if (bits > 16 || format == SAMPLEFORMAT_IEEEFP)
        return formatString("unsupported TIFF samples: %d-bit of format %d, photometric %d", bits,
                            format, photometric);
    char message[1024] = "";
    if (!TIFFRGBAImageOK(tiff, message))
        return std::string("unsupported TIFF page: ") + message;
    page->viaRgba = true;
    page->type = SampleType::UInt8;
    page->channels = alpha ? 4 : 3;
    page->alphaChannel = alpha ? 3 : -1;
    return std::string();
}

// A page read as 8-bit RGB(A) through libtiff's RGBA reader.
bool readRgbaPage(TIFF* tiff, const PageLayout& page, unsigned char* out) {
    const std::size_t width = std::size_t(page.width), height = std::size_t(page.height);
    const std::size_t channels = std::size_t(page.channels);
    std::vector<std::uint32_t> raster(width * height);
    if (!TIFFReadRGBAImageOriented(tiff, std::uint32_t(width), std::uint32_t(height), raster.data(),
                                   ORIENTATION_TOPLEFT, 1) ||
        !lastTiffError.empty())
        return false;
    for (std::size_t i = 0; i < raster.size(); ++i) {
        unsigned char* pixel = out + i * channels;
        pixel[0] = static_cast<unsigned char>(TIFFGetR(raster[i]));
        pixel[1] = static_cast<unsigned char>(TIFFGetG(raster[i]));
        pixel[2] = static_cast<unsigned char>(TIFFGetB(raster[i]));
        if (channels == 4)
            pixel[3] = static_cast<unsigned char>(TIFFGetA(raster[i]));
    }
    return true;
}

// Puts a page's samples into the slice one plane (all channels, or one of them when planar)
// block by block: the blocks are tiles, or rows of strips.
struct BlockPlacer {
    BlockPlacer(const PageLayout& page, unsigned char* out)
        : out(out), planar(page.planar), bytes(sampleTypeBytes(page.type)),
          width(std::size_t(page.width)), height(std::size_t(page.height)),
          pixelBytes(bytes * std::size_t(page.channels)),
          planes(page.planar ? std::size_t(page.channels) : 1),
          blockChannels(page.planar ? 1 : std::size_t(page.channels)) {}

    // A block's samples land in the slice at (x0, row0).
    void place(const unsigned char* block, std::size_t blockWidth, std::size_t x0, std::size_t row0,
               std::size_t rows, std::size_t columns, std::size_t plane) const {
        for (std::size_t r = 0; r < rows; ++r) {
            unsigned char* row = out + (row0 + r) * width * pixelBytes;
            const unsigned char* in = block + r * blockWidth * blockChannels * bytes;
            if (!planar) {
                std::memcpy(row + x0 * pixelBytes, in, columns * pixelBytes);
                continue;
            }
            for (std::size_t x = 0; x < columns; ++x)
                std::memcpy(row + (x0 + x) * pixelBytes + plane * bytes, in + x * bytes, bytes);
        }
    }

    unsigned char* out;
    bool planar;
    std::size_t bytes, width, height, pixelBytes, planes, blockChannels;
};

bool readTiledPage(TIFF* tiff, const BlockPlacer& placer) {
    const std::size_t width = placer.width, height = placer.height;
    std::uint32_t tileWidth = 0, tileHeight = 0;
    TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight);
    const std::uint64_t tileBytes =
        std::uint64_t(tileWidth) * tileHeight * placer.blockChannels * placer.bytes;
    // A tile covers at most the page rounded up to whole tiles (or a small page in one
    // common tile size); a larger one claimed by a small file would only cost memory.
    const auto fits = [](std::uint32_t tile, std::size_t side) {
        return tile <= std::max<std::size_t>(1024, (side + 15) / 16 * 16);
    };
    if (tileWidth == 0 || tileHeight == 0 || !fits(tileWidth, width) || !fits(tileHeight, height) ||
        std::uint64_t(TIFFTileSize64(tiff)) < tileBytes) {
        lastTiffError = "bad tile size";
        return false;
    }
    std::vector<unsigned char> tile(std::size_t(TIFFTileSize64(tiff)));
    for (std::size_t plane = 0; plane < placer.planes; ++plane)
        for (std::size_t y = 0; y < height; y += tileHeight)
            for (std::size_t x = 0; x < width; x += tileWidth) {
                if (TIFFReadTile(tiff, tile.data(), std::uint32_t(x), std::uint32_t(y), 0,
                                 std::uint16_t(plane)) < 0 ||
                    !lastTiffError.empty())
                    return false;
                placer.place(tile.data(), tileWidth, x, y,
                             std::min<std::size_t>(tileHeight, height - y),
                             std::min<std::size_t>(tileWidth, width - x), plane);
            }
    return true;
}

bool readStripPage(TIFF* tiff, const BlockPlacer& placer) {
    const std::size_t lineBytes = placer.width * placer.blockChannels * placer.bytes;
    if (std::uint64_t(TIFFScanlineSize64(tiff)) < lineBytes) {
        lastTiffError = "bad scanline size";
        return false;
    }
    std::vector<unsigned char> line(std::size_t(TIFFScanlineSize64(tiff)));
    for (std::size_t plane = 0; plane < placer.planes; ++plane)
        for (std::size_t row = 0; row < placer.height; ++row) {
            if (TIFFReadScanline(tiff, line.data(), std::uint32_t(row), std::uint16_t(plane)) !=
                    1 ||
                !lastTiffError.empty())
                return false;
            placer.place(line.data(), placer.width, 0, row, 1, placer.width, plane);
        }
    return true;
}

// Reads the current page's samples into out (channels fastest, the page's top row first, as
// stored). False with lastTiffError set when libtiff fails.
bool readPage(TIFF* tiff, const PageLayout& page, unsigned char* out) {
    if (page.viaRgba)
        return readRgbaPage(tiff, page, out);
    const BlockPlacer placer(page, out);
    return page.tiled ? readTiledPage(tiff, placer) : readStripPage(tiff, placer);
}

// The "key=value" lines of an ImageJ description.
std::map<std::string, std::string> imageJFields(const std::string& text) {
    std::map<std::string, std::string> fields;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t stop = text.find('\n', start);
        stop = stop == std::string::npos ? text.size() : stop;
        const std::string line = text.substr(start, stop - start);
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos)
            fields[line.substr(0, equals)] = line.substr(equals + 1);
        start = stop + 1;
    }
    return fields;
}

long fieldNumber(const std::map<std::string, std::string>& fields, const char* key, long absent) {
    const auto found = fields.find(key);
    if (found == fields.end())
        return absent;
    char* end = nullptr;
    const long value = std::strtol(found->second.c_str(), &end, 10);
    return end == found->second.c_str() || value < 0 || value > INT_MAX ? -1 : value;
}

// Where the pages of a stack of several channels lie: page pageOf(c, z).
struct StackLayout {
    int channels = 1; // pages a slice (1: every page a slice)
    int depth = 0;    // slices
    int channelStride = 1, sliceStride = 1;
    int firstPage = 0; // of the time point read
    std::string format = "TIFF";
    double spacing[3] = {1, 1, 1};
    bool spacingKnown = false;

    int pageOf(int c, int z) const { return firstPage + c * channelStride + z * sliceStride; }
};

// An ImageJ hyperstack: pages in the order channel (fastest), slice, frame; volume is the frame
// read (-1: none picked).
std::string readImageJ(TIFF* tiff, const std::string& text, int pages, int samples, int volume,
                       StackLayout* stack) {
    const auto fields = imageJFields(text);
    const long channels = fieldNumber(fields, "channels", 1);
    const long frames = fieldNumber(fields, "frames", 1);
    const long images = fieldNumber(fields, "images", pages);
    long slices = fieldNumber(fields, "slices", 0);
    if (channels < 1 || frames < 1 || images < 1 || slices < 0 || channels > INT_MAX / frames)
        return "bad ImageJ description: channels, slices, frames or images";
    if (channels > 1 && samples > 1)
        return "unsupported ImageJ stack: channels of several samples each";
    if (slices == 0)
        slices = images / (channels * frames);
    if (slices > INT_MAX / (channels * frames))
        return "bad ImageJ description: channels, slices, frames or images";
    if (images > pages || channels * slices * frames > pages)
        return formatString("file too short: %d pages of the %ld the ImageJ description promises",
                            pages, std::max(images, channels * slices * frames));
    std::int64_t frame = 0;
    const std::string failure =
        pickVolume(frames, volume, formatString("ImageJ stack of %ld frames", frames), &frame);
    if (!failure.empty())
        return failure;
    stack->format = "ImageJ TIFF";
    stack->channels = int(channels);
    stack->depth = int(slices);
    stack->channelStride = 1;
    stack->sliceStride = int(channels);
    stack->firstPage = int(frame * channels * slices);
    float xResolution = 0, yResolution = 0;
    if (TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &xResolution) && xResolution > 0 &&
        TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &yResolution) && yResolution > 0) {
        stack->spacing[0] = 1 / double(xResolution);
        stack->spacing[1] = 1 / double(yResolution);
    }
    const auto spacing = fields.find("spacing");
    if (spacing != fields.end()) {
        const double z = std::strtod(spacing->second.c_str(), nullptr);
        if (z > 0 && std::isfinite(z))
            stack->spacing[2] = z;
    }
    stack->spacingKnown = fields.count("unit") > 0 || spacing != fields.end();
    return std::string();
}

// Where the planes of an OME-TIFF lie: after XY, the first of C, Z and T in the order varies
// fastest. Sets the strides of channels and slices, and the first page of time point t.
void omePlaneOrder(const QString& order, const long sizes[3], long t, StackLayout* stack) {
    long strides[3] = {1, 1, 1}, stride = 1;
    for (int k = 2; k < 5; ++k) {
        const int axis = int(QString("CZT").indexOf(order[k]));
        strides[axis] = stride;
        stride *= sizes[axis];
    }
    stack->channelStride = int(strides[0]);
    stack->sliceStride = int(strides[1]);
    stack->firstPage = int(t * strides[2]);
}

// An OME-TIFF: the first image's Pixels element gives the sizes, the order of the planes and
// the physical sizes; volume is the time point read (-1: none picked).
std::string readOme(const std::string& text, int pages, int samples, int volume,
                    StackLayout* stack) {
    QXmlStreamReader xml(QByteArray::fromStdString(text));
    while (!xml.atEnd() && !(xml.readNext() == QXmlStreamReader::StartElement &&
                             xml.name() == QLatin1String("Pixels"))) {
    }
    if (xml.hasError() || xml.atEnd())
        return "bad OME-XML description: no Pixels element";
    const QXmlStreamAttributes attributes = xml.attributes();
    const auto number = [&](const char* name) {
        bool good = false;
        const long value = attributes.value(QLatin1String(name)).toLong(&good);
        return good && value >= 1 && value <= INT_MAX ? value : -1;
    };
    const long sizeC = number("SizeC"), sizeZ = number("SizeZ"), sizeT = number("SizeT");
    const QString order = attributes.value(QLatin1String("DimensionOrder")).toString();
    if (sizeC < 1 || sizeZ < 1 || sizeT < 1 || order.size() != 5 || !order.startsWith("XY") ||
        !order.contains('C') || !order.contains('Z') || !order.contains('T'))
        return "bad OME-XML description: SizeC, SizeZ, SizeT or DimensionOrder";
    // RGB pages hold their channels as samples; otherwise each channel is a page.
    const long pageChannels = samples > 1 ? 1 : sizeC;
    if (samples > 1 && sizeC != samples)
        return "unsupported OME-TIFF: channels of several samples each";
    std::uint64_t planes = 0;
    if (!checkedMultiply(std::uint64_t(pageChannels) * std::uint64_t(sizeZ), std::uint64_t(sizeT),
                         &planes) ||
        planes > std::uint64_t(pages))
        return formatString("file too short: %d pages of the %ld x %ld x %ld planes the OME "
                            "description promises",
                            pages, pageChannels, sizeZ, sizeT);
    std::int64_t t = 0;
    const std::string failure =
        pickVolume(sizeT, volume, formatString("OME-TIFF of %ld time points", sizeT), &t);
    if (!failure.empty())
        return failure;
    stack->format = "OME-TIFF";
    stack->channels = int(pageChannels);
    stack->depth = int(sizeZ);
    const long sizes[3] = {pageChannels, sizeZ, sizeT};
    omePlaneOrder(order, sizes, long(t), stack);
    const char* names[3] = {"PhysicalSizeX", "PhysicalSizeY", "PhysicalSizeZ"};
    for (int k = 0; k < 3; ++k) {
        bool good = false;
        const double size = attributes.value(QLatin1String(names[k])).toDouble(&good);
        if (good && size > 0 && std::isfinite(size)) {
            stack->spacing[k] = size;
            stack->spacingKnown = true;
        }
    }
    return std::string();
}

// Opens the file as every input is (regular files only, never blocking), then hands it to
// libtiff, which closes its own copy of the descriptor.
std::string openTiff(const QString& path, TiffHandle* tiff) {
    FileHandle file = openFile(QFile::encodeName(path).constData(), "rb");
    if (!file)
        return cantOpenReason(path);
    lastTiffError.clear();
    TIFF* opened = TIFFFdOpen(dup(fileno(file.get())), QFile::encodeName(path).constData(), "r");
    if (!opened)
        return "not a TIFF file: " + tiffReason();
    *tiff = TiffHandle(opened, TIFFClose);
    return std::string();
}

// Counting the pages walks the chain of page directories; a chain that points past the file's
// end means pages are missing, and libtiff only says so as an error. Leaves the last page
// current.
std::string countPages(TIFF* tiff, int* pages) {
    *pages = int(TIFFNumberOfDirectories(tiff));
    if (!lastTiffError.empty() || *pages < 1 || !TIFFSetDirectory(tiff, tdir_t(*pages - 1)) ||
        !TIFFLastDirectory(tiff))
        return formatString("file too short or damaged: the directory after "
                            "page %d is missing",
                            *pages);
    return std::string();
}

// Where the slices' pages lie, from an ImageJ or OME description; otherwise every page is a
// slice.
std::string readStackLayout(TIFF* tiff, const std::string& text, int pages, int samples, int volume,
                            StackLayout* stack) {
    stack->depth = pages;
    if (text.rfind("ImageJ=", 0) == 0)
        return readImageJ(tiff, text, pages, samples, volume, stack);
    if (text.find("<OME") != std::string::npos)
        return readOme(text, pages, samples, volume, stack);
    std::int64_t only = 0;
    return pickVolume(1, volume, "", &only);
}

VolumeInfo stackInfo(const PageLayout& first, const StackLayout& stack) {
    VolumeInfo info;
    info.format = stack.format;
    info.width = first.width;
    info.height = first.height;
    info.depth = stack.depth;
    info.type = first.type;
    info.channels = first.channels * stack.channels;
    info.alphaChannel = stack.channels == 1 ? first.alphaChannel : -1;
    std::copy(stack.spacing, stack.spacing + 3, info.spacing);
    info.spacingKnown = stack.spacingKnown;
    return info;
}

// A page of the stack where libtiff finds it: the offset of its directory, its number in the
// file's chain of pages (from 1), and which of its SubIFDs it is (0: the page itself).
struct PageRef {
    toff_t offset = 0;
    int number = 0, subIfd = 0;

    std::string where() const {
        return subIfd > 0 ? formatString("page %d, SubIFD %d: ", number, subIfd)
                          : formatString("page %d: ", number);
    }
};

// One resolution of the stack: a page for each page of the full-resolution stack, in its
// order, all of the layout of the first.
struct TiffLevel {
    std::vector<PageRef> pages;
    PageLayout layout;
    std::string name;
};

// The file's chain of pages, split: full-resolution pages (the stack's), each with its
// SubIFDs, and pages marked as reduced images, which are never slices of the stack.
struct ChainPages {
    std::vector<PageRef> full;
    std::vector<std::vector<toff_t>> subIfds; // of each full page
    std::vector<PageRef> reduced;
};

std::string walkChain(TIFF* tiff, int directories, ChainPages* chain) {
    for (int d = 0; d < directories; ++d) {
        if (!TIFFSetDirectory(tiff, tdir_t(d)))
            return formatString("page %d: ", d + 1) + tiffReason();
        std::uint32_t type = 0;
        TIFFGetField(tiff, TIFFTAG_SUBFILETYPE, &type);
        const PageRef page{TIFFCurrentDirOffset(tiff), d + 1, 0};
        if (type & FILETYPE_REDUCEDIMAGE) {
            chain->reduced.push_back(page);
            continue;
        }
        std::uint16_t count = 0;
        toff_t* offsets = nullptr;
        std::vector<toff_t> subIfds;
        if (TIFFGetField(tiff, TIFFTAG_SUBIFD, &count, &offsets) && offsets)
            subIfds.assign(offsets, offsets + count);
        chain->full.push_back(page);
        chain->subIfds.push_back(subIfds);
    }
    if (chain->full.empty())
        return "no full-resolution page: every page is marked a reduced image";
    return std::string();
}

// Makes the page current and reads its layout.
std::string visitPage(TIFF* tiff, const PageRef& page, PageLayout* layout) {
    lastTiffError.clear();
    if (!TIFFSetSubDirectory(tiff, page.offset))
        return page.where() + tiffReason();
    const std::string failure = pageLayout(tiff, layout);
    return failure.empty() ? failure : page.where() + failure;
}

// Whether a level's pages may follow the level before: the same samples, no larger.
std::string checkLevel(const TiffLevel& level, const TiffLevel& before) {
    const PageLayout &a = level.layout, &b = before.layout;
    if (a.type != b.type || a.channels != b.channels || a.alphaChannel != b.alphaChannel)
        return formatString("%s holds %d %s channel(s), the %s %d %s", level.name.c_str(),
                            a.channels, sampleTypeName(a.type), before.name.c_str(), b.channels,
                            sampleTypeName(b.type));
    if (a.width > b.width || a.height > b.height)
        return formatString("%s of %d x %d is larger than the %s of %d x %d", level.name.c_str(),
                            a.width, a.height, before.name.c_str(), b.width, b.height);
    return std::string();
}

// Level k the k-th SubIFD of every page (OME-TIFF's pyramids), where all have as many.
std::string subIfdLevels(TIFF* tiff, const ChainPages& chain, std::vector<TiffLevel>* levels) {
    const std::size_t count = chain.subIfds[0].size();
    for (std::size_t p = 1; p < chain.full.size(); ++p)
        if (chain.subIfds[p].size() != count)
            return formatString("page %d has %zu SubIFDs, page %d %zu", chain.full[p].number,
                                chain.subIfds[p].size(), chain.full[0].number, count);
    for (std::size_t k = 0; k < count; ++k) {
        TiffLevel level;
        level.name = formatString("SubIFD %zu", k + 1);
        for (std::size_t p = 0; p < chain.full.size(); ++p)
            level.pages.push_back({chain.subIfds[p][k], chain.full[p].number, int(k + 1)});
        std::string failure = visitPage(tiff, level.pages[0], &level.layout);
        if (failure.empty())
            failure = checkLevel(level, levels->back());
        if (!failure.empty())
            return failure;
        levels->push_back(level);
    }
    return std::string();
}

// Pages marked reduced in the chain itself, grouped by their sizes: a group of as many pages
// as the stack has is a level, its pages in the stack's order.
std::string reducedLevels(TIFF* tiff, const ChainPages& chain, std::vector<TiffLevel>* levels) {
    std::vector<TiffLevel> found;
    for (const PageRef& page : chain.reduced) {
        PageLayout layout;
        const std::string failure = visitPage(tiff, page, &layout);
        if (!failure.empty())
            return failure;
        auto same = std::find_if(found.begin(), found.end(), [&](const TiffLevel& level) {
            return level.layout.width == layout.width && level.layout.height == layout.height;
        });
        if (same == found.end())
            same = found.insert(found.end(), TiffLevel{{}, layout, ""});
        same->pages.push_back(page);
    }
    std::stable_sort(found.begin(), found.end(), [](const TiffLevel& a, const TiffLevel& b) {
        return a.layout.width > b.layout.width;
    });
    for (std::size_t l = 0; l < found.size(); ++l) {
        found[l].name = formatString("reduced %zu", l + 1);
        std::string failure =
            found[l].pages.size() == chain.full.size()
                ? checkLevel(found[l], levels->back())
                : formatString("%zu reduced pages of %d x %d for the %zu pages of the stack",
                               found[l].pages.size(), found[l].layout.width, found[l].layout.height,
                               chain.full.size());
        if (!failure.empty())
            return failure;
        levels->push_back(found[l]);
    }
    return std::string();
}

// The stack's levels, the full resolution first. Levels that do not agree leave the full
// resolution alone, and *note says why.
std::vector<TiffLevel> findLevels(TIFF* tiff, const ChainPages& chain, const PageLayout& first,
                                  std::string* note) {
    std::vector<TiffLevel> levels = {TiffLevel{chain.full, first, "full"}};
    const bool subIfds = !chain.subIfds[0].empty();
    const std::string failure = subIfds                 ? subIfdLevels(tiff, chain, &levels)
                                : chain.reduced.empty() ? std::string()
                                                        : reducedLevels(tiff, chain, &levels);
    if (!failure.empty()) {
        levels.resize(1);
        *note = std::string("left out the reduced resolutions (") +
                (subIfds ? "SubIFDs" : "reduced pages") + "), which disagree: " + failure;
    } else if (subIfds && !chain.reduced.empty()) {
        *note = formatString("left out %zu pages marked reduced images", chain.reduced.size());
    }
    return levels;
}

// The levels as info and pack tell them, and the one read for an output of size a side.
int describeLevels(const std::vector<TiffLevel>& levels, const StackLayout& stack, int size,
                   VolumeInfo* info) {
    const PageLayout& full = levels[0].layout;
    for (const TiffLevel& level : levels) {
        PyramidLevel pyramid;
        pyramid.name = level.name;
        pyramid.sizes[0] = level.layout.width;
        pyramid.sizes[1] = level.layout.height;
        pyramid.sizes[2] = stack.depth; // the slices are never reduced
        pyramid.spacing[0] = stack.spacing[0] * full.width / level.layout.width;
        pyramid.spacing[1] = stack.spacing[1] * full.height / level.layout.height;
        pyramid.spacing[2] = stack.spacing[2];
        info->levels.push_back(pyramid);
    }
    const int picked = pickPyramidLevel(info->levels, size);
    const PyramidLevel& level = info->levels[std::size_t(picked)];
    info->width = level.sizes[0];
    info->height = level.sizes[1];
    std::copy_n(level.spacing, 3, info->spacing);
    if (!stack.spacingKnown && picked > 0)
        info->choices = "spacing from the levels' shapes";
    info->level = picked;
    if (levels.size() < 2)
        info->level = -1, info->levels.clear();
    return picked;
}

// Reads slice z of the level: its channels' pages interleaved when a slice takes several.
std::string readStackSlice(TIFF* tiff, const TiffLevel& level, const StackLayout& stack, int z,
                           unsigned char* out) {
    const PageLayout& first = level.layout;
    const std::size_t bytes = sampleTypeBytes(first.type);
    const std::size_t pixels = std::size_t(first.width) * std::size_t(first.height);
    std::vector<unsigned char> plane(stack.channels > 1 ? pixels * bytes : 0);
    for (int c = 0; c < stack.channels; ++c) {
        const PageRef& ref = level.pages[std::size_t(stack.pageOf(c, z))];
        PageLayout page;
        std::string failure = visitPage(tiff, ref, &page);
        if (failure.empty() && !(page == first))
            failure =
                ref.where() +
                formatString("%d x %d samples of %d %s channel(s) differ from the first "
                             "page's %d x %d of %d %s",
                             page.width, page.height, page.channels, sampleTypeName(page.type),
                             first.width, first.height, first.channels, sampleTypeName(first.type));
        if (!failure.empty())
            return failure;
        if (!readPage(tiff, page, stack.channels > 1 ? plane.data() : out))
            return ref.where() + "can't decode: " + tiffReason();
        for (std::size_t i = 0; stack.channels > 1 && i < pixels; ++i)
            std::memcpy(out + (i * std::size_t(stack.channels) + std::size_t(c)) * bytes,
                        plane.data() + i * bytes, bytes);
    }
    return std::string();
}

// What a failed write says: libtiff's message, with the system's reason when a call set one
// (libtiff's own words never tell of a full disk).
QString writeReason() {
    const int error = errno;
    QString reason = QString::fromStdString(lastTiffError);
    if (error != 0)
        reason += (reason.isEmpty() ? "" : ": ") + systemReason(error);
    return reason;
}

// Writes a slice as a page of 8-bit RGB, its top row first, and the page's directory.
bool writePage(TIFF* t, const unsigned char* rgb, int n, int z) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, std::uint32_t(n));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, std::uint32_t(n));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(t, TIFFTAG_PAGENUMBER, std::uint16_t(z), std::uint16_t(n));
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
    bool good = true;
    errno = 0;
    for (int row = 0; row < n && good; ++row) {
        // libtiff takes a non-const row although it only reads it.
        auto* line = const_cast<unsigned char*>(rgb + 3 * std::size_t(n - 1 - row) * n);
        good = TIFFWriteScanline(t, line, std::uint32_t(row), 0) == 1;
    }
    return good && TIFFWriteDirectory(t);
}
} // namespace

// The chain of pages, and the first full-resolution page's layout and description.
std::string readChain(TIFF* tiff, ChainPages* chain, PageLayout* first, std::string* text) {
    int directories = 0;
    std::string failure = countPages(tiff, &directories);
    if (failure.empty())
        failure = walkChain(tiff, directories, chain);
    if (failure.empty())
        failure = visitPage(tiff, chain->full[0], first);
    if (!failure.empty())
        return failure;
    const char* description = nullptr;
    TIFFGetField(tiff, TIFFTAG_IMAGEDESCRIPTION, &description);
    *text = description ? description : "";
    return std::string();
}

std::string openTiffSource(const QString& path, const InputSelection& selection,
                           TypedSource* source) {
    installHandlers();
    TiffHandle tiff;
    std::string failure = openTiff(path, &tiff);
    ChainPages chain;
    PageLayout first;
    std::string text;
    if (failure.empty())
        failure = readChain(tiff.get(), &chain, &first, &text);
    StackLayout stack;
    if (failure.empty())
        failure = readStackLayout(tiff.get(), text, int(chain.full.size()), first.channels,
                                  selection.volume, &stack);
    if (!failure.empty())
        return failure;
    source->info = stackInfo(first, stack);
    const std::vector<TiffLevel> levels = findLevels(tiff.get(), chain, first, &source->info.note);
    const TiffLevel level =
        levels[std::size_t(describeLevels(levels, stack, selection.size, &source->info))];
    source->read = [tiff, level, stack](int z, void* samples) {
        lastTiffError.clear();
        return readStackSlice(tiff.get(), level, stack, z, static_cast<unsigned char*>(samples));
    };
    return std::string();
}

std::string openTiffSink(const QString& path, int n, SliceSink* sink) {
    installHandlers();
    // The samples and, a page each, a directory and its tags.
    std::string failure = checkOutputPath(path, {});
    if (failure.empty())
        failure = checkFreeSpace(path, volumeSampleBytes(n) + 512 * std::uint64_t(n));
    if (!failure.empty())
        return failure;
    std::shared_ptr<QTemporaryFile> file = openTemporaryFile(path, &failure);
    if (!file)
        return failure;
    // A classic TIFF addresses 4 GiB; the page directories need a little of it.
    const bool big = volumeSampleBytes(n) > 4000000000u;
    lastTiffError.clear();
    TIFF* opened =
        TIFFFdOpen(dup(int(file->handle())), QFile::encodeName(path).constData(), big ? "w8" : "w");
    if (!opened)
        return writeFailure(path, QString::fromStdString(lastTiffError));
    auto tiff = std::make_shared<TiffHandle>(opened, TIFFClose);
    auto z = std::make_shared<int>(0);
    sink->write = [=](const unsigned char* rgb) {
        if (!writePage(tiff->get(), rgb, n, (*z)++))
            return writeFailure(path, writeReason());
        return std::string();
    };
    sink->commit = [=] {
        // Closing writes what libtiff still holds; its errors are the write's.
        lastTiffError.clear();
        errno = 0;
        tiff->reset();
        if (!lastTiffError.empty())
            return writeFailure(path, writeReason());
        return commitTemporaryFile(file.get(), path);
    };
    return std::string();
}

InputFormat tiffInputFormat() {
    return {
        "multi-page TIFF",
        "a multi-page TIFF (.tif, .tiff; a page a slice, as pictures are; ImageJ hyperstacks and\n"
        "      OME-TIFF keep a page per channel, and give the time point --volume T picks; of a\n"
        "      pyramid (SubIFDs or reduced pages), the level as for Zarr)",
        {"tif", "tiff"},
        [](const std::string& start) {
            return hasMarkAt(start, 0, std::string("II*\0", 4)) ||
                   hasMarkAt(start, 0, std::string("MM\0*", 4)) ||
                   hasMarkAt(start, 0, std::string("II+\0", 4)) ||
                   hasMarkAt(start, 0, std::string("MM\0+", 4));
        },
        [](const QString& path, const InputSelection& selection, TypedSource* source) {
            return openTiffSource(path, selection, source);
        },
        nullptr,
        {{"tif", "tiff"},
         "a multi-page TIFF, a page a slice (8-bit RGB, uncompressed)",
         openTiffSink},
        "tiff",
        nullptr,
        picksVolume,
        {{"image/tiff", nullptr, {"tif", "tiff"}}}};
}
