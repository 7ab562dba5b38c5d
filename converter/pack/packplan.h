#pragma once

// What pack does with a typed input, decided before any output is written: the channel map,
// the window (the samples' range unless the user gives one), the resampling to equal spacing,
// the cube's crop or pad, and the resampling to the size asked for. The plan is both what
// pack runs and what info prints.

#include "samplemap.h"
#include "typedsource.h"
#include "slicestream.h"
#include "orientation.h"

#include <QString>

#include <cstdint>
#include <string>

// The user's choices for pack (and info's account of what pack would do).
struct PackSettings {
    bool windowGiven = false;
    double windowLo = 0, windowHi = 0;
    QString channels; // --channels A,B,C, or empty for the map by channel count
    bool spacingGiven = false;
    double spacing[3] = {1, 1, 1};
    CubeFit fit = CubeFit::Refuse;
    int size = 0;              // the output's N, or 0 to keep the cube's
    int maxSize = 0;           // the largest N a larger cube is brought down to, or 0
    bool measureRange = false; // measure the samples' range even when the window needs none
    bool flip[3] = {false, false, false}; // mirror the oriented volume along x, y, z
    InputSelection pick; // --series K, --volume T, --dataset PATH, --size N, --raw, --offset
};

struct PackPlan {
    ChannelMap map;
    SampleWindow window;
    bool fileColours = false; // the map comes from the file's channel colours
    // The file's display windows, one for each of red, green and blue, where the file gives
    // them and no --window does; a colour whose channel has none gets the samples' range.
    bool fileWindows = false;
    SampleWindow colourWindows[3];
    bool rangeMeasured = false;
    double rangeLo = 0, rangeHi = 0; // the samples' range, when measured
    double spacing[3] = {1, 1, 1};   // the spacing used
    std::string spacingMissing;      // axes of several samples the file gives no spacing for
    int resampled[3] = {0, 0, 0};    // the sizes after the step to equal spacing
    int cube = 0;                    // the cube's N after crop or pad
    int n = 0;                       // the output's N
    bool flipped[3] = {false, false, false}; // mirrored along x, y, z after the orientation
    std::uint64_t outputBytes = 0;           // the .vol file's, header and samples
    std::uint64_t memory = 0;                // what the steps hold at once while packing
    SliceSource rgb;                         // the output's slices, read lazily
};

// The first half of planning the conversion of source (named name in messages), which reads no
// sample and makes no buffer of the volume's size: the channel map, the spacing, the sizes after
// each step, N, the output's bytes and the memory the steps will hold at once, refused when the
// memory available is short. Returns "" or the message.
[[nodiscard]] std::string planSizes(const TypedSource& source, const PackSettings& settings,
                                    const QString& name, PackPlan* plan);

// The second half: reads the samples once for their range when the window needs it or settings
// ask, then chains the steps into plan->rgb. Returns "" or the message.
[[nodiscard]] std::string planSamples(const TypedSource& source, const PackSettings& settings,
                                      const QString& name, PackPlan* plan);

// Whether the second half reads the samples once for their range before the output's pass.
bool needsRangePass(const PackSettings& settings, const PackPlan& plan);

// Both halves.
[[nodiscard]] std::string planPack(const TypedSource& source, const PackSettings& settings,
                                   const QString& name, PackPlan* plan);

// "NAME: out of memory: packing needs X at once, Y available" when needs passes available
// (negative when unknown), else "".
[[nodiscard]] std::string checkPackMemory(const QString& name, std::uint64_t needs,
                                          std::int64_t available);

// The input's sample type as pack and info name it: "int16", "bool (read as 0 and 255)".
[[nodiscard]] std::string describeSampleType(const VolumeInfo& info);

// The input in a few words: "512 x 400 x 300 int16".
[[nodiscard]] std::string describeInput(const VolumeInfo& info);

// What the plan does, as pack's closing line says it: the window or "copied", the channel map,
// any resampling, then N.
[[nodiscard]] std::string describePlan(const VolumeInfo& info, const PackPlan& plan);

// The side of the largest 3D texture most GL drivers hold; larger volumes load only on some.
constexpr int commonTextureSide = 512;

// For a volume of n^3 samples past commonTextureSide, the note that says so with the memory
// its texture takes ("N = 600 is above the 512 ..."); "" otherwise.
[[nodiscard]] std::string textureSizeNote(int n);
