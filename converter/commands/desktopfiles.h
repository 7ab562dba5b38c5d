#pragma once

// The files through which the desktop and the shell know the two programs, made from the
// tables (the formats, the commands and their options) so that none can come to say other
// than the programs: the shared MIME definition, the desktop entry's list of types and the
// bash completion of tessary-vol and tessary.

#include "commandline.h"

#include <string>
#include <vector>

// shared-mime-info's XML for the package's own MIME types.
[[nodiscard]] std::string mimeInfo();

// Every format's MIME types, a line each: the type, then the suffixes of its globs.
[[nodiscard]] std::string mimeTypeList();

// The launcher's options, as its help lists them ("  --size N    what it does"): each
// option's names and whether it takes a value.
struct LauncherOption {
    std::vector<std::string> names; // "-h", "--help"
    bool takesValue = false;
};
std::vector<LauncherOption> launcherOptions(const std::string& help);

// A bash script that completes tessary-vol (the commands, their options, the files each takes)
// and tessary (the launcher's options, and the inputs pack reads).
[[nodiscard]] std::string bashCompletion(const std::vector<Command>& commands,
                                         const std::vector<LauncherOption>& launcher);
