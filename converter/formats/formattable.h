#pragma once

// The one table of the formats the converter reads (pack, info) and writes (unpack), and the
// door every input passes through.
//
// Adding a format takes:
//   - its reader, a file of its own in this folder (a folder of its own, dicom/ say, where it
//     takes several files), giving bare reasons (the door names the input; a reason about
//     another file is made with otherFileMessage);
//   - its descriptor (inputformat.h), returned by a function its header declares and its own
//     file defines (NAMEInputFormat()), with the MIME types of its files where the desktop
//     should offer Tessary for them;
//   - one line in inputFormats() (formattable.cpp), where users should read it in the list;
//   - its row of a small valid file, and its hostile files, in tests/formats/formats_test.cpp;
//   - its fuzz target, fuzz/NAME_fuzzer.cpp, and its line in fuzz/targets.txt;
//   - its seed files, written by make-corpus (fixtures/) through its writer there;
//   - its section in docs/formats.md and its row in docs/converter.md's table; the README's and
//     the package's lists are written from the table by scripts/format-lists.sh.
// formats_test fails while an entry has no row there, no line in fuzz/targets.txt, or a suffix
// that its MIME types leave out.

#include "inputformat.h"

#include <QStringList>

#include <string>
#include <vector>

// Every format, in the order users read them.
const std::vector<InputFormat>& inputFormats();

// Their names in that order, as a sentence lists them ("A, B and C"): the list the README and
// the package description show (scripts/format-lists.sh writes it there).
std::string inputFormatList();

// The format that reads the input paths name: raw samples when selection states a --raw
// shape; else one the format claims (a Zarr folder or URL), a
// file by its suffix, else by its first bytes,
// else a picture Qt reads; one folder of slice pictures or several paths as slice pictures; a
// folder without slice pictures as a DICOM series. Null for anything else.
const InputFormat* inputFormatOf(const QStringList& paths,
                                 const InputSelection& selection = InputSelection());

// "pack reads slice pictures, multi-page TIFF, ...": what pack reads, in words.
[[nodiscard]] std::string packReads();

// Opens the input that paths name through the door: a single path must be a regular file or a
// folder, the reader's open and every read are guarded against exceptions, the sizes are
// checked once, and every reason comes back as "INPUT: reason", INPUT being the first path.
// selection picks a series or a volume of inputs that hold several. An input of no kind pack
// reads gives "PATH: unsupported format (pack reads ...)".
[[nodiscard]] std::string openPackInput(const QStringList& paths, const InputSelection& selection,
                                        TypedSource* source);

// The sink unpack writes to output with: a folder for no suffix (or an existing folder), else
// the format whose sink takes the suffix. Null when none does.
const FormatSink* sinkFor(const QString& output);

// "a folder, .tif, .tiff, .nrrd or .npy": what unpack writes, in words.
[[nodiscard]] std::string unpackWrites();
