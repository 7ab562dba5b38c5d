#include "image.h"

#include "helpers.h"

#include <IL/il.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <limits>

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

void Image::clear() {
    width = height = channels = 0;
    pixels = std::vector<float>();
}

bool Image::load(std::string path) {
    if (fileExtension(path) == ".raw")
        return loadRaw(path);
    return loadWithDevIL(path);
}

bool Image::loadRaw(std::string path) {
    clear();
    FileHandle handle = openFile(path.c_str(), "rb");
    std::FILE* file = handle.get();
    if (!file)
        return false;
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
    if (valid) {
        pixels.resize(count);
        valid = std::fread(pixels.data(), sizeof(float), count, file) == count;
    }
    handle.reset();
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

bool Image::loadWithDevIL(std::string path) {
    clear();
    ilInit();
    ilEnable(IL_ORIGIN_SET);
    ilOriginFunc(IL_ORIGIN_LOWER_LEFT);
    ILuint name = 0;
    ilGenImages(1, &name);
    ilBindImage(name);
    if (!ilLoadImage(path.c_str())) {
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
    const int w = ilGetInteger(IL_IMAGE_WIDTH);
    const int h = ilGetInteger(IL_IMAGE_HEIGHT);
    const int c = ilGetInteger(IL_IMAGE_BITS_PER_PIXEL) / 8;
    const ILubyte* bytes = ilGetData();
    if (!converted || w <= 0 || h <= 0 || c <= 0 || !bytes) {
        ilDeleteImages(1, &name);
        return false;
    }
    const std::size_t count = std::size_t(w) * std::size_t(h) * std::size_t(c);
    pixels.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        pixels[i] = float(bytes[i] / 255.0);
    width = w;
    height = h;
    channels = c;
    ilDeleteImages(1, &name);
    return true;
}
