#include <GL/glew.h>

#include "volume.h"

#include "fatalerror.h"
#include "files.h"
#include "systemmemory.h"
#include "text.h"
#include "volumefile.h"

std::int32_t volumeSize = 0;
std::unique_ptr<unsigned char[]> volumeTexels;
unsigned int volumeTexture = 0;
Image referenceImage;

std::string glVolumeRefusal(std::int32_t n) {
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_3D_TEXTURE_SIZE, &maxSize);
    if (n > maxSize)
        return formatString("bad header: size %d exceeds the 3D texture limit %d", n, maxSize);
    // The proxy answers whether the GL could allocate this very texture; a width of 0 says no.
    glTexImage3D(GL_PROXY_TEXTURE_3D, 0, GL_RGB, n, n, n, 0, GL_RGB, GL_UNSIGNED_BYTE, nullptr);
    GLint width = 0;
    glGetTexLevelParameteriv(GL_PROXY_TEXTURE_3D, 0, GL_TEXTURE_WIDTH, &width);
    if (width != n)
        return formatString("bad header: size %d is too large for this OpenGL", n);
    return std::string();
}

void loadVolumeNamed(const std::string& name) {
    const std::string path = inputPath(name + ".vol");
    // Every failure is fatal, so the previous volume's samples can go first: the memory check
    // then counts the room they held.
    volumeTexels.reset();
    // Every check comes before the samples are read, in the order the converter's check
    // command repeats without the GL step.
    FileHandle file;
    VolumeHeader header;
    std::string failure =
        checkVolumeFile(path.c_str(), glVolumeRefusal, availableMemory(), &file, &header);
    if (failure.empty())
        failure = readVolumeSamples(file.get(), header.size, &volumeTexels, availableMemory());
    if (!failure.empty())
        fatalError(failure);
    file.reset();
    const std::int32_t n = header.size;
    volumeSize = n;

    // A name that leaves the input folder names no picture.
    if (isSafePictureName(header.name))
        referenceImage.load(inputPath(header.name + ".png"));
    else
        referenceImage.clear();

    if (volumeTexture == 0)
        glGenTextures(1, &volumeTexture);
    glEnable(GL_TEXTURE_3D);
    glBindTexture(GL_TEXTURE_3D, volumeTexture);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_WRAP_R, GL_REPEAT);
    // Errors left by earlier calls are not the upload's: only the upload's own is judged.
    while (glGetError() != GL_NO_ERROR) {
    }
    // Rows of 3 * N bytes are unpadded; this relies on the unpack alignment 1 set at start.
    glTexImage3D(GL_TEXTURE_3D, 0, GL_RGB, n, n, n, 0, GL_RGB, GL_UNSIGNED_BYTE,
                 volumeTexels.get());
    const GLenum uploadError = glGetError();
    glDisable(GL_TEXTURE_3D);
    // A driver that accepted the proxy can still fail the upload; the model must not show
    // black as if the volume were.
    if (uploadError == GL_OUT_OF_MEMORY)
        fatalError(volumeMessages::outOfMemory);
    if (uploadError != GL_NO_ERROR)
        fatalError("can't upload the volume: gl error 0x%04x", uploadError);
}
