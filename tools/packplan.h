#pragma once

// What pack does with a typed input, decided before any output is written: the channel map,
// the window (the samples' range unless the user gives one), the resampling to equal spacing,
// the cube's crop or pad, and the resampling to the size asked for. The plan is both what
// pack runs and what info prints.

#include "samplemap.h"
#include "typedsource.h"
#include "volumestream.h"

#include <QCommandLineParser>
#include <QString>

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
    bool measureRange = false; // measure the samples' range even when the window needs none
    InputSelection pick;       // --series K and --volume T
};

// The options pack and info share that shape the conversion: --window LO,HI, --channels A,B,C,
// --spacing X,Y,Z, --size N, --crop, --pad, --series K, --volume T.
QList<QCommandLineOption> packSettingOptions();

// Reads those options. Returns "" or the usage message.
QString readPackSettings(const QCommandLineParser& parser, PackSettings* settings);

struct PackPlan {
    ChannelMap map;
    SampleWindow window;
    bool rangeMeasured = false;
    double rangeLo = 0, rangeHi = 0; // the samples' range, when measured
    double spacing[3] = {1, 1, 1};   // the spacing used
    int resampled[3] = {0, 0, 0};    // the sizes after the step to equal spacing
    int cube = 0;                    // the cube's N after crop or pad
    int n = 0;                       // the output's N
    SliceSource rgb;                 // the output's slices, read lazily
};

// Plans the conversion of source (named name in messages); this reads the samples once for
// their range when the window needs it or settings ask. Returns "" or the message.
std::string planPack(const TypedSource& source, const PackSettings& settings, const QString& name,
                     PackPlan* plan);

// The input in a few words: "512 x 400 x 300 int16".
std::string describeInput(const VolumeInfo& info);

// What the plan does, as pack's closing line says it: the window or "copied", the channel map,
// any resampling, then N.
std::string describePlan(const VolumeInfo& info, const PackPlan& plan);

// How the file's axes become the volume's, in words.
std::string describeOrientation(const VolumeInfo& info);
