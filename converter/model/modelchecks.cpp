#include "modelchecks.h"

#include "files.h"

#include <sstream>
#include <utility>
#include <vector>

namespace {
// The bytes a binary body holds for the property the rest of a "property" line declares (for a
// list, its count), or 0 when a type is unknown.
int plyPropertyBytes(std::istringstream& words) {
    std::string type;
    words >> type;
    std::string itemType = type;
    if (type == "list")
        words >> type >> itemType; // the list may be empty: only its count counts
    static const std::pair<const char*, int> sizes[] = {
        {"char", 1},  {"uchar", 1},   {"int8", 1},   {"uint8", 1},  {"short", 2}, {"ushort", 2},
        {"int16", 2}, {"uint16", 2},  {"int", 4},    {"uint", 4},   {"int32", 4}, {"uint32", 4},
        {"float", 4}, {"float32", 4}, {"double", 8}, {"float64", 8}};
    int size = 0, itemSize = 0;
    for (const auto& [name, bytes] : sizes) {
        size = type == name ? bytes : size;
        itemSize = itemType == name ? bytes : itemSize;
    }
    return itemSize == 0 ? 0 : size;
}
} // namespace

std::string checkPlyHeader(std::FILE* file, bool plyName) {
    std::string header(65536, '\0');
    header.resize(std::fread(&header[0], 1, header.size(), file));
    const bool magic = header.compare(0, 4, "ply\n") == 0 || header.compare(0, 5, "ply\r\n") == 0;
    // Assimp's reader crashes on some bodies after a line that is no magic.
    if (plyName && !magic)
        return "bad PLY header: the first line is not 'ply'";
    if (!magic)
        return ""; // not PLY: Assimp tells the format by the extension or this magic
    std::string::size_type end = header.find("\nend_header\n");
    if (end == std::string::npos)
        end = header.find("\nend_header\r\n");
    if (end == std::string::npos)
        return "bad PLY header: no end_header line";
    const std::string::size_type body = header.find('\n', end + 1);
    const long available = remainingBytes(file) + long(header.size() - body - 1);
    std::istringstream lines(header.substr(0, end));
    std::string line;
    bool ascii = false;
    double needed = 0, count = 0, elementSize = 0; // doubles: counts up to 2^64 add safely
    const auto closeElement = [&] { needed += count * elementSize; };
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string keyword, type;
        words >> keyword;
        if (keyword == "format") {
            words >> type;
            ascii = type == "ascii";
        } else if (keyword == "element") {
            closeElement();
            words >> type >> count;
            elementSize = 0;
            if (!words || count < 0)
                return "bad PLY header: element count";
        } else if (keyword == "property") {
            const int size = plyPropertyBytes(words);
            if (size == 0) // Assimp's reader loops on some unknown types
                return "bad PLY header: unknown property type";
            elementSize += ascii ? 2 : size;
        }
    }
    closeElement();
    // An ASCII body's last value needs no separator.
    if (needed - (ascii && needed > 0 ? 1 : 0) > double(available))
        return "file too short for its PLY header";
    return "";
}

namespace {
// The file's lines that hold something besides a comment, comments cut off; none when the
// first such line does not start with an OFF keyword.
std::vector<std::string> offLines(std::FILE* file) {
    std::vector<std::string> lines;
    char buffer[4096];
    std::string line;
    while (std::fgets(buffer, sizeof buffer, file)) {
        line += buffer;
        if ((line.empty() || line.back() != '\n') && !std::feof(file))
            continue;
        line = line.substr(0, line.find('#'));
        if (line.find_first_not_of(" \t\r\n") != std::string::npos)
            lines.push_back(line);
        line.clear();
        if (lines.size() == 1) {
            std::istringstream first(lines[0]);
            std::string keyword;
            first >> keyword;
            if (keyword.size() < 3 || keyword.compare(keyword.size() - 3, 3, "OFF") != 0)
                return {};
        }
    }
    return lines;
}

// The faces from line first on: each a corner count of at least 1, then as many indices of
// the vertices.
std::string checkOffFaces(const std::vector<std::string>& lines, std::size_t first,
                          std::size_t faces, long long vertices) {
    for (std::size_t f = first; f < first + faces; ++f) {
        std::istringstream face(lines[f]);
        long long corners = -1, index = 0;
        face >> corners;
        if (!face || corners < 1)
            return "bad OFF face: corner count";
        for (long long k = 0; k < corners; ++k)
            if (!(face >> index) || index < 0 || index >= vertices)
                return "bad OFF face: vertex index out of range";
    }
    return "";
}
} // namespace

std::string checkOffFile(std::FILE* file) {
    const std::vector<std::string> lines = offLines(file);
    if (lines.empty())
        return "";
    // The keyword's prefix: ST (texture coordinates), C (colours), N (normals), 4 (a
    // homogeneous w after the coordinates), n (the number of coordinates comes first).
    const std::string::size_type keywordAt = lines[0].find("OFF");
    const std::string prefix = lines[0].substr(0, keywordAt);
    const bool homogeneous = prefix.find('4') != std::string::npos;
    const bool dimensioned = !prefix.empty() && prefix.back() == 'n';
    // The header's numbers, over as many lines as they take: [dimension,] vertices, faces.
    std::vector<long long> numbers;
    const std::size_t wanted = dimensioned ? 3 : 2;
    std::size_t next = 0;
    for (std::string rest = lines[0].substr(keywordAt + 3); next < lines.size();) {
        std::istringstream words(rest);
        for (long long number = 0; numbers.size() < wanted && words >> number;)
            numbers.push_back(number);
        if (++next < lines.size() && numbers.size() < wanted)
            rest = lines[next];
        else
            break;
    }
    if (numbers.size() < wanted || numbers[wanted - 2] < 0 || numbers[wanted - 1] < 0)
        return "bad OFF header: counts";
    // Assimp refuses more than three coordinates itself.
    const long long dimension = dimensioned ? numbers[0] : 3;
    const long long vertices = numbers[wanted - 2], faces = numbers[wanted - 1];
    if (double(vertices) + double(faces) > double(lines.size() - next))
        return "file too short for its OFF counts";
    for (long long v = 0; homogeneous && dimension <= 3 && v < vertices; ++v) {
        std::istringstream coordinates(lines[next + std::size_t(v)]);
        double value = 0, w = 1;
        for (long long k = 0; k < dimension; ++k)
            coordinates >> value;
        if (!(coordinates >> w))
            return "OFF vertex " + std::to_string(v) + " has no homogeneous w";
        if (w == 0)
            return "OFF vertex " + std::to_string(v) + " lies at infinity (homogeneous w = 0)";
    }
    return checkOffFaces(lines, next + std::size_t(vertices), std::size_t(faces), vertices);
}
