#pragma once

#include <cstdint>

// The memory the system can give without swapping (MemAvailable), in bytes; -1 when unknown.
std::int64_t availableMemory();
