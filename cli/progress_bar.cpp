#include "progress_bar.h"

#include <cstdio>

namespace {

constexpr int k_bar_width = 30;

}  // namespace

progress_bar::progress_bar(std::size_t total, bool enabled)
    : total_(total), enabled_(enabled), start_(std::chrono::steady_clock::now()) {}

void progress_bar::format_elapsed(char* text, std::size_t size) const {
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start_).count();
    std::snprintf(text, size, "%lld:%02lld", static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
}

void progress_bar::draw(std::size_t done) {
    if (!enabled_) return;
    const int filled = total_ ? static_cast<int>(done * k_bar_width / total_) : k_bar_width;
    char bar[k_bar_width + 1];
    for (int i = 0; i < k_bar_width; ++i) bar[i] = i < filled ? '#' : '.';
    bar[k_bar_width] = '\0';
    char elapsed[32];
    format_elapsed(elapsed, sizeof elapsed);
    // Carriage return and erase-to-end-of-line: the bar overwrites itself.
    std::fprintf(stderr, "\r[%s] %zu/%zu  %s\033[K", bar, done, total_, elapsed);
    std::fflush(stderr);
    drawn_ = true;
}

void progress_bar::finish() {
    if (!drawn_) return;
    std::fputc('\n', stderr);
    std::fflush(stderr);
}
