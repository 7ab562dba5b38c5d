#pragma once

// The one table of the formats the converter reads (pack, info) and writes (unpack), and the
// door every input passes through.
//
// Adding a format takes:
//   - its reader, a file of its own in this folder, giving bare reasons (the door names the
//     input; a reason about another file is made with otherFileMessage);
//   - its entry in inputFormats() (formattable.cpp), with the MIME types of its files where the
//     desktop should offer Tessary for them;
//   - its row of a small valid file, and its hostile files, in tests/formats_test.cpp;
//   - its fuzz target, fuzz/NAME_fuzzer.cpp, and its line in fuzz/targets.txt;
//   - its seed files, written by make-corpus (fixtures/) through its writer there.
// formats_test fails while an entry has no row there, no line in fuzz/targets.txt, or a suffix
// that its MIME types leave out.

#include "slicestream.h"
#include "typedsource.h"

#include <QStringList>

#include <string>
#include <vector>

// A format unpack writes: its suffixes (none: a folder) and its sink of N x N x N RGB.
struct FormatSink {
    std::vector<std::string> suffixes;
    const char* help = nullptr; // unpack --help's words about it
    std::string (*open)(const QString& path, int n, SliceSink* sink) = nullptr;
};

// The parts of an input that pack's --series, --volume and --dataset pick, where a format
// holds several.
enum InputPicks : unsigned { picksNone = 0, picksSeries = 1, picksVolume = 2, picksDataset = 4 };

// A kind of file the desktop opens with Tessary: its MIME type, and the globs it is known by.
// A type with a comment is the package's own shared MIME definition; one without is the shared
// MIME database's, whose globs for it are listed so that a test can check them against it.
struct MimeType {
    const char* name;
    const char* comment = nullptr;
    std::vector<std::string> suffixes = {}; // as InputFormat's: a glob "*.SUFFIX" each
    const char* subClassOf = nullptr;
    const char* magic = nullptr; // the bytes a file of the type starts with at magicOffset
    int magicOffset = 0;
};

struct InputFormat {
    const char* name;                  // as users see it, in "pack reads ..."
    const char* help;                  // pack --help's words about it, with its suffixes
    std::vector<std::string> suffixes; // lower case, without the leading dot ("nii.gz")
    // Whether the file's first bytes (as many as it has, up to firstBytesLength) carry the
    // format's mark; null where it has none.
    bool (*marked)(const std::string& start);
    // Opens one input as a typed source with bare reasons; the door does the rest.
    std::string (*open)(const QString& path, const InputSelection& selection, TypedSource* source);
    // What info prints of an input it refuses, where the user has to pick a part; or null.
    void (*printChoices)(const QString& path);
    FormatSink sink;        // open null where unpack does not write the format
    const char* fuzzTarget; // its line in fuzz/targets.txt
    // Whether the format takes an input by what it is (a folder of its layout, a .zip of one, a
    // URL), before any suffix or mark is looked at; null where suffixes and marks tell.
    bool (*claims)(const QString& path) = nullptr;
    // The parts the options may pick (InputPicks): an option for a part the format does not
    // have is refused, never ignored.
    unsigned picks = picksNone;
    // The MIME types of its files; none where the desktop should not offer Tessary for them
    // (pictures, raw bytes). They cover every suffix but those left to other programs' files
    // (a .xml, a .map), by which the desktop never offers Tessary.
    std::vector<MimeType> mimeTypes = {};
    std::vector<std::string> unclaimedSuffixes = {};
};

// How many first bytes the marks are looked for in.
const std::size_t firstBytesLength = 352;

// Every format, in the order users read them.
const std::vector<InputFormat>& inputFormats();

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
