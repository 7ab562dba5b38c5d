#include "output.h"
#include "testruns.h"

#include <QImage>
#include <QProcess>
#include <QThread>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

namespace {
// The temporaries of this program's naming in the working directory.
QStringList temporaries() {
    return QDir(".").entryList({".*.tessary-*"}, QDir::AllEntries | QDir::Hidden);
}

// A .vol of N^3 black samples that takes no disk: the samples are a hole.
void writeSparseVolume(const char* path, int n) {
    writeFile(path, volumeFile(n, "black", {}));
    ASSERT_EQ(truncate(path, off_t(volumeLayout::headerSize + volumeSampleBytes(n))), 0);
}
} // namespace

TEST(OutputTest, OnlyARegularFileOrNothingIsReplacedAndNeverAnInput) {
    ScratchDir dir;
    writeFile("input.png", "picture");
    writeFile("plain.npy", "old");
    QDir().mkdir("folder");
    ASSERT_EQ(mkfifo("fifo.npy", 0600), 0);
    ASSERT_EQ(symlink("plain.npy", "link.npy"), 0);
    ASSERT_EQ(symlink("/dev/null", "null.npy"), 0);
    ASSERT_EQ(link("input.png", "hard.png"), 0);
    const QStringList inputs = {"input.png"};
    // Each path with its refusal, "" when it may be written.
    for (const auto& [path, refusal] : std::initializer_list<std::pair<const char*, const char*>>{
             {"missing.npy", ""},
             {"plain.npy", ""},
             {"folder", "a folder"},
             {"fifo.npy", "a FIFO"},
             {"/dev/null", "a device"},
             {"link.npy", "a symbolic link"},
             {"null.npy", "a symbolic link"},
             {"input.png", "it is one of the inputs"},
             {"hard.png", "it is one of the inputs"},
         }) {
        const std::string failure = checkOutputPath(path, inputs);
        const std::string expected =
            *refusal ? std::string(path) + ": can't write: " + refusal : "";
        EXPECT_EQ(failure.substr(0, expected.size()), expected);
        EXPECT_EQ(failure.empty(), expected.empty());
    }

    // Commands pass what they read: a picture beside the volume may not land on a slice.
    const QImage slice = filledPicture(2, 2, Qt::blue);
    ASSERT_TRUE(slice.save("a.png") && slice.save("b.png"));
    QDir().mkdir("scans");
    ASSERT_TRUE(slice.save("scans/s_0.png") && slice.save("scans/s_1.png"));
    writeFile("in.vol", volumeFile(2, "in", samplePattern(2)));
    ASSERT_EQ(link("in.vol", "same.npy"), 0);
    for (const QStringList& arguments : {
             QStringList{"pack", "a.png", "b.png", "-o", "b.vol", "--reference-slice", "0"},
             QStringList{"pack", "scans", "-o", "scans/s_1.vol", "--reference-slice", "0"},
             QStringList{"pack", "a.png", "b.png", "-o", "x.vol", "--reference", "b.png", "--name",
                         "b"},
             QStringList{"unpack", "in.vol", "-o", "same.npy"},
         }) {
        SCOPED_TRACE(arguments.join(" ").toStdString());
        expectRefusal(runTool(arguments), "", "can't write: it is one of the inputs");
    }
    EXPECT_EQ(QImage("scans/s_1.png"), slice.convertToFormat(QImage::Format_RGB32));
    EXPECT_EQ(QFileInfo("same.npy").size(), QFileInfo("in.vol").size());
    EXPECT_TRUE(temporaries().isEmpty());
}

TEST(OutputTest, SpaceAndWriteFailuresGiveTheFiguresAndTheReason) {
    ScratchDir dir;
    // One small picture padded to a cube would need 3 * 16384^3 bytes: refused before writing.
    ASSERT_TRUE(filledPicture(16384, 1, Qt::red).save("line.png"));
    expectRefusal(runTool({"pack", "line.png", "--pad", "-o", "out.vol"}),
                  "out.vol: needs 13.2 TB, ", "");
    EXPECT_FALSE(QFileInfo::exists("out.vol"));

    const int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    EXPECT_EQ(writeBytes(full, "x", 1), "no space left on device");
    close(full);
    EXPECT_TRUE(temporaries().isEmpty());
}

TEST(OutputTest, SignalsRemoveTheTemporaryAndALaterRunThoseOfAKilledOne) {
    ScratchDir dir;
    ensureApplication();
    writeSparseVolume("big.vol", 1024); // long enough to write that no busy machine finishes first
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
        SCOPED_TRACE(sig);
        QProcess process;
        process.start(tessaryVol(), {"unpack", "big.vol", "-o", "out"});
        ASSERT_TRUE(process.waitForStarted());
        // Signalled once its temporary holds a slice.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (temporaries().isEmpty() || QDir(temporaries()[0]).isEmpty()) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no temporary with a slice";
            QThread::msleep(5);
        }
        ASSERT_EQ(kill(pid_t(process.processId()), sig), 0);
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitStatus(), QProcess::CrashExit); // ended by the signal
        EXPECT_EQ(process.exitCode(), sig);
        EXPECT_EQ(temporaries().size(), sig == SIGKILL ? 1 : 0);
    }
    // The next run writing here removes the killed run's temporary, not that of a live process
    // (this test's), which may be another run still writing.
    const QString alive = QString(".x.npy.tessary-%1-abcDEF").arg(getpid());
    writeFile(alive.toStdString(), "in flight");
    writeFile("small.vol", volumeFile(2, "small", samplePattern(2)));
    EXPECT_EQ(runTool({"unpack", "small.vol", "-o", "small.npy"}).status, 0);
    EXPECT_EQ(temporaries(), QStringList{alive});
}

TEST(OutputTest, RunningOutOfMemoryIsOneLineNamingTheInput) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "AddressSanitizer needs more address space than the limit leaves";
#endif
    ScratchDir dir;
    writeSparseVolume("huge.vol", 16384); // slices of 805 MB: two do not fit the limit
    const ToolRun run = runTool({"unpack", "huge.vol", "-o", "out"}, 1500000);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "huge.vol: out of memory\n");
    EXPECT_TRUE(temporaries().isEmpty());
}

// The converter runs in the user's folders, among files it did not make: a file there named
// like a library it links is never loaded.
TEST(OutputTest, LibrariesAreNotLoadedFromTheWorkingFolder) {
    ScratchDir dir;
    for (const char* name : {"libc.so.6", "libstdc++.so.6", "libz.so.1", "libcurl.so.4",
                             "libhdf5_serial.so.103", "libQt6Core.so.6"})
        writeFile(name, "not a library");
    const ToolRun run = runTool({"--version"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("tessary-vol ", 0), 0u) << run.out;
}
