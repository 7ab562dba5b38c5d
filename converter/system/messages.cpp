#include "messages.h"

#include "text.h"

#include <algorithm>

namespace {
// Where a URL's user information ends: at the last "@" of its authority, or, where a ":" there
// starts a password that holds a "/" (and so seems to end the authority), at the last "@" before
// any query or fragment. npos where it has none.
std::size_t userInfoEnd(const std::string& url, std::size_t host) {
    const std::size_t authorityEnd = std::min(url.find('/', host), url.size());
    const std::size_t at = authorityEnd > host ? url.rfind('@', authorityEnd - 1) : url.npos;
    if (at != url.npos && at >= host)
        return at;
    const std::size_t bracket = url[host] == '[' ? url.find(']', host) : host;
    if (bracket == url.npos || bracket >= authorityEnd || url.find(':', bracket) >= authorityEnd)
        return url.npos;
    const std::size_t end = std::min(url.find_first_of("?#", authorityEnd), url.size());
    const std::size_t later = url.rfind('@', end - 1);
    return later != url.npos && later > authorityEnd ? later : url.npos;
}
} // namespace

std::string withoutUserInfo(const std::string& url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string::npos || url.size() == scheme + 3)
        return url;
    const std::size_t host = scheme + 3, at = userInfoEnd(url, host);
    return at == url.npos ? url : url.substr(0, host) + url.substr(at + 1);
}

std::string shownPath(const QString& path) {
    std::string text = path.toStdString();
    const std::size_t scheme = text.find("://");
    const QString name = QString::fromStdString(text.substr(0, std::min(scheme, text.size())));
    if (name.compare("http", Qt::CaseInsensitive) == 0 ||
        name.compare("https", Qt::CaseInsensitive) == 0) {
        text = withoutUserInfo(text);
        text = text.substr(0, text.find('?')); // a presigned URL's query is its credential
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
