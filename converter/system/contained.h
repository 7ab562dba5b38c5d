#pragma once

// Work that runs third-party parsers, run contained: in a child process with an address-space
// limit and a time limit, so that a crash, a memory bomb or an endless loop in a library ends
// the child, never the program. The result comes back to the parent through a pipe.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct ContainmentLimits {
    std::uint64_t memoryBytes = 0; // the child's address space; 0: no limit
    int seconds = 0;               // CPU time (wall clock: 3 times that); 0: no limit
};

// How contained work ended.
enum class ContainedEnd { Done, Refused, Crashed, OutOfMemory, TimedOut };

struct ContainedResult {
    ContainedEnd end = ContainedEnd::Crashed;
    std::vector<unsigned char> bytes; // Done: what the work produced
    std::string message;              // Refused: the work's message; Crashed: what ended it
};

// What the work does in the child: fills *bytes and returns "", or returns a refusal.
using ContainedWork = std::function<std::string(std::vector<unsigned char>* bytes)>;

// Runs work in a forked child under the limits and waits for it. The child writes nothing to
// the terminal and leaves no core file; it runs only the work (no Qt, no other threads) and
// ends with _exit. Running out of memory (operator new failing) ends it as OutOfMemory at once,
// before any library can report or survive it. The time limit counts the child's CPU time
// (RLIMIT_CPU), so other work on the machine does not end it; a child still running after three
// times the limit on the wall clock (one that sleeps or waits) is killed too. Both are TimedOut.
ContainedResult runContained(const ContainedWork& work, const ContainmentLimits& limits);

// Kills the children that contained work runs in now, for a converter that is ending: a child
// also ends by itself when its parent is gone.
void endContainedChildren();

// The default address-space limit: the smaller of 4 GiB and half the memory the system has
// available (4 GiB when that is unknown).
std::uint64_t defaultMemoryLimit();

// A size for messages: "4 GB" for whole gibibytes, else "300 MB".
[[nodiscard]] std::string memorySizeText(std::uint64_t bytes);

// Whether this build can limit the address space: AddressSanitizer reserves terabytes of
// shadow memory up front, so a sanitized build runs the child without that limit.
bool addressSpaceLimitWorks();
