#include "zarr/zarrmeta.h"

#include "checkedsize.h"
#include "text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>

using nlohmann::json;

namespace {
// Deeper documents are no metadata Zarr writes; the cap keeps any parser's recursion short.
const int maxNesting = 64;
// No dimension of an array is longer than this.
const std::int64_t maxExtent = std::int64_t(1) << 40;
// A chunk may reach past its array's sides by this factor in samples, and any chunk this small
// may reach as far as it likes: past both, nearly everything decoded would be thrown away.
const std::uint64_t maxChunkWaste = 16;
const std::uint64_t smallChunkBytes = std::uint64_t(16) << 20;

// The deepest nesting of arrays and objects in text, strings skipped.
int nestingDepth(const std::string& text) {
    int depth = 0, deepest = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
}

std::string parseDocument(const std::string& text, json* document) {
    if (text.size() > maxZarrDocument)
        return "metadata too large";
    if (nestingDepth(text) > maxNesting)
        return "metadata nested too deeply";
    *document = json::parse(text, nullptr, false);
    if (document->is_discarded())
        return "bad JSON metadata";
    if (!document->is_object())
        return "metadata is no JSON object";
    return std::string();
}

// A whole number from 0 to limit.
bool readCount(const json& value, std::int64_t limit, std::int64_t* count) {
    if (value.is_number_unsigned()) {
        const std::uint64_t v = value.get<std::uint64_t>();
        if (v > std::uint64_t(limit))
            return false;
        *count = std::int64_t(v);
        return true;
    }
    if (!value.is_number_integer())
        return false;
    *count = value.get<std::int64_t>();
    return *count >= 0 && *count <= limit;
}

std::string readExtents(const json& value, const char* what, std::int64_t least,
                        std::vector<std::int64_t>* extents) {
    if (!value.is_array() || value.empty() || value.size() > std::size_t(maxZarrDimensions))
        return std::string(what) + " must list 1 to 5 dimensions";
    extents->clear();
    for (const json& entry : value) {
        std::int64_t extent = 0;
        if (!readCount(entry, maxExtent, &extent) || extent < least)
            return std::string(what) +
                   formatString(" must be whole numbers from %lld", (long long)least);
        extents->push_back(extent);
    }
    return std::string();
}

std::string stringField(const json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

const std::pair<const char*, SampleType> typeNames[] = {
    {"uint8", SampleType::UInt8},     {"int8", SampleType::Int8},
    {"uint16", SampleType::UInt16},   {"int16", SampleType::Int16},
    {"uint32", SampleType::UInt32},   {"int32", SampleType::Int32},
    {"float32", SampleType::Float32}, {"float64", SampleType::Float64}};

const char typesNeeded[] = "need bool, (u)int8, (u)int16, (u)int32, float32 or float64";

// v2's dtype: a byte order, a kind and a size, "<u2" say.
std::string readDtype(const json& value, SampleType* type, bool* bigEndian, bool* boolean) {
    const std::string dtype = value.is_string() ? value.get<std::string>() : "";
    const std::pair<const char*, SampleType> codes[] = {
        {"u1", SampleType::UInt8},   {"i1", SampleType::Int8},    {"u2", SampleType::UInt16},
        {"i2", SampleType::Int16},   {"u4", SampleType::UInt32},  {"i4", SampleType::Int32},
        {"f4", SampleType::Float32}, {"f8", SampleType::Float64}, {"b1", SampleType::UInt8}};
    for (const auto& [code, codeType] : codes)
        if (dtype.size() == 3 && std::strchr("<>|", dtype[0]) && dtype.compare(1, 2, code) == 0) {
            *type = codeType;
            *bigEndian = dtype[0] == '>';
            *boolean = dtype[1] == 'b';
            if (dtype[0] == '|' && sampleTypeBytes(codeType) > 1)
                break;
            return std::string();
        }
    return "unsupported dtype '" + dtype + "': " + typesNeeded;
}

// Whether the whole number fits the integer type.
bool fitsType(double value, SampleType type) {
    const unsigned bits = unsigned(8 * sampleTypeBytes(type));
    const bool isSigned =
        type == SampleType::Int8 || type == SampleType::Int16 || type == SampleType::Int32;
    const double low = isSigned ? -std::ldexp(1.0, int(bits) - 1) : 0;
    const double high = std::ldexp(1.0, int(bits) - (isSigned ? 1 : 0)) - 1;
    return value >= low && value <= high;
}

std::string readFill(const json& value, SampleType type, double* fill) {
    const bool integral = type != SampleType::Float32 && type != SampleType::Float64;
    *fill = 0;
    if (value.is_null())
        return std::string();
    if (value.is_boolean()) {
        *fill = value.get<bool>() ? 1 : 0;
        return std::string();
    }
    if (value.is_number_integer() || value.is_number_unsigned() ||
        (value.is_number_float() && !integral)) {
        *fill = value.get<double>();
        return !integral || fitsType(*fill, type) ? std::string() : "fill_value out of range";
    }
    if (value.is_string() && !integral) {
        const std::string text = value.get<std::string>();
        const bool hex = text.size() > 2 && text.compare(0, 2, "0x") == 0 &&
                         std::all_of(text.begin() + 2, text.end(), [](char c) {
                             return std::isxdigit(static_cast<unsigned char>(c));
                         });
        if (text == "NaN")
            *fill = std::numeric_limits<double>::quiet_NaN();
        else if (text == "Infinity" || text == "-Infinity")
            *fill = text[0] == '-' ? -HUGE_VAL : HUGE_VAL;
        else if (hex && text.size() == 10 && type == SampleType::Float32) {
            const std::uint32_t bits = std::uint32_t(std::stoul(text.substr(2), nullptr, 16));
            float f;
            std::memcpy(&f, &bits, 4);
            *fill = f;
        } else if (hex && text.size() == 18 && type == SampleType::Float64) {
            const std::uint64_t bits = std::stoull(text.substr(2), nullptr, 16);
            double d;
            std::memcpy(&d, &bits, 8);
            *fill = d;
        } else
            return "bad fill_value '" + text + "'";
        return std::string();
    }
    return "bad fill_value";
}

// v2's compressor: null or one of the ids numcodecs writes.
std::string readV2Compressor(const json& value, ChunkCodec* codec) {
    *codec = ChunkCodec::Raw;
    if (value.is_null())
        return std::string();
    const std::string id = value.is_object() ? stringField(value, "id") : "";
    for (ChunkCodec known :
         {ChunkCodec::Blosc, ChunkCodec::Zstd, ChunkCodec::Zlib, ChunkCodec::Gzip, ChunkCodec::Lz4})
        if (id == chunkCodecName(known)) {
            *codec = known;
            return std::string();
        }
    return "unsupported compressor '" + id + "': need blosc, zstd, zlib, gzip, lz4 or none";
}

std::string bytesInWords(std::uint64_t bytes) {
    return bytes >= (std::uint64_t(1) << 30)
               ? formatString("%llu GiB", (unsigned long long)(bytes >> 30))
               : formatString("%llu MiB", (unsigned long long)(bytes >> 20));
}

// Checks that one grid cell (a chunk, a shard or an inner chunk: `what`) decodes to at most
// limit bytes, and not to many times the samples of the array that it covers.
std::string checkCellBytes(const ZarrArray& array, const std::vector<std::int64_t>& cell,
                           std::uint64_t limit, const char* what) {
    std::uint64_t bytes = 0;
    if (!checkedProduct(cell, sampleTypeBytes(array.type), limit, &bytes))
        return formatString("%s too large: more than %s each", what, bytesInWords(limit).c_str());
    std::vector<std::int64_t> covered(cell.size());
    for (std::size_t d = 0; d < cell.size(); ++d)
        covered[d] = std::min(cell[d], array.shape[d]);
    std::uint64_t used = 0;
    if (!checkedProduct(covered, sampleTypeBytes(array.type), bytes, &used) ||
        (bytes > smallChunkBytes && bytes / maxChunkWaste > used))
        return formatString("%s far larger than the array: %s each, for %s of samples; rechunk "
                            "the store with chunks no larger than the array",
                            what, bytesInWords(bytes).c_str(), bytesInWords(used).c_str());
    return std::string();
}

std::string parseV2Array(const json& meta, ZarrArray* array) {
    array->format = 2;
    if (!meta.contains("zarr_format") || meta["zarr_format"] != 2)
        return "not a Zarr v2 array (zarr_format 2)";
    std::string failure = readExtents(meta.value("shape", json()), "shape", 1, &array->shape);
    if (failure.empty())
        failure = readExtents(meta.value("chunks", json()), "chunks", 1, &array->chunks);
    if (failure.empty() && array->chunks.size() != array->shape.size())
        failure = "chunks and shape differ in dimensions";
    if (failure.empty())
        failure = readDtype(meta.value("dtype", json()), &array->type, &array->coding.bigEndian,
                            &array->boolean);
    if (failure.empty())
        failure = readFill(meta.value("fill_value", json()), array->type, &array->fill);
    if (failure.empty())
        failure = readV2Compressor(meta.value("compressor", json()), &array->coding.compressor);
    if (!failure.empty())
        return failure;
    const std::string order = stringField(meta, "order");
    if (order != "C" && order != "F")
        return "order must be \"C\" or \"F\"";
    array->coding.fortran = order == "F";
    const json filters = meta.value("filters", json());
    if (!filters.is_null() && !(filters.is_array() && filters.empty()))
        return "unsupported filters: need none";
    array->separatorGiven = meta.contains("dimension_separator");
    const json separator = meta.value("dimension_separator", json("."));
    if (separator != "." && separator != "/")
        return "dimension_separator must be \".\" or \"/\"";
    array->separator = separator.get<std::string>()[0];
    return checkCellBytes(*array, array->chunks, maxZarrChunkBytes, "chunks");
}

// Whether order is the identity (false) or the full reversal (true); others are refused.
bool readTranspose(const json& configuration, std::size_t dimensions, bool* reversed) {
    const json order = configuration.is_object() ? configuration.value("order", json()) : json();
    if (!order.is_array() || order.size() != dimensions)
        return false;
    bool identity = true, reverse = true;
    for (std::size_t i = 0; i < dimensions; ++i) {
        std::int64_t axis = 0;
        if (!readCount(order[i], maxZarrDimensions, &axis))
            return false;
        identity = identity && std::size_t(axis) == i;
        reverse = reverse && std::size_t(axis) == dimensions - 1 - i;
    }
    *reversed = !identity;
    return identity || reverse;
}

struct CodecChain {
    ChunkCoding coding;
    bool sharded = false;
    json sharding; // the sharding codec's configuration
};

// v3's codecs: an optional transpose, "bytes" or "sharding_indexed", then at most one
// compressor and crc32c checksums.
std::string readV3Codecs(const json& codecs, std::size_t dimensions, bool allowSharding,
                         CodecChain* chain) {
    if (!codecs.is_array() || codecs.empty() || codecs.size() > 8)
        return "codecs must list 1 to 8 codecs";
    enum { Arrays, Bytes, Compressed, Checksums } stage = Arrays;
    for (const json& codec : codecs) {
        const std::string name = codec.is_object() ? stringField(codec, "name") : "";
        const json configuration =
            codec.is_object() ? codec.value("configuration", json()) : json();
        if (name == "transpose" && stage == Arrays) {
            if (!readTranspose(configuration, dimensions, &chain->coding.fortran))
                return "unsupported transpose: need the identity or the reversed order";
        } else if (name == "bytes" && stage == Arrays) {
            const std::string endian =
                configuration.is_object() ? stringField(configuration, "endian") : "";
            if (!endian.empty() && endian != "little" && endian != "big")
                return "bytes codec: endian must be \"little\" or \"big\"";
            chain->coding.bigEndian = endian == "big";
            stage = Bytes;
        } else if (name == "sharding_indexed" && stage == Arrays && allowSharding) {
            chain->sharded = true;
            chain->sharding = configuration;
            stage = Bytes;
        } else if ((name == "blosc" || name == "zstd" || name == "gzip") && stage == Bytes) {
            chain->coding.compressor = name == "blosc"  ? ChunkCodec::Blosc
                                       : name == "zstd" ? ChunkCodec::Zstd
                                                        : ChunkCodec::Gzip;
            stage = Compressed;
        } else if (name == "crc32c" && stage != Arrays) {
            ++chain->coding.checksums;
            stage = Checksums;
        } else {
            return "unsupported codec '" + name + "' here: need transpose, bytes, " +
                   (allowSharding ? "sharding_indexed, " : "") +
                   "then blosc, zstd or gzip, then crc32c";
        }
    }
    if (stage == Arrays)
        return "codecs lack \"bytes\"";
    return std::string();
}

// A shard is fetched, and where it was never written filled, whole; its index lists every
// inner chunk.
std::string checkShardBytes(const ZarrArray& array) {
    std::string failure = checkCellBytes(array, array.chunks, maxZarrShardBytes, "shards");
    if (failure.empty())
        failure = checkCellBytes(array, array.inner, maxZarrChunkBytes, "inner chunks");
    std::vector<std::int64_t> grid(array.chunks.size());
    for (std::size_t d = 0; d < grid.size(); ++d)
        grid[d] = array.chunks[d] / array.inner[d];
    std::uint64_t count = 0;
    if (failure.empty() && !checkedProduct(grid, 1, maxZarrInnerChunks, &count))
        failure = formatString("shards of too many inner chunks: more than %llu each",
                               (unsigned long long)maxZarrInnerChunks);
    return failure;
}

std::string readSharding(const json& configuration, ZarrArray* array) {
    if (!configuration.is_object())
        return "sharding_indexed lacks its configuration";
    std::string failure =
        readExtents(configuration.value("chunk_shape", json()), "chunk_shape", 1, &array->inner);
    if (!failure.empty())
        return failure;
    if (array->inner.size() != array->shape.size())
        return "sharding chunk_shape and shape differ in dimensions";
    for (std::size_t d = 0; d < array->inner.size(); ++d)
        if (array->chunks[d] % array->inner[d] != 0)
            return "sharding chunk_shape does not divide the shard";
    CodecChain inner, index;
    failure =
        readV3Codecs(configuration.value("codecs", json()), array->shape.size(), false, &inner);
    if (failure.empty())
        failure = readV3Codecs(configuration.value("index_codecs", json()), 1, false, &index);
    if (!failure.empty())
        return failure;
    if (index.coding.compressor != ChunkCodec::Raw || index.coding.checksums > 1 ||
        index.coding.bigEndian)
        return "unsupported index_codecs: need little-endian bytes and an optional crc32c";
    array->innerCoding = inner.coding;
    array->indexChecksum = index.coding.checksums == 1;
    const json location = configuration.value("index_location", json("end"));
    if (location != "start" && location != "end")
        return "index_location must be \"start\" or \"end\"";
    array->indexAtEnd = location == "end";
    array->sharded = true;
    return checkShardBytes(*array);
}

std::string readKeyEncoding(const json& encoding, ZarrArray* array) {
    const std::string name = encoding.is_object() ? stringField(encoding, "name") : "";
    const json configuration =
        encoding.is_object() ? encoding.value("configuration", json()) : json();
    if (name != "default" && name != "v2")
        return "chunk_key_encoding must be \"default\" or \"v2\"";
    const json separator = configuration.is_object()
                               ? configuration.value("separator", json(name == "v2" ? "." : "/"))
                               : json(name == "v2" ? "." : "/");
    if (separator != "." && separator != "/")
        return "chunk key separator must be \".\" or \"/\"";
    array->separator = separator.get<std::string>()[0];
    array->keyPrefix = name == "default" ? "c" : "";
    return std::string();
}

// The array's shape and its regular grid's chunk shape.
std::string readV3Grid(const json& meta, ZarrArray* array) {
    std::string failure = readExtents(meta.value("shape", json()), "shape", 1, &array->shape);
    if (!failure.empty())
        return failure;
    const json grid = meta.value("chunk_grid", json());
    if (!grid.is_object() || grid.value("name", json()) != "regular" ||
        !grid.value("configuration", json()).is_object())
        return "chunk_grid must be \"regular\"";
    failure = readExtents(grid["configuration"].value("chunk_shape", json()), "chunk_shape", 1,
                          &array->chunks);
    if (failure.empty() && array->chunks.size() != array->shape.size())
        failure = "chunk_shape and shape differ in dimensions";
    return failure;
}

// How the chunks are stored: the codecs, with any sharding's inner chunks.
std::string readV3Coding(const json& meta, ZarrArray* array) {
    const json transformers = meta.value("storage_transformers", json::array());
    if (!transformers.is_array() || !transformers.empty())
        return "unsupported storage_transformers";
    CodecChain chain;
    const std::string failure =
        readV3Codecs(meta.value("codecs", json()), array->shape.size(), true, &chain);
    if (!failure.empty())
        return failure;
    array->coding = chain.coding;
    if (!chain.sharded)
        return checkCellBytes(*array, array->chunks, maxZarrChunkBytes, "chunks");
    if (chain.coding.fortran)
        return "unsupported transpose before sharding";
    return readSharding(chain.sharding, array);
}

std::string parseV3Array(const json& meta, ZarrArray* array) {
    array->format = 3;
    if (meta.value("zarr_format", json()) != 3 || meta.value("node_type", json()) != "array")
        return "not a Zarr v3 array";
    std::string failure = readV3Grid(meta, array);
    if (!failure.empty())
        return failure;
    const std::string dataType = stringField(meta, "data_type");
    const auto known = std::find_if(std::begin(typeNames), std::end(typeNames),
                                    [&](const auto& t) { return dataType == t.first; });
    array->boolean = dataType == "bool";
    if (known == std::end(typeNames) && !array->boolean)
        return "unsupported data_type '" + dataType + "': " + typesNeeded;
    array->type = array->boolean ? SampleType::UInt8 : known->second;
    if (!meta.contains("fill_value"))
        return "fill_value missing";
    failure = readFill(meta["fill_value"], array->type, &array->fill);
    if (failure.empty())
        failure = readKeyEncoding(meta.value("chunk_key_encoding", json()), array);
    if (failure.empty())
        failure = readV3Coding(meta, array);
    if (!failure.empty())
        return failure;
    const json names = meta.value("dimension_names", json());
    if (names.is_array() && names.size() == array->shape.size())
        for (const json& name : names)
            array->dimensionNames.push_back(name.is_string() ? name.get<std::string>() : "");
    return std::string();
}
} // namespace

std::string zarrChunkKey(const ZarrArray& array, const std::vector<std::int64_t>& index) {
    std::string key = array.keyPrefix;
    for (std::size_t d = 0; d < index.size(); ++d) {
        if (!key.empty())
            key += array.separator;
        key += std::to_string(index[d]);
    }
    return key;
}

std::uint64_t zarrChunkBytes(const ZarrArray& array, bool innerChunk) {
    std::uint64_t bytes = 0; // parsing checked the product against its limit
    (void)checkedProduct(innerChunk ? array.inner : array.chunks, sampleTypeBytes(array.type),
                         maxCheckedSize, &bytes);
    return bytes;
}

std::uint64_t zarrInnerChunks(const ZarrArray& array) {
    std::uint64_t count = 1;
    for (std::size_t d = 0; d < array.chunks.size() && array.sharded; ++d)
        count *= std::uint64_t(array.chunks[d] / array.inner[d]); // checked when parsed
    return count;
}

std::string parseZarrArray(const std::string& text, int format, ZarrArray* array) {
    json meta;
    const std::string failure = parseDocument(text, &meta);
    if (!failure.empty())
        return failure;
    *array = ZarrArray();
    return format == 2 ? parseV2Array(meta, array) : parseV3Array(meta, array);
}

std::string zarrNodeType(const std::string& text, std::string* type) {
    json meta;
    const std::string failure = parseDocument(text, &meta);
    if (!failure.empty())
        return failure;
    if (meta.value("zarr_format", json()) != 3)
        return "not a Zarr v3 node (zarr_format 3)";
    *type = stringField(meta, "node_type");
    if (*type != "array" && *type != "group")
        return "node_type must be \"array\" or \"group\"";
    return std::string();
}

namespace {
std::string readAxes(const json& value, std::vector<ZarrAxis>* axes) {
    if (!value.is_array() || value.size() < 3 || value.size() > std::size_t(maxZarrDimensions))
        return "multiscales axes must list 3 to 5 axes";
    for (const json& entry : value) {
        ZarrAxis axis;
        if (entry.is_string()) { // NGFF 0.3 names the axes only
            axis.name = entry.get<std::string>();
        } else if (entry.is_object()) {
            axis.name = stringField(entry, "name");
            axis.type = stringField(entry, "type");
            axis.unit = stringField(entry, "unit");
        }
        if (axis.name.empty())
            return "multiscales axes need names";
        axes->push_back(axis);
    }
    return std::string();
}

// The scale and translation of coordinateTransformations, multiplied into level.
std::string readTransformations(const json& value, ZarrLevel* level) {
    if (value.is_null())
        return std::string();
    if (!value.is_array() || value.size() > 8)
        return "bad coordinateTransformations";
    for (const json& transformation : value) {
        const std::string type =
            transformation.is_object() ? stringField(transformation, "type") : "";
        if (type == "identity")
            continue;
        if (type != "scale" && type != "translation")
            return "unsupported coordinateTransformation '" + type + "'";
        const json values = transformation.value(type, json());
        if (!values.is_array() || values.size() != level->scale.size())
            return "coordinateTransformations must give one " + type + " per axis";
        for (std::size_t a = 0; a < values.size(); ++a) {
            if (!values[a].is_number() || !std::isfinite(values[a].get<double>()))
                return "bad " + type + " in coordinateTransformations";
            const double v = values[a].get<double>();
            if (type == "scale" && !(v > 0))
                return "scales must be positive";
            if (type == "scale")
                level->scale[a] *= v;
            else
                level->translation[a] += v;
        }
    }
    return std::string();
}

// A colour as omero gives it ("FF0000"): 0, 1 or 2 for pure red, green or blue, else -1.
int pureColour(const std::string& hex) {
    const char* pure[] = {"FF0000", "00FF00", "0000FF"};
    std::string upper = hex;
    for (char& c : upper)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    for (int c = 0; c < 3; ++c)
        if (upper == pure[c])
            return c;
    return -1;
}

void readOmero(const json& omero, std::vector<ChannelDisplay>* channels) {
    const json list = omero.is_object() ? omero.value("channels", json()) : json();
    if (!list.is_array())
        return;
    for (const json& entry : list) {
        ChannelDisplay display;
        if (entry.is_object()) {
            display.colour = pureColour(stringField(entry, "color"));
            const json window = entry.value("window", json());
            if (window.is_object() && window.value("start", json()).is_number() &&
                window.value("end", json()).is_number()) {
                display.lo = window["start"].get<double>();
                display.hi = window["end"].get<double>();
                display.windowGiven = std::isfinite(display.lo) && std::isfinite(display.hi) &&
                                      display.lo <= display.hi;
            }
        }
        channels->push_back(display);
    }
}

// The OME group's list of a bioformats2raw store's image series, their paths; strings only.
void readSeries(const json& list, std::vector<std::string>* series) {
    if (list.is_array() && list.size() <= 4096)
        for (const json& entry : list)
            if (entry.is_string())
                series->push_back(entry.get<std::string>());
}

std::string readMultiscale(const json& multiscale, ZarrImage* image) {
    if (!multiscale.is_object())
        return "bad multiscales entry";
    const json axes = multiscale.value("axes", json());
    std::string failure;
    if (axes.is_null()) { // NGFF 0.1 and 0.2: always t, c, z, y, x
        for (const char* name : {"t", "c", "z", "y", "x"})
            image->axes.push_back(ZarrAxis{name, "", "", AxisRole::X});
    } else {
        failure = readAxes(axes, &image->axes);
    }
    if (failure.empty())
        failure = assignAxisRoles(&image->axes);
    if (!failure.empty())
        return failure;
    const json datasets = multiscale.value("datasets", json());
    if (!datasets.is_array() || datasets.empty() || datasets.size() > 64)
        return "multiscales datasets must list 1 to 64 levels";
    ZarrLevel global;
    global.scale.assign(image->axes.size(), 1);
    global.translation.assign(image->axes.size(), 0);
    failure = readTransformations(multiscale.value("coordinateTransformations", json()), &global);
    image->transformed = multiscale.contains("coordinateTransformations");
    for (const json& dataset : datasets) {
        if (!failure.empty())
            return failure;
        ZarrLevel level;
        level.path = dataset.is_object() ? stringField(dataset, "path") : "";
        if (level.path.empty() || level.path.size() > 256)
            return "a multiscales dataset lacks its path";
        level.scale.assign(image->axes.size(), 1);
        level.translation.assign(image->axes.size(), 0);
        failure = readTransformations(dataset.value("coordinateTransformations", json()), &level);
        image->transformed = image->transformed || dataset.contains("coordinateTransformations");
        for (std::size_t a = 0; a < level.scale.size(); ++a) {
            level.scale[a] *= global.scale[a];
            level.translation[a] = level.translation[a] * global.scale[a] + global.translation[a];
        }
        image->levels.push_back(level);
    }
    return failure;
}
} // namespace

std::string parseZarrImage(const std::string& text, int format, ZarrImage* image) {
    json meta;
    std::string failure = parseDocument(text, &meta);
    if (!failure.empty())
        return failure;
    *image = ZarrImage();
    json attributes = format == 2 ? meta : meta.value("attributes", json::object());
    if (attributes.is_object() && attributes.contains("ome"))
        attributes = attributes["ome"];
    if (!attributes.is_object())
        return std::string();
    image->seriesLayout = attributes.value("bioformats2raw.layout", json()) == 3;
    readSeries(attributes.value("series", json()), &image->series);
    if (!attributes.contains("multiscales"))
        return std::string();
    const json multiscales = attributes["multiscales"];
    // A file of several images is read at its first, as NGFF readers do.
    if (!multiscales.is_array() || multiscales.empty())
        return "multiscales must list an image";
    if (multiscales[0].is_object())
        image->version = stringField(multiscales[0], "version");
    if (image->version.empty())
        image->version = stringField(attributes, "version"); // NGFF 0.5 gives it beside
    failure = readMultiscale(multiscales[0], image);
    if (failure.empty())
        readOmero(attributes.value("omero", json()), &image->channels);
    return failure;
}

std::string plainArrayAxes(const ZarrArray& array, std::vector<ZarrAxis>* axes) {
    const std::size_t dimensions = array.shape.size();
    if (dimensions < 3)
        return formatString("%zu dimensions: need 3 to 5 (z, y, x, and channels or time)",
                            dimensions);
    const char* byCount[3][5] = {{"z", "y", "x"}, {"c", "z", "y", "x"}, {"t", "c", "z", "y", "x"}};
    axes->clear();
    for (std::size_t d = 0; d < dimensions; ++d) {
        const bool named = !array.dimensionNames.empty() && !array.dimensionNames[d].empty();
        axes->push_back(ZarrAxis{named ? array.dimensionNames[d] : byCount[dimensions - 3][d], "",
                                 "", AxisRole::X});
    }
    return assignAxisRoles(axes);
}

std::string assignAxisRoles(std::vector<ZarrAxis>* axes) {
    if (axes->size() < 3 || axes->size() > std::size_t(maxZarrDimensions))
        return formatString("%zu axes: need 3 to 5 (z, y, x, and channels or time)", axes->size());
    int seen[5] = {0, 0, 0, 0, 0};
    for (ZarrAxis& axis : *axes) {
        std::string name = axis.name;
        for (char& c : name)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        if (name == "x" || name == "y" || name == "z")
            axis.role = name == "x" ? AxisRole::X : name == "y" ? AxisRole::Y : AxisRole::Z;
        else if (axis.type == "channel" || name == "c")
            axis.role = AxisRole::Channel;
        else if (axis.type == "time" || name == "t")
            axis.role = AxisRole::Time;
        else
            return "unsupported axis '" + axis.name + "': need x, y, z, and c or t";
        if (++seen[int(axis.role)] > 1)
            return "axis '" + axis.name + "' given twice";
    }
    if (!seen[0] || !seen[1] || !seen[2])
        return "need the space axes x, y and z";
    return std::string();
}
