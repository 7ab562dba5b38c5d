#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// A progress bar on standard error for work that may take a while. It appears only when
// standard error is a terminal and the work has already run longer than about half a second,
// so quick runs, pipes and logs stay quiet.
struct Progress {
    std::string label;
    std::int64_t total = 0;
    bool terminal = false; // whether standard error is a terminal
    bool shown = false;    // whether a bar has been drawn, so finishing ends its line
    int drawnPercent = -1;
    std::chrono::steady_clock::time_point start;
};

Progress startProgress(const std::string& label, std::int64_t total);
void advanceProgress(Progress* progress, std::int64_t done);
// Ends the bar's line when one was drawn.
void finishProgress(Progress* progress);
