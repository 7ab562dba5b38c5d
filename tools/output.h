#pragma once

// Every output appears whole or not at all. It is written under a temporary name beside its
// final path, so the last step is a rename within one file system, and renamed into place once
// complete; a failure before that removes the temporary. QSaveFile does this for files written
// in one pass; the helpers here do it for files a library reads back while writing them (TIFF)
// and for folders.

#include <QSaveFile>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <memory>
#include <string>

// "PATH: message", the form of every message about a file, its control characters escaped
// (the path and the message may carry a file's own text).
std::string fileMessage(const QString& path, const std::string& message);

// "PATH: can't write: REASON", the message of every failed output.
std::string writeFailure(const QString& path, const QString& reason);

// Writes size bytes as the whole file at path through a QSaveFile; "" or the message.
std::string saveWholeFile(const QString& path, const char* bytes, qint64 size);

// Commits a QSaveFile opened on path; "" or the message.
std::string commitSaveFile(QSaveFile* file, const QString& path);

// A temporary file beside path, open for reading and writing, removed when it goes unless
// committed. Null, with the message in *failure, when it cannot be made.
std::unique_ptr<QTemporaryFile> openTemporaryFile(const QString& path, std::string* failure);
// Gives the finished file the permissions a new file gets and renames it onto path.
std::string commitTemporaryFile(QTemporaryFile* file, const QString& path);

// The same for a folder. The final path may be missing or an empty folder; anything else is
// refused before any work, so a user's files are never replaced.
std::unique_ptr<QTemporaryDir> makeTemporaryFolder(const QString& path, std::string* failure);
std::string commitTemporaryFolder(QTemporaryDir* folder, const QString& path);
