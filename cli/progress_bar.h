// The one-line progress display of a batch run: a bar, files done of total,
// the time elapsed, the time left and the file in hand, redrawn in place on
// stderr. The line is fitted to the terminal's width at every redraw (the bar
// shrinks, then the file name, then the bar goes), so it never wraps, however
// narrow the window is made. Drawn only when enabled (the caller enables it
// for a terminal); otherwise every call does nothing.
#ifndef IMGFILTER_CLI_PROGRESS_BAR_H
#define IMGFILTER_CLI_PROGRESS_BAR_H

#include <chrono>
#include <cstddef>
#include <string>

class progress_bar {
public:
    progress_bar(std::size_t total, bool enabled);
    // Also called while nothing finishes, so the clock moves. current is the
    // file being worked on (empty when none).
    void draw(std::size_t done, const std::string& current = std::string());
    void finish();  // ends the line, leaving the final state visible
    // Minutes and seconds since construction, "m:ss".
    void format_elapsed(char* text, std::size_t size) const;

    // The line for a terminal of the given width (without the carriage return
    // and the erase sequence); fewer than width visible characters.
    std::string line(std::size_t done, const std::string& current, double elapsed_seconds, std::size_t width) const;

private:
    std::size_t total_;
    bool enabled_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_;
};

#endif
