#include "zarrbench.h"

#include "allocator.h"

#include "fileserver.h"
#include "memory.h"
#include "pyramids.h"

#include "codecs/chunkcodecs.h"
#include "formattable.h"
#include "keystore.h"
#include "packplan.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <blosc.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
const int chunk = 64;
const int levels = 4;
const int timedRuns = 5;              // in each row, after its first run
const int roundTripMilliseconds = 20; // a server in the same region of a cloud, or across a city

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool writeLevel(const QDir& root, int level, int side) {
    const int cells = (side + chunk - 1) / chunk;
    const QString folder = QString::number(level);
    root.mkpath(folder);
    QFile meta(root.filePath(folder + "/.zarray"));
    if (!meta.open(QIODevice::WriteOnly))
        return false;
    meta.write(QString("{\"zarr_format\": 2, \"shape\": [%1, %1, %1], \"chunks\": [%2, %2, %2], "
                       "\"dtype\": \"<u2\", \"order\": \"C\", \"fill_value\": 0, \"filters\": "
                       "null, \"compressor\": {\"id\": \"blosc\", \"cname\": \"zstd\", "
                       "\"clevel\": 1, \"shuffle\": 1, \"blocksize\": 0}}")
                   .arg(side)
                   .arg(chunk)
                   .toUtf8());
    std::vector<std::uint16_t> samples(std::size_t(chunk) * chunk * chunk);
    std::vector<unsigned char> packed(samples.size() * 2 + BLOSC_MAX_OVERHEAD);
    for (int cz = 0; cz < cells; ++cz)
        for (int cy = 0; cy < cells; ++cy)
            for (int cx = 0; cx < cells; ++cx) {
                std::size_t i = 0;
                for (int z = 0; z < chunk; ++z)
                    for (int y = 0; y < chunk; ++y)
                        for (int x = 0; x < chunk; ++x)
                            samples[i++] = pyramidSample(level, cx * chunk + x, cy * chunk + y,
                                                         cz * chunk + z);
                const int size = blosc_compress_ctx(1, 1, 2, samples.size() * 2, samples.data(),
                                                    packed.data(), packed.size(), "zstd", 0, 1);
                QFile file(
                    root.filePath(QString("%1/%2.%3.%4").arg(level).arg(cz).arg(cy).arg(cx)));
                if (size <= 0 || !file.open(QIODevice::WriteOnly) ||
                    file.write(reinterpret_cast<const char*>(packed.data()), size) != size)
                    return false;
            }
    return true;
}

bool writePyramid(const QDir& root, int side) {
    QFile group(root.filePath(".zgroup")), attributes(root.filePath(".zattrs"));
    std::string datasets;
    for (int l = 0; l < levels; ++l)
        datasets += std::string(l ? ", " : "") + "{\"path\": \"" + std::to_string(l) +
                    "\", \"coordinateTransformations\": [{\"type\": \"scale\", \"scale\": [" +
                    std::to_string(1 << l) + ", " + std::to_string(1 << l) + ", " +
                    std::to_string(1 << l) + "]}]}";
    const std::string text = "{\"multiscales\": [{\"version\": \"0.4\", \"axes\": [\"z\", \"y\", "
                             "\"x\"], \"datasets\": [" +
                             datasets + "]}]}";
    if (!group.open(QIODevice::WriteOnly) || !attributes.open(QIODevice::WriteOnly))
        return false;
    group.write("{\"zarr_format\": 2}");
    attributes.write(text.c_str());
    for (int l = 0; l < levels; ++l)
        if (!writeLevel(root, l, side >> l))
            return false;
    return true;
}

// What the process has read through read() and pread() so far (/proc/self/io's rchar).
long long bytesReadSoFar() {
    QFile io("/proc/self/io");
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : io.readAll().split('\n'))
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toLongLong();
    return -1;
}

// What the loopback device has carried so far: over HTTP pack reads through sockets, which
// rchar does not count. Requests and TCP headers add a little.
long long loopbackBytesSoFar() {
    QFile counter("/sys/class/net/lo/statistics/rx_bytes");
    return counter.open(QIODevice::ReadOnly) ? counter.readAll().trimmed().toLongLong() : -1;
}

long long folderBytes(const QString& folder) {
    long long bytes = 0;
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden); it.hasNext();)
        bytes += QFileInfo(it.next()).size();
    return bytes;
}

// Decodes every chunk of the folder's level, as the reader would without anything else.
bool decodeAlone(const QString& folder) {
    std::vector<unsigned char> decoded(std::size_t(chunk) * chunk * chunk * 2);
    for (QDirIterator it(folder, QDir::Files); it.hasNext();) {
        QFile file(it.next());
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QByteArray bytes = file.readAll();
        if (!decodeChunk(ChunkCodec::Blosc, reinterpret_cast<const unsigned char*>(bytes.data()),
                         std::size_t(bytes.size()), decoded.data(), decoded.size())
                 .empty())
            return false;
    }
    return true;
}

// A TCP port nothing listens on now.
int freePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = -1;
    if (s >= 0 && bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (s >= 0)
        close(s);
    return port;
}

bool serverAnswers(int port) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(std::uint16_t(port));
    const bool answers =
        s >= 0 && ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (s >= 0)
        close(s);
    return answers;
}

// A row: the pack of location against decoding level2's chunks alone. The first pack starts from
// memory handed back to the system, as a converter process does: its time, peak and bytes read.
// Then timedRuns rounds each of the decoding alone and the pack, one after the other, so that both
// bests come from the same stretch of the machine's load: the best of each is the steady cost.
// windowHi < 0 packs with no --window, as a user does: a range pass, then the output's.
void printRow(const char* name, const QString& location, int size, const QString& level2,
              long long levelBytes, long long (*bytesSoFar)(), const char* target = "<=1.5",
              double windowHi = 4000, const char* readTarget = "<=1.1") {
    malloc_trim(0);
    resetPeakRss();
    const double before = kibToMb(procStatusKiB("VmRSS"));
    const long long readBefore = bytesSoFar();
    auto start = Clock::now();
    std::string failure = packDropped(location, size, windowHi);
    const double first = secondsSince(start);
    const double peak = kibToMb(procStatusKiB("VmHWM")) - before;
    const long long read = bytesSoFar() - readBefore;
    double seconds = 1e30, alone = 1e30;
    for (int run = 0; run < timedRuns && failure.empty(); ++run) {
        start = Clock::now();
        if (!decodeAlone(level2))
            failure = "level 2 does not decode alone";
        alone = std::min(alone, secondsSince(start));
        start = Clock::now();
        if (failure.empty())
            failure = packDropped(location, size, windowHi);
        seconds = std::min(seconds, secondsSince(start));
    }
    if (!failure.empty()) {
        std::printf("%-22s skipped: %s\n", name, failure.c_str());
        return;
    }
    std::printf("%-22s %9.3f %9.3f %6.2f %6s %6.3f %10.2f %6s %8.1f %6s\n", name, seconds, alone,
                seconds / alone, target, first, double(read) / double(levelBytes), readTarget, peak,
                "<=128");
}

// The CPU seconds a process has spent so far, user and system (/proc/PID/stat), or -1.
double cpuSecondsOf(qint64 pid) {
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // After the command's ")": the state, then 10 fields more before utime and stime.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

// The row over Python's file server, answering as a web server or object store does:
// connections kept open (HTTP/1.1) and each answer sent at once (no Nagle delay between header
// and body). Python serves each request on one core, beside the pack on this machine, and its
// own CPU time for a pack is most of the pack's time: no target, its CPU is printed instead.
void packOverPython(const QString& root, int size, const QString& level2, long long levelBytes) {
    const int port = freePort();
    QProcess server;
    const QString serve = QString("import functools, http.server as h\n"
                                  "class Files(h.SimpleHTTPRequestHandler):\n"
                                  "    disable_nagle_algorithm = True\n"
                                  "    def log_message(self, *args): pass\n"
                                  "h.test(functools.partial(Files, directory='%1'),\n"
                                  "       h.ThreadingHTTPServer, 'HTTP/1.1', %2, '127.0.0.1')\n")
                              .arg(root)
                              .arg(port);
    server.start("/usr/bin/python3", {"-c", serve});
    for (int wait = 0; wait < 100 && port > 0 && !serverAnswers(port); ++wait)
        QThread::msleep(50);
    if (port > 0 && serverAnswers(port)) {
        const double cpu = cpuSecondsOf(server.processId());
        printRow("HTTP, Python server", QString("http://127.0.0.1:%1/pyramid.zarr").arg(port), size,
                 level2, levelBytes, loopbackBytesSoFar, "-");
        std::printf("%-22s %9.3f  seconds of the server's own CPU a pack, on the same cores\n", "",
                    (cpuSecondsOf(server.processId()) - cpu) / (timedRuns + 1));
    } else
        std::printf("%-22s skipped: the Python file server did not start\n", "HTTP, Python server");
    server.terminate();
    server.waitForFinished(5000);
}
} // namespace

// Zarr v3's crc32c checksums over a buffer too large for the caches, against copying it, the
// bound of any pass over memory.
void benchmarkChecksums() {
    constexpr std::size_t bytes = std::size_t(256) << 20;
    std::vector<unsigned char> data(bytes), copy(bytes);
    for (std::size_t i = 0; i < bytes; ++i)
        data[i] = static_cast<unsigned char>(i * 2654435761u >> 24);
    const auto best = [](auto run) {
        double fastest = 1e30;
        for (int r = 0; r < timedRuns; ++r) {
            const auto start = Clock::now();
            run();
            fastest = std::min(fastest, secondsSince(start));
        }
        return fastest;
    };
    volatile std::uint32_t sink = 0;
    const double crc = best([&] { sink = crc32c(data.data(), bytes); });
    const double memcpyTime = best([&] { std::memcpy(copy.data(), data.data(), bytes); });
    std::printf("\ncrc32c (Zarr v3 checksums): %.1f GB/s; copying the same bytes %.1f GB/s; "
                "ratio %.2f (target: at least 5 GB/s)\n",
                bytes / crc / 1e9, bytes / memcpyTime / 1e9, memcpyTime / crc);
    (void)sink;
}

void benchmarkZarrPacking(int side) {
    benchmarkChecksums();
    keepFreedMemory(); // as the converter runs, for the pack and the reading alone
    QTemporaryDir scratch;
    scratch.setAutoRemove(qEnvironmentVariableIsEmpty("TESSARY_BENCH_KEEP"));
    if (!scratch.autoRemove())
        std::printf("inputs kept in %s\n", qPrintable(scratch.path()));
    const QDir dir(scratch.path());
    const QString store = dir.filePath("pyramid.zarr");
    const int size = side / 4;
    std::printf(
        "\nPacking a %d^3 uint16 OME-Zarr (4 levels, blosc-zstd chunks of %d^3, written "
        "here) with --size %d --window 0,4000 (rows 'no --window': a range pass first), the "
        "slices dropped rather than written: seconds "
        "(best of %d after a first run, whose time is 'first') against decoding level 2's chunks "
        "alone (best of %d, each run just before one of the pack's), bytes read (over HTTP: "
        "carried by the loopback device) against level 2's stored bytes, peak MB above what the "
        "process held\n",
        side, chunk, size, timedRuns, timedRuns);
    const auto start = Clock::now();
    if (!dir.mkpath("pyramid.zarr") || !writePyramid(QDir(store), side)) {
        std::printf("zarr FAILED: can't write %s\n", qPrintable(store));
        return;
    }
    std::printf("written in %.1f s\n", secondsSince(start));
    sync(); // the writing's write-back done, not running beside the reads timed
    const QString level2 = QDir(store).filePath("2");
    const long long levelBytes = folderBytes(level2);
    std::printf("%-22s %9s %9s %6s %6s %6s %10s %6s %8s %6s\n", "row", "seconds", "alone", "ratio",
                "target", "first", "read/level", "target", "peak MB", "target");
    printRow("pack from the folder", store, size, level2, levelBytes, bytesReadSoFar);
    printRow("folder, no --window", store, size, level2, levelBytes, bytesReadSoFar, "<=1.3", -1,
             "<=1.02");

    packOverPython(scratch.path(), size, level2, levelBytes);
    // The same behind a server that costs next to nothing, as a web server or object store on
    // its own machine: what is left is the reader's own cost.
    const LoopbackFileServer files(scratch.path());
    if (files.port() > 0)
        printRow("HTTP, sendfile server",
                 QString("http://127.0.0.1:%1/pyramid.zarr").arg(files.port()), size, level2,
                 levelBytes, loopbackBytesSoFar);
    if (files.port() > 0)
        printRow("HTTP, no --window", QString("http://127.0.0.1:%1/pyramid.zarr").arg(files.port()),
                 size, level2, levelBytes, loopbackBytesSoFar, "<=1.3", -1, "<=1.02");
    else
        std::printf("%-22s skipped: the server could not listen\n", "HTTP, sendfile server");
    // The same server a round trip away: requests kept in flight at once wait out their delays
    // together. No target: the time is the delays' more than the reader's.
    const LoopbackFileServer distant(scratch.path(), roundTripMilliseconds);
    const std::string away = "HTTP, " + std::to_string(roundTripMilliseconds) + " ms away";
    if (distant.port() > 0)
        printRow(away.c_str(), QString("http://127.0.0.1:%1/pyramid.zarr").arg(distant.port()),
                 size, level2, levelBytes, loopbackBytesSoFar, "-");
}
