#include "pictures.h"

#include <cstring>

void expandToRgb(const unsigned char* in, int channels, std::size_t pixels, unsigned char* rgb) {
    if (channels == 3) {
        std::memmove(rgb, in, 3 * pixels);
        return;
    }
    for (std::size_t i = 0; i < pixels; ++i) {
        const unsigned char* pixel = in + i * std::size_t(channels);
        const bool grey = channels < 3;
        rgb[3 * i] = pixel[0];
        rgb[3 * i + 1] = grey ? pixel[0] : pixel[1];
        rgb[3 * i + 2] = grey ? pixel[0] : pixel[2];
    }
}

void imageToSlice(const QImage& image, unsigned char* rgb) {
    // Pictures mostly decode to 32-bit pixels; those are copied directly, sparing a converted
    // copy of every slice. Qt's conversion drops alpha too, and scales 16-bit values.
    const bool direct =
        image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32;
    const QImage converted = direct ? image : image.convertToFormat(QImage::Format_RGB888);
    const int width = converted.width(), height = converted.height();
    for (int row = 0; row < height; ++row) {
        unsigned char* out = rgb + 3 * std::size_t(height - 1 - row) * std::size_t(width);
        if (!direct) {
            std::memcpy(out, converted.constScanLine(row), 3 * std::size_t(width));
            continue;
        }
        const auto* in = reinterpret_cast<const QRgb*>(converted.constScanLine(row));
        for (int x = 0; x < width; ++x) {
            out[3 * x] = static_cast<unsigned char>(qRed(in[x]));
            out[3 * x + 1] = static_cast<unsigned char>(qGreen(in[x]));
            out[3 * x + 2] = static_cast<unsigned char>(qBlue(in[x]));
        }
    }
}

QImage slicePicture(const unsigned char* rgb, int n, int side) {
    QImage picture(side, side, QImage::Format_RGB888);
    for (int j = 0; j < side; ++j) {
        uchar* row = picture.scanLine(j);
        const int y = n - 1 - j * n / side;
        if (side == n) { // unscaled: whole rows
            std::memcpy(row, rgb + 3 * std::size_t(y) * std::size_t(n), 3 * std::size_t(n));
            continue;
        }
        for (int i = 0; i < side; ++i)
            std::memcpy(row + 3 * i, rgb + 3 * (std::size_t(y) * std::size_t(n) + i * n / side), 3);
    }
    return picture;
}
