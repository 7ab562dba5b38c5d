#pragma once

// What every converter command shares: its entry in the command table, the parsing of its
// options and inputs, its --help, and the exit statuses (0 done, 1 bad input with one line on
// standard error naming the file, 2 bad usage).

#include "options.h"

#include <QCommandLineParser>
#include <QStringList>

#include <functional>
#include <string>
#include <vector>

// What a command's inputs are, for the shell's completion: any file, what pack reads (the
// table's formats and pictures), volumes, pictures, or a folder.
enum class InputKind { Files, PackInputs, Volumes, Pictures, Folder };

// One command of the table. Its file fills one in; runCommandLine does the rest.
struct Command {
    const char* name;
    const char* synopsis; // the command's line in the overview, e.g. "pack INPUT... -o OUT.vol"
    const char* summary;  // what it does, in a few words, for the overview
    // 'tessary-vol NAME --help' without its options: the usage line, then what it does
    const char* help;
    // Besides -h, --help. The shell completes a file for a value named OUT... or PICTURE.
    std::vector<Option> options;
    int minInputs = 0;
    int maxInputs = -1; // -1: no limit
    // Runs the command once its arguments parsed and their count is right; the exit status.
    int (*run)(const QCommandLineParser& parser) = nullptr;
    InputKind inputs = InputKind::Files;
};

// The whole text of 'tessary-vol NAME --help': the command's help, then its options.
[[nodiscard]] std::string commandHelp(const Command& command);

// The converter's version, as the build sets it.
extern const char programVersion[];

// The overview's text around the command table, which the manual page shares: what the
// converter does (one sentence), then its exit statuses, the files and environment variables
// it has to do with, and its examples, a line each indented by two spaces.
extern const char overviewSummary[];
extern const char overviewExitStatus[];
extern const char overviewFiles[];
extern const char overviewEnvironment[];
extern const char overviewExamples[];

// Runs the command line (the program's name first) with the command it names; an unknown or
// missing command gives the overview made from the table, --version the version, and --manual,
// --option-table, --mime-info, --mime-types, --format-list and --bash-completion the files the
// build and the docs make with them.
int runCommandLine(const std::vector<Command>& commands, const QStringList& arguments);

// Prints "tessary-vol COMMAND: message" and the hint to --help on standard error; returns 2.
int usageError(const char* command, const QString& message);

// Prints message (already "PATH: message") on standard error as one line; returns 1.
int inputError(const std::string& message);

// Runs work, which reads the input at path; an allocation that fails on the way becomes
// "PATH: out of memory". Returns "" or the message.
[[nodiscard]] std::string readingInput(const QString& path,
                                       const std::function<std::string()>& work);

// The -o option's value when it ends in extension (".vol"); otherwise prints the usage error,
// which names that extension, and returns an empty string.
QString outputWithExtension(const QCommandLineParser& parser, const char* command,
                            const char* extension);
