#include "messages.h"

#include "text.h"

std::string fileMessage(const QString& path, const std::string& message) {
    return printableText(path.toStdString() + ": " + message);
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
