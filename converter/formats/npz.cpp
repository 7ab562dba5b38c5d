#include "npz.h"

#include "choices.h"
#include "checkedsize.h"
#include "npy.h"
#include "storedsamples.h"
#include "systemmemory.h"
#include "text.h"
#include "volumefile.h"
#include "zipstore.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {
// An array is inflated whole: it may take at most this share of the memory available.
const std::int64_t arrayMemoryShare = 4;
const std::string suffix = ".npy";

std::vector<std::string> arrayNames(const ZipStore& zip) {
    std::vector<std::string> names;
    for (const std::string& key : zip.keys())
        if (key.size() > suffix.size() &&
            key.compare(key.size() - suffix.size(), suffix.size(), suffix) == 0)
            names.push_back(key.substr(0, key.size() - suffix.size()));
    std::sort(names.begin(), names.end());
    return names;
}

std::string listed(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t k = 0; k < names.size(); ++k)
        text += (k ? ", " : "") + names[k];
    return text;
}

// The member that holds the array asked for; "" or the reason.
std::string pickArray(const std::vector<std::string>& names, std::string name, std::string* key) {
    if (names.empty())
        return "an .npz that holds no .npy array";
    if (name.size() > suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        name.erase(name.size() - suffix.size());
    if (name.empty() && names.size() > 1)
        return "an .npz of arrays " + listed(names) + ": pick one with --dataset NAME";
    if (name.empty())
        name = names[0];
    if (std::find(names.begin(), names.end(), name) == names.end())
        return "no array '" + name + "' in the .npz (it holds " + listed(names) + ")";
    *key = name + suffix;
    return std::string();
}

std::uint64_t arrayMemory() {
    const std::int64_t memory = availableMemory();
    return memory < 0 ? maxCheckedSize : std::uint64_t(memory / arrayMemoryShare);
}

// Checks the member's header and that it holds the samples its shape claims.
std::string parseArray(const std::vector<unsigned char>& bytes, NpyArray* array) {
    std::string failure = parseNpyHeader(bytes, array);
    if (!failure.empty())
        return failure;
    failure = checkVolumeSizes(array->width, array->height, array->depth, array->channels,
                               array->type, nullptr);
    std::uint64_t total = 0;
    if (failure.empty() &&
        !checkedProduct({array->width, array->height, array->depth, array->channels},
                        sampleTypeBytes(array->type), maxCheckedSize, &total))
        failure = "unsupported .npy shape: too large";
    if (failure.empty() && bytes.size() - array->dataOffset < total)
        failure = volumeMessages::truncated;
    return failure;
}

void readFromMemory(std::shared_ptr<const std::vector<unsigned char>> bytes, const NpyArray& array,
                    TypedSource* source) {
    StoredSamples stored;
    stored.type = array.type;
    stored.swapped = array.swap;
    const std::size_t slice = sliceBytes(source->info), offset = array.dataOffset;
    source->memory = bytes->size();
    readThrough(
        stored,
        [bytes, slice, offset](int z, void* samples) {
            std::memcpy(samples, bytes->data() + offset + std::size_t(z) * slice, slice);
            return std::string();
        },
        source);
    source->concurrent = true;
}
} // namespace

std::string openNpzSource(const QString& path, const std::string& name, TypedSource* source) {
    std::unique_ptr<ZipStore> zip;
    std::string failure = ZipStore::open(QFile::encodeName(path).toStdString(), &zip);
    std::string key;
    if (failure.empty())
        failure = pickArray(arrayNames(*zip), name, &key);
    auto bytes = std::make_shared<std::vector<unsigned char>>();
    if (failure.empty())
        failure = zip->get(key, arrayMemory(), bytes.get(), nullptr);
    NpyArray array;
    if (failure.empty())
        failure = parseArray(*bytes, &array);
    if (!failure.empty())
        return failure;
    describeNpyArray(array, ".npz array " + key.substr(0, key.size() - suffix.size()),
                     &source->info);
    readFromMemory(bytes, array, source);
    return std::string();
}

std::vector<std::string> npzArrayNames(const QString& path) {
    std::unique_ptr<ZipStore> zip;
    if (!ZipStore::open(QFile::encodeName(path).toStdString(), &zip).empty())
        return {};
    return arrayNames(*zip);
}

InputFormat npzInputFormat() {
    return {".npz",
            "NumPy arrays in a zip (.npz, stored or deflated, as numpy.savez and savez_compressed\n"
            "      write them): the only array, or the one --dataset NAME names, read as a .npy",
            {"npz"},
            nullptr, // a zip: its suffix tells it from the zips Zarr reads
            [](const QString& path, const InputSelection& selection, TypedSource* source) {
                return openNpzSource(path, selection.dataset, source);
            },
            [](const QString& path) { printArrays(path, ".npz", npzArrayNames(path)); },
            {},
            "npz",
            nullptr,
            picksDataset,
            {{"application/x-npz", "NumPy arrays (zip)", {"npz"}, "application/zip"}}};
}
