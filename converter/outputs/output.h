#pragma once

// Every output appears whole or not at all, only where a regular file (or nothing) was, and
// never over an input. It is written under a temporary name beside its final path, so the last
// step is a rename within one file system, and renamed into place once complete; a failure
// before that removes the temporary, and so does SIGINT, SIGTERM or SIGHUP once
// cleanUpTemporariesOnSignals runs. Temporaries are named .NAME.tessary-PID-XXXXXX, so a later
// run can tell those of a process that is gone (killed with SIGKILL, say) and remove them.

#include "messages.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// "PATH: can't write: REASON", the message of every failed output.
[[nodiscard]] std::string writeFailure(const QString& path, const QString& reason);

// The reason for a system error number in a message's words ("no space left on device").
QString systemReason(int error);

// Refuses, before any work, an output that would replace what it must not: path must be
// nothing yet or a regular file (a folder too when folder is set). A symbolic link is refused
// whatever it names, as are FIFOs, devices and sockets, and so is a path that is the same file
// (device and inode) as one of inputs. "" or the message.
// A path into a folder that is not there, and "-" (standard output), are refused too.
[[nodiscard]] std::string checkOutputPath(const QString& path, const QStringList& inputs,
                                          bool folder = false);

// Refuses to write bytes more into path's folder than its file system has free, with both
// figures ("PATH: needs 13.2 TB, 21.3 GB free"). "" when they fit or the space is unknown.
[[nodiscard]] std::string checkFreeSpace(const QString& path, std::uint64_t bytes);

// A byte count for people: "512 bytes", "1.5 kB", "13.2 TB" (powers of 1000).
[[nodiscard]] std::string describeBytes(std::uint64_t bytes);

// Writes all of data to the descriptor, retrying short and interrupted writes; "" or the
// reason (systemReason of the failure).
QString writeBytes(int descriptor, const char* data, std::size_t size);

// Makes a new file at path (which must not exist) holding bytes; "" or the reason. For the
// files inside a temporary folder, which appear all at once with it.
QString writeNewFile(const QString& path, const QByteArray& bytes);

// Writes size bytes as the whole file at path, through a temporary: the path is checked as
// checkOutputPath checks it (without inputs) and the free space first. "" or the message.
[[nodiscard]] std::string saveWholeFile(const QString& path, const char* bytes, qint64 size);

// A temporary beside path, open for reading and writing, removed when it goes unless
// committed, and on a termination signal. Stale temporaries of dead runs in that folder are
// removed first. Null, with the message in *failure, when it cannot be made.
using TemporaryFile = std::unique_ptr<QTemporaryFile, void (*)(QTemporaryFile*)>;
TemporaryFile openTemporaryFile(const QString& path, std::string* failure);
// Syncs the finished file to disk, gives it the permissions a new file gets and renames it onto
// path, which must still be nothing or a regular file.
[[nodiscard]] std::string commitTemporaryFile(QTemporaryFile* file, const QString& path);

// The same for a folder. The final path may be missing or an empty folder; anything else is
// refused before any work, so a user's files are never replaced.
using TemporaryFolder = std::unique_ptr<QTemporaryDir, void (*)(QTemporaryDir*)>;
TemporaryFolder makeTemporaryFolder(const QString& path, std::string* failure);
[[nodiscard]] std::string commitTemporaryFolder(QTemporaryDir* folder, const QString& path);

// Removes the temporaries of this naming in folder whose process no longer runs.
void removeStaleTemporaries(const QString& folder);

// Makes SIGINT, SIGTERM and SIGHUP remove the temporaries in flight before the process ends by
// that signal (a shell sees status 128 + signal). Call once, first thing in main, before any
// thread starts: the signals are blocked in every thread and taken by one watcher thread.
// Signals the process was started with ignored (nohup) stay ignored.
void cleanUpTemporariesOnSignals();
