#include "formatinputs.h"

#include "mrcfiles.h"
#include "nrrdfiles.h"

#include <QDir>
#include <QFile>

#include <fitsio.h>
#include <teem/nrrd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {
bool writeFile(const QString& path, const std::string& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(bytes.data(), qint64(bytes.size())) == qint64(bytes.size());
}

std::string swappedWords(std::string bytes) {
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        std::swap(bytes[i], bytes[i + 1]);
    return bytes;
}

bool writeFits(const QString& path, int width, int height, int depth, const std::string& samples) {
    fitsfile* file = nullptr;
    int status = 0;
    long naxes[3] = {width, height, depth};
    const std::string name = "!" + QFile::encodeName(path).toStdString(); // "!": replaces
    // cfitsio takes the samples in the host's order and stores them big-endian.
    fits_create_file(&file, name.c_str(), &status);
    fits_create_img(file, SHORT_IMG, 3, naxes, &status);
    fits_write_img(file, TSHORT, 1, LONGLONG(samples.size() / 2), const_cast<char*>(samples.data()),
                   &status);
    fits_close_file(file, &status);
    return status == 0;
}

// A slice at a time, as a reader streams a volume.
bool readFitsAlone(const QString& path) {
    fitsfile* file = nullptr;
    int status = 0, rank = 0;
    long naxes[3] = {0, 0, 0};
    fits_open_file(&file, QFile::encodeName(path).constData(), READONLY, &status);
    fits_get_img_dim(file, &rank, &status);
    fits_get_img_size(file, 3, naxes, &status);
    std::vector<short> slice(std::size_t(naxes[0]) * std::size_t(naxes[1]));
    for (long z = 0; status == 0 && rank == 3 && z < naxes[2]; ++z) {
        long first[3] = {1, 1, z + 1};
        fits_read_pix(file, TSHORT, first, LONGLONG(slice.size()), nullptr, slice.data(), nullptr,
                      &status);
    }
    if (file)
        fits_close_file(file, &status);
    return status == 0 && rank == 3;
}

bool readNrrdAlone(const QString& path) {
    Nrrd* nrrd = nrrdNew();
    const bool read = nrrdLoad(nrrd, QFile::encodeName(path).constData(), nullptr) == 0;
    nrrdNuke(nrrd);
    return read;
}

// The stream as nibabel reads an .mgz's: inflated from the start, a slice's bytes at a time.
bool readMgzAlone(const QString& path) {
    const gzFile file = gzopen(QFile::encodeName(path).constData(), "rb");
    std::vector<char> buffer(std::size_t(1) << 20);
    int got = 0;
    while (file && (got = gzread(file, buffer.data(), unsigned(buffer.size()))) > 0) {
    }
    const bool read = file && got == 0;
    if (file)
        gzclose(file);
    return read;
}

bool readPlainAlone(const QString& path) {
    FILE* file = std::fopen(QFile::encodeName(path).constData(), "rb");
    std::vector<char> buffer(std::size_t(1) << 20);
    while (file && std::fread(buffer.data(), 1, buffer.size(), file) == buffer.size()) {
    }
    const bool read = file && !std::ferror(file);
    if (file)
        std::fclose(file);
    return read;
}
} // namespace

bool writeFormatInputs(const QString& folder, const QString& name, int width, int height, int depth,
                       const std::string& samples) {
    const QDir dir(folder);
    MrcFile mrc;
    mrc.sizes[0] = width;
    mrc.sizes[1] = height;
    mrc.sizes[2] = depth;
    mrc.mode = 1;
    MghFile mgh;
    mgh.dims[0] = width;
    mgh.dims[1] = height;
    mgh.dims[2] = depth;
    mgh.type = 4;
    const std::string nrrd =
        "NRRD0004\ntype: int16\ndimension: 3\nsizes: " + std::to_string(width) + " " +
        std::to_string(height) + " " + std::to_string(depth) +
        "\nendian: little\nencoding: gzip\n\n";
    const std::string bigEndian = swappedWords(samples);
    return writeFile(dir.filePath(name + ".mrc"), mrcBytes(mrc, samples)) &&
           writeFile(dir.filePath(name + ".nrrd"), nrrd + nrrdEncoded("gzip", samples)) &&
           writeFile(dir.filePath(name + ".mgz"), nrrdEncoded("gzip", mghBytes(mgh, bigEndian))) &&
           writeFits(dir.filePath(name + ".fits"), width, height, depth, samples);
}

int readFormatAlone(const std::string& kind, const QString& path) {
    if (kind == "mrc")
        return readPlainAlone(path) ? 0 : 1;
    if (kind == "nrrd")
        return readNrrdAlone(path) ? 0 : 1;
    if (kind == "mgz")
        return readMgzAlone(path) ? 0 : 1;
    if (kind == "fits")
        return readFitsAlone(path) ? 0 : 1;
    return 2;
}
