#include "pictures/pictureslices.h"

#include "inputfile.h"
#include "files.h"
#include "text.h"
#include "output.h"
#include "pictures/pictures.h"
#include "quietstderr.h"
#include "raw.h"
#include "tasks.h"

#include <QBuffer>
#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSet>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <mutex>
#include <cstring>
#include <memory>

namespace {
// Qt's picture plugins print their own lines about damaged files: Qt's through its message
// handler, libpng's errors straight to standard error. While slices are decoded both are
// dropped, so that a refusal is the one line of its message; standard error points at
// /dev/null meanwhile (the progress bar writes to a copy of it taken at start-up).
std::mutex quietMutex;
int quietReads = 0;
QtMessageHandler previousHandler = nullptr;

void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    {
        std::lock_guard<std::mutex> lock(quietMutex);
        if (quietReads > 0 && type != QtFatalMsg)
            return;
    }
    if (previousHandler)
        previousHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

struct QuietQt {
    QuietQt() {
        static const bool installed = [] {
            previousHandler = qInstallMessageHandler(quietHandler);
            // Qt refuses pictures above 128 MB decoded; slices may have sides up to the
            // largest 3D texture, 16384, of up to 8 bytes a pixel (16-bit RGBA).
            QImageReader::setAllocationLimit(16384 * 16384 / (1024 * 1024) * 8);
            return true;
        }();
        (void)installed;
        std::lock_guard<std::mutex> lock(quietMutex);
        ++quietReads;
    }
    ~QuietQt() {
        std::lock_guard<std::mutex> lock(quietMutex);
        --quietReads;
    }
    QuietQt(const QuietQt&) = delete;
    QuietQt& operator=(const QuietQt&) = delete;

private:
    QuietStderr quiet; // libpng's own lines
};

// How slices are kept: the QImage format each picture is converted to, and its samples.
struct SliceLayout {
    QImage::Format format = QImage::Format_RGB888;
    int channels = 3;
    int stored = 3; // channels in the converted picture (RGBX64 has a fourth, unused)
    SampleType type = SampleType::UInt8;
    int alphaChannel = -1;
};

// The layout for pictures that decode to format: grey, grey 16-bit, RGB(A) 8- or 16-bit.
SliceLayout sliceLayout(QImage::Format format) {
    const bool alpha = QImage::toPixelFormat(format).alphaUsage() == QPixelFormat::UsesAlpha;
    switch (format) {
    case QImage::Format_Grayscale8:
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
        return {QImage::Format_Grayscale8, 1, 1, SampleType::UInt8, -1};
    case QImage::Format_Grayscale16:
        return {QImage::Format_Grayscale16, 1, 1, SampleType::UInt16, -1};
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
        return {QImage::Format_RGBA64, 4, 4, SampleType::UInt16, 3};
    case QImage::Format_RGBX64:
        return {QImage::Format_RGBX64, 3, 4, SampleType::UInt16, -1};
    default:
        return alpha ? SliceLayout{QImage::Format_RGBA8888, 4, 4, SampleType::UInt8, 3}
                     : SliceLayout{};
    }
}

// Opens a picture for reading, regular files only: QImageReader would wait forever on a FIFO,
// even for its size.
std::string openPicture(const QString& path, QImageReader* reader) {
    if (!QFileInfo(path).isFile())
        return otherFileMessage(path, cantOpenReason(path));
    reader->setFileName(path);
    return std::string();
}

std::string readPicture(QImageReader* reader, QImage* image) {
    if (!reader->read(image))
        return otherFileMessage(reader->fileName(),
                                "can't read picture: " + reader->errorString().toStdString());
    return std::string();
}

// The pictures in a folder (those with an extension Qt reads; hidden ones left out), each a
// regular file inside the folder once links are followed. Names are read as bytes, so a name
// that is not valid UTF-8 is refused rather than lost.
std::string listFolder(const QString& folder, QStringList* files) {
    QSet<QString> suffixes;
    for (const QByteArray& format : QImageReader::supportedImageFormats())
        suffixes.insert(QString::fromLatin1(format).toLower());
    const QString inside = QFileInfo(folder).canonicalFilePath() + "/";
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(QFile::encodeName(folder).constData()),
                                            closedir);
    if (!dir)
        return "can't read this folder";
    const QDir base(folder);
    while (const dirent* entry = readdir(dir.get())) {
        const QByteArray raw(entry->d_name);
        const QString name = QFile::decodeName(raw);
        if (raw.startsWith('.') || !suffixes.contains(QFileInfo(name).suffix().toLower()))
            continue;
        if (QFile::encodeName(name) != raw)
            return otherFileMessage(base.filePath(name), "file name is not valid UTF-8; rename it");
        const QFileInfo info(base.filePath(name));
        if (!info.canonicalFilePath().startsWith(inside))
            return otherFileMessage(info.filePath(), "links to a file outside the folder");
        if (!info.isFile())
            return otherFileMessage(info.filePath(), "not a regular file");
        *files << info.filePath();
    }
    return std::string();
}

// The first picture's size and kind from its header; formats that tell none are decoded.
std::string readFirstPicture(const QString& path, QSize* size, QImage::Format* format) {
    QImageReader first;
    std::string failure = openPicture(path, &first);
    if (!failure.empty())
        return failure;
    *size = first.size();
    *format = first.imageFormat();
    if (!size->isValid() || *format == QImage::Format_Invalid) {
        QImage image;
        failure = readPicture(&first, &image);
        if (!failure.empty())
            return failure;
        *size = image.size();
        *format = image.format();
    }
    return std::string();
}

VolumeInfo slicesInfo(QSize size, const SliceLayout& layout, int depth) {
    VolumeInfo info;
    info.format = "slice pictures";
    info.width = size.width();
    info.height = size.height();
    info.depth = depth;
    info.channels = layout.channels;
    info.type = layout.type;
    info.alphaChannel = layout.alphaChannel;
    return info;
}

// A picture of another size is refused before it is decoded, whatever size it claims.
std::string readSlicePicture(const QString& path, QSize size, QImage* image) {
    QImageReader reader;
    std::string failure = openPicture(path, &reader);
    QSize claimed = failure.empty() ? reader.size() : QSize();
    if (failure.empty() && (!claimed.isValid() || claimed == size)) {
        failure = readPicture(&reader, image);
        claimed = image->size();
    }
    if (failure.empty() && claimed != size)
        failure = otherFileMessage(path, formatString("slice size %d x %d differs from the "
                                                      "first slice's %d x %d",
                                                      claimed.width(), claimed.height(),
                                                      size.width(), size.height()));
    return failure;
}

// The picture's rows into a slice as stored, the top row first, without the unused channel of
// formats that store one.
void copyPictureRows(const QImage& converted, QSize size, const SliceLayout& layout,
                     unsigned char* out) {
    const std::size_t bytes = sampleTypeBytes(layout.type);
    const std::size_t width = std::size_t(size.width()), height = std::size_t(size.height());
    const std::size_t rowBytes = width * std::size_t(layout.channels) * bytes;
    for (std::size_t row = 0; row < height; ++row) {
        unsigned char* to = out + row * rowBytes;
        const uchar* from = converted.constScanLine(int(row));
        if (layout.stored == layout.channels) {
            std::memcpy(to, from, rowBytes);
            continue;
        }
        const std::size_t pixelBytes = std::size_t(layout.channels) * bytes;
        for (std::size_t x = 0; x < width; ++x)
            std::memcpy(to + x * pixelBytes, from + x * std::size_t(layout.stored) * bytes,
                        pixelBytes);
    }
}

// Encoding is the slow part of unpacking: two slices are encoded at once, one a core on a
// two-core machine, each from its own copy of the slice (the caller reuses its buffer).
struct SliceEncoding {
    int z = 0;
    std::deque<Task<std::string>> inFlight;
    // The oldest encoding's result, once it is done.
    std::string finishOldest() {
        std::string result = inFlight.front().get();
        inFlight.pop_front();
        return result;
    }
    std::string finishAll() {
        std::string first;
        while (!inFlight.empty()) {
            const std::string result = finishOldest();
            if (first.empty())
                first = result;
        }
        return first;
    }
};

// Encoded in memory and written here, so that a failed write tells the system's reason (a full
// disk, say) rather than the encoder's "Unknown error".
std::string writeSlicePng(const QString& folder, const QTemporaryDir& temporary,
                          const QImage& picture, const QString& name) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.setCompression(slicePngCompression);
    if (!writer.write(picture))
        return writeFailure(QDir(folder).filePath(name), writer.errorString());
    const QString reason = writeNewFile(temporary.filePath(name), png);
    if (!reason.isEmpty())
        return writeFailure(QDir(folder).filePath(name), reason);
    return std::string();
}
} // namespace

std::string listSliceFiles(const QStringList& inputs, QStringList* files) {
    files->clear();
    if (inputs.size() == 1 && QFileInfo(inputs[0]).isDir()) {
        const std::string failure = listFolder(inputs[0], files);
        if (!failure.empty())
            return failure;
        if (files->isEmpty())
            return "no slice pictures in this folder";
    } else {
        for (const QString& input : inputs) {
            if (QFileInfo(input).isDir())
                return otherFileMessage(
                    input, "a folder among several inputs; give one folder or pictures");
            *files << input;
        }
    }
    // A fixed locale, so that the order is the same for everybody: the C locale's collator
    // would compare plain code points, numbers included.
    QCollator collator{QLocale(QLocale::English)};
    collator.setNumericMode(true);
    std::sort(files->begin(), files->end(), collator);
    return std::string();
}

std::string openSliceSource(const QStringList& files, TypedSource* source) {
    QuietQt quiet;
    QSize size;
    QImage::Format format = QImage::Format_Invalid;
    const std::string failure = readFirstPicture(files[0], &size, &format);
    if (!failure.empty())
        return failure;
    const SliceLayout layout = sliceLayout(format);
    source->info = slicesInfo(size, layout, int(files.size()));
    source->concurrent = true; // a picture a slice, each decoded on its own
    source->read = [files, size, layout](int z, void* samples) {
        QuietQt quiet;
        QImage image;
        const std::string failure = readSlicePicture(files[z], size, &image);
        if (failure.empty())
            copyPictureRows(image.convertToFormat(layout.format), size, layout,
                            static_cast<unsigned char*>(samples));
        return failure;
    };
    return std::string();
}

std::string openSliceFolderSink(const QString& folder, int n, SliceSink* sink) {
    std::string failure;
    std::shared_ptr<QTemporaryDir> temporary = makeTemporaryFolder(folder, &failure);
    if (!temporary)
        return failure;
    const int digits = std::max(4, int(QString::number(n - 1).size()));
    auto encoding = std::make_shared<SliceEncoding>();
    const auto encode = [=](QImage picture, QString name) {
        return writeSlicePng(folder, *temporary, picture, name);
    };
    sink->write = [=](const unsigned char* rgb) {
        std::string result;
        if (encoding->inFlight.size() >= 2)
            result = encoding->finishOldest();
        if (!result.empty()) {
            encoding->finishAll(); // none is left writing into the folder as it goes
            return result;
        }
        const QString name = QString("slice_%1.png").arg(encoding->z++, digits, 10, QChar('0'));
        encoding->inFlight.push_back(startTask(encode, slicePicture(rgb, n, n), name));
        return std::string();
    };
    sink->commit = [=] {
        const std::string result = encoding->finishAll();
        return result.empty() ? commitTemporaryFolder(temporary.get(), folder) : result;
    };
    return std::string();
}

std::string openSlicePictures(const QStringList& paths, TypedSource* source) {
    QStringList files;
    const std::string failure = listSliceFiles(paths, &files);
    return failure.empty() ? openSliceSource(files, source) : failure;
}

InputFormat slicePicturesInputFormat() {
    return {
        "slice pictures",
        "a folder of slice pictures, or a list of them (any format Qt reads; natural order, the "
        "first\n"
        "      is z = 0; a picture's top row is y = N - 1, as the viewer shows a slice)",
        {}, // any picture Qt reads, by its suffix or its first bytes
        nullptr,
        [](const QString& path, const InputSelection&, TypedSource* source) {
            return openSlicePictures({path}, source);
        },
        nullptr,
        {{},
         "a folder of PNG slices, slice_0000.png first (the folder must not exist or\n"
         "                must be empty)",
         openSliceFolderSink},
        "slices"};
}
