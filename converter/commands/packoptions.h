#pragma once

// The options pack and info share, which shape the conversion: the window, the channel map,
// the spacing, the size, the cube's crop or pad, the part of the input read and the mirroring
// of the result. Declared once here; info takes them to tell what pack would do.

#include "options.h"
#include "packplan.h"

#include <vector>

// The declarations with their reading into the settings.
const std::vector<OptionReader<PackSettings>>& packSettingReaders();

// Reads the given options into settings. Returns "" or the usage message.
QString readPackSettings(const QCommandLineParser& parser, PackSettings* settings);
