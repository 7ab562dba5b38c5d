#include "fits/fitslayout.h"

#include "checkedsize.h"
#include "text.h"

#include <cstdlib>
#include <cstring>
#include <map>

namespace {
// The most axes, and table fields, that the standard allows.
constexpr long long maxAxes = 999;

// A header's cards, by keyword: the first of each, as cfitsio reads a keyword.
struct Header {
    std::map<std::string, std::string> values; // the text after "= ", comment and all
    std::uint64_t end = 0;                     // where the block after the END card starts
};

// A card's keyword: up to the first blank or "=" of its first 8 columns, so that a card that
// cfitsio reads as a keyword leniently ("ZIMAGE =  T") is checked here too.
std::string keywordOf(const char* card) {
    std::size_t length = 0;
    while (length < 8 && card[length] != ' ' && card[length] != '=')
        ++length;
    return std::string(card, length);
}

// Where a card's value starts: after its "=" in columns 1 to 10, else npos (no value).
std::size_t valueStart(const char* card) {
    const void* equals = std::memchr(card, '=', 10);
    return equals ? std::size_t(static_cast<const char*>(equals) - card) + 1 : std::string::npos;
}

// Reads the header at offset, block by block, up to its END card, its first card the keyword
// first; "" or why it is not sound.
std::string readHeader(const FitsReadAt& read, std::uint64_t offset, std::uint64_t length,
                       const std::string& first, Header* header) {
    char block[fitsBlock];
    for (std::uint64_t at = offset;; at += fitsBlock) {
        if (at > length || length - at < fitsBlock || read(at, block, fitsBlock) != fitsBlock)
            return "the header has no END card before the file ends";
        for (std::size_t card = 0; card < fitsBlock; card += fitsCard) {
            const std::string key = keywordOf(block + card);
            if (at == offset && card == 0 && key != first)
                return "the first card is not " + first;
            if (key == "END") {
                header->end = at + fitsBlock;
                return std::string();
            }
            const std::size_t value = valueStart(block + card);
            if (value != std::string::npos && !header->values.count(key))
                header->values[key] = std::string(block + card + value, fitsCard - value);
        }
    }
}

// A value that must be an integer: digits with an optional sign, then blanks or a comment.
std::string integerValue(const Header& header, const std::string& key, long long low,
                         long long high, long long* value) {
    const auto found = header.values.find(key);
    if (found == header.values.end())
        return key + " is missing";
    const std::string& text = found->second;
    std::size_t at = text.find_first_not_of(' ');
    const std::size_t start = at;
    if (at != std::string::npos && (text[at] == '+' || text[at] == '-'))
        ++at;
    long long magnitude = 0;
    bool digits = false;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, digits = true) {
        const int digit = text[at] - '0';
        if (magnitude > (INT64_MAX - digit) / 10)
            return key + " is out of range";
        magnitude = magnitude * 10 + digit;
    }
    const std::size_t rest = at < text.size() ? text.find_first_not_of(' ', at) : at;
    if (!digits || (rest < text.size() && text[rest] != '/'))
        return key + " is not an integer";
    *value = text[start] == '-' ? -magnitude : magnitude;
    if (*value < low || *value > high)
        return formatString("%s = %lld is out of range", key.c_str(), *value);
    return std::string();
}

bool isSampleBits(long long bitpix) {
    return bitpix == 8 || bitpix == 16 || bitpix == 32 || bitpix == 64 || bitpix == -32 ||
           bitpix == -64;
}

bool isTrue(const Header& header, const std::string& key) {
    const auto found = header.values.find(key);
    if (found == header.values.end())
        return false;
    const std::size_t at = found->second.find_first_not_of(' ');
    return at != std::string::npos && found->second[at] == 'T';
}

// The data's size as the mandatory keywords give it: |BITPIX| / 8 * GCOUNT * (PCOUNT + the
// product of the axes), with no axis for no data.
std::string dataBytes(const Header& header, bool primary, std::uint64_t* bytes) {
    long long bitpix = 0, naxis = 0, pcount = 0, gcount = 1, fields = 0;
    std::string failure = integerValue(header, "BITPIX", -64, 64, &bitpix);
    if (failure.empty() && !isSampleBits(bitpix))
        failure = formatString("BITPIX = %lld is not a FITS sample size", bitpix);
    if (failure.empty())
        failure = integerValue(header, "NAXIS", 0, maxAxes, &naxis);
    // Random groups: a primary whose first axis is 0 holds GCOUNT groups of the other axes.
    const bool groups = primary && isTrue(header, "GROUPS");
    std::vector<std::int64_t> axes;
    for (long long k = 1; failure.empty() && k <= naxis; ++k) {
        long long axis = 0;
        failure = integerValue(header, "NAXIS" + std::to_string(k), 0, INT64_MAX, &axis);
        if (!(groups && k == 1))
            axes.push_back(axis);
    }
    if (failure.empty() && (!primary || groups))
        failure = integerValue(header, "PCOUNT", 0, INT64_MAX, &pcount);
    if (failure.empty() && (!primary || groups))
        failure = integerValue(header, "GCOUNT", 0, INT64_MAX, &gcount);
    const bool table = header.values.count("XTENSION") &&
                       header.values.at("XTENSION").find("TABLE") != std::string::npos;
    if (failure.empty() && table)
        failure = integerValue(header, "TFIELDS", 0, maxAxes, &fields);
    if (!failure.empty())
        return failure;
    std::uint64_t samples = 0, total = 0;
    if (axes.empty())
        axes = {0};
    if (!checkedProduct(axes, 1, maxCheckedSize, &samples) ||
        samples > maxCheckedSize - std::uint64_t(pcount) ||
        !checkedProduct({std::int64_t(samples + std::uint64_t(pcount)), gcount},
                        std::uint64_t(std::abs(bitpix) / 8), maxCheckedSize, &total))
        return "too large: its sizes pass what a file can hold";
    *bytes = total;
    return std::string();
}

// A string value's text, without its quotes and trailing blanks; "" where there is none.
std::string stringValue(const Header& header, const std::string& key) {
    const auto found = header.values.find(key);
    if (found == header.values.end())
        return std::string();
    const std::string& text = found->second;
    const std::size_t open = text.find('\''), close = text.find('\'', open + 1);
    if (open == std::string::npos || close == std::string::npos)
        return std::string();
    std::string value = text.substr(open + 1, close - open - 1);
    value.erase(value.find_last_not_of(' ') + 1);
    return value;
}

// The compression's parameters, named by ZNAMEi and valued by ZVALi: the ones cfitsio sizes
// blocks and divides by must be sound.
std::string checkCompressionParameters(const Header& header) {
    for (long long i = 1; i <= maxAxes; ++i) {
        const std::string index = std::to_string(i);
        if (!header.values.count("ZNAME" + index))
            return std::string();
        const std::string name = stringValue(header, "ZNAME" + index);
        long long value = 0;
        if (name == "BLOCKSIZE" || name == "BYTEPIX")
            if (const std::string failure = integerValue(header, "ZVAL" + index, 1,
                                                         name == "BYTEPIX" ? 8 : 1 << 20, &value);
                !failure.empty())
                return name + ": " + failure;
    }
    return std::string();
}

// A tile-compressed image's own keywords, which cfitsio divides by: the image's sample size and
// axes, and tiles of at least one sample along each axis given.
std::string checkCompressedImage(const Header& header) {
    if (!isTrue(header, "ZIMAGE"))
        return std::string();
    long long bitpix = 0, naxis = 0;
    std::string failure = integerValue(header, "ZBITPIX", -64, 64, &bitpix);
    if (failure.empty() && !isSampleBits(bitpix))
        failure = formatString("ZBITPIX = %lld is not a FITS sample size", bitpix);
    if (failure.empty())
        failure = integerValue(header, "ZNAXIS", 1, maxAxes, &naxis);
    for (long long k = 1; failure.empty() && k <= naxis; ++k) {
        long long value = 0;
        const std::string axis = std::to_string(k);
        failure = integerValue(header, "ZNAXIS" + axis, 1, INT64_MAX, &value);
        if (failure.empty() && header.values.count("ZTILE" + axis))
            failure = integerValue(header, "ZTILE" + axis, 1, INT64_MAX, &value);
    }
    return failure.empty() ? checkCompressionParameters(header) : failure;
}

// The HDU at offset: its layout, or why its header is not sound.
std::string scanHdu(const FitsReadAt& read, std::uint64_t offset, std::uint64_t length,
                    bool primary, FitsHduLayout* hdu) {
    Header header;
    std::string failure =
        readHeader(read, offset, length, primary ? "SIMPLE" : "XTENSION", &header);
    if (failure.empty())
        failure = dataBytes(header, primary, &hdu->dataBytes);
    if (failure.empty() && !primary)
        failure = checkCompressedImage(header);
    hdu->header = offset;
    hdu->data = header.end;
    return failure;
}
// Whether the bytes at offset are blanks or zeros, as some writers leave after the last HDU.
bool padding(const FitsReadAt& read, std::uint64_t offset) {
    char card[fitsCard];
    const std::size_t count = read(offset, card, fitsCard);
    for (std::size_t i = 0; i < count; ++i)
        if (card[i] != ' ' && card[i] != 0)
            return false;
    return true;
}
} // namespace

std::vector<FitsHduLayout> scanFitsLayout(const FitsReadAt& read, std::uint64_t length,
                                          std::string* damage) {
    std::vector<FitsHduLayout> hdus;
    damage->clear();
    for (std::uint64_t offset = 0; offset < length && !(hdus.size() && padding(read, offset));) {
        FitsHduLayout hdu;
        const std::string failure = scanHdu(read, offset, length, hdus.empty(), &hdu);
        if (!failure.empty()) {
            *damage = formatString("HDU %zu: ", hdus.size()) + failure;
            break;
        }
        hdus.push_back(hdu);
        const std::uint64_t blocks = hdu.dataBytes / fitsBlock + (hdu.dataBytes % fitsBlock != 0);
        if (blocks > (maxCheckedSize - hdu.data) / fitsBlock)
            break;
        offset = hdu.data + blocks * fitsBlock;
    }
    return hdus;
}
