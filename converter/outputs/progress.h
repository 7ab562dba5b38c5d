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
    int pass = 0, passes = 1; // this pass's place in its job, and the job's passes
    bool terminal = false;    // whether standard error is a terminal
    bool shown = false;       // whether a bar has been drawn, so finishing ends its line
    int drawnPercent = -1;
    std::chrono::steady_clock::time_point start;
};

// A job of several passes over the input (the range of its values, then the output) shows one
// bar from its start to its end, each pass taking its share and the job's label; a pass
// outside a job has a bar of its own. Jobs do not nest.
void startJob(const std::string& label, int passes);
// Ends the job's bar, when one was drawn; the passes after it have their own again.
void endJob();

Progress startProgress(const std::string& label, std::int64_t total);
void advanceProgress(Progress* progress, std::int64_t done);
// Ends the bar's line when one was drawn.
void finishProgress(Progress* progress);
