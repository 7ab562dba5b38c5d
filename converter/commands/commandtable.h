#pragma once

// tessary-vol, the converter between the viewer's files and those of other tools: its
// subcommands, their options and their exit statuses (0 success, 1 bad input with one line on
// standard error naming the file, 2 bad usage).

#include <QStringList>

// Runs the command line (the program's name first); returns the exit status.
int runVolumeTool(const QStringList& arguments);
