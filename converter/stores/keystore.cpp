#include "keystore.h"

#include "folderstore.h"
#include "messages.h"

#include <QString>

#include <algorithm>
#include <cstring>

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
bool startsWith(const std::string& text, const char* start) {
    return text.compare(0, std::strlen(start), start) == 0;
}

bool endsWithZip(const std::string& text) {
    return text.size() > 4 && (text.compare(text.size() - 4, 4, ".zip") == 0 ||
                               text.compare(text.size() - 4, 4, ".ZIP") == 0);
}

// A store on an HTTP server: the keys are URLs below location.
std::string openHttpStore(const std::string& location, std::unique_ptr<KeyStore>*) {
    return fileMessage(QString::fromStdString(location), "HTTP stores are not read yet");
}

// A store in a .zip file: the keys are the archive's members.
std::string openZipStore(const std::string& location, std::unique_ptr<KeyStore>*) {
    return fileMessage(QString::fromStdString(location), ".zip stores are not read yet");
}
} // namespace

std::string openKeyStore(const std::string& location, std::unique_ptr<KeyStore>* store) {
    if (startsWith(location, "http://") || startsWith(location, "https://"))
        return openHttpStore(location, store);
    if (endsWithZip(location))
        return openZipStore(location, store);
    return openFolderStore(location, store);
}
