#include <GL/glew.h>

#include "volume.h"

#include "fatalerror.h"
#include "helpers.h"

#include <cstdio>
#include <cstring>
#include <new>

std::int32_t volumeSize = 0;
std::unique_ptr<unsigned char[]> volumeTexels;
unsigned int volumeTexture = 0;
Image referenceImage;

namespace {
// The .vol header block: magic "VOLU", then little-endian int32 fields.
const long headerSize = 4096;
const int nameOffset = 8;
const int nameLength = 260;

std::int32_t headerInt(const unsigned char* header, int offset) {
    return littleEndianInt(header + offset);
}
} // namespace

void loadVolumeNamed(const std::string& name) {
    const std::string path = formatString("input/%s.vol", name.c_str());
    FileHandle handle = openFile(path.c_str(), "rb");
    std::FILE* file = handle.get();
    if (!file)
        fatalError("can't open input file");

    // A file too short to hold the header cannot carry the magic either.
    unsigned char header[headerSize];
    if (std::fread(header, 1, headerSize, file) != std::size_t(headerSize) ||
        std::memcmp(header, "VOLU", 4) != 0)
        fatalError("bad header: invalid magic");
    if (headerInt(header, 4) != 4)
        fatalError("bad header: version != 4");
    if (headerInt(header, 272) != 3)
        fatalError("bad header: only RGB textures supported");
    if (headerInt(header, 276) != 1)
        fatalError("bad header: only byte textures supported");

    // The size is checked before anything is allocated: against what a 64-bit byte count can
    // hold, against what the GL can store, and against the bytes the file really has.
    const std::int32_t n = headerInt(header, 268);
    if (n <= 0 || n > 1 << 20)
        fatalError("bad header: invalid size");
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_3D_TEXTURE_SIZE, &maxSize);
    if (n > maxSize)
        fatalError("bad header: size %d exceeds the 3D texture limit %d", n, maxSize);
    const std::size_t count = 3 * std::size_t(n) * std::size_t(n) * std::size_t(n);
    const long available = remainingBytes(file);
    if (available < 0 || std::size_t(available) < count)
        fatalError("file too short: truncated samples");

    // Uninitialised on purpose: the read fills every byte, and zero-filling hundreds of
    // megabytes first would cost as much as the read.
    volumeTexels.reset();
    volumeSize = n;
    volumeTexels.reset(new (std::nothrow) unsigned char[count]);
    if (!volumeTexels)
        fatalError("out of memory: volume too large");
    if (std::fread(volumeTexels.get(), 1, count, file) != count)
        fatalError("file too short: truncated samples");
    handle.reset();

    // The name field need not hold a NUL; it then ends at the field's end.
    const char* field = reinterpret_cast<const char*>(header + nameOffset);
    const std::string imageName(field, strnlen(field, nameLength));
    referenceImage.load(formatString("input/%s.png", imageName.c_str()));

    if (volumeTexture == 0)
        glGenTextures(1, &volumeTexture);
    glEnable(GL_TEXTURE_3D);
    glBindTexture(GL_TEXTURE_3D, volumeTexture);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_WRAP_R, GL_REPEAT);
    // Rows of 3 * N bytes are unpadded; this relies on the unpack alignment 1 set at start.
    glTexImage3D(GL_TEXTURE_3D, 0, GL_RGB, n, n, n, 0, GL_RGB, GL_UNSIGNED_BYTE,
                 volumeTexels.get());
    glDisable(GL_TEXTURE_3D);
}
