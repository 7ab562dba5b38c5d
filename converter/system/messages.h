#pragma once

// The form of the converter's messages about files.

#include <QString>

#include <string>

// path as messages and listings show it: an http(s) URL without its "user:password@" and
// without its query.
[[nodiscard]] std::string shownPath(const QString& path);

// The URL (of any scheme) with everything between "//" and the last "@" of its user information
// cut out, a password that holds a "/" included.
[[nodiscard]] std::string withoutUserInfo(const std::string& url);

// "PATH: message", the form of every message about a file, its control characters escaped
// (the path and the message may carry a file's own text).
[[nodiscard]] std::string fileMessage(const QString& path, const std::string& message);

// The door through which every reader's messages pass: a reader returns the bare reason, and
// the door makes it "INPUT: reason". A reason about another file than the input (a DICOM
// slice, a detached data file, a chunk of a store) is made with otherFileMessage and passes the
// door unchanged (without its mark). No reason ("") stays "".
[[nodiscard]] std::string otherFileMessage(const QString& path, const std::string& reason);
[[nodiscard]] std::string inputMessage(const QString& input, const std::string& reason);
