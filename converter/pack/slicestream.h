#pragma once

// Volumes moved slice by slice, so that converting one never holds more than a few slices:
// a source yields the slices of some input, a sink takes those of a cube, and streamSlices
// joins them; openFileSink writes a sink's slices into a file.

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// No GL takes a 3D texture with a side beyond this (GL_MAX_3D_TEXTURE_SIZE is at most 16384 on
// today's drivers), so a longer side could never be viewed; refusing it also bounds the memory
// of one slice. The longest side pack takes, before and after resampling.
constexpr int maxSide = 16384;

struct Padding;

// A volume of width x height x depth RGB samples, read one slice at a time.
struct SliceSource {
    int width = 0;
    int height = 0;
    int depth = 0;
    // Fills rgb (3 * width * height bytes, x fastest, then y, as the .vol stores a slice) with
    // slice z. Calls come with growing z, some slices possibly skipped. Returns "" or the
    // message, which names the file.
    std::function<std::string(int z, unsigned char* rgb)> read;
    // Whether read may run for two slices at once (each slice a file of its own, say).
    bool concurrent = false;
    // Whether every sample has red = green = blue (one channel shown as grey), so that a stage
    // may work on one colour and copy it to the others.
    bool grey = false;
    // The bytes read holds while it runs and between calls, its sources' included: what the
    // stages will hold at once, known before any of them allocates.
    std::uint64_t memory = 0;
    // Set when the volume is another placed in black (fitToCube's padding), so that a stage
    // can read that one alone and take every sample around it as black without reading it.
    std::shared_ptr<const Padding> padding;
};

// A volume `inner` whose sample (x, y, z) is the outer one's (x, y, z) + offset; every other
// sample of the outer volume is black.
struct Padding {
    SliceSource inner;
    int offset[3] = {0, 0, 0};
    // Whether slice z of the outer volume is black through and through.
    bool blankSlice(int z) const { return z < offset[2] || z >= offset[2] + inner.depth; }
};

// Takes the slices of an N^3 volume in order, z = 0 first, then makes the output appear.
struct SliceSink {
    std::function<std::string(const unsigned char* rgb)> write;
    std::function<std::string()> commit; // not called after a failure
};

enum class CubeFit { Refuse, Crop, Pad };

// The cube a source becomes: the source itself when it is one; else, with Crop, the centred
// cube of its shortest side, with Pad, the source centred in a black cube of its longest side.
// With Refuse a source that is no cube gives the message, naming `name` and the sizes.
// `reversed` names the axes that a later turn runs backwards: an odd sample of padding or
// cropping goes to their start, so that it ends at the high side of the volume either way and
// a file stored the other way round gives the same cube.
[[nodiscard]] std::string fitToCube(const SliceSource& source, CubeFit fit, const QString& name,
                                    SliceSource* cube,
                                    const bool (&reversed)[3] = {false, false, false});

// Copies every slice of a cube to the sink and commits it, with a progress bar titled label.
// Slices are read on other threads while earlier ones are written, two at once from a
// concurrent source; at most three slices are in memory. Slices of padding are not read: one
// black slice is written for each of them.
[[nodiscard]] std::string streamSlices(const SliceSource& cube, const SliceSink& sink,
                                       const std::string& label);

// The bytes streamSlices holds at once for the cube, the cube's own memory included.
std::uint64_t streamMemory(const SliceSource& cube);

// A file of the given leading bytes followed by the samples of each slice of an N^3 volume as
// it comes: the .vol, .npy and raw NRRD outputs all have this shape.
[[nodiscard]] std::string openFileSink(const QString& path, const std::string& header, int n,
                                       SliceSink* sink);
