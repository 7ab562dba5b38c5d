#include "keystore.h"

#include "folderstore.h"
#include "httpstore.h"
#include "messages.h"
#include "objectstore.h"
#include "zipstore.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cctype>
#include <thread>

unsigned localFetches() {
    return std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
}

unsigned KeyStore::fetchesAtOnce() const {
    return localFetches();
}

bool isSafeStoreKey(const std::string& key) {
    if (key.empty() || key.front() == '/' || key.back() == '/')
        return false;
    std::size_t start = 0;
    while (start <= key.size()) {
        const std::size_t end = std::min(key.find('/', start), key.size());
        const std::string part = key.substr(start, end - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        start = end + 1;
    }
    for (const char c : key)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e ||
            c == '\\')
            return false;
    return true;
}

namespace {
bool startsWithNoCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char a, char b) { return std::tolower(a) == std::tolower(b); });
}
} // namespace

// A URL goes to the server (a bucket's to its provider), a regular file is read as a zip whatever
// its name (.zip, .ozx), anything else a folder.
std::string openKeyStore(const std::string& location, std::unique_ptr<KeyStore>* store) {
    if (startsWithNoCase(location, "http://") || startsWithNoCase(location, "https://"))
        return openHttpStore(location, store);
    if (isObjectStoreUrl(location))
        return openObjectStore(location, store);
    if (QFileInfo(QFile::decodeName(location.c_str())).isFile())
        return openZipStore(location, store);
    return openFolderStore(location, store);
}
