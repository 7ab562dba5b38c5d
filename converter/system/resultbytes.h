#pragma once

// The bytes contained work hands back to the converter (ContainedResult::bytes): numbers as
// 64-bit little-endian, reals by their bits, texts and lists after their length. The reader
// checks every length against the bytes left, so that nothing the child sends is trusted.
//
// A structure that travels is declared once, by a function found by argument-dependent lookup:
//     template <typename Io> bool fieldsOf(Io& io, Thing& thing) {
//         return io.field(thing.name) && io.field(thing.sizes) && io.field(thing.parts);
//     }
// which writes it (ResultWriter::field), reads it back (ResultReader::field) and counts the
// least bytes it takes (leastBytes), for the reader's checks of counts. Fields are strings,
// bools, ints, 64-bit numbers, doubles, byte blobs (std::vector<char>), lists of doubles or
// numbers, and lists of such structures.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// The least bytes a T takes: 8 a field (a number, or a length before what follows).
struct FieldCounter {
    std::uint64_t bytes = 0;
    template <typename V> bool field(V&) {
        bytes += 8;
        return true;
    }
};
template <typename T> std::uint64_t leastBytes() {
    T sample{};
    FieldCounter counter;
    fieldsOf(counter, sample);
    return counter.bytes;
}

struct ResultWriter {
    std::vector<unsigned char>* out;
    // The declared fields' writer; it changes nothing it is given.
    bool field(const std::string& value) { return text(value), true; }
    bool field(bool value) { return number(value), true; }
    bool field(int value) { return integer(value), true; }
    bool field(std::uint64_t value) { return number(value), true; }
    bool field(double value) { return real(value), true; }
    bool field(const std::vector<double>& values) { return list(values), true; }
    bool field(const std::vector<std::uint64_t>& values) { return list(values), true; }
    bool field(const std::vector<char>& bytes) {
        number(bytes.size());
        out->insert(out->end(), bytes.begin(), bytes.end());
        return true;
    }
    template <typename T> bool field(const std::vector<T>& items) {
        number(items.size());
        for (const T& item : items)
            fieldsOf(*this, const_cast<T&>(item)); // one declaration reads and writes
        return true;
    }
    void number(std::uint64_t value) {
        for (int k = 0; k < 8; ++k)
            out->push_back((unsigned char)(value >> (8 * k)));
    }
    // A signed int, as ResultReader::integer reads it back.
    void integer(int value) { number(std::uint64_t(std::int64_t(value))); }
    void real(double value) {
        std::uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        number(bits);
    }
    void text(const std::string& value) {
        number(value.size());
        out->insert(out->end(), value.begin(), value.end());
    }
    template <typename T> void list(const std::vector<T>& values) {
        number(values.size());
        for (const T& value : values)
            write(value);
    }

private:
    void write(double value) { real(value); }
    void write(std::uint64_t value) { number(value); }
};

struct ResultReader {
    const std::vector<unsigned char>& in;
    std::size_t pos = 0;
    // The declared fields' reader: false when the bytes do not hold them.
    bool field(std::string& value) { return text(&value); }
    bool field(bool& value) {
        std::uint64_t bits = 0;
        if (!number(&bits) || bits > 1)
            return false;
        value = bits != 0;
        return true;
    }
    bool field(int& value) { return integer(&value); }
    bool field(std::uint64_t& value) { return number(&value); }
    bool field(double& value) { return real(&value); }
    bool field(std::vector<double>& values) { return reals(&values); }
    bool field(std::vector<std::uint64_t>& values) { return numbers(&values); }
    bool field(std::vector<char>& bytes) {
        std::uint64_t size;
        if (!count(1, &size))
            return false;
        const auto start = in.begin() + std::ptrdiff_t(pos);
        bytes.assign(start, start + std::ptrdiff_t(size));
        pos += size;
        return true;
    }
    template <typename T> bool field(std::vector<T>& items) {
        std::uint64_t size;
        if (!count(leastBytes<T>(), &size))
            return false;
        items.resize(size);
        for (T& item : items)
            if (!fieldsOf(*this, item))
                return false;
        return true;
    }
    bool number(std::uint64_t* value) {
        if (in.size() - pos < 8)
            return false;
        *value = 0;
        for (int k = 0; k < 8; ++k)
            *value |= std::uint64_t(in[pos + k]) << (8 * k);
        pos += 8;
        return true;
    }
    // A number that must fit an int.
    bool integer(int* value) {
        std::uint64_t bits;
        if (!number(&bits))
            return false;
        const auto signedValue = std::int64_t(bits);
        *value = int(signedValue);
        return signedValue >= INT32_MIN && signedValue <= INT32_MAX;
    }
    // A count of things each at least `each` bytes long: no more than the bytes left allow.
    bool count(std::uint64_t each, std::uint64_t* value) {
        return number(value) && *value <= (in.size() - pos) / each;
    }
    bool real(double* value) {
        std::uint64_t bits;
        if (!number(&bits))
            return false;
        std::memcpy(value, &bits, sizeof bits);
        return true;
    }
    bool text(std::string* value) {
        std::uint64_t size;
        if (!count(1, &size))
            return false;
        value->assign(in.begin() + std::ptrdiff_t(pos), in.begin() + std::ptrdiff_t(pos + size));
        pos += size;
        return true;
    }
    bool reals(std::vector<double>* values) {
        std::uint64_t size;
        if (!count(8, &size))
            return false;
        values->resize(size);
        for (double& value : *values)
            real(&value);
        return true;
    }
    bool numbers(std::vector<std::uint64_t>* values) {
        std::uint64_t size;
        if (!count(8, &size))
            return false;
        values->resize(size);
        for (std::uint64_t& value : *values)
            number(&value);
        return true;
    }
    bool atEnd() const { return pos == in.size(); }
};
