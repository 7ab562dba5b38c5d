#include "output.h"

#include "contained.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {
// The temporaries in flight. A signal ends the whole process, so the list is the process's:
// the one piece of module state here, guarded by its lock.
struct Temporary {
    QString path;
    bool folder;
};
struct Registry {
    std::mutex lock;
    std::vector<Temporary> entries;
    bool ending = false; // a signal came: what appears from now on goes at once
};
Registry& registry() {
    static Registry instance;
    return instance;
}

// Removes a temporary without following links. A folder is emptied again while a writer still
// adds to it, until it is gone.
void removeTemporary(const QString& path, bool folder) {
    const QByteArray name = QFile::encodeName(path);
    if (!folder) {
        unlink(name.constData());
        return;
    }
    for (int attempt = 0; attempt < 100 && QFileInfo::exists(path); ++attempt)
        QDir(path).removeRecursively();
}

void enrol(const QString& path, bool folder) {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    if (r.ending)
        removeTemporary(path, folder);
    else
        r.entries.push_back({path, folder});
}

void release(const QString& path) {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    r.entries.erase(std::remove_if(r.entries.begin(), r.entries.end(),
                                   [&](const Temporary& t) { return t.path == path; }),
                    r.entries.end());
}

void removeAllInFlight() {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    r.ending = true;
    for (const Temporary& t : r.entries)
        removeTemporary(t.path, t.folder);
    r.entries.clear();
}

// Deleting first and forgetting after: a signal in between finds the name already gone.
void dropFile(QTemporaryFile* file) {
    const QString name = file->fileName();
    delete file;
    release(name);
}
void dropFolder(QTemporaryDir* folder) {
    const QString name = folder->path();
    delete folder;
    release(name);
}

mode_t currentUmask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

const char temporaryMark[] = ".tessary-";

// Where temporaries of path go: its own folder, named after it and this process, hidden.
QString temporaryTemplate(const QString& path) {
    const QFileInfo info(path);
    return info.absolutePath() + "/." + info.fileName() + temporaryMark +
           QString::number(getpid()) + "-XXXXXX";
}

// What stands at path, not following a link: "" when it may be replaced (nothing, a regular
// file, or a folder when folder is set), else what it is.
QString replaceRefusal(const QString& path, bool folder, struct stat* status) {
    if (lstat(QFile::encodeName(path).constData(), status) != 0)
        return errno == ENOENT ? QString() : systemReason(errno);
    const char* kind = S_ISREG(status->st_mode)    ? nullptr
                       : S_ISDIR(status->st_mode)  ? (folder ? nullptr : "a folder")
                       : S_ISLNK(status->st_mode)  ? "a symbolic link"
                       : S_ISFIFO(status->st_mode) ? "a FIFO"
                       : S_ISCHR(status->st_mode) || S_ISBLK(status->st_mode)
                           ? "a device"
                           : "not a regular file";
    if (!kind)
        return QString();
    return QString(kind) + " (only a regular file is replaced)";
}

// Gives a finished temporary the permissions a new file or folder gets (Qt makes temporaries
// that only their owner may read), then renames it onto path once path is checked again: the
// rename would replace whatever stands there by then.
std::string publish(const QString& from, mode_t mode, const QString& path, bool folder) {
    struct stat status {};
    const QString refusal = replaceRefusal(path, folder, &status);
    if (!refusal.isEmpty())
        return writeFailure(path, refusal);
    const QByteArray name = QFile::encodeName(from);
    if (chmod(name.constData(), mode & ~currentUmask()) != 0 ||
        std::rename(name.constData(), QFile::encodeName(path).constData()) != 0)
        return writeFailure(path, systemReason(errno));
    return std::string();
}
} // namespace

std::string writeFailure(const QString& path, const QString& reason) {
    return fileMessage(path, "can't write: " + reason.toStdString());
}

QString systemReason(int error) {
    if (error == 0)
        return "the system gave no reason";
    QString reason = QString::fromLocal8Bit(std::strerror(error));
    // "No space left on device" reads as part of a sentence; "I/O error" keeps its capitals.
    if (reason.size() > 1 && reason[1].isLower())
        reason[0] = reason[0].toLower();
    return reason;
}

namespace {
// Why path's folder cannot take a new file, or "".
QString folderRefusal(const QString& path) {
    const QString folder = QFileInfo(path).path();
    const QFileInfo place(folder);
    if (!place.exists())
        return "there is no folder " + folder + " (make it first)";
    if (!place.isDir())
        return folder + " is not a folder";
    return QString();
}
} // namespace

std::string checkOutputPath(const QString& path, const QStringList& inputs, bool folder) {
    if (path == "-")
        return writeFailure(path, "standard output is not written to: name a file");
    struct stat output {};
    QString refusal = replaceRefusal(path, folder, &output);
    if (refusal.isEmpty() && output.st_ino == 0)
        refusal = folderRefusal(path);
    if (!refusal.isEmpty())
        return writeFailure(path, refusal);
    if (output.st_ino == 0) // nothing there yet, so no input either
        return std::string();
    for (const QString& input : inputs) {
        struct stat status {};
        if (stat(QFile::encodeName(input).constData(), &status) == 0 &&
            status.st_dev == output.st_dev && status.st_ino == output.st_ino)
            return writeFailure(path, "it is one of the inputs");
    }
    return std::string();
}

std::string describeBytes(std::uint64_t bytes) {
    if (bytes < 1000)
        return std::to_string(bytes) + " bytes";
    const char* units[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
    double value = double(bytes) / 1000;
    int unit = 0;
    for (; value >= 999.95 && unit < 5; ++unit)
        value /= 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string checkFreeSpace(const QString& path, std::uint64_t bytes) {
    struct statvfs space {};
    if (statvfs(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), &space) != 0)
        return std::string(); // the write itself will say what is wrong
    const std::uint64_t available = std::uint64_t(space.f_bavail) * space.f_frsize;
    if (bytes <= available)
        return std::string();
    return fileMessage(path,
                       "needs " + describeBytes(bytes) + ", " + describeBytes(available) + " free");
}

QString writeBytes(int descriptor, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(descriptor, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return systemReason(written < 0 ? errno : ENOSPC);
        data += written;
        size -= std::size_t(written);
    }
    return QString();
}

QString writeNewFile(const QString& path, const QByteArray& bytes) {
    const int descriptor =
        open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor < 0)
        return systemReason(errno);
    QString reason = writeBytes(descriptor, bytes.constData(), std::size_t(bytes.size()));
    if (close(descriptor) != 0 && reason.isEmpty())
        reason = systemReason(errno);
    return reason;
}

std::string saveWholeFile(const QString& path, const char* bytes, qint64 size) {
    std::string failure = checkOutputPath(path, {});
    if (failure.empty())
        failure = checkFreeSpace(path, std::uint64_t(size));
    if (!failure.empty())
        return failure;
    TemporaryFile file = openTemporaryFile(path, &failure);
    if (!file)
        return failure;
    const QString reason = writeBytes(int(file->handle()), bytes, std::size_t(size));
    if (!reason.isEmpty())
        return writeFailure(path, reason);
    return commitTemporaryFile(file.get(), path);
}

TemporaryFile openTemporaryFile(const QString& path, std::string* failure) {
    removeStaleTemporaries(QFileInfo(path).absolutePath());
    TemporaryFile file(new QTemporaryFile(temporaryTemplate(path)), dropFile);
    if (!file->open()) {
        *failure = writeFailure(path, file->errorString());
        return TemporaryFile(nullptr, dropFile);
    }
    enrol(file->fileName(), false);
    return file;
}

std::string commitTemporaryFile(QTemporaryFile* file, const QString& path) {
    // Synced before the rename, so that after a crash the name holds the whole file or the old.
    if (!file->flush() || fsync(int(file->handle())) != 0)
        return writeFailure(path, systemReason(errno));
    file->close();
    const std::string failure = publish(file->fileName(), 0666, path, false);
    if (failure.empty())
        file->setAutoRemove(false);
    return failure;
}

TemporaryFolder makeTemporaryFolder(const QString& path, std::string* failure) {
    *failure = checkOutputPath(path, {}, true);
    if (failure->empty() && QFileInfo(path).isDir() && !QDir(path).isEmpty())
        *failure = writeFailure(path, "exists and is not an empty folder");
    if (!failure->empty())
        return TemporaryFolder(nullptr, dropFolder);
    removeStaleTemporaries(QFileInfo(path).absolutePath());
    TemporaryFolder folder(new QTemporaryDir(temporaryTemplate(path)), dropFolder);
    if (!folder->isValid()) {
        *failure = writeFailure(path, folder->errorString());
        return TemporaryFolder(nullptr, dropFolder);
    }
    enrol(folder->path(), true);
    return folder;
}

std::string commitTemporaryFolder(QTemporaryDir* folder, const QString& path) {
    const std::string failure = publish(folder->path(), 0777, path, true);
    if (failure.empty())
        folder->setAutoRemove(false);
    return failure;
}

void removeStaleTemporaries(const QString& folder) {
    static const QRegularExpression naming(QString("^\\..+\\") + temporaryMark +
                                           "([0-9]{1,10})-[A-Za-z0-9]{6}$");
    const QDir dir(folder);
    for (const QString& name :
         dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        const QRegularExpressionMatch match = naming.match(name);
        if (!match.hasMatch())
            continue;
        const qint64 pid = match.captured(1).toLongLong();
        // A pid that runs, or that we may not signal, may be another run still writing.
        if (pid <= 0 || pid > INT_MAX || pid == getpid() || kill(pid_t(pid), 0) == 0 ||
            errno != ESRCH)
            continue;
        struct stat status {};
        const QString path = dir.filePath(name);
        if (lstat(QFile::encodeName(path).constData(), &status) == 0)
            removeTemporary(path, S_ISDIR(status.st_mode));
    }
}

namespace {
// Waits for one of the watched signals, then removes what is in flight and ends the process by
// that signal, so the parent sees why (a shell reports 128 + signal). It works outside any signal
// handler, so it may take locks and use Qt.
void endOnSignal(sigset_t watched) {
    int sig = 0;
    while (sigwait(&watched, &sig) != 0) {
    }
    removeAllInFlight();
    endContainedChildren();
    signal(sig, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, sig);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    raise(sig);
    _exit(128 + sig);
}
} // namespace

void cleanUpTemporariesOnSignals() {
    sigset_t watched;
    sigemptyset(&watched);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (sigaction(sig, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
            sigaddset(&watched, sig);
    }
    pthread_sigmask(SIG_BLOCK, &watched, nullptr);
    try {
        std::thread(endOnSignal, watched).detach();
    } catch (const std::system_error&) {
        // No thread to be had: signals end the run as they would, leaving its temporaries
        // for the next run to remove.
        pthread_sigmask(SIG_UNBLOCK, &watched, nullptr);
    }
}
