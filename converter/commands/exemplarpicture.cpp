#include "exemplarpicture.h"

Picture exemplarPicture(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    Picture picture;
    picture.width = rgb.width();
    picture.height = rgb.height();
    picture.rgb.reserve(3 * std::size_t(picture.width) * picture.height);
    for (int y = 0; y < rgb.height(); ++y) {
        const uchar* row = rgb.constScanLine(y);
        picture.rgb.insert(picture.rgb.end(), row, row + 3 * picture.width);
    }
    return picture;
}
