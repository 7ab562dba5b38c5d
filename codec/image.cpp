#include "image.h"

#include "files.h"
#include "littleendian.h"
#include "text.h"

#include <IL/il.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <new>

namespace {
const unsigned char pngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
const std::size_t pngChunkHeader = 8; // length, type
const std::size_t pngChunkCrc = 4;
const std::uint32_t pngMaxChunk = 0x7FFFFFFF;
const std::uint32_t ihdrLength = 13; // width, height, then five one-byte fields

std::uint32_t bigEndianWord(const unsigned char* bytes) {
    return std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 |
           std::uint32_t(bytes[2]) << 8 | std::uint32_t(bytes[3]);
}

} // namespace

bool pictureSizeFits(std::int64_t width, std::int64_t height) {
    // Sides above the limit are refused first, so the product cannot overflow.
    return width > 0 && height > 0 && width <= maxPicturePixels && height <= maxPicturePixels &&
           width * height <= maxPicturePixels;
}

std::string fileExtension(std::string path) {
    const std::string::size_type dot = path.rfind('.');
    if (dot == std::string::npos)
        return std::string();
    std::string extension = path.substr(dot);
    for (char& c : extension)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

void flipRows(Image* image) {
    const std::size_t row = std::size_t(image->width) * std::size_t(image->channels);
    float* pixels = image->pixels.data();
    for (int y = 0; y < image->height / 2; ++y)
        std::swap_ranges(pixels + y * row, pixels + (y + 1) * row,
                         pixels + (image->height - 1 - y) * row);
}

namespace {
// What a PNG's chunks tell before decoding: "" when they run whole from a header of a size that
// pictureSizeFits to IEND, else the reason. Bytes without the signature are not judged ("").
std::string pngProblem(const unsigned char* bytes, std::size_t size) {
    if (size < sizeof pngSignature || std::memcmp(bytes, pngSignature, sizeof pngSignature) != 0)
        return std::string();
    const std::string damaged = "a PNG that ends early or is damaged";
    std::size_t at = sizeof pngSignature;
    bool first = true;
    while (size - at >= pngChunkHeader) {
        const std::uint32_t length = bigEndianWord(bytes + at);
        const unsigned char* type = bytes + at + 4;
        if (length > pngMaxChunk || size - at - pngChunkHeader < std::size_t(length) + pngChunkCrc)
            return damaged;
        const unsigned char* data = type + 4;
        if (first) {
            if (std::memcmp(type, "IHDR", 4) != 0 || length != ihdrLength)
                return damaged;
            const std::uint32_t w = bigEndianWord(data), h = bigEndianWord(data + 4);
            if (!pictureSizeFits(w, h))
                return formatString("a PNG of %u x %u pixels, more than %lld", w, h,
                                    (long long)maxPicturePixels);
            first = false;
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            return std::string();
        }
        at += pngChunkHeader + length + pngChunkCrc;
    }
    return damaged; // ended before IEND
}
} // namespace

bool isWholePng(const unsigned char* bytes, std::size_t size) {
    return pngProblem(bytes, size).empty();
}

std::string pictureBytesProblem(const unsigned char* bytes, std::size_t size) {
    if (size == 0)
        return "an empty file";
    if (size > std::uint64_t(maxPictureFileBytes))
        return formatString("a file of %zu bytes, more than %lld", size,
                            (long long)maxPictureFileBytes);
    return pngProblem(bytes, size);
}

void Image::clear() {
    width = height = channels = 0;
    pixels = std::vector<float>();
}

bool Image::load(std::string path) {
    return loadPicture(path, this).empty();
}

bool Image::loadRaw(std::string path) {
    clear();
    FileHandle file = openFile(path.c_str(), "rb");
    return file && readRaw(file.get());
}

bool Image::readRaw(std::FILE* file) {
    clear();
    const int w = readInt(file);
    const int h = readInt(file);
    const int c = readInt(file);
    // Reject sizes that cannot describe the data that follows, before allocating anything:
    // a bad header must never make us allocate huge arrays or use bytes that were not read.
    const long available = remainingBytes(file);
    bool valid = w > 0 && h > 0 && c > 0 && available >= 0;
    std::size_t count = 0;
    if (valid) {
        // Two factors below 2^31 cannot wrap 64 bits, but a third can (2^30 * 2^30 * 16 is
        // 0 modulo 2^64), so the last factor is checked by division instead.
        const std::uint64_t limit = std::uint64_t(available) / sizeof(float);
        const std::uint64_t area = std::uint64_t(w) * std::uint64_t(h);
        valid = area <= limit / std::uint64_t(c);
        count = std::size_t(area * std::uint64_t(c));
    }
    try {
        if (valid) {
            pixels.resize(count);
            valid = std::fread(pixels.data(), sizeof(float), count, file) == count;
        }
    } catch (const std::bad_alloc&) {
        valid = false;
    }
    if (!valid) {
        clear();
        return false;
    }
    width = w;
    height = h;
    channels = c;
    // The file holds the top row first; the record holds the bottom row first.
    flipRows(this);
    return true;
}

namespace {
// The whole picture file: DevIL reads from memory, where a file that ends early ends for
// certain. "" or why the viewer reads none.
std::string readPictureFile(const std::string& path, std::vector<unsigned char>* bytes) {
    FileHandle file = openFile(path.c_str(), "rb");
    const long size = file ? remainingBytes(file.get()) : -1;
    if (size < 0)
        return "no file";
    if (size > maxPictureFileBytes) // told before anything is read
        return pictureBytesProblem(nullptr, std::size_t(size));
    try {
        bytes->resize(std::size_t(size));
    } catch (const std::bad_alloc&) {
        return "out of memory";
    }
    if (std::fread(bytes->data(), 1, bytes->size(), file.get()) != bytes->size())
        return "can't read the file";
    return std::string();
}
} // namespace

std::string loadPicture(const std::string& path, Image* image) {
    image->clear();
    if (fileExtension(path) == ".raw")
        return image->loadRaw(path) ? std::string() : "can't read it as a .raw picture";
    std::vector<unsigned char> bytes;
    std::string problem = readPictureFile(path, &bytes);
    if (problem.empty())
        problem = pictureBytesProblem(bytes.data(), bytes.size());
    if (!problem.empty())
        return problem;
    // DevIL tells the format by the name, as it does for a file; by the bytes when the name
    // does not say.
    ILenum type = ilTypeFromExt(path.c_str());
    if (type == IL_TYPE_UNKNOWN)
        type = ilDetermineTypeL(bytes.data(), ILuint(bytes.size()));
    if (!image->decodeWithDevIL(bytes.data(), bytes.size(), type))
        return formatString("can't decode it, or more than %lld pixels",
                            (long long)maxPicturePixels);
    return std::string();
}

bool Image::decodeWithDevIL(const unsigned char* bytes, std::size_t size, unsigned int ilType) {
    clear();
    if (!pictureBytesProblem(bytes, size).empty())
        return false;
    ilInit();
    ilEnable(IL_ORIGIN_SET);
    ilOriginFunc(IL_ORIGIN_LOWER_LEFT);
    ILuint name = 0;
    ilGenImages(1, &name);
    ilBindImage(name);
    if (!ilLoadL(ilType, bytes, ILuint(size))) {
        ilDeleteImages(1, &name);
        return false;
    }
    // DevIL has decoded by now; a picture of another format that claims too much is at least
    // refused before it is converted or copied.
    const int w = ilGetInteger(IL_IMAGE_WIDTH);
    const int h = ilGetInteger(IL_IMAGE_HEIGHT);
    if (!pictureSizeFits(w, h)) {
        ilDeleteImages(1, &name);
        return false;
    }
    // The record holds 8-bit channels. Palette images and images with wider channels are
    // converted by DevIL rather than misread as bytes.
    const ILint format = ilGetInteger(IL_IMAGE_FORMAT);
    const ILint type = ilGetInteger(IL_IMAGE_TYPE);
    bool converted = true;
    if (format == IL_COLOUR_INDEX)
        converted = ilConvertImage(IL_RGBA, IL_UNSIGNED_BYTE);
    else if (type != IL_UNSIGNED_BYTE)
        converted = ilConvertImage(format, IL_UNSIGNED_BYTE);
    const int c = ilGetInteger(IL_IMAGE_BITS_PER_PIXEL) / 8;
    const ILubyte* data = ilGetData();
    bool valid = converted && c > 0 && data;
    const std::size_t count = std::size_t(w) * std::size_t(h) * std::size_t(c);
    try {
        if (valid)
            pixels.resize(count);
    } catch (const std::bad_alloc&) {
        valid = false;
    }
    if (valid) {
        for (std::size_t i = 0; i < count; ++i)
            pixels[i] = float(data[i] / 255.0);
        width = w;
        height = h;
        channels = c;
    }
    ilDeleteImages(1, &name);
    return valid;
}
