#pragma once

// Typed samples to the viewer's 8-bit RGB. Unsigned bytes are copied exactly; any other type
// goes through one linear window over all channels (so colours keep their balance):
// v8 = round(255 * (v - lo) / (hi - lo)), clamped to 0..255, NaN becoming 0. When hi == lo the
// window is a step: samples up to lo become 0, samples above it 255 (a constant volume is
// black). The channels reach R, G and B through a channel map.

#include "typedsource.h"
#include "slicestream.h"

#include <QString>

#include <functional>
#include <string>
#include <vector>

// Which source channel feeds R, G and B; -1 leaves that colour black.
struct ChannelMap {
    int source[3] = {0, 0, 0};
};

// The window samples are mapped through; copy maps unsigned bytes unchanged.
struct SampleWindow {
    bool copy = false;
    double lo = 0, hi = 255;
};

// The map a volume's channels get unless the user picks one: one channel is grey, two fill R
// and G, three fill R, G and B; the alpha channel is left out. More than three channels (alpha
// aside) give a message that says how many and names --channels.
[[nodiscard]] std::string defaultChannelMap(const VolumeInfo& info, ChannelMap* map);

// The map the file's own channel colours make (VolumeInfo::channelDisplay): red, green and blue
// each from the first channel the file shows in that colour, black where none is. False when the
// file gives no pure colour.
bool fileChannelMap(const VolumeInfo& info, ChannelMap* map);

// Parses --channels' value "A,B,C" (source channels counting from 0, "-" for black) against a
// volume of the given channel count. Returns "" or the message.
[[nodiscard]] std::string parseChannelMap(const QString& text, int channels, ChannelMap* map);

// The channels the map reads, each once, in the order of red, green and blue.
std::vector<int> usedChannels(const ChannelMap& map);

// The map as users read it: "R=0 G=1 B=-", "-" for black; "grey from channel 0" where every
// colour comes from one channel.
[[nodiscard]] std::string describeChannelMap(const ChannelMap& map);

// One pass over the samples: the smallest and largest value of the channels the map uses, NaN
// left out (0 and 0 when there is no other value). When replay is given, it becomes a source of
// the same samples: for a source of costly reads, one that reads them back from an unlinked
// temporary file the pass wrote them to, so that a second pass reads no input again (the source
// itself where they would take more than half the free space there). Returns "" or the reader's
// message.
[[nodiscard]] std::string sampleRange(const TypedSource& source, const ChannelMap& map, double* lo,
                                      double* hi, TypedSource* replay = nullptr);

// Maps n samples of channel `channel` of `channels` interleaved ones through a window into every
// third byte of out (out[0], out[3], ...), or with grey into all three bytes of each pixel.
using SampleMapper = std::function<void(const void* samples, int channels, int channel,
                                        std::size_t n, bool grey, unsigned char* out)>;

// The mapper of samples of the given type through the window; it holds a table for 8- and
// 16-bit types, so it is made once a volume.
SampleMapper makeSampleMapper(SampleType type, const SampleWindow& window);

// The same for samples of 8 or 16 bits as stored (any byte order, rescaled): the conversion into
// values of type `to` is folded into the table, so the samples map as their converted values do.
SampleMapper makeStoredMapper(const StoredSamples& stored, SampleType to,
                              const SampleWindow& window);

// Whether the source's samples are best mapped as stored: 8- or 16-bit integers that it swaps or
// rescales.
bool mapsStored(const TypedSource& source);

// The typed source as RGB slices through the window and the channel map. The source is read
// one slice at a time, as the RGB slices are asked for.
SliceSource mapToRgb(const TypedSource& source, const ChannelMap& map, const SampleWindow& window);

// As mapToRgb, with a window for each of red, green and blue: the display window the file gives
// the channel that feeds the colour.
SliceSource mapToRgbPerColour(const TypedSource& source, const ChannelMap& map,
                              const SampleWindow windows[3]);

// Today's readers of 8-bit RGB slices as a typed source: unsigned bytes, three channels.
TypedSource typedFromRgb(const SliceSource& rgb, const std::string& format);
