#include "packoptions.h"

#include "samplemap.h"
#include "typedsource.h"

#include <QStringList>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {
// Numbers separated by commas, count of them, each finite; false when the text is not that.
bool readNumbers(const QString& text, int count, double* values) {
    const QStringList parts = text.split(',');
    bool good = parts.size() == count;
    for (int i = 0; good && i < count; ++i) {
        values[i] = parts[i].trimmed().toDouble(&good);
        good = good && std::isfinite(values[i]);
    }
    return good;
}

// A side from 1 to the largest a volume may have; false when the text is not that.
bool readSide(const QString& text, int* side) {
    return readIntegerIn(text, 1, maxSide, side);
}

QString readWindow(const QString& value, PackSettings* settings) {
    double window[2];
    if (!readNumbers(value, 2, window) || window[1] < window[0])
        return "--window takes LO,HI with LO <= HI";
    settings->windowGiven = true;
    settings->windowLo = window[0];
    settings->windowHi = window[1];
    return QString();
}

QString readChannels(const QString& value, PackSettings* settings) {
    ChannelMap map;
    settings->channels = value;
    if (!parseChannelMap(value, 1 << 30, &map).empty()) // the syntax alone
        return "--channels takes A,B,C: source channels from 0, or - for black";
    return QString();
}

QString readSpacing(const QString& value, PackSettings* settings) {
    settings->spacingGiven = true;
    if (!readNumbers(value, 3, settings->spacing) ||
        std::min({settings->spacing[0], settings->spacing[1], settings->spacing[2]}) <= 0)
        return "--spacing takes X,Y,Z, three positive numbers";
    return QString();
}

QString readSize(const QString& value, PackSettings* settings) {
    if (!readSide(value, &settings->size))
        return QString("--size takes N from 1 to %1").arg(maxSide);
    settings->pick.size = settings->size;
    return QString();
}

QString readMaxSize(const QString& value, PackSettings* settings) {
    if (!readSide(value, &settings->maxSize))
        return QString("--max-size takes N from 1 to %1").arg(maxSide);
    if (settings->size > 0)
        return "--size and --max-size exclude each other";
    // A pyramid's coarsest level with that many samples, or its finest when none has.
    settings->pick.size = settings->maxSize;
    return QString();
}

QString readCrop(const QString&, PackSettings* settings) {
    settings->fit = CubeFit::Crop;
    return QString();
}

QString readPad(const QString&, PackSettings* settings) {
    if (settings->fit == CubeFit::Crop)
        return "--crop and --pad exclude each other";
    settings->fit = CubeFit::Pad;
    return QString();
}

// A number from 0; false when the text is not that.
bool readCount(const QString& text, int* count) {
    return readIntegerIn(text, 0, INT_MAX, count);
}

QString readSeries(const QString& value, PackSettings* settings) {
    return readCount(value, &settings->pick.series) ? QString()
                                                    : "--series takes a series number from 0";
}

QString readVolume(const QString& value, PackSettings* settings) {
    return readCount(value, &settings->pick.volume) ? QString()
                                                    : "--volume takes a volume number from 0";
}

QString readDataset(const QString& value, PackSettings* settings) {
    settings->pick.dataset = value.toStdString();
    if (settings->pick.dataset.empty())
        return "--dataset takes an HDF5 dataset's path, an .npz or .vti array's name or a FITS HDU";
    return QString();
}

QString readRaw(const QString& value, PackSettings* settings) {
    if (!parseRawShape(value.toStdString(), &settings->pick.raw))
        return "--raw takes W,H,D,TYPE,ENDIAN[,CHANNELS]: TYPE uint8, int8, uint16, int16, "
               "uint32, int32, float32 or float64, ENDIAN le or be";
    return QString();
}

QString readOffset(const QString& value, PackSettings* settings) {
    bool good = true;
    settings->pick.raw.offset = value.toULongLong(&good);
    if (!good || !settings->pick.raw.given || value.startsWith('+'))
        return "--offset takes the bytes before the first sample, with --raw";
    return QString();
}

QString readFlip(const QString& value, PackSettings* settings) {
    const QStringList axes = value.split(',');
    for (const QString& axis : axes) {
        const int a = axis == "x" ? 0 : axis == "y" ? 1 : axis == "z" ? 2 : -1;
        if (a < 0 || settings->flip[a])
            return "--flip takes x, y or z, or several of them apart by commas (x,z)";
        settings->flip[a] = true;
    }
    return QString();
}
} // namespace

// --raw comes before --offset, --size before --max-size and --crop before --pad: each of the
// latter checks the former.
const std::vector<OptionReader<PackSettings>>& packSettingReaders() {
    static const std::vector<OptionReader<PackSettings>> readers = {
        {{"window", "LO,HI",
          "maps LO to 0 and HI to 255 instead of the samples' range (any type; LO = HI makes a "
          "step: up to LO black, above it full)"},
         readWindow},
        {{"channels", "A,B,C",
          "source channels for red, green and blue, from 0; - leaves one black"},
         readChannels},
        {{"spacing", "X,Y,Z",
          "the distance between samples along x, y and z (overrides the file's)"},
         readSpacing},
        {{"size", "N",
          "resamples the cube to N samples a side (averaging when shrinking, interpolating "
          "linearly when growing)"},
         readSize},
        {{"max-size", "N",
          "resamples a cube larger than N to N samples a side; a smaller one keeps its size"},
         readMaxSize},
        {{"crop", "", "a non-cube input is cut to the centred cube of its shortest side"},
         readCrop},
        {{"pad", "", "a non-cube input is centred in a black cube of its longest side"}, readPad},
        {{"flip", "AXES",
          "mirrors the volume along x, y or z (x,z: along both) after it is oriented, to match "
          "another tool's convention"},
         readFlip},
        {{"series", "K", "the DICOM series to read, from 0 as info lists them"}, readSeries},
        {{"dataset", "PATH",
          "the HDF5 dataset, .npz or .vti array or FITS HDU (N from 0, or EXTNAME) to read (info "
          "lists them)"},
         readDataset},
        {{"volume", "T", "a volume of an input that holds several (time points, ...), from 0"},
         readVolume},
        {{"raw", "W,H,D,TYPE,ENDIAN[,CHANNELS]",
          "reads INPUT as bare samples of this shape, whatever its name: TYPE uint8, int8, "
          "uint16, int16, uint32, int32, float32 or float64, ENDIAN le or be, CHANNELS "
          "interleaved (default 1)"},
         readRaw},
        {{"offset", "BYTES",
          "with --raw: the bytes before the first sample (a header passed over)"},
         readOffset},
    };
    return readers;
}

QString readPackSettings(const QCommandLineParser& parser, PackSettings* settings) {
    return readOptions(parser, packSettingReaders(), settings);
}
