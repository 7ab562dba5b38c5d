#include "pictures/pictures.h"

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
