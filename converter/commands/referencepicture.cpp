#include "referencepicture.h"

#include "output.h"
#include "pictures/pictures.h"

#include <QBuffer>
#include <QImage>

SliceSink withPicture(const SliceSink& volume, int n, int pictureSlice, int pictureSide,
                      std::shared_ptr<QByteArray> picture, const QString& picturePath) {
    auto z = std::make_shared<int>(0);
    SliceSink sink;
    sink.write = [=](const unsigned char* rgb) {
        if ((*z)++ == pictureSlice) {
            QBuffer buffer(picture.get());
            buffer.open(QIODevice::WriteOnly);
            const QImage slice = slicePicture(rgb, n, n);
            (n <= pictureSide ? slice
                              : slice.scaled(pictureSide, pictureSide, Qt::IgnoreAspectRatio,
                                             Qt::SmoothTransformation))
                .save(&buffer, "PNG");
        }
        return volume.write(rgb);
    };
    sink.commit = [=] {
        if (!picture->isEmpty()) {
            const std::string failure =
                saveWholeFile(picturePath, picture->constData(), picture->size());
            if (!failure.empty())
                return failure;
        }
        return volume.commit();
    };
    return sink;
}
