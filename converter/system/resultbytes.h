#pragma once

// The bytes contained work hands back to the converter (ContainedResult::bytes): numbers as
// 64-bit little-endian, reals by their bits, texts and lists after their length. The reader
// checks every length against the bytes left, so that nothing the child sends is trusted.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

struct ResultWriter {
    std::vector<unsigned char>* out;
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
