// tessary-vol samples: the bundled sample volumes.

#include "commands.h"

#include "files.h"
#include "demovolumes.h"

namespace {
std::string help() {
    return "usage: tessary-vol samples [FOLDER] [--force]\n"
           "Writes the bundled sample volumes and their reference pictures into FOLDER "
           "(default: input):\n" +
           sampleList() +
           ". The same bytes every run.\n"
           "A volume whose .vol and .png both exist is kept unless --force.\n";
}

int runSamples(const QCommandLineParser& parser) {
    const QStringList folder = parser.positionalArguments();
    const std::string failure =
        writeSamples(folder.isEmpty() ? QString(inputFolder) : folder[0], parser.isSet("force"));
    return failure.empty() ? 0 : inputError(failure);
}
} // namespace

Command samplesCommand() {
    static const std::string text = help();
    return {"samples",
            "samples [FOLDER]",
            "the bundled sample volumes (into input/ by default)",
            text.c_str(),
            {{"force", "", "writes every volume and picture again, over those there are"}},
            0,
            1,
            runSamples,
            InputKind::Folder};
}
