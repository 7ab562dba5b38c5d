#pragma once

// The file access Assimp gets for a model from a user. The model and every file it names (an
// OBJ's material library, a glTF's buffers and images, ...) are opened only when they are
// regular files, without blocking on a FIFO, and only inside the model's own folder or below
// it, with `..` and symbolic links resolved.

#include <assimp/IOStream.hpp>
#include <assimp/IOSystem.hpp>

#include <string>
#include <vector>

// An Assimp::IOSystem (Assimp needs a class) confined to one model's folder. Read-only: opening
// for writing fails.
class ModelFolderIO : public Assimp::IOSystem {
public:
    // modelPath is the file handed to the importer; its folder (canonical) is the confinement.
    explicit ModelFolderIO(const std::string& modelPath);

    // Whether Open would give a stream for the path (nothing is recorded).
    bool Exists(const char* path) const override;
    char getOsSeparator() const override { return '/'; }
    // A stream over the file, or null when it is missing, not a regular file, outside the
    // folder, or the mode writes. A refusal other than a missing file is recorded (refusal()).
    Assimp::IOStream* Open(const char* path, const char* mode = "rb") override;
    void Close(Assimp::IOStream* stream) override;

    // "" or the first refusal of a file that exists: "names NAME, which is not a regular
    // file" or "names NAME, outside the model's folder".
    std::string refusal() const { return refusals.empty() ? std::string() : refusals.front(); }
    // Takes back the refusals since the latest Open that gave a stream (Assimp tries a few
    // spellings of a name): the importer went on without a file it can do without, such as an
    // OBJ's material library. Returns the first of them, or "".
    std::string forgiveLatestRefusals();
    // From now on gives no stream for a material library (a .mtl file), as if it were missing.
    void withholdMaterialLibraries() { withholding = true; }
    // Whether a stream was given for a material library.
    bool openedMaterialLibrary() const { return materialLibraryOpened; }

private:
    // Opens a regular file inside the folder; -1 and, when it exists, the reason otherwise.
    int openConfined(const char* path, std::string* reason) const;

    std::string folder; // canonical, without a trailing '/'
    std::string model;  // the model's own canonical path (it may be a link to elsewhere)
    std::vector<std::string> refusals;
    std::size_t sinceOpened = 0; // refusals before it came before the latest stream
    bool withholding = false, materialLibraryOpened = false;
};
