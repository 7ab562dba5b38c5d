#include "packplan.h"

#include "systemmemory.h"
#include "text.h"
#include "volumefile.h"
#include "output.h"
#include "orientation.h"
#include "resample.h"

#include <algorithm>
#include <cmath>

namespace {
// The steps from typed samples to the output's cube, each reading the one before lazily; no
// buffer of a step is made before its first read.
std::string chainSteps(const TypedSource& source, const PackSettings& settings, const QString& name,
                       PackPlan* plan) {
    const SliceSource rgb =
        resampleSource(plan->fileWindows ? mapToRgbPerColour(source, plan->map, plan->colourWindows)
                                         : mapToRgb(source, plan->map, plan->window),
                       plan->resampled[0], plan->resampled[1], plan->resampled[2]);
    AxisMap turn = orientAxes(source.info.axes).map;
    bool reversed[3] = {false, false, false};
    for (int a = 0; a < 3; ++a)
        reversed[turn.from[a]] = turn.reversed[a];
    // A flip mirrors what pack makes without it, the spare sample of a crop or pad included.
    for (int a = 0; a < 3; ++a) {
        plan->flipped[a] = settings.flip[a];
        turn.reversed[a] = turn.reversed[a] != settings.flip[a];
    }
    SliceSource cube;
    const std::string failure = fitToCube(rgb, settings.fit, name, &cube, reversed);
    if (!failure.empty())
        return failure;
    plan->cube = cube.width;
    plan->n = settings.size > 0      ? settings.size
              : settings.maxSize > 0 ? std::min(plan->cube, settings.maxSize)
                                     : plan->cube;
    plan->rgb = orientCube(resampleSource(cube, plan->n, plan->n, plan->n), turn);
    return std::string();
}
// The file's display windows for the colours of the map, where it gives any (else false); a
// colour whose channel has none keeps the plan's window, marked copy until it is known.
bool fileColourWindows(const VolumeInfo& info, PackPlan* plan) {
    bool any = false;
    for (int c = 0; c < 3; ++c) {
        const int channel = plan->map.source[c];
        SampleWindow& window = plan->colourWindows[c];
        window = SampleWindow{true, 0, 255};
        if (channel < 0 || std::size_t(channel) >= info.channelDisplay.size() ||
            !info.channelDisplay[std::size_t(channel)].windowGiven)
            continue;
        const ChannelDisplay& display = info.channelDisplay[std::size_t(channel)];
        window = SampleWindow{false, display.lo, display.hi};
        any = true;
    }
    return any;
}

// The axes of more than one sample whose spacing the file leaves out ("z", "x, y, z"), for a
// file that gives some of it; "" when it gives all or none.
std::string unknownSpacingAxes(const VolumeInfo& info) {
    const int sizes[3] = {info.width, info.height, info.depth};
    std::string missing;
    bool anyKnown = false;
    for (int k = 0; k < 3; ++k) {
        anyKnown = anyKnown || info.axisSpacingKnown[k];
        if (sizes[k] > 1 && !info.axisSpacingKnown[k])
            missing += std::string(missing.empty() ? "" : ", ") + "xyz"[k];
    }
    return anyKnown ? missing : std::string();
}
} // namespace

std::string planSizes(const TypedSource& source, const PackSettings& settings, const QString& name,
                      PackPlan* plan) {
    const VolumeInfo& info = source.info;
    const int sizes[3] = {info.width, info.height, info.depth};
    if (std::min({sizes[0], sizes[1], sizes[2]}) < 1 ||
        std::max({sizes[0], sizes[1], sizes[2]}) > maxSide || info.channels < 1)
        return fileMessage(name, formatString("unsupported size %d x %d x %d: each side must be "
                                              "1 to %d",
                                              sizes[0], sizes[1], sizes[2], maxSide));
    plan->fileColours = settings.channels.isEmpty() && fileChannelMap(info, &plan->map);
    std::string failure = plan->fileColours ? std::string()
                          : settings.channels.isEmpty()
                              ? defaultChannelMap(info, &plan->map)
                              : parseChannelMap(settings.channels, info.channels, &plan->map);
    if (!failure.empty())
        return fileMessage(name, failure);

    std::copy_n(settings.spacingGiven ? settings.spacing : info.spacing, 3, plan->spacing);
    // A spacing the file does not give is never made up: the samples stay as they are.
    plan->spacingMissing = settings.spacingGiven ? std::string() : unknownSpacingAxes(info);
    if (!plan->spacingMissing.empty())
        std::fill_n(plan->spacing, 3, 1.0);
    failure = cubicSampleSizes(sizes, plan->spacing, maxSide, plan->resampled);
    if (!failure.empty())
        return fileMessage(name, failure);

    // Unsigned bytes are copied unless a window is given; any other type needs the range.
    plan->window.copy = info.type == SampleType::UInt8 && !settings.windowGiven;
    plan->window.lo = settings.windowGiven ? settings.windowLo : 0;
    plan->window.hi = settings.windowGiven ? settings.windowHi : 0;
    if (!settings.windowGiven)
        plan->fileWindows = fileColourWindows(info, plan);
    failure = chainSteps(source, settings, name, plan); // sizes only: nothing is read yet
    if (!failure.empty())
        return failure;
    plan->outputBytes = volumeLayout::headerSize + volumeSampleBytes(plan->n);
    plan->memory = streamMemory(plan->rgb);
    return checkPackMemory(name, plan->memory, availableMemory());
}

bool needsRangePass(const PackSettings& settings, const PackPlan& plan) {
    bool allFromFile = plan.fileWindows;
    for (int c = 0; c < 3; ++c)
        allFromFile = allFromFile && (plan.map.source[c] < 0 || !plan.colourWindows[c].copy);
    return settings.measureRange || (!plan.window.copy && !settings.windowGiven && !allFromFile);
}

std::string planSamples(const TypedSource& source, const PackSettings& settings,
                        const QString& name, PackPlan* plan) {
    if (source.useChannels)
        source.useChannels(usedChannels(plan->map));
    // The pass for the range keeps what it reads, so that the output's pass reads no input.
    TypedSource kept = source;
    if (needsRangePass(settings, *plan)) {
        const std::string failure =
            sampleRange(source, plan->map, &plan->rangeLo, &plan->rangeHi, &kept);
        if (!failure.empty())
            return failure;
        plan->rangeMeasured = true;
    }
    if (!settings.windowGiven) {
        plan->window.lo = plan->rangeLo;
        plan->window.hi = plan->rangeHi;
    }
    for (SampleWindow& window : plan->colourWindows)
        if (window.copy && !plan->window.copy) // a colour the file gives no window for
            window = plan->window;
    return chainSteps(kept, settings, name, plan);
}

std::string planPack(const TypedSource& source, const PackSettings& settings, const QString& name,
                     PackPlan* plan) {
    const std::string failure = planSizes(source, settings, name, plan);
    return failure.empty() ? planSamples(source, settings, name, plan) : failure;
}

std::string checkPackMemory(const QString& name, std::uint64_t needs, std::int64_t available) {
    if (available < 0 || needs <= std::uint64_t(available))
        return std::string();
    return fileMessage(name, "out of memory: packing needs " + describeBytes(needs) + " at once, " +
                                 describeBytes(std::uint64_t(available)) + " available");
}

std::string describeSampleType(const VolumeInfo& info) {
    return info.storedType.empty() ? sampleTypeName(info.type) : info.storedType;
}

std::string describeInput(const VolumeInfo& info) {
    return formatString("%d x %d x %d %s%s", info.width, info.height, info.depth,
                        describeSampleType(info).c_str(),
                        info.channels > 1 ? formatString(" x %d", info.channels).c_str() : "");
}

namespace {
// "pyramid level 0 (the finest) of 3", "pyramid level 1 ("s1") of 3".
std::string describeLevelRead(const VolumeInfo& info) {
    const std::size_t count = info.levels.size(), level = std::size_t(info.level);
    const std::string which = level == 0           ? "the finest"
                              : level + 1 == count ? "the coarsest"
                                                   : "\"" + info.levels[level].name + "\"";
    return formatString("pyramid level %zu (%s) of %zu", level, which.c_str(), count);
}
} // namespace

std::string textureSizeNote(int n) {
    if (n <= commonTextureSide)
        return std::string();
    return formatString("N = %d is above the %d a side that most GL drivers hold in a 3D "
                        "texture: the viewer needs %s of texture memory, and may refuse it",
                        n, commonTextureSide, describeBytes(volumeSampleBytes(n)).c_str());
}

std::string describePlan(const VolumeInfo& info, const PackPlan& plan) {
    std::string text = plan.window.copy
                           ? "copied"
                           : formatString("window %g to %g", plan.window.lo, plan.window.hi);
    if (plan.fileWindows) {
        text = "windows from the file";
        for (int c = 0; c < 3; ++c) {
            const SampleWindow& window = plan.colourWindows[c];
            if (plan.map.source[c] >= 0)
                text += formatString(" %c %g to %g", "RGB"[c], window.lo, window.hi);
        }
    }
    text += ", " + describeChannelMap(plan.map);
    if (plan.fileColours)
        text += " (the file's channel colours)";
    if (info.level >= 0 && std::size_t(info.level) < info.levels.size())
        text += ", " + describeLevelRead(info);
    if (!info.choices.empty())
        text += ", " + info.choices;
    const int* r = plan.resampled;
    if (r[0] != info.width || r[1] != info.height || r[2] != info.depth)
        text += formatString(", resampled to %d x %d x %d for spacing %g, %g, %g", r[0], r[1], r[2],
                             plan.spacing[0], plan.spacing[1], plan.spacing[2]);
    if (!plan.spacingMissing.empty())
        text += ", not resampled: no spacing along " + plan.spacingMissing + " in the file";
    if (r[0] != r[1] || r[1] != r[2])
        text += formatString(", %s to %d^3",
                             plan.cube < std::max({r[0], r[1], r[2]}) ? "cropped" : "padded",
                             plan.cube);
    if (plan.n != plan.cube)
        text += formatString(", resized to %d^3", plan.n);
    if (info.axes.frame != AxisFrame::Viewer)
        text += ", " + describeOrientation(info);
    for (int a = 0; a < 3; ++a)
        if (plan.flipped[a])
            text += formatString(", flipped along %c", "xyz"[a]);
    if (!info.note.empty())
        text += "; " + info.note;
    return text + formatString(": N = %d", plan.n);
}
