#include "fits/fits.h"
#include "fits/fitslayout.h"
#include "fits/fitswcs.h"

#include "checkedsize.h"
#include "codecs/inflater.h"
#include "inputfile.h"
#include "output.h"
#include "storedsamples.h"
#include "systemmemory.h"
#include "text.h"

#include <QFile>

#include <fitsio.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace {
// An inflated gzip file that cfitsio reads in place: it keeps the address of the pointer and
// of the length, so both live as long as the file.
struct InflatedFile {
    std::vector<unsigned char> bytes;
    void* address = nullptr;
    std::size_t length = 0;
};

struct Closer {
    std::shared_ptr<InflatedFile> memory; // null for a file read from disk
    void operator()(fitsfile* file) const {
        int status = 0;
        fits_close_file(file, &status);
    }
};
using FitsFile = std::unique_ptr<fitsfile, Closer>;

// cfitsio's words for a status, its message stack emptied for the next call.
std::string cfitsioReason(int status) {
    char text[FLEN_STATUS] = "";
    fits_get_errstatus(status, text);
    fits_clear_errmsg();
    return text;
}

struct Hdu {
    int number = 0; // from 0, the primary
    bool image = false;
    int bitpix = 0, naxis = 0;
    long long naxes[4] = {0, 0, 0, 0};
    std::string name; // EXTNAME, or ""

    bool cube() const { return image && (naxis == 3 || (naxis == 4 && naxes[3] == 1)); }
    std::string describe() const {
        std::string text = formatString("HDU %d", number);
        if (!name.empty())
            text += " (" + printableText(name) + ")";
        if (!image)
            return text + " a table";
        if (naxis == 0)
            return text + " empty";
        text += formatString(" %d-D ", naxis);
        for (int k = 0; k < naxis && k < 4; ++k)
            text += formatString("%s%lld", k ? " x " : "", naxes[k]);
        return text;
    }
};

// The HDUs that cfitsio may move to, and why the list ends before the file does.
struct Layout {
    std::vector<FitsHduLayout> hdus;
    std::string damage;
};

bool isGzip(const std::string& start) {
    return start.size() >= 2 && start[0] == '\x1f' && start[1] == '\x8b';
}

// Grows bytes by part, never holding more than limit bytes.
bool appendWithin(std::vector<unsigned char>* bytes, const unsigned char* part, std::size_t length,
                  std::uint64_t limit) {
    const std::uint64_t size = bytes->size() + length;
    if (size > limit)
        return false;
    if (size > bytes->capacity())
        bytes->reserve(std::size_t(std::min<std::uint64_t>(
            limit, std::max<std::uint64_t>(size, 2 * std::uint64_t(bytes->capacity())))));
    bytes->insert(bytes->end(), part, part + length);
    return true;
}

// A gzip file is inflated once into memory, where cfitsio reads it; it must fit in half the
// memory available, which is checked before the buffer grows past it.
std::string inflateWhole(const QString& path, InflatedFile* inflated) {
    FileHandle file;
    if (!openInputFile(path, &file).empty())
        return cantOpenReason(path);
    Inflater inflater(file.get(), 0, -1, true);
    std::vector<unsigned char> part(1 << 16);
    const std::int64_t available = availableMemory();
    const std::uint64_t limit = available >= 0 ? std::uint64_t(available) / 2 : UINT64_MAX;
    for (;;) {
        const std::uint64_t before = inflater.position;
        const Inflater::Result result = inflater.next(part.data(), part.size());
        if (result == Inflater::Result::Damaged)
            return "damaged gzip data";
        if (result == Inflater::Result::Short && inflater.stoppedInMember())
            return "damaged gzip data: cut short";
        if (!appendWithin(&inflated->bytes, part.data(), std::size_t(inflater.position - before),
                          limit))
            return formatString("out of memory: the gzip file inflates past %s, half the "
                                "memory available; gunzip it first",
                                describeBytes(limit).c_str());
        if (result == Inflater::Result::Short || inflater.position == before)
            break;
    }
    inflated->address = inflated->bytes.data();
    inflated->length = inflated->bytes.size();
    return std::string();
}

// The primary must be sound; a later HDU that is not ends the list.
std::string scanLayout(const FitsReadAt& read, std::uint64_t length, Layout* layout) {
    layout->hdus = scanFitsLayout(read, length, &layout->damage);
    if (layout->hdus.empty())
        return "damaged FITS header in " + layout->damage;
    return std::string();
}

std::string scanMemory(const InflatedFile& inflated, Layout* layout) {
    const FitsReadAt read = [&inflated](std::uint64_t offset, char* to, std::size_t bytes) {
        const std::size_t count =
            offset < inflated.length
                ? std::size_t(std::min<std::uint64_t>(bytes, inflated.length - offset))
                : 0;
        std::memcpy(to, inflated.bytes.data() + offset, count);
        return count;
    };
    return scanLayout(read, inflated.length, layout);
}

std::string scanFile(std::FILE* file, Layout* layout) {
    const FitsReadAt read = [file](std::uint64_t offset, char* to, std::size_t bytes) {
        if (offset > std::uint64_t(INT64_MAX) || fseeko(file, off_t(offset), SEEK_SET) != 0)
            return std::size_t(0);
        return std::fread(to, 1, bytes, file);
    };
    if (fseeko(file, 0, SEEK_END) != 0)
        return "can't read the file's length";
    const off_t length = ftello(file);
    return scanLayout(read, length > 0 ? std::uint64_t(length) : 0, layout);
}

// Opens the gzip file's inflated bytes, which then go with the file.
std::string openInflated(const QString& path, FitsFile* fits, std::uint64_t* held, Layout* layout) {
    auto inflated = std::make_shared<InflatedFile>();
    const std::string failure = inflateWhole(path, inflated.get());
    if (!failure.empty())
        return failure;
    const unsigned char* start = inflated->bytes.data();
    if (!hasFitsMark(std::string(start, start + std::min<std::size_t>(80, inflated->length))))
        return "not a FITS file: the gzip data holds no SIMPLE = T card at its start";
    const std::string damaged = scanMemory(*inflated, layout);
    if (!damaged.empty())
        return damaged;
    fitsfile* file = nullptr;
    int status = 0;
    // A plain name: cfitsio reads brackets in the name given here as an HDU to move to.
    if (fits_open_memfile(&file, "inflated.fits", READONLY, &inflated->address, &inflated->length,
                          0, nullptr, &status) != 0)
        return "not a FITS file or damaged: " + cfitsioReason(status);
    *held = inflated->length;
    *fits = FitsFile(file, Closer{inflated});
    return std::string();
}

std::string openFits(const QString& path, FitsFile* fits, std::uint64_t* held, Layout* layout) {
    FileHandle probe;
    if (!openInputFile(path, &probe).empty())
        return cantOpenReason(path);
    char first[80] = {};
    const std::string start(first, std::fread(first, 1, sizeof first, probe.get()));
    *held = 0;
    if (isGzip(start))
        return openInflated(path, fits, held, layout);
    // cfitsio would inflate other compressed files unchecked, and read any other bytes.
    if (!hasFitsMark(start))
        return "not a FITS file: no SIMPLE = T card at its start";
    const std::string damaged = scanFile(probe.get(), layout);
    if (!damaged.empty())
        return damaged;
    fitsfile* file = nullptr;
    int status = 0;
    if (fits_open_diskfile(&file, QFile::encodeName(path).constData(), READONLY, &status) != 0)
        return "not a FITS file or damaged: " + cfitsioReason(status);
    fits->reset(file);
    return std::string();
}

// Every HDU's kind and sizes, of those whose headers are sound. An extension after the primary
// that cfitsio can't reach ends the list, as astropy reads on past none either; *damage tells
// of it.
std::string listHdus(fitsfile* file, const Layout& layout, std::vector<Hdu>* hdus,
                     std::string* damage = nullptr) {
    for (int number = 0;; ++number) {
        if (std::size_t(number) == layout.hdus.size()) {
            if (damage && !layout.damage.empty())
                *damage = "damaged FITS header in " + layout.damage;
            return std::string();
        }
        int status = 0, type = 0;
        if (fits_movabs_hdu(file, number + 1, &type, &status) != 0) {
            const std::string reason =
                formatString("damaged FITS header in HDU %d: ", number) + cfitsioReason(status);
            if (number == 0)
                return reason;
            if (status != END_OF_FILE && damage)
                *damage = reason;
            return std::string();
        }
        Hdu hdu;
        hdu.number = number;
        hdu.image = type == IMAGE_HDU;
        char name[FLEN_VALUE] = "";
        if (fits_read_key(file, TSTRING, "EXTNAME", name, nullptr, &status) == 0)
            hdu.name = name;
        status = 0;
        fits_clear_errmsg();
        if (hdu.image &&
            fits_get_img_paramll(file, 4, &hdu.bitpix, &hdu.naxis, hdu.naxes, &status) != 0)
            return formatString("damaged FITS header in HDU %d: ", number) + cfitsioReason(status);
        hdus->push_back(hdu);
    }
}

std::string listed(const std::vector<Hdu>& hdus) {
    std::string text;
    for (const Hdu& hdu : hdus)
        text += (text.empty() ? "" : ", ") + hdu.describe();
    return text;
}

std::string pickHdu(const std::vector<Hdu>& hdus, const std::string& dataset, const Hdu** picked) {
    std::vector<const Hdu*> cubes;
    for (const Hdu& hdu : hdus)
        if (dataset.empty() ? hdu.cube()
                            : dataset == std::to_string(hdu.number) || dataset == hdu.name)
            cubes.push_back(&hdu);
    if (!dataset.empty() && cubes.empty())
        return "no HDU " + printableText(dataset) + " (the file holds " + listed(hdus) +
               "): --dataset takes an HDU number from 0 or an EXTNAME";
    if (cubes.empty())
        return "no 3-D image (the file holds " + listed(hdus) + "): pack reads FITS cubes";
    if (cubes.size() > 1) {
        std::string which;
        for (const Hdu* hdu : cubes)
            which += (which.empty() ? "" : ", ") + hdu->describe();
        return "a FITS file of several cubes, " + which + ": pick one with --dataset N";
    }
    const Hdu& hdu = *cubes[0];
    if (!hdu.cube())
        return hdu.describe() + " is not a cube: pack reads images of NAXIS 3 (or 4 with a last "
                                "axis of 1)";
    for (int k = 0; k < 3; ++k)
        if (hdu.naxes[k] < 1)
            return hdu.describe() + " holds no samples";
    *picked = &hdu;
    return std::string();
}

// How the picked image's samples are read: the type they become and cfitsio's for it.
struct Reading {
    SampleType type = SampleType::UInt8;
    int datatype = TBYTE;
    std::string storedType;
};

std::string planReading(fitsfile* file, const Hdu& hdu, Reading* reading) {
    int status = 0, equivalent = 0;
    if (fits_get_img_equivtype(file, &equivalent, &status) != 0)
        return "damaged FITS header: " + cfitsioReason(status);
    LONGLONG blank = 0;
    const bool blanks =
        hdu.bitpix > 0 && fits_read_key(file, TLONGLONG, "BLANK", &blank, nullptr, &status) == 0;
    fits_clear_errmsg();
    struct Kind {
        int equivalent;
        SampleType type;
        int datatype;
    };
    const Kind kinds[] = {
        {BYTE_IMG, SampleType::UInt8, TBYTE},         {SBYTE_IMG, SampleType::Int8, TSBYTE},
        {SHORT_IMG, SampleType::Int16, TSHORT},       {USHORT_IMG, SampleType::UInt16, TUSHORT},
        {LONG_IMG, SampleType::Int32, TINT},          {ULONG_IMG, SampleType::UInt32, TUINT},
        {LONGLONG_IMG, SampleType::Float64, TDOUBLE}, {ULONGLONG_IMG, SampleType::Float64, TDOUBLE},
        {FLOAT_IMG, SampleType::Float32, TFLOAT},     {DOUBLE_IMG, SampleType::Float64, TDOUBLE},
    };
    const Kind* kind = nullptr;
    for (const Kind& known : kinds)
        if (known.equivalent == equivalent)
            kind = &known;
    if (!kind)
        return formatString("unsupported FITS BITPIX %d", hdu.bitpix);
    reading->type = kind->type;
    reading->datatype = kind->datatype;
    const bool wide = std::abs(hdu.bitpix) > 16;
    const std::string bits = formatString("BITPIX %d", hdu.bitpix);
    if (blanks && equivalent > 0) {
        reading->type = wide ? SampleType::Float64 : SampleType::Float32;
        reading->datatype = wide ? TDOUBLE : TFLOAT;
        reading->storedType =
            bits + " with BLANK (read as " + sampleTypeName(reading->type) + ", blanks NaN)";
    } else if (hdu.bitpix > 0 && equivalent < 0) {
        reading->storedType =
            bits + " scaled by BSCALE and BZERO (read as " + sampleTypeName(reading->type) + ")";
    } else if (equivalent == LONGLONG_IMG || equivalent == ULONGLONG_IMG) {
        reading->storedType =
            std::string(equivalent == LONGLONG_IMG ? "int64" : "uint64") + " (read as float64)";
    }
    return std::string();
}

// Each row's tile in the column must lie whole in the file, up to length, from the heap's start.
std::string checkTileColumn(fitsfile* file, int column, LONGLONG rows, std::uint64_t width,
                            std::uint64_t heap, std::uint64_t length) {
    for (LONGLONG row = 1; row <= rows; ++row) {
        int status = 0;
        LONGLONG count = 0, offset = 0;
        std::uint64_t bytes = 0;
        if (fits_read_descriptll(file, column, row, &count, &offset, &status) != 0)
            return formatString("damaged tile-compressed image: tile %lld: ", row) +
                   cfitsioReason(status);
        if (count < 0 || offset < 0 ||
            !checkedMultiply(std::uint64_t(count), std::max<std::uint64_t>(width, 1), &bytes) ||
            heap > length || std::uint64_t(offset) > length - heap ||
            bytes > length - heap - std::uint64_t(offset))
            return formatString("file too short: tile %lld of the compressed image claims %lld "
                                "bytes after byte %llu of the heap, past the file's end",
                                row, count, (unsigned long long)offset);
    }
    return std::string();
}

// The tiles of a tile-compressed image must lie whole in the file, up to length: cfitsio
// allocates what a tile's descriptor claims before it reads the tile.
std::string checkTiles(fitsfile* file, std::uint64_t length) {
    int status = 0;
    LONGLONG header = 0, data = 0, end = 0, rows = 0, heap = 0, rowBytes = 0;
    if (fits_get_hduaddrll(file, &header, &data, &end, &status) != 0 ||
        fits_read_key(file, TLONGLONG, "NAXIS1", &rowBytes, nullptr, &status) != 0 ||
        fits_read_key(file, TLONGLONG, "NAXIS2", &rows, nullptr, &status) != 0)
        return "damaged tile-compressed image: " + cfitsioReason(status);
    std::uint64_t table = 0;
    if (std::uint64_t(data) > length ||
        !checkedMultiply(std::uint64_t(rows), std::uint64_t(rowBytes), &table) ||
        table > length - std::uint64_t(data))
        return "file too short: the compressed image's table of tiles runs past the file's end";
    if (fits_read_key(file, TLONGLONG, "THEAP", &heap, nullptr, &status) != 0) {
        status = 0;
        fits_clear_errmsg();
        heap = LONGLONG(table); // the heap follows the table
    }
    for (const char* name : {"COMPRESSED_DATA", "GZIP_COMPRESSED_DATA", "UNCOMPRESSED_DATA"}) {
        int column = 0, type = 0;
        LONGLONG repeat = 0, width = 0;
        if (fits_get_colnum(file, CASESEN, const_cast<char*>(name), &column, &status) != 0) {
            status = 0;
            fits_clear_errmsg();
            continue;
        }
        if (fits_get_eqcoltypell(file, column, &type, &repeat, &width, &status) != 0)
            return "damaged tile-compressed image: " + cfitsioReason(status);
        const std::string failure =
            checkTileColumn(file, column, rows, std::uint64_t(width),
                            std::uint64_t(data) + std::uint64_t(heap), length);
        if (!failure.empty())
            return failure;
    }
    return std::string();
}

// Uncompressed data must lie whole in the file: inflated, for a gzip file held in memory
// (where the length cfitsio keeps can exceed the bytes inflated).
std::string checkLength(fitsfile* file, const Hdu& hdu, std::uint64_t inflated) {
    int status = 0;
    const std::uint64_t length = inflated > 0 ? inflated : std::uint64_t(file->Fptr->logfilesize);
    if (fits_is_compressed_image(file, &status))
        return checkTiles(file, length);
    LONGLONG header = 0, data = 0, end = 0;
    std::uint64_t bytes = 0;
    if (fits_get_hduaddrll(file, &header, &data, &end, &status) != 0)
        return "damaged FITS header: " + cfitsioReason(status);
    if (!checkedProduct({hdu.naxes[0], hdu.naxes[1], hdu.naxes[2]},
                        std::uint64_t(std::abs(hdu.bitpix) / 8), maxCheckedSize, &bytes))
        return formatString("too large: %lld x %lld x %lld samples", hdu.naxes[0], hdu.naxes[1],
                            hdu.naxes[2]);
    if (std::uint64_t(data) > length || length - std::uint64_t(data) < bytes)
        return formatString("file too short: %s claims %llu bytes of samples after byte %lld, "
                            "the file holds %llu bytes",
                            hdu.describe().c_str(), (unsigned long long)bytes, data,
                            (unsigned long long)length);
    return std::string();
}

struct Cube {
    FitsFile file;
    Reading reading;
    long long width = 0, height = 0;

    std::string read(int z, void* samples) {
        LONGLONG first[4] = {1, 1, LONGLONG(z) + 1, 1};
        const double nanDouble = std::numeric_limits<double>::quiet_NaN();
        const float nanFloat = std::numeric_limits<float>::quiet_NaN();
        const void* null = reading.datatype == TDOUBLE  ? static_cast<const void*>(&nanDouble)
                           : reading.datatype == TFLOAT ? static_cast<const void*>(&nanFloat)
                                                        : nullptr;
        int status = 0, anyNull = 0;
        if (fits_read_pixll(file.get(), reading.datatype, first, width * height,
                            const_cast<void*>(null), samples, &anyNull, &status) != 0)
            return "can't read slice " + std::to_string(z) + ": " + cfitsioReason(status);
        return std::string();
    }
};
} // namespace

bool hasFitsMark(const std::string& start) {
    return start.compare(0, 9, "SIMPLE  =") == 0;
}

std::string openFitsSource(const QString& path, const std::string& dataset, TypedSource* source) {
    auto cube = std::make_shared<Cube>();
    std::uint64_t held = 0;
    std::vector<Hdu> hdus;
    const Hdu* hdu = nullptr;
    Layout layout;
    std::string failure = openFits(path, &cube->file, &held, &layout);
    std::string damage;
    if (failure.empty())
        failure = listHdus(cube->file.get(), layout, &hdus, &damage);
    if (failure.empty())
        failure = pickHdu(hdus, dataset, &hdu);
    if (!failure.empty())
        return failure + (damage.empty() ? "" : "; then " + damage);
    int status = 0;
    if (fits_movabs_hdu(cube->file.get(), hdu->number + 1, nullptr, &status) != 0)
        return "damaged FITS file: " + cfitsioReason(status);
    failure = planReading(cube->file.get(), *hdu, &cube->reading);
    if (failure.empty())
        failure = checkVolumeSizes(hdu->naxes[0], hdu->naxes[1], hdu->naxes[2], 1,
                                   cube->reading.type, nullptr);
    if (failure.empty())
        failure = checkLength(cube->file.get(), *hdu, held);
    if (!failure.empty())
        return failure;
    VolumeInfo& info = source->info;
    info = VolumeInfo();
    info.format = "FITS";
    if (hdu->number > 0)
        info.format += formatString(", HDU %d", hdu->number) +
                       (hdu->name.empty() ? "" : " (" + printableText(hdu->name) + ")");
    if (!damage.empty())
        info.note = "left out what follows: " + damage;
    info.width = int(hdu->naxes[0]);
    info.height = int(hdu->naxes[1]);
    info.depth = int(hdu->naxes[2]);
    info.type = cube->reading.type;
    info.storedType = cube->reading.storedType;
    // Kept as stored: NAXIS2 grows upward on FITS displays, as y does in the viewer's cut.
    info.axes.frame = AxisFrame::World;
    info.axes.patient = false;
    info.axes.from = "FITS's axes (row 1 at the bottom)";
    readWcsSpacing(cube->file.get(), hdu->naxis, &info);
    cube->width = hdu->naxes[0];
    cube->height = hdu->naxes[1];
    source->memory = held;
    source->read = [cube](int z, void* samples) { return cube->read(z, samples); };
    guardReads(source);
    return std::string();
}

void printFitsHdus(const QString& path) {
    FitsFile file;
    std::uint64_t held = 0;
    std::vector<Hdu> hdus;
    Layout layout;
    if (!openFits(path, &file, &held, &layout).empty() ||
        !listHdus(file.get(), layout, &hdus).empty())
        return;
    std::printf("%s\n  format           FITS\n  HDUs             %s (pick one with --dataset N)\n",
                printableText(path.toStdString()).c_str(), listed(hdus).c_str());
}

InputFormat fitsInputFormat() {
    return {
        "FITS",
        "a FITS cube (.fits, .fit, .fts, .fits.gz; BITPIX 8, 16, 32, 64, -32, -64 with BSCALE,\n"
        "      BZERO and BLANK, tile-compressed or not): the only 3-D image, or the HDU --dataset "
        "N\n"
        "      names (0 the primary, or its EXTNAME); row 1 at the bottom, as DS9 shows it; "
        "spacing\n"
        "      from the WCS where its axes' units compare",
        {"fits", "fit", "fts", "fits.gz"},
        hasFitsMark,
        [](const QString& path, const InputSelection& selection, TypedSource* source) {
            return openFitsSource(path, selection.dataset, source);
        },
        printFitsHdus,
        {},
        "fits",
        nullptr,
        picksDataset,
        {{"application/fits", nullptr, {"fits", "fit", "fts"}}},
        {"fits.gz"}};
}
