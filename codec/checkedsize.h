#pragma once

// Sizes that a file claims, multiplied without wrapping. Every count of samples or bytes that a
// reader computes from a header goes through here before anything is allocated or indexed: a
// product that wraps past 2^64 reads as a small size and passes every later check.

#include <cstdint>
#include <vector>

// The most any product here may reach: what a signed 64-bit offset holds.
constexpr std::uint64_t maxCheckedSize = std::uint64_t(INT64_MAX);

// a * b into *product. False, with *product untouched, when the exact product passes
// maxCheckedSize.
[[nodiscard]] bool checkedMultiply(std::uint64_t a, std::uint64_t b, std::uint64_t* product);

// factor times every extent into *product. False, with *product untouched, when an extent is
// negative or the product passes limit (itself at most maxCheckedSize) at any step.
[[nodiscard]] bool checkedProduct(const std::vector<std::int64_t>& extents, std::uint64_t factor,
                                  std::uint64_t limit, std::uint64_t* product);
