#pragma once

// DICOM's RLE: each frame a fragment of segments, one for each byte of each channel's samples,
// most significant first, each a PackBits code.

#include <cstddef>
#include <string>

// Decodes one RLE frame (the fragment's bytes) into count pixels of channels samples of
// sampleBytes each, little-endian and interleaved, into out. Returns "" or the message (no path).
[[nodiscard]] std::string decodeRleFrame(const unsigned char* data, std::size_t size,
                                         std::size_t count, int channels, int sampleBytes,
                                         char* out);
