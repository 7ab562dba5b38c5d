#pragma once

// How the converter's process allocates: set once, before any work, by every program that packs
// (the converter, and the benchmark that times its packs in its own process).

#include <cstddef>

// Slices and decoded files are allocated and freed again for every slice, often on another
// thread: memory freed is kept for the next one rather than handed back to the system and
// faulted in, zeroed, again. Blocks of up to 64 MB come from the heap; up to 256 MB of free
// heap is kept.
void keepFreedMemory();

// Maps in every page of [start, start + bytes) for writing in one call, where writing them would
// fault them in one by one: for a large buffer about to be written whole. Changes no byte. A
// kernel without the call (before Linux 5.14) leaves the pages to fault as before.
void populateForWriting(void* start, std::size_t bytes);
