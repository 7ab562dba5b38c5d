#include "progress.h"

#include <unistd.h>

#include <cstdio>

namespace {
const auto delay = std::chrono::milliseconds(500);
const int barWidth = 40;
} // namespace

Progress startProgress(const std::string& label, std::int64_t total) {
    Progress progress;
    progress.label = label;
    progress.total = total > 0 ? total : 1;
    progress.terminal = isatty(STDERR_FILENO) == 1;
    progress.start = std::chrono::steady_clock::now();
    return progress;
}

void advanceProgress(Progress* progress, std::int64_t done) {
    if (!progress->terminal || std::chrono::steady_clock::now() - progress->start < delay)
        return;
    const int percent = int(done * 100 / progress->total);
    if (percent == progress->drawnPercent) // redraw only when the figure changes
        return;
    const int filled = percent * barWidth / 100;
    std::fprintf(stderr, "\r%s [%s%s] %3d%%", progress->label.c_str(),
                 std::string(std::size_t(filled), '#').c_str(),
                 std::string(std::size_t(barWidth - filled), ' ').c_str(), percent);
    std::fflush(stderr);
    progress->drawnPercent = percent;
    progress->shown = true;
}

void finishProgress(Progress* progress) {
    if (progress->shown)
        std::fputc('\n', stderr);
    progress->shown = false;
}
