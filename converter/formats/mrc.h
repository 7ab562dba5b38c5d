#pragma once

// MRC and CCP4 maps (.mrc, .map, .rec, .st, .ali, .mrcs): a 1024-byte header, an extended
// header of nsymbt bytes that is passed over, then the sections, x fastest. The header is read
// here field by field in the byte order its machine stamp gives, and nothing of it is trusted
// before it is checked. Read as mrcfile reads them: mode 0 as int8, 1 int16, 2 float32, 6 uint16,
// 12 float16 (widened to float32), and 101 (4-bit, two a byte, low half first, each row starting
// on a byte) as uint8 from 0 to 15. The cell over the sampling gives the spacing, in ångströms.
// A space group of 401 to 630 makes the sections a stack of volumes of mz sections each, of which
// --volume picks one; space group 0 with several sections is a stack of images, placed nowhere
// along z. Complex modes and maps whose columns, rows and sections are not x, y and z are refused.

#include "inputformat.h"
#include "typedsource.h"

#include <QString>

#include <cstdint>
#include <string>

// Whether the first bytes of a file carry MRC's "MAP" at byte 208.
bool hasMrcMark(const std::string& start);

// Opens an MRC file as a typed source; volume picks one of a volume stack (-1: the only one).
// Returns "" or the bare reason, as do its reads.
[[nodiscard]] std::string openMrcSource(const QString& path, int volume, TypedSource* source);

// The volumes of a volume stack whose header reads: 1 for any other file that reads, 0 when
// the header does not.
std::int64_t mrcVolumeCount(const QString& path);

// Its entry in the table of formats.
InputFormat mrcInputFormat();
