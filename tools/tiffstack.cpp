#include "tiffstack.h"

#include "helpers.h"
#include "output.h"

#include <tiffio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <vector>

namespace {
// libtiff reports through process-wide handlers: errors are kept for the message, warnings
// (unknown tags and the like) dropped. Pages are read on a thread of their own.
thread_local std::string lastTiffError;

void keepError(const char*, const char* format, va_list args) {
    char buffer[512];
    std::vsnprintf(buffer, sizeof buffer, format, args);
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

using TiffHandle = std::shared_ptr<TIFF>;

// A 16-bit value scaled to 8 bits, rounded.
unsigned char toByte(std::uint16_t value) {
    return static_cast<unsigned char>((std::uint32_t(value) * 255 + 32767) / 65535);
}

// Reads the current page by scanlines when it is plain grey or RGB (with or without alpha) of
// 8 or 16 bits in strips; returns false, reading nothing, for any other kind.
bool readPlainPage(TIFF* tiff, int width, int height, unsigned char* rgb, bool* good) {
    std::uint16_t bits = 0, channels = 0, photometric = 0, planar = PLANARCONFIG_CONTIG,
                  format = SAMPLEFORMAT_UINT;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &channels);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    const bool grey = photometric == PHOTOMETRIC_MINISBLACK && channels <= 2;
    const bool colour = photometric == PHOTOMETRIC_RGB && (channels == 3 || channels == 4);
    if (TIFFIsTiled(tiff) || planar != PLANARCONFIG_CONTIG || format != SAMPLEFORMAT_UINT ||
        (bits != 8 && bits != 16) || !(grey || colour))
        return false;
    std::vector<unsigned char> line(std::size_t(TIFFScanlineSize(tiff)));
    std::vector<unsigned char> bytes(std::size_t(width) * channels);
    *good = true;
    for (int row = 0; row < height && *good; ++row) {
        *good = TIFFReadScanline(tiff, line.data(), std::uint32_t(row), 0) == 1;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            std::uint16_t wide = 0; // libtiff gives 16-bit samples in host order
            if (bits == 16)
                std::memcpy(&wide, &line[2 * i], 2);
            bytes[i] = bits == 8 ? line[i] : toByte(wide);
        }
        expandToRgb(bytes.data(), channels, std::size_t(width),
                    rgb + 3 * std::size_t(height - 1 - row) * std::size_t(width));
    }
    return true;
}

// Any other page through libtiff's RGBA reader, bottom row first as the slice wants it.
bool readRgbaPage(TIFF* tiff, int width, int height, unsigned char* rgb) {
    char message[1024];
    if (!TIFFRGBAImageOK(tiff, message)) {
        lastTiffError = message;
        return false;
    }
    std::vector<std::uint32_t> raster(std::size_t(width) * std::size_t(height));
    if (!TIFFReadRGBAImageOriented(tiff, std::uint32_t(width), std::uint32_t(height), raster.data(),
                                   ORIENTATION_BOTLEFT, 0))
        return false;
    for (std::size_t i = 0; i < raster.size(); ++i) {
        rgb[3 * i] = static_cast<unsigned char>(TIFFGetR(raster[i]));
        rgb[3 * i + 1] = static_cast<unsigned char>(TIFFGetG(raster[i]));
        rgb[3 * i + 2] = static_cast<unsigned char>(TIFFGetB(raster[i]));
    }
    return true;
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

void pageSize(TIFF* tiff, int* width, int* height) {
    std::uint32_t w = 0, h = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &h);
    *width = w > 1u << 30 ? 0 : int(w); // beyond any volume: refused as a size later
    *height = h > 1u << 30 ? 0 : int(h);
}
} // namespace

std::string openTiffSource(const QString& path, SliceSource* source) {
    installHandlers();
    // The file is opened as every input is (regular files only, never blocking), then handed
    // to libtiff, which closes its own copy of the descriptor.
    FileHandle file = openFile(QFile::encodeName(path).constData(), "rb");
    if (!file)
        return fileMessage(path, "can't open input file");
    lastTiffError.clear();
    TIFF* opened = TIFFFdOpen(dup(fileno(file.get())), QFile::encodeName(path).constData(), "r");
    if (!opened)
        return fileMessage(path, "not a TIFF file: " + lastTiffError);
    TiffHandle tiff(opened, TIFFClose);
    int width = 0, height = 0;
    pageSize(opened, &width, &height);
    source->width = width;
    source->height = height;
    source->depth = int(TIFFNumberOfDirectories(opened));
    source->read = [tiff, path, width, height](int z, unsigned char* rgb) {
        lastTiffError.clear();
        int w = 0, h = 0;
        if (!TIFFSetDirectory(tiff.get(), tdir_t(z)))
            return fileMessage(path, formatString("page %d: ", z + 1) + lastTiffError);
        pageSize(tiff.get(), &w, &h);
        if (w != width || h != height)
            return fileMessage(path,
                               formatString("page %d: slice size %d x %d differs from the first "
                                            "slice's %d x %d",
                                            z + 1, w, h, width, height));
        bool good = false;
        if (!readPlainPage(tiff.get(), w, h, rgb, &good))
            good = readRgbaPage(tiff.get(), w, h, rgb);
        if (!good)
            return fileMessage(path, formatString("page %d: can't read: ", z + 1) + lastTiffError);
        return std::string();
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
        TIFF* t = tiff->get();
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, std::uint32_t(n));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, std::uint32_t(n));
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
        TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(t, TIFFTAG_PAGENUMBER, std::uint16_t(*z), std::uint16_t(n));
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
        bool good = true;
        errno = 0;
        for (int row = 0; row < n && good; ++row) {
            // libtiff takes a non-const row although it only reads it.
            auto* line = const_cast<unsigned char*>(rgb + 3 * std::size_t(n - 1 - row) * n);
            good = TIFFWriteScanline(t, line, std::uint32_t(row), 0) == 1;
        }
        ++*z;
        if (!good || !TIFFWriteDirectory(t))
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
