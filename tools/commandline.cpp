#include "commandline.h"

#include <algorithm>
#include <cstdio>
#include <new>

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
    return command.run(parser);
}
} // namespace

int runCommandLine(const std::vector<Command>& commands, const QStringList& arguments) {
    const QString name = arguments.value(1);
    const auto command = std::find_if(commands.begin(), commands.end(),
                                      [&](const Command& c) { return name == c.name; });
    if (command != commands.end()) {
        try {
            return runCommand(*command, arguments.mid(1)); // the parser wants the name first
        } catch (const std::bad_alloc&) {
            return inputError("tessary-vol " + name.toStdString() + ": out of memory");
        }
    }
    if (name == "-h" || name == "--help") {
        printOverview(commands, stdout);
        return 0;
    }
    printOverview(commands, stderr);
    return 2;
}

int usageError(const char* command, const QString& message) {
    std::fprintf(stderr, "tessary-vol %s: %s\nTry 'tessary-vol %s --help'.\n", command,
                 qPrintable(message), command);
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
    usageError(command, QString("-o OUT%1 is required").arg(extension));
    return QString();
}
