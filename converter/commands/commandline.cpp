#include "commandline.h"

#include "text.h"
#include "desktopfiles.h"
#include "formattable.h"
#include "manualpage.h"
#include "messages.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <new>
#include <stdexcept>

namespace {
void printOverview(const std::vector<Command>& commands, std::FILE* stream, bool withExamples) {
    std::fprintf(stream, "usage: tessary-vol COMMAND [OPTIONS] ...\n%s\n\ncommands:\n",
                 overviewSummary);
    for (const Command& command : commands)
        std::fprintf(stream, "  %-27s %s\n", command.synopsis, command.summary);
    std::fprintf(stream,
                 "\n'tessary-vol COMMAND --help' tells a command's options.\n\n"
                 "exit status:\n%s",
                 overviewExitStatus);
    if (withExamples)
        std::fprintf(stream, "\nfiles:\n%s\nenvironment:\n%s\nexamples:\n%s", overviewFiles,
                     overviewEnvironment, overviewExamples);
}

// The files the build makes with the converter, each from the tables, and the option that
// prints one. The completion reads the launcher's help on standard input.
struct BuildFile {
    const char* option;
    std::string (*text)(const std::vector<Command>& commands);
};
// docs/options.md: every command's options, which a test compares with the file.
std::string optionTables(const std::vector<Command>& commands) {
    std::string text = "# The converter's options\n\nMade by `tessary-vol --option-table` from "
                       "the options' declarations; `tessary-vol COMMAND --help` says the same.\n";
    for (const Command& command : commands)
        if (!command.options.empty())
            text +=
                std::string("\n## ") + command.synopsis + "\n\n" + optionMarkdown(command.options);
    return text;
}

const BuildFile buildFiles[] = {
    {"--manual", manualPage},
    {"--option-table", optionTables},
    {"--mime-info", [](const std::vector<Command>&) { return mimeInfo(); }},
    {"--mime-types", [](const std::vector<Command>&) { return mimeTypeList(); }},
    {"--format-list", [](const std::vector<Command>&) { return inputFormatList() + "\n"; }},
    {"--bash-completion",
     [](const std::vector<Command>& commands) {
         const std::string help{std::istreambuf_iterator<char>(std::cin), {}};
         return bashCompletion(commands, launcherOptions(help));
     }},
};

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

// The parser's complaint, with the option meant when an unknown one is a slip of the keyboard.
QString parseError(const Command& command, const QCommandLineParser& parser) {
    const QStringList unknown = parser.unknownOptionNames();
    if (unknown.isEmpty())
        return parser.errorText();
    std::vector<std::string> names;
    for (const Option& option : command.options)
        for (const QString& name : optionNames(option))
            names.push_back(name.toStdString());
    const std::string meant = nearestWord(unknown[0].toStdString(), names);
    const QString dashes = unknown[0].size() == 1 ? "-" : "--";
    QString message = "unknown option " + dashes + unknown[0];
    if (!meant.empty())
        message += QString(" (did you mean %1%2?)")
                       .arg(meant.size() == 1 ? "-" : "--", QString::fromStdString(meant));
    return message;
}

// Parses the command's arguments (its name first) and runs it.
int runCommand(const Command& command, const QStringList& arguments) {
    QCommandLineParser parser;
    for (const Option& option : command.options)
        parser.addOption(parserOption(option));
    parser.addOption({{"h", "help"}, "help"});
    if (!parser.parse(arguments))
        return usageError(command.name, parseError(command, parser));
    if (parser.isSet("help")) {
        std::fputs(commandHelp(command).c_str(), stdout);
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

std::string commandHelp(const Command& command) {
    std::string help = command.help;
    if (command.options.empty())
        return help;
    while (!help.empty() && help.back() == '\n')
        help.pop_back();
    return help + "\n\noptions:\n" + optionHelp(command.options);
}

const char programVersion[] = TESSARY_VERSION;

const char overviewSummary[] =
    "Brings volumes and meshes into the Tessary viewer's formats and takes volumes back out.";

const char overviewExitStatus[] = R"(  0   done
  1   bad input: one line on standard error names the file at fault and what is wrong
  2   bad usage: the reason and a hint to --help on standard error
)";

const char overviewFiles[] =
    R"(  $(tessary --where)/input/   the volumes the viewer lists, their pictures and its mesh: pack
                              into it to see a volume in the viewer ('tessary --where' prints
                              the viewer's working folder, $XDG_DATA_HOME/tessary or
                              ~/.local/share/tessary, and makes it when there is none)
  $XDG_CACHE_HOME/tessary/    the packs of 'tessary FILE', which packs FILE with pack and opens
                              it in the viewer directly (~/.cache/tessary/ without
                              XDG_CACHE_HOME)
)";

const char overviewEnvironment[] =
    R"(  http_proxy, https_proxy, no_proxy   the proxies for http(s):// inputs, as curl reads them
  CURL_CA_BUNDLE, SSL_CERT_FILE       a PEM file of certificates to trust beyond the system's
  SSL_CERT_DIR                        a hashed folder of such certificates
  AWS_ACCESS_KEY_ID,                  the keys that sign s3:// reads (AWS Signature Version 4);
  AWS_SECRET_ACCESS_KEY               without them, and without a profile, reads are anonymous
  AWS_SESSION_TOKEN                   the token of temporary keys
  AWS_PROFILE                         the profile of the credentials file (default: default)
  AWS_SHARED_CREDENTIALS_FILE         the credentials file (default: ~/.aws/credentials)
  AWS_REGION, AWS_DEFAULT_REGION      the region of s3:// buckets (else the profile's region in
                                      the config file, else us-east-1)
  AWS_CONFIG_FILE                     the config file (default: ~/.aws/config)
  AWS_ENDPOINT_URL                    another S3 server than AWS, read as ENDPOINT/BUCKET/KEY
  STORAGE_EMULATOR_HOST               another endpoint than storage.googleapis.com for gs://
)";

const char overviewExamples[] = R"(  # the sample volumes, into the folder the viewer reads
  tessary-vol samples input
  # a folder of slice pictures, slice 0 as the volume's reference picture
  tessary-vol pack scans/ -o input/scan.vol --reference-slice 0
  # the same, into the folder where the viewer lists it
  tessary-vol pack scans/ -o "$(tessary --where)/input/scan.vol" --reference-slice 0
  # a DICOM series brought down to 256 samples a side
  tessary-vol pack ct/ --size 256 -o input/ct.vol
  # what pack would make of a NIfTI file, without writing anything
  tessary-vol info brain.nii.gz
  # a z-up scan as the viewer's mesh
  tessary-vol mesh dragon.ply --up z -o input/bunny.dat
  # a volume out as NRRD, for ParaView or 3D Slicer
  tessary-vol unpack input/marble.vol -o marble.nrrd
)";

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
        std::printf("tessary-vol %s\n", programVersion);
        printOverview(commands, stdout, true);
        return 0;
    }
    if (name == "--version") {
        std::printf("tessary-vol %s\n", programVersion);
        return 0;
    }
    for (const BuildFile& file : buildFiles) {
        if (name == file.option) {
            std::fputs(file.text(commands).c_str(), stdout);
            return 0;
        }
    }
    if (!name.isEmpty()) {
        std::vector<std::string> names;
        for (const Command& c : commands)
            names.push_back(c.name);
        const std::string meant = nearestWord(name.toStdString(), names);
        std::fprintf(stderr, "tessary-vol: unknown command '%s'%s\n",
                     printableText(name.toStdString()).c_str(),
                     meant.empty() ? "" : (" (did you mean " + meant + "?)").c_str());
    }
    printOverview(commands, stderr, false);
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
