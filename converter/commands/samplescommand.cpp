// tessary-vol samples: the bundled sample volumes.

#include "commands.h"

#include "files.h"
#include "demovolumes.h"

namespace {
const char help[] = R"(usage: tessary-vol samples [FOLDER] [--force]
Writes the bundled sample volumes and their reference pictures into FOLDER (default: input):
axes (N = 32), marble (128), wood (64), granite (45) and cells (256). The same bytes every run.
A volume whose .vol and .png both exist is kept unless --force.
)";

int runSamples(const QCommandLineParser& parser) {
    const QStringList folder = parser.positionalArguments();
    const std::string failure =
        writeSamples(folder.isEmpty() ? QString(inputFolder) : folder[0], parser.isSet("force"));
    return failure.empty() ? 0 : inputError(failure);
}
} // namespace

Command samplesCommand() {
    return {"samples",
            "samples [FOLDER]",
            "the bundled sample volumes (into input/ by default)",
            help,
            {{"force", "", "writes every volume and picture again, over those there are"}},
            0,
            1,
            runSamples,
            InputKind::Folder};
}
