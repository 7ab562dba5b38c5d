#include "messages.h"

#include "text.h"

#include <QFileInfo>

std::string fileMessage(const QString& path, const std::string& message) {
    return printableText(path.toStdString() + ": " + message);
}

namespace {
// Marks a message that already names its file; fileMessage escapes every control character,
// so no reason or path can begin with it.
const char namedMark = '\x1e';

// transitional: whether the reason begins with "PATH: " for a file or folder that exists.
bool namesAFile(const std::string& reason) {
    const std::size_t colon = reason.find(": ");
    return colon != std::string::npos && colon > 0 &&
           QFileInfo::exists(QString::fromStdString(reason.substr(0, colon)));
}
} // namespace

std::string otherFileMessage(const QString& path, const std::string& reason) {
    return namedMark + fileMessage(path, reason);
}

std::string inputMessage(const QString& input, const std::string& reason) {
    if (reason.empty())
        return reason;
    if (reason[0] == namedMark)
        return reason.substr(1);
    // transitional: readers that still name their files themselves.
    if (reason.rfind(fileMessage(input, ""), 0) == 0 || namesAFile(reason))
        return reason;
    return fileMessage(input, reason);
}
