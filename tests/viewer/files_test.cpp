#include "files.h"
#include "testsupport.h"

// Reading a directory gives nonsense sizes, and opening a FIFO nobody writes to waits forever:
// only regular files open for reading, at once.
TEST(FilesTest, OpensOnlyRegularFilesForReading) {
    ScratchDir dir;
    writeFile("file", "x");
    makeNotAFile("folder", NotAFile::Directory);
    makeNotAFile("fifo", NotAFile::Fifo);
    EXPECT_TRUE(openFile("file", "rb"));
    for (const char* path : {"folder", "fifo", "missing"})
        EXPECT_FALSE(openFile(path, "rb")) << path;
}
