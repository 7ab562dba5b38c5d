#pragma once

#include "image.h"

#include <cstdint>
#include <memory>
#include <string>

// The one loaded volume. Replaced by every load; there is no unloading.
extern std::int32_t volumeSize;                       // N of the loaded volume; 0
extern std::unique_ptr<unsigned char[]> volumeTexels; // 3 * N^3 samples as stored; empty
extern unsigned int volumeTexture; // the 3D texture, reused by every load; 0 until the first
extern Image referenceImage;       // the picture the volume names; empty when it has none

// Loads input/NAME.vol into the 3D texture and loads its reference image. Needs the panel's
// GL context current. Every failure is fatal.
void loadVolumeNamed(const std::string& name);

// Why the current GL cannot hold an N^3 RGB texture (above its 3D texture limit, or refused
// by a proxy query of the real upload); "" when it can.
std::string glVolumeRefusal(std::int32_t n);
