#include "slices.h"

#include "helpers.h"
#include "output.h"

#include <QBuffer>
#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>

#include <algorithm>
#include <memory>

namespace {
// QImageReader would wait forever on a FIFO; only regular files are read.
std::string readPicture(const QString& path, QImage* image) {
    if (!QFileInfo(path).isFile())
        return fileMessage(path, "can't open input file");
    QImageReader reader(path);
    if (!reader.read(image))
        return fileMessage(path, "can't read picture: " + reader.errorString().toStdString());
    return std::string();
}
} // namespace

std::string listSliceFiles(const QStringList& inputs, QStringList* files) {
    files->clear();
    if (inputs.size() == 1 && QFileInfo(inputs[0]).isDir()) {
        QStringList filters;
        for (const QByteArray& format : QImageReader::supportedImageFormats())
            filters << "*." + QString::fromLatin1(format);
        const QDir folder(inputs[0]);
        for (const QString& name : folder.entryList(filters, QDir::Files | QDir::Readable))
            *files << folder.filePath(name);
        if (files->isEmpty())
            return fileMessage(inputs[0], "no slice pictures in this folder");
    } else {
        for (const QString& input : inputs) {
            if (QFileInfo(input).isDir())
                return fileMessage(input,
                                   "a folder among several inputs; give one folder or pictures");
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

std::string openSliceSource(const QStringList& files, SliceSource* source) {
    // The first picture's header gives the size; formats that tell none are decoded for it.
    QImageReader first(files[0]);
    QSize size = first.size();
    if (!size.isValid()) {
        QImage image;
        const std::string failure = readPicture(files[0], &image);
        if (!failure.empty())
            return failure;
        size = image.size();
    }
    source->width = size.width();
    source->height = size.height();
    source->depth = int(files.size());
    source->concurrent = true; // a picture a slice, each decoded on its own
    source->read = [files, size](int z, unsigned char* rgb) {
        const QString& path = files[z];
        QImage image;
        std::string failure = readPicture(path, &image);
        if (failure.empty() && image.size() != size)
            failure = fileMessage(path, formatString("slice size %d x %d differs from the first "
                                                     "slice's %d x %d",
                                                     image.width(), image.height(), size.width(),
                                                     size.height()));
        if (failure.empty())
            imageToSlice(image, rgb);
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
    auto z = std::make_shared<int>(0);
    sink->write = [=](const unsigned char* rgb) {
        const QString name = QString("slice_%1.png").arg((*z)++, digits, 10, QChar('0'));
        // Encoded in memory and written here, so that a failed write tells the system's
        // reason (a full disk, say) rather than the encoder's "Unknown error".
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        if (!writer.write(slicePicture(rgb, n, n)))
            return writeFailure(QDir(folder).filePath(name), writer.errorString());
        const QString reason = writeNewFile(temporary->filePath(name), png);
        if (!reason.isEmpty())
            return writeFailure(QDir(folder).filePath(name), reason);
        return std::string();
    };
    sink->commit = [=] { return commitTemporaryFolder(temporary.get(), folder); };
    return std::string();
}
