// The one-line progress display of a batch run: a bar, files done of total and
// the time elapsed, redrawn in place on stderr. Drawn only when enabled (the
// caller enables it for a terminal); otherwise every call does nothing.
#ifndef IMGFILTER_CLI_PROGRESS_BAR_H
#define IMGFILTER_CLI_PROGRESS_BAR_H

#include <chrono>
#include <cstddef>

class progress_bar {
public:
    progress_bar(std::size_t total, bool enabled);
    void draw(std::size_t done);  // also called while nothing finishes, so the clock moves
    void finish();                // ends the line, leaving the final state visible
    // Minutes and seconds since construction, "m:ss".
    void format_elapsed(char* text, std::size_t size) const;

private:
    std::size_t total_;
    bool enabled_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_;
};

#endif
