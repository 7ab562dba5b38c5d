#include "progress.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {
const auto delay = std::chrono::milliseconds(500);
const int barWidth = 40;
// The bar's own copy of standard error, taken before main: slice readers point standard error
// at /dev/null while pictures decode (libpng prints there), and the bar must still show.
std::FILE* const bar = [] {
    const int copy = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    std::FILE* stream = copy >= 0 ? fdopen(copy, "w") : nullptr;
    return stream ? stream : stderr;
}();

// The job under way, if any: its passes share one bar.
struct Job {
    bool active = false;
    std::string label;
    int passes = 1, started = 0;
    bool shown = false;
    std::chrono::steady_clock::time_point start;
} job;
} // namespace

void startJob(const std::string& label, int passes) {
    job = Job{true, label, passes > 0 ? passes : 1, 0, false, std::chrono::steady_clock::now()};
}

void endJob() {
    if (job.shown)
        std::fputc('\n', bar);
    std::fflush(bar);
    job = Job();
}

Progress startProgress(const std::string& label, std::int64_t total) {
    Progress progress;
    progress.label = job.active ? job.label : label;
    progress.total = total > 0 ? total : 1;
    progress.terminal = isatty(STDERR_FILENO) == 1;
    progress.start = job.active ? job.start : std::chrono::steady_clock::now();
    if (job.active) {
        progress.passes = job.passes;
        progress.pass = std::min(job.started++, job.passes - 1);
        progress.drawnPercent = progress.pass * 100 / progress.passes - 1;
    }
    return progress;
}

void advanceProgress(Progress* progress, std::int64_t done) {
    if (!progress->terminal || std::chrono::steady_clock::now() - progress->start < delay)
        return;
    const int percent =
        int((progress->pass * 100 + done * 100 / progress->total) / progress->passes);
    if (percent == progress->drawnPercent) // redraw only when the figure changes
        return;
    const int filled = percent * barWidth / 100;
    std::fprintf(bar, "\r%s [%s%s] %3d%%", progress->label.c_str(),
                 std::string(std::size_t(filled), '#').c_str(),
                 std::string(std::size_t(barWidth - filled), ' ').c_str(), percent);
    std::fflush(bar);
    progress->drawnPercent = percent;
    progress->shown = true;
    job.shown = job.shown || job.active;
}

void finishProgress(Progress* progress) {
    if (progress->shown && !job.active) // a job's bar goes on into its next pass
        std::fputc('\n', bar);
    std::fflush(bar);
    progress->shown = false;
}
