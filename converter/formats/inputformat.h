#pragma once

// What a format tells the table of formats (formattable.h): its names and suffixes, its mark,
// its reader, what info lists of it, its sink and its MIME types. Each format's own file
// returns its descriptor.

#include "slicestream.h"
#include "typedsource.h"

#include <QString>

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

// Whether start holds mark at byte at: the marks' test.
bool hasMarkAt(const std::string& start, std::size_t at, const std::string& mark);
