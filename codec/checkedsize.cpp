#include "checkedsize.h"

#include <algorithm>

bool checkedMultiply(std::uint64_t a, std::uint64_t b, std::uint64_t* product) {
    std::uint64_t exact = 0;
    if (__builtin_mul_overflow(a, b, &exact) || exact > maxCheckedSize)
        return false;
    *product = exact;
    return true;
}

bool checkedProduct(const std::vector<std::int64_t>& extents, std::uint64_t factor,
                    std::uint64_t limit, std::uint64_t* product) {
    limit = std::min(limit, maxCheckedSize);
    std::uint64_t bytes = factor;
    if (bytes > limit)
        return false;
    for (std::int64_t extent : extents)
        if (extent < 0 || !checkedMultiply(bytes, std::uint64_t(extent), &bytes) || bytes > limit)
            return false;
    *product = bytes;
    return true;
}
