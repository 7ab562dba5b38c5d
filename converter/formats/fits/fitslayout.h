#pragma once

// The HDUs of a FITS file as their headers lay them out, read by our own strict rules before
// cfitsio moves through them: cfitsio sizes some allocations from a header's values without
// checking them (a table header whose NAXIS2 holds no number sends it allocating from memory
// it never set), so it only ever moves to an HDU whose header has passed here.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

constexpr std::size_t fitsBlock = 2880;
constexpr std::size_t fitsCard = 80;

// Reads up to bytes bytes at offset into to; the count read.
using FitsReadAt = std::function<std::size_t(std::uint64_t offset, char* to, std::size_t bytes)>;

struct FitsHduLayout {
    std::uint64_t header = 0;    // where the header starts
    std::uint64_t data = 0;      // where the data starts, after the header's last block
    std::uint64_t dataBytes = 0; // the data's size, before padding to a whole block
};

// The HDUs, from the primary, of a file of length bytes, up to the first whose header is not
// sound. *damage is "" when the list ends at the file's end, else why it ended early, naming
// the HDU ("HDU 2: NAXIS2 is not an integer"). An empty list means the primary is not sound.
std::vector<FitsHduLayout> scanFitsLayout(const FitsReadAt& read, std::uint64_t length,
                                          std::string* damage);
