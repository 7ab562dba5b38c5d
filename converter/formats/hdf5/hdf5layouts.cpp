#include "hdf5/hdf5layouts.h"

#include "inputfile.h"
#include "hdf5/minc.h"
#include "text.h"
#include "messages.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <cmath>
#include <cstdlib>
#include <map>

namespace {
// A side of a level beyond this is taken for a lie (it is the converter's own limit too).
const std::uint64_t maxSide = 1u << 20;
// Leading or trailing axes of at most this many samples hold channels.
const std::uint64_t maxChannelAxis = 4;

// A whole number written as text (Imaris keeps its numbers as character arrays), or -1.
long long wholeNumber(const std::string& text) {
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || end == text.c_str() || *end != '\0' || value < 0)
        return -1;
    return value;
}

// The numbers of a text ("1.0 0.5 0"), or empty when any is not one.
std::vector<double> textNumbers(const std::string& text) {
    std::vector<double> values;
    const char* at = text.c_str();
    for (;;) {
        while (*at == ' ' || *at == '\t' || *at == '\n' || *at == ',')
            ++at;
        if (*at == '\0')
            return values;
        char* end = nullptr;
        const double value = std::strtod(at, &end);
        if (end == at || !std::isfinite(value))
            return {};
        values.push_back(value);
        at = end;
    }
}

std::string textAttribute(const Hdf5Contents& contents, const std::string& path,
                          const std::string& name) {
    const Hdf5Object* object = contents.find(path);
    const Hdf5Attribute* attribute = object ? object->attribute(name) : nullptr;
    return attribute && attribute->text ? attribute->value : std::string();
}

// How many groups or datasets are named prefix + 0, 1, 2, ... (with the format's digits).
int countNumbered(const Hdf5Contents& contents, const char* pattern) {
    int count = 0;
    while (count < 100000 && contents.find(formatString(pattern, count)))
        ++count;
    return count;
}

std::string dimsText(const std::vector<std::uint64_t>& dims) {
    std::string text;
    for (std::size_t k = 0; k < dims.size(); ++k)
        text += (k ? " x " : "") + std::to_string(dims[k]);
    return text;
}

// The time point the selection picks of count, or a message.
std::string pickTimePoint(int count, const InputSelection& selection, int* time) {
    if (selection.volume < 0 && count > 1)
        return formatString("%d time points (pick one with --volume T, 0 to %d)", count, count - 1);
    *time = std::max(0, selection.volume);
    if (*time >= count)
        return formatString("--volume %d: the file has %d time point%s", *time, count,
                            count == 1 ? "" : "s");
    return std::string();
}

// Checks a dataset that a layout reads as z, y, x (then trailing channels): its type is one
// pack takes and the same as the others', and it holds at least the level's samples.
std::string checkDataset(const Hdf5Object* dataset, const std::string& path, std::size_t rank,
                         std::size_t z, const int sizes[3], int* type) {
    if (dataset && !dataset->refusal.empty())
        return path + " " + dataset->refusal;
    if (!dataset || !dataset->dataset)
        return "no dataset " + path;
    if (dataset->type < 0)
        return path + " holds " + dataset->typeName + " samples (pack reads 8 to 32-bit " +
               "integers, float32 and float64)";
    if (*type >= 0 && dataset->type != *type)
        return path + " holds " + dataset->typeName + " samples, unlike the file's other datasets";
    *type = dataset->type;
    const std::vector<std::uint64_t>& dims = dataset->dims;
    if (dims.size() != rank)
        return path + " has " + std::to_string(dims.size()) + " axes, not " + std::to_string(rank);
    for (int k = 0; k < 3; ++k)
        if (sizes[k] < 1 || std::uint64_t(sizes[k]) > dims[z + std::size_t(2 - k)])
            return path + " is " + dimsText(dims) + ", smaller than its level's " +
                   formatString("%d x %d x %d", sizes[0], sizes[1], sizes[2]);
    return std::string();
}

std::uint64_t chunkDepth(const Hdf5Object* dataset, std::size_t zAxis) {
    return dataset->chunk.size() > zAxis ? dataset->chunk[zAxis] : 0;
}

// Imaris's display of channel c: its colour where pure red, green or blue, and its range.
ChannelDisplay imarisDisplay(const Hdf5Contents& contents, int c) {
    const std::string channel = formatString("/DataSetInfo/Channel %d", c);
    const std::vector<double> colour = textNumbers(textAttribute(contents, channel, "Color"));
    const std::vector<double> range = textNumbers(textAttribute(contents, channel, "ColorRange"));
    ChannelDisplay display;
    for (std::size_t k = 0; k < 3 && colour.size() == 3; ++k)
        if (colour[k] == 1 && colour[(k + 1) % 3] == 0 && colour[(k + 2) % 3] == 0)
            display.colour = int(k);
    if (range.size() == 2 && range[1] > range[0]) {
        display.windowGiven = true;
        display.lo = range[0];
        display.hi = range[1];
    }
    return display;
}

// The extents of /DataSetInfo/Image along x, y and z; all three given, or spacing unknown.
bool imarisExtents(const Hdf5Contents& contents, double extent[3]) {
    const std::string image = "/DataSetInfo/Image";
    bool known = true;
    for (int k = 0; k < 3; ++k) {
        const std::vector<double> lo =
            textNumbers(textAttribute(contents, image, formatString("ExtMin%d", k)));
        const std::vector<double> hi =
            textNumbers(textAttribute(contents, image, formatString("ExtMax%d", k)));
        extent[k] = lo.size() == 1 && hi.size() == 1 ? hi[0] - lo[0] : 0;
        known = known && extent[k] > 0;
    }
    return known;
}

// Channel c's group of a level: its image sizes, equal to channel 0's, and its dataset.
std::string readImarisChannel(const Hdf5Contents& contents, const std::string& group, int c,
                              int* type, Hdf5Level* level) {
    int sizes[3];
    for (int k = 0; k < 3; ++k) {
        const long long size =
            wholeNumber(textAttribute(contents, group, std::string("ImageSize") + "XYZ"[k]));
        if (size < 1 || std::uint64_t(size) > maxSide)
            return group + " gives no image size " + "XYZ"[k] + " of 1 to " +
                   std::to_string(maxSide);
        sizes[k] = int(size);
        if (c > 0 && sizes[k] != level->level.sizes[k])
            return group + " differs in size from channel 0";
        level->level.sizes[k] = sizes[k];
    }
    const Hdf5Object* data = contents.find(group + "/Data");
    const std::string failure = checkDataset(data, group + "/Data", 3, 0, sizes, type);
    if (failure.empty())
        level->reads.push_back({group + "/Data", -1, 0, chunkDepth(data, 0)});
    return failure;
}

std::string readImarisLevel(const Hdf5Contents& contents, int r, int time, const double extent[3],
                            int* type, Hdf5Layout* layout) {
    Hdf5Level level;
    level.level.name = formatString("ResolutionLevel %d", r);
    for (int c = 0; c < layout->channels; ++c) {
        const std::string group =
            formatString("/DataSet/ResolutionLevel %d/TimePoint %d/Channel %d", r, time, c);
        const std::string failure = readImarisChannel(contents, group, c, type, &level);
        if (!failure.empty())
            return failure;
    }
    // Without extents, a level's spacing is the finest level's samples per its own.
    for (int k = 0; k < 3; ++k)
        level.level.spacing[k] =
            layout->spacingKnown ? extent[k] / level.level.sizes[k]
            : layout->levels.empty()
                ? 1
                : double(layout->levels[0].level.sizes[k]) / level.level.sizes[k];
    layout->levels.push_back(level);
    return std::string();
}

// Imaris: /DataSet/ResolutionLevel r/TimePoint t/Channel c/Data, padded to whole chunks; the
// image's sizes are the channel group's ImageSizeX/Y/Z, its extents /DataSetInfo/Image's.
std::string readImaris(const Hdf5Contents& contents, const InputSelection& selection,
                       Hdf5Layout* layout) {
    layout->format = "Imaris";
    const int levels = countNumbered(contents, "/DataSet/ResolutionLevel %d");
    layout->timePoints = countNumbered(contents, "/DataSet/ResolutionLevel 0/TimePoint %d");
    layout->channels = countNumbered(contents, "/DataSet/ResolutionLevel 0/TimePoint 0/Channel %d");
    int time = 0;
    std::string failure = pickTimePoint(layout->timePoints, selection, &time);
    if (!failure.empty())
        return failure;
    double extent[3];
    layout->spacingKnown = imarisExtents(contents, extent);
    int type = -1;
    for (int r = 0; r < levels; ++r) {
        failure = readImarisLevel(contents, r, time, extent, &type, layout);
        if (!failure.empty())
            return failure;
    }
    if (levels == 0 || layout->channels == 0)
        return "an Imaris file without a volume";
    layout->type = layout->stored = SampleType(type);
    for (int c = 0; c < layout->channels; ++c)
        layout->display.push_back(imarisDisplay(contents, c));
    return std::string();
}

// One BigDataViewer view setup as its .xml describes it.
struct ViewSetup {
    std::string id;
    std::map<std::string, std::string> attributes; // illumination, channel, tile, angle
    std::vector<double> voxelSize;
};

// Reads the ViewSetups of a BigDataViewer .xml, strictly: malformed XML is refused.
std::string readSetupsXml(const QString& path, std::vector<ViewSetup>* setups) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return otherFileMessage(path, "can't open the dataset's XML");
    if (file.size() > (64 << 20))
        return otherFileMessage(path, "an XML file larger than 64 MB");
    QXmlStreamReader xml(&file);
    std::vector<QString> open;
    ViewSetup* setup = nullptr;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            const QString name = xml.name().toString();
            const QString parent = open.empty() ? QString() : open.back();
            open.push_back(name);
            if (name == "ViewSetup" && parent == "ViewSetups") {
                setups->emplace_back();
                setup = &setups->back();
            } else if (setup && parent == "ViewSetup" && name == "id") {
                setup->id = xml.readElementText().trimmed().toStdString();
                open.pop_back();
            } else if (setup && parent == "voxelSize" && name == "size") {
                setup->voxelSize = textNumbers(xml.readElementText().toStdString());
                open.pop_back();
            } else if (setup && parent == "attributes") {
                setup->attributes[name.toStdString()] =
                    xml.readElementText().trimmed().toStdString();
                open.pop_back();
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (!open.empty() && open.back() == "ViewSetup")
                setup = nullptr;
            if (!open.empty())
                open.pop_back();
        }
    }
    if (xml.hasError())
        return otherFileMessage(
            path, formatString("malformed XML at line %lld: ", (long long)xml.lineNumber()) +
                      xml.errorString().toStdString());
    return std::string();
}

// The setups read, in --dataset's names ("s00"), as channels when they differ only in channel.
std::string pickSetups(const QString& xmlPath, const std::vector<ViewSetup>& setups, int count,
                       const InputSelection& selection, std::vector<int>* picked) {
    if (!selection.dataset.empty()) {
        for (int s = 0; s < count; ++s)
            if (selection.dataset == formatString("s%02d", s))
                picked->push_back(s);
        if (picked->empty())
            return "--dataset " + selection.dataset + ": no setup of that name (s00 to " +
                   formatString("s%02d", count - 1) + ")";
        return std::string();
    }
    for (int s = 0; s < count; ++s)
        picked->push_back(s);
    if (count == 1)
        return std::string();
    if (setups.empty())
        return formatString("%d view setups and no .xml beside it to tell them apart (pick one "
                            "with --dataset s00 to s%02d)",
                            count, count - 1);
    for (const ViewSetup& setup : setups)
        for (const auto& [name, value] : setup.attributes) {
            const auto other = setups[0].attributes.find(name);
            if (name != "channel" &&
                (other == setups[0].attributes.end() || other->second != value))
                return otherFileMessage(
                    xmlPath, formatString("view setups differ in %s, not only in channel "
                                          "(pick one with --dataset s00 to s%02d)",
                                          name.c_str(), count - 1));
        }
    return std::string();
}

// The view setups of the .xml beside the file, where there is one; it is an input too.
std::string readBigDataViewerXml(const QString& xmlPath, int setupCount,
                                 std::vector<ViewSetup>* setups, Hdf5Layout* layout) {
    if (!QFileInfo(xmlPath).exists())
        return std::string();
    QString canonical;
    std::string failure = checkFileInFolder(QFileInfo(xmlPath).absolutePath(), xmlPath, &canonical);
    if (!failure.empty())
        return otherFileMessage(xmlPath, "the dataset's XML: " + failure);
    layout->files.push_back(QFile::encodeName(canonical).toStdString());
    failure = readSetupsXml(canonical, setups);
    if (!failure.empty())
        return failure;
    if (int(setups->size()) != setupCount)
        return otherFileMessage(xmlPath, formatString("names %d view setups; the HDF5 file has %d",
                                                      int(setups->size()), setupCount));
    return std::string();
}

// The ImageLoader's format and its hdf5 element's text; "" or the XML's fault.
std::string readImageLoader(const QString& xmlPath, QString* format, QString* name) {
    QFile file(xmlPath);
    if (!file.open(QIODevice::ReadOnly) || file.size() > (64 << 20))
        return "can't read it as a BigDataViewer XML (unreadable, or larger than 64 MB)";
    QXmlStreamReader xml(&file);
    bool inLoader = false;
    while (!xml.atEnd() && !xml.hasError()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement && xml.name() == QLatin1String("ImageLoader")) {
            inLoader = true;
            *format = xml.attributes().value("format").toString();
        } else if (token == QXmlStreamReader::EndElement &&
                   xml.name() == QLatin1String("ImageLoader")) {
            inLoader = false;
        } else if (token == QXmlStreamReader::StartElement && inLoader &&
                   xml.name() == QLatin1String("hdf5")) {
            *name = xml.readElementText().trimmed();
        }
    }
    if (xml.hasError())
        return formatString("malformed XML at line %lld: ", (long long)xml.lineNumber()) +
               xml.errorString().toStdString();
    return std::string();
}
} // namespace

std::string bigDataViewerFile(const QString& xmlPath, QString* hdf5Path) {
    QString format, name;
    std::string failure = readImageLoader(xmlPath, &format, &name);
    if (!failure.empty())
        return otherFileMessage(xmlPath, failure);
    if (format != "bdv.hdf5")
        return otherFileMessage(
            xmlPath, format.isEmpty()
                         ? "not a BigDataViewer dataset: no ImageLoader"
                         : "a BigDataViewer dataset stored as " + format.left(40).toStdString() +
                               ": only bdv.hdf5 is read (export it to HDF5 in Fiji)");
    if (name.isEmpty())
        return otherFileMessage(xmlPath, "its ImageLoader names no HDF5 file");
    const QString folder = QFileInfo(xmlPath).absolutePath();
    const QString named = QDir(folder).filePath(name);
    failure = checkFileInFolder(folder, named, hdf5Path);
    if (!failure.empty())
        return otherFileMessage(named, failure);
    const QString beside = hdf5Path->left(hdf5Path->size() - QFileInfo(*hdf5Path).suffix().size());
    if (QFileInfo(beside + "xml").canonicalFilePath() != QFileInfo(xmlPath).canonicalFilePath())
        return otherFileMessage(xmlPath, "names " + QFileInfo(named).fileName().toStdString() +
                                             ", which has another XML beside it: pack the .h5 "
                                             "itself");
    return std::string();
}

namespace {

// The downsampling factors of setup s's levels: a row of x y z factors a level.
const Hdf5Object* levelFactors(const Hdf5Contents& contents, int s) {
    const Hdf5Object* factors = contents.find(formatString("/s%02d/resolutions", s));
    if (!factors || factors->dims.size() != 2 || factors->dims[1] != 3 ||
        factors->values.size() != factors->dims[0] * 3 || factors->values.empty())
        return nullptr;
    return factors;
}

// Level l of the picked setups: each setup's cells the same size, its spacing the voxel size
// (1 when unknown) times the level's factor.
std::string readBigDataViewerLevel(const Hdf5Contents& contents, const std::vector<int>& picked,
                                   int time, std::size_t l, const Hdf5Object* factors,
                                   const std::vector<double>& voxel, int* type,
                                   Hdf5Layout* layout) {
    Hdf5Level level;
    level.level.name = std::to_string(l);
    for (int s : picked) {
        const std::string cells = formatString("/t%05d/s%02d/%d/cells", time, s, int(l));
        const Hdf5Object* data = contents.find(cells);
        if (!data || data->dims.size() != 3)
            return "no 3-D dataset " + cells;
        for (int k = 0; k < 3; ++k) {
            if (data->dims[std::size_t(2 - k)] > maxSide)
                return cells + " is " + dimsText(data->dims) + ", too large";
            if (s != picked[0] && level.level.sizes[k] != int(data->dims[std::size_t(2 - k)]))
                return cells + " differs in size from the first setup's";
            level.level.sizes[k] = int(data->dims[std::size_t(2 - k)]);
            const double factor = factors->values[l * 3 + std::size_t(k)];
            if (!(factor >= 1))
                return formatString("/s%02d/resolutions gives a factor below 1", picked[0]);
            level.level.spacing[k] = (layout->spacingKnown ? voxel[std::size_t(k)] : 1) * factor;
        }
        const std::string failure = checkDataset(data, cells, 3, 0, level.level.sizes, type);
        if (!failure.empty())
            return failure;
        level.reads.push_back({cells, -1, 0, chunkDepth(data, 0)});
    }
    layout->levels.push_back(level);
    return std::string();
}

// BigDataViewer: /sSS/resolutions (downsampling factors per level, x y z), the samples in
// /tTTTTT/sSS/L/cells (z, y, x); voxel sizes and what tells the setups apart in the .xml beside.
// Its writer stores unsigned 16-bit samples as int16, which BigDataViewer reads as uint16.
std::string readBigDataViewer(const QString& path, const Hdf5Contents& contents,
                              const InputSelection& selection, Hdf5Layout* layout) {
    layout->format = "BigDataViewer HDF5";
    const int setupCount = countNumbered(contents, "/s%02d");
    layout->timePoints = countNumbered(contents, "/t%05d");
    int time = 0;
    std::string failure = pickTimePoint(layout->timePoints, selection, &time);
    const QString xmlPath = path.left(path.size() - QFileInfo(path).suffix().size()) + "xml";
    std::vector<ViewSetup> setups;
    if (failure.empty())
        failure = readBigDataViewerXml(xmlPath, setupCount, &setups, layout);
    std::vector<int> picked;
    if (failure.empty())
        failure = pickSetups(xmlPath, setups, setupCount, selection, &picked);
    if (!failure.empty())
        return failure;
    layout->channels = int(picked.size());
    const Hdf5Object* factors = levelFactors(contents, picked[0]);
    if (!factors)
        return formatString("/s%02d/resolutions is not a list of levels' factors", picked[0]);
    const std::vector<double> voxel =
        setups.empty() ? std::vector<double>() : setups[std::size_t(picked[0])].voxelSize;
    layout->spacingKnown = voxel.size() == 3 && voxel[0] > 0 && voxel[1] > 0 && voxel[2] > 0;
    int type = -1;
    for (std::size_t l = 0; l < factors->dims[0]; ++l) {
        failure = readBigDataViewerLevel(contents, picked, time, l, factors, voxel, &type, layout);
        if (!failure.empty())
            return failure;
    }
    layout->type = layout->stored = SampleType(type);
    if (layout->type == SampleType::Int16) {
        layout->type = SampleType::UInt16;
        layout->note = "int16 samples read as uint16, as BigDataViewer reads them";
    }
    layout->display.assign(std::size_t(layout->channels), ChannelDisplay());
    return std::string();
}

// ilastik's and Fiji's attribute: the voxel size along z, y, x in micrometres. False, and
// spacing untouched, without one.
bool elementSize(const Hdf5Object* data, double spacing[3]) {
    const Hdf5Attribute* size = data->attribute("element_size_um");
    const bool known = size && size->numbers.size() == 3 && size->numbers[0] > 0 &&
                       size->numbers[1] > 0 && size->numbers[2] > 0;
    for (int k = 0; known && k < 3; ++k)
        spacing[k] = size->numbers[std::size_t(2 - k)];
    return known;
}

// The numbers of a numeric attribute, or empty.
std::vector<double> numbersOf(const Hdf5Object* data, const char* name) {
    const Hdf5Attribute* attribute = data->attribute(name);
    return attribute && !attribute->text ? attribute->numbers : std::vector<double>();
}

// netCDF's default fill of a variable of the type (netcdf.h's NC_FILL_*), NaN for bytes and
// types pack does not take.
double netcdfDefaultFill(int type) {
    switch (type) {
    case int(SampleType::UInt16):
        return 65535;
    case int(SampleType::Int16):
        return -32767;
    case int(SampleType::UInt32):
        return 4294967295.0;
    case int(SampleType::Int32):
        return -2147483647;
    case int(SampleType::Float32):
        return double(9.9692099683868690e+36f);
    case int(SampleType::Float64):
        return 9.9692099683868690e+36;
    default:
        return NAN;
    }
}

// netCDF-4's attributes of a variable (CF conventions): masks on the raw values, then packing.
Hdf5Values cfValues(const Hdf5Object* data) {
    Hdf5Values values;
    for (const char* name : {"_FillValue", "missing_value"})
        for (double v : numbersOf(data, name))
            values.masked.push_back(v);
    // netCDF-C marks each variable with _Netcdf4Coordinates. Without a _FillValue, the samples
    // never written hold netCDF's default fill, which its readers mask; bytes have none, as
    // every value of theirs may be data.
    if (data->attribute("_Netcdf4Coordinates") && !data->attribute("_FillValue")) {
        const double fill = netcdfDefaultFill(data->type);
        if (!std::isnan(fill))
            values.masked.push_back(fill);
    }
    const std::vector<double> range = numbersOf(data, "valid_range");
    const std::vector<double> lo = numbersOf(data, "valid_min"), hi = numbersOf(data, "valid_max");
    if (range.size() == 2)
        values.validMin = range[0], values.validMax = range[1];
    if (lo.size() == 1)
        values.validMin = lo[0];
    if (hi.size() == 1)
        values.validMax = hi[0];
    const std::vector<double> scale = numbersOf(data, "scale_factor");
    const std::vector<double> offset = numbersOf(data, "add_offset");
    if (scale.size() == 1 && std::isfinite(scale[0]))
        values.scale = scale[0];
    if (offset.size() == 1 && std::isfinite(offset[0]))
        values.offset = offset[0];
    values.active = !values.masked.empty() || values.validMin > -HUGE_VAL ||
                    values.validMax < HUGE_VAL || scale.size() == 1 || offset.size() == 1;
    return values;
}

// Any 3-D dataset (z, y, x), or 4-D: a leading axis of at most four is channels, else a
// trailing one of at most four is channels (interleaved), else the leading axis is time (always
// of a netCDF-4 variable).
std::string readPlainDataset(const Hdf5Contents& contents, const InputSelection& selection,
                             Hdf5Layout* layout) {
    const std::string path =
        selection.dataset[0] == '/' ? selection.dataset : "/" + selection.dataset;
    layout->format = "HDF5 dataset " + path;
    const Hdf5Object* data = contents.find(path);
    if (data && !data->refusal.empty())
        return path + " " + data->refusal;
    if (!data || !data->dataset)
        return "--dataset " + selection.dataset + ": no such dataset (info lists them)";
    const std::vector<std::uint64_t>& dims = data->dims;
    if (dims.size() != 3 && dims.size() != 4)
        return path + " is " + dimsText(dims) + ": pack reads 3-D and 4-D datasets";
    const bool four = dims.size() == 4;
    // A netCDF-4 variable's dimensions come in CF's order T, Z, Y, X: the leading one is time,
    // however few its points.
    const bool netcdf = data->attribute("_Netcdf4Coordinates") != nullptr;
    const bool leadingChannels = four && !netcdf && dims[0] <= maxChannelAxis;
    const bool trailingChannels = four && !netcdf && !leadingChannels && dims[3] <= maxChannelAxis;
    const std::size_t z = four && !trailingChannels ? 1 : 0;
    Hdf5Level level;
    for (int k = 0; k < 3; ++k) {
        if (dims[z + std::size_t(2 - k)] > maxSide || dims[z + std::size_t(2 - k)] == 0)
            return path + " is " + dimsText(dims) + ": a side of 0 or too large";
        level.level.sizes[k] = int(dims[z + std::size_t(2 - k)]);
    }
    int type = -1;
    const std::string failure = checkDataset(data, path, dims.size(), z, level.level.sizes, &type);
    if (!failure.empty())
        return failure;
    layout->type = layout->stored = SampleType(type);
    layout->values = cfValues(data);
    if (layout->values.active) {
        layout->type = SampleType::Float32;
        layout->note = "fill, missing and out-of-range samples left black; scale_factor and "
                       "add_offset applied (netCDF-4 attributes)";
    }
    int time = 0;
    if (four && !leadingChannels && !trailingChannels) {
        layout->timePoints = int(std::min<std::uint64_t>(dims[0], 1u << 30));
        const std::string picked = pickTimePoint(layout->timePoints, selection, &time);
        if (!picked.empty())
            return picked;
    } else if (selection.volume > 0) {
        return formatString("--volume %d: the dataset holds one time point", selection.volume);
    }
    const std::uint64_t depth = chunkDepth(data, z);
    if (leadingChannels) {
        layout->channels = int(dims[0]);
        for (int c = 0; c < layout->channels; ++c)
            level.reads.push_back({path, c, 0, depth});
    } else {
        layout->channels = trailingChannels ? int(dims[3]) : 1;
        level.reads.push_back({path, four && !trailingChannels ? time : -1,
                               trailingChannels ? layout->channels : 0, depth});
    }
    layout->spacingKnown = elementSize(data, level.level.spacing);
    layout->levels.push_back(level);
    layout->display.assign(std::size_t(layout->channels), ChannelDisplay());
    return std::string();
}

} // namespace

std::string readHdf5Layout(const QString& path, const Hdf5Contents& contents,
                           const InputSelection& selection, Hdf5Layout* layout) {
    std::string failure;
    const bool setupPick = selection.dataset.size() == 3 && selection.dataset[0] == 's';
    if (isMinc2(contents, selection.dataset))
        failure = readMincLayout(contents, selection, layout);
    else if (!selection.dataset.empty() && !setupPick)
        failure = readPlainDataset(contents, selection, layout);
    else if (contents.find("/DataSet/ResolutionLevel 0/TimePoint 0/Channel 0/Data"))
        failure = selection.dataset.empty()
                      ? readImaris(contents, selection, layout)
                      : "--dataset " + selection.dataset + ": no such dataset (info lists them)";
    else if (contents.find("/s00/resolutions") && contents.find("/t00000/s00/0/cells"))
        failure = readBigDataViewer(path, contents, selection, layout);
    else if (setupPick)
        failure = readPlainDataset(contents, selection, layout);
    else
        failure = "an HDF5 file of no layout pack knows (Imaris, BigDataViewer): name a 3-D or "
                  "4-D dataset with --dataset PATH (info lists them)";
    if (failure.empty() && layout->channels < 1)
        failure = "a volume without channels";
    return failure;
}

void applyHdf5Values(const Hdf5Values& values, SampleType stored, const void* from,
                     std::size_t count, float* to) {
    withSampleType(stored, [&](auto type) {
        const auto* raw = static_cast<decltype(type)>(from);
        for (std::size_t i = 0; i < count; ++i) {
            const double v = double(raw[i]);
            bool masked = !(v >= values.validMin && v <= values.validMax);
            for (double m : values.masked)
                masked = masked || v == m || (std::isnan(m) && std::isnan(v));
            to[i] = masked ? NAN : float(v * values.scale + values.offset);
        }
    });
}

std::string listHdf5Datasets(const Hdf5Contents& contents) {
    std::string lines;
    for (const Hdf5Object& object : contents.objects)
        if (object.dataset)
            lines += formatString("    %s  %s  %s%s\n", printableText(object.path).c_str(),
                                  dimsText(object.dims).c_str(), object.typeName.c_str(),
                                  object.refusal.empty() ? "" : "  (pack refuses it)");
    if (contents.truncated)
        lines += "    (more objects than are listed)\n";
    return lines;
}
