#include "keystore.h"

#include <algorithm>

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
