#include "testruns.h"

#include <QProcess>
#include <QTemporaryDir>

#include <map>

QString tessaryVol() {
    return TESSARY_VOL;
}

ToolRun runTool(const QStringList& arguments, int memoryLimit) {
    ensureApplication();
    QProcess process;
    const QString limit = QString("ulimit -v %1; exec \"$0\" \"$@\"").arg(memoryLimit);
    if (memoryLimit > 0)
        process.start("bash", QStringList{"-c", limit, TESSARY_VOL} + arguments);
    else
        process.start(TESSARY_VOL, arguments);
    process.waitForFinished(120000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString()};
}

QString scriptOutput(const QString& script) {
    static std::map<QString, std::unique_ptr<QTemporaryDir>> written;
    std::unique_ptr<QTemporaryDir>& folder = written[script];
    if (!folder) {
        ensureApplication();
        folder = std::make_unique<QTemporaryDir>();
        QProcess python;
        python.start("/usr/bin/python3",
                     {QString::fromStdString(sourceDir()) + "/tests/" + script, folder->path()});
        python.waitForFinished(120000);
        if (python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0) {
            std::fprintf(stderr, "%s", python.readAllStandardError().constData());
            folder->remove();
        }
    }
    return QDir(folder->path()).exists() ? folder->path() : QString();
}
