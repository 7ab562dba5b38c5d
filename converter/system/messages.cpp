#include "messages.h"

#include "text.h"

#include <algorithm>

std::string shownPath(const QString& path) {
    std::string text = path.toStdString();
    const std::size_t scheme = text.find("://");
    const std::string name = scheme == std::string::npos ? "" : text.substr(0, scheme);
    if (name.size() == 4 || name.size() == 5) {
        const QString lower = QString::fromStdString(name).toLower();
        const std::size_t host = scheme + 3, end = std::min(text.find('/', host), text.size());
        const std::size_t at = text.rfind('@', end - 1);
        if ((lower == "http" || lower == "https") && at != std::string::npos && at >= host)
            text.erase(host, at + 1 - host);
    }
    return printableText(text);
}

std::string fileMessage(const QString& path, const std::string& message) {
    return shownPath(path) + ": " + printableText(message);
}

namespace {
// Marks a message that already names its file; fileMessage escapes every control character,
// so no reason or path can begin with it.
const char namedMark = '\x1e';
} // namespace

std::string otherFileMessage(const QString& path, const std::string& reason) {
    return namedMark + fileMessage(path, reason);
}

std::string inputMessage(const QString& input, const std::string& reason) {
    if (reason.empty())
        return reason;
    if (reason[0] == namedMark)
        return reason.substr(1);
    return fileMessage(input, reason);
}
