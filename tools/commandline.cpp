#include "commandline.h"

#include "helpers.h"
#include "output.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <stdexcept>

namespace {
const char overviewHead[] = R"(usage: tessary-vol COMMAND [OPTIONS] ...
Brings volumes and meshes into the Tessary viewer's formats and takes volumes back out.

commands:
)";

const char overviewTail[] = R"(
'tessary-vol COMMAND --help' tells a command's options. Exit status: 0 done, 1 bad input,
2 bad usage.
)";

void printOverview(const std::vector<Command>& commands, std::FILE* stream) {
    std::fputs(overviewHead, stream);
    for (const Command& command : commands)
        std::fprintf(stream, "  %-27s %s\n", command.synopsis, command.summary);
    std::fputs(overviewTail, stream);
}

// An exception that escaped a command, as a refusal like any other: one line naming what the
// command works on (its first input), exit status 1. Called from a catch block.
int refuseEscapedException(const QString& subject) {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return inputError(fileMessage(subject, "out of memory"));
    } catch (const std::length_error&) {
        return inputError(fileMessage(subject, "out of memory: too large to hold"));
    } catch (const std::exception& e) {
        return inputError(fileMessage(subject, std::string("can't convert: ") + e.what()));
    } catch (...) {
        return inputError(fileMessage(subject, "can't convert: unknown failure"));
    }
}

// Parses the command's arguments (its name first) and runs it.
int runCommand(const Command& command, const QStringList& arguments) {
    QCommandLineParser parser;
    parser.addOptions(command.options);
    parser.addOption({{"h", "help"}, "help"});
    if (!parser.parse(arguments))
        return usageError(command.name, parser.errorText());
    if (parser.isSet("help")) {
        std::fputs(command.help, stdout);
        return 0;
    }
    const qsizetype count = parser.positionalArguments().size();
    if (count < command.minInputs)
        return usageError(command.name, "missing input");
    if (command.maxInputs >= 0 && count > command.maxInputs)
        return usageError(command.name, "too many inputs");
    try {
        return command.run(parser);
    } catch (...) {
        return refuseEscapedException(
            parser.positionalArguments().value(0, QString("tessary-vol ") + command.name));
    }
}
} // namespace

int runCommandLine(const std::vector<Command>& commands, const QStringList& arguments) {
    const QString name = arguments.value(1);
    const auto command = std::find_if(commands.begin(), commands.end(),
                                      [&](const Command& c) { return name == c.name; });
    if (command != commands.end()) {
        try {
            return runCommand(*command, arguments.mid(1)); // the parser wants the name first
        } catch (...) { // from parsing, before any input is known
            return refuseEscapedException("tessary-vol " + name);
        }
    }
    if (name == "-h" || name == "--help") {
        printOverview(commands, stdout);
        return 0;
    }
    if (!name.isEmpty())
        std::fprintf(stderr, "tessary-vol: unknown command '%s'\n",
                     printableText(name.toStdString()).c_str());
    printOverview(commands, stderr);
    return 2;
}

std::string readingInput(const QString& path, const std::function<std::string()>& work) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return fileMessage(path, "out of memory");
    }
}

int usageError(const char* command, const QString& message) {
    std::fprintf(stderr, "tessary-vol %s: %s\nTry 'tessary-vol %s --help'.\n", command,
                 printableText(message.toStdString()).c_str(), command);
    return 2;
}

int inputError(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return 1;
}

QString outputWithExtension(const QCommandLineParser& parser, const char* command,
                            const char* extension) {
    const QString output = parser.value("output");
    if (output.endsWith(extension))
        return output;
    if (!parser.isSet("output"))
        usageError(command, QString("-o OUT%1 is required").arg(extension));
    else
        usageError(command, QString("-o must name a %1 file").arg(extension));
    return QString();
}
