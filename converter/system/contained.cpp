#include "contained.h"
#include "sanitized.h"

#include "systemmemory.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>

namespace {
// The first byte the child writes says how the work ended.
const char doneTag = 'D', refusedTag = 'R', memoryTag = 'M';
// The child's exit status when operator new fails (it may have no memory left to say so).
const int memoryExit = 3;
int memoryPipe = -1; // the child's write end, for the new handler
// The wall-clock backstop, in multiples of the CPU-time limit.
const int wallBackstop = 3;
// The children running now, for endContainedChildren; 0 marks a free slot.
std::atomic<pid_t> runningChildren[16];

void trackChild(pid_t child, bool running) {
    for (std::atomic<pid_t>& slot : runningChildren) {
        pid_t expected = running ? 0 : child;
        if (slot.compare_exchange_strong(expected, running ? child : 0))
            return;
    }
}

// The child ends with its parent, however the parent ends (SIGKILL included), and takes the
// signals the parent's watcher thread had blocked.
void bindToParent(pid_t parent) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) // the parent ended before the binding
        _exit(1);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

bool writeAll(int fd, const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        size -= std::size_t(written);
    }
    return true;
}

double cpuSeconds(const rusage& usage) {
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Ends the child as soon as an allocation fails: the tag needs no memory.
void outOfMemory() {
    writeAll(memoryPipe, &memoryTag, 1);
    _exit(memoryExit);
}

[[noreturn]] void runChild(const ContainedWork& work, const ContainmentLimits& limits, int out) {
    // Nothing the libraries print (glibc's heap checks, terminate's message) reaches the
    // terminal: the parent prints the one line.
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
    }
    signal(SIGPIPE, SIG_IGN);
    const rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    if (limits.memoryBytes > 0 && addressSpaceLimitWorks()) {
        const rlimit space = {limits.memoryBytes, limits.memoryBytes};
        setrlimit(RLIMIT_AS, &space);
    }
    if (limits.seconds > 0) { // SIGXCPU at the limit; SIGKILL a second later if caught
        const rlimit cpu = {rlim_t(limits.seconds), rlim_t(limits.seconds) + 1};
        setrlimit(RLIMIT_CPU, &cpu);
    }
    memoryPipe = out;
    std::set_new_handler(outOfMemory);
    std::vector<unsigned char> bytes;
    std::string refusal;
    try {
        refusal = work(&bytes);
    } catch (const std::bad_alloc&) {
        outOfMemory();
    } catch (const std::exception& error) {
        refusal = error.what();
    }
    if (refusal.empty()) {
        writeAll(out, &doneTag, 1);
        writeAll(out, bytes.data(), bytes.size());
    } else {
        writeAll(out, &refusedTag, 1);
        writeAll(out, refusal.data(), refusal.size());
    }
    _exit(0);
}
} // namespace

bool addressSpaceLimitWorks() {
#ifdef TESSARY_ASAN
    return false;
#else
    return true;
#endif
}

void endContainedChildren() {
    for (std::atomic<pid_t>& slot : runningChildren) {
        const pid_t child = slot.load();
        if (child > 0)
            kill(child, SIGKILL);
    }
}

std::uint64_t defaultMemoryLimit() {
    const std::uint64_t fourGiB = std::uint64_t(4) << 30;
    const std::int64_t available = availableMemory();
    return available > 0 ? std::min(fourGiB, std::uint64_t(available) / 2) : fourGiB;
}

std::string memorySizeText(std::uint64_t bytes) {
    const std::uint64_t mib = std::uint64_t(1) << 20, gib = mib << 10;
    if (bytes % gib == 0)
        return std::to_string(bytes / gib) + " GB";
    return std::to_string((bytes + mib - 1) / mib) + " MB";
}

namespace {
// Reads what the child sends until it is gone; true when the wall-clock backstop passed first.
// The limit counts the child's CPU time, so a busy machine does not end a good import; the wall
// clock is only a backstop for a child that waits instead of working.
bool receiveFromChild(int fd, int seconds, std::vector<unsigned char>* received) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::seconds(std::int64_t(wallBackstop) * seconds);
    for (;;) {
        int wait = -1;
        if (seconds > 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0)
                return true;
            wait = int(std::min<long long>(left, 1000));
        }
        pollfd reader = {fd, POLLIN, 0};
        const int ready = poll(&reader, 1, wait);
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready <= 0)
            continue;
        unsigned char chunk[65536];
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false; // the child is gone
        received->insert(received->end(), chunk, chunk + got);
    }
}

// How the child ended, from its status, its CPU time and what it sent.
ContainedResult judgeChild(int status, const rusage& usage, bool timedOut,
                           const std::vector<unsigned char>& received,
                           const ContainmentLimits& limits) {
    ContainedResult result;
    // A child that caught SIGXCPU ends by the hard limit's SIGKILL.
    const bool cpuSpent = limits.seconds > 0 && cpuSeconds(usage) >= limits.seconds;
    const bool exited = WIFEXITED(status);
    const char tag = received.empty() ? '\0' : char(received[0]);
    if (timedOut || (WIFSIGNALED(status) && (WTERMSIG(status) == SIGXCPU || cpuSpent))) {
        result.end = ContainedEnd::TimedOut;
    } else if (tag == memoryTag || (exited && WEXITSTATUS(status) == memoryExit)) {
        result.end = ContainedEnd::OutOfMemory;
    } else if (exited && WEXITSTATUS(status) == 0 && (tag == doneTag || tag == refusedTag)) {
        result.end = tag == doneTag ? ContainedEnd::Done : ContainedEnd::Refused;
        if (tag == doneTag)
            result.bytes.assign(received.begin() + 1, received.end());
        else
            result.message.assign(received.begin() + 1, received.end());
    } else {
        result.end = ContainedEnd::Crashed;
        result.message = WIFSIGNALED(status) ? strsignal(WTERMSIG(status))
                                             : "exit status " + std::to_string(status);
    }
    return result;
}
} // namespace

ContainedResult runContained(const ContainedWork& work, const ContainmentLimits& limits) {
    ContainedResult result;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        result.message = "can't start a process";
        return result;
    }
    std::fflush(nullptr); // nothing buffered is written twice
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) {
        ::close(ends[0]);
        ::close(ends[1]);
        result.message = "can't start a process";
        return result;
    }
    if (child == 0) {
        bindToParent(parent);
        ::close(ends[0]);
        runChild(work, limits, ends[1]);
    }
    trackChild(child, true);
    ::close(ends[1]);
    std::vector<unsigned char> received;
    const bool timedOut = receiveFromChild(ends[0], limits.seconds, &received);
    ::close(ends[0]);
    if (timedOut)
        kill(child, SIGKILL);
    int status = 0;
    rusage usage = {};
    while (wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    trackChild(child, false);
    return judgeChild(status, usage, timedOut, received, limits);
}
