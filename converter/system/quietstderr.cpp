#include "quietstderr.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>

namespace {
std::mutex quietMutex;
int quietCount = 0;
int savedStderr = -1;
} // namespace

QuietStderr::QuietStderr() {
    std::lock_guard<std::mutex> lock(quietMutex);
    if (quietCount++ > 0)
        return;
    std::fflush(stderr);
    savedStderr = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0 && savedStderr >= 0)
        dup2(null, STDERR_FILENO);
    if (null >= 0)
        close(null);
}

QuietStderr::~QuietStderr() {
    std::lock_guard<std::mutex> lock(quietMutex);
    if (--quietCount > 0 || savedStderr < 0)
        return;
    std::fflush(stderr);
    dup2(savedStderr, STDERR_FILENO);
    close(savedStderr);
    savedStderr = -1;
}
