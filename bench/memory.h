#pragma once

// The process's resident memory as Linux reports it, for the benchmark's memory figures.
// Megabytes are 10^6 bytes.

// A "Vm...:  1234 kB" line of /proc/self/status (key without the colon) in KiB; -1 when absent.
long procStatusKiB(const char* key);

// The peak resident memory of the whole run (getrusage), in KiB; never reset.
long maxRssKiB();

// Resets VmHWM to the current RSS (Linux 4.0 and later), so a stage's own peak can be read.
bool resetPeakRss();

double kibToMb(long kib);
