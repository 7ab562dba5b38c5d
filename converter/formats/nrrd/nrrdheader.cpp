#include "nrrd/nrrdheader.h"

#include "text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdint>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {
// Headers are a few hundred bytes; one this long is no header.
const std::size_t maxHeaderBytes = 1 << 20;

// The header's lines, without their ends, up to the blank line that ends it (or the file's
// end). Returns "" or the message.
std::string readHeaderLines(std::FILE* file, std::vector<std::string>* lines) {
    std::string text(maxHeaderBytes + 1, '\0');
    text.resize(std::fread(&text[0], 1, text.size(), file));
    // teem reads other formats too (PNM, VTK, plain text) when the magic is not NRRD's; a
    // .nrrd or .nhdr input is only ever NRRD.
    const std::string magic = text.substr(0, text.find('\n'));
    if (!(magic.size() == 8 || (magic.size() == 9 && magic[8] == '\r')) ||
        magic.compare(0, 7, "NRRD000") != 0 || magic[7] < '1' || magic[7] > '5')
        return "not a NRRD file";
    const std::size_t end = text.find("\n\n");
    const bool tooLong = end == std::string::npos && text.size() > maxHeaderBytes;
    text.resize(std::min(end, text.size()));
    std::size_t start = 0;
    int keyValues = 0;
    while (start < text.size()) {
        if (int(lines->size()) >= maxNrrdHeaderLines)
            return formatString("bad NRRD: more than %d header lines", maxNrrdHeaderLines);
        std::size_t stop = text.find('\n', start);
        stop = stop == std::string::npos ? text.size() : stop;
        std::string line = text.substr(start, stop - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find(":=") != std::string::npos && line[0] != '#' &&
            ++keyValues > maxNrrdKeyValues)
            return formatString("bad NRRD: more than %d key/value lines", maxNrrdKeyValues);
        lines->push_back(std::move(line));
        start = stop + 1;
    }
    return tooLong ? "bad NRRD: header longer than 1 MiB" : std::string();
}

// A data file's canonical path, if it is a regular file inside the header's folder.
std::string checkDataFile(const QString& header, const std::string& name, std::string* path) {
    const QDir folder = QFileInfo(header).absoluteDir();
    const QFileInfo data(folder.filePath(QFile::decodeName(name.c_str())));
    const QString inside = QFileInfo(folder.absolutePath()).canonicalFilePath() + "/";
    if (!data.exists())
        return "can't open the data file " + name;
    if (!data.canonicalFilePath().startsWith(inside))
        return "the data file " + name + " is outside the header's folder";
    if (!data.isFile())
        return "the data file " + name + " is not a regular file";
    *path = QFile::encodeName(data.canonicalFilePath()).toStdString();
    return std::string();
}

std::vector<std::string> splitWords(const std::string& text) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while ((at = text.find_first_not_of(" \t", at)) != std::string::npos) {
        const std::size_t end = std::min(text.find_first_of(" \t", at), text.size());
        words.push_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

bool parseInt(const std::string& text, long long* value) {
    char* end = nullptr;
    errno = 0;
    *value = std::strtoll(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && errno == 0 && *value >= INT32_MIN &&
           *value <= INT32_MAX;
}

// A pattern of one number: the text before and after it, and how it is written ("%d", "%03d").
struct NumberPattern {
    std::string before, after;
    bool zeros = false;
    int width = 0;
};

bool parsePattern(const std::string& text, NumberPattern* pattern) {
    const std::size_t percent = text.find('%');
    if (percent == std::string::npos || text.find('%', percent + 1) != std::string::npos)
        return false;
    std::size_t at = percent + 1;
    pattern->zeros = at < text.size() && text[at] == '0';
    at += pattern->zeros;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && pattern->width < 100)
        pattern->width = pattern->width * 10 + (text[at++] - '0');
    if (at >= text.size() || (text[at] != 'd' && text[at] != 'i' && text[at] != 'u') ||
        pattern->width >= 100)
        return false;
    pattern->before = text.substr(0, percent);
    pattern->after = text.substr(at + 1);
    return true;
}

std::string patternNames(const std::vector<std::string>& words, std::vector<std::string>* names) {
    NumberPattern pattern;
    long long first = 0, last = 0, step = 0;
    if ((words.size() != 4 && words.size() != 5) || !parsePattern(words[0], &pattern) ||
        !parseInt(words[1], &first) || !parseInt(words[2], &last) || !parseInt(words[3], &step))
        return "bad NRRD: a data file pattern needs one %d and its first, last and step numbers";
    if (step == 0 || (last - first) * step < 0)
        return "bad NRRD: the data file pattern's step does not go from its first number to its "
               "last";
    if ((last - first) / step >= maxNrrdDataFiles)
        return formatString("unsupported NRRD: more than %d data files", maxNrrdDataFiles);
    for (long long i = first; step > 0 ? i <= last : i >= last; i += step)
        names->push_back(pattern.before +
                         formatString(pattern.zeros ? "%0*lld" : "%*lld", pattern.width, i) +
                         pattern.after);
    return std::string();
}
} // namespace

std::string nrrdDataFileNames(const std::string& value, const std::vector<std::string>& following,
                              std::vector<std::string>* names) {
    const std::vector<std::string> words = splitWords(value);
    if (!words.empty() && words[0] == "LIST") {
        if (following.empty())
            return "bad NRRD: a LIST of data files with no names after it";
        if (int(following.size()) > maxNrrdDataFiles)
            return formatString("unsupported NRRD: more than %d data files", maxNrrdDataFiles);
        *names = following;
        return std::string();
    }
    if (value.find('%') != std::string::npos)
        return patternNames(words, names);
    names->push_back(value);
    return std::string();
}

std::string checkNrrdHeader(const QString& path, std::FILE* file,
                            std::vector<std::string>* dataFiles) {
    std::vector<std::string> lines;
    const std::string failure = readHeaderLines(file, &lines);
    if (!failure.empty())
        return failure;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        std::string value;
        for (const char* field : {"data file: ", "datafile: "})
            if (line.rfind(field, 0) == 0)
                value = line.substr(std::strlen(field));
        if (value.empty())
            continue;
        std::vector<std::string> names;
        std::string failure = nrrdDataFileNames(
            value, std::vector<std::string>(lines.begin() + i + 1, lines.end()), &names);
        for (std::size_t k = 0; failure.empty() && k < names.size(); ++k) {
            dataFiles->emplace_back();
            failure = checkDataFile(path, names[k], &dataFiles->back());
        }
        // After a LIST every line names a data file.
        if (!failure.empty() || value.rfind("LIST", 0) == 0)
            return failure;
    }
    return std::string();
}
