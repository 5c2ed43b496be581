#include "progress_bar.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr std::size_t k_bar_width = 30;
constexpr std::size_t k_min_bar_width = 10;
constexpr std::size_t k_default_columns = 80;

std::string minutes_seconds(double seconds) {
    const long long whole = static_cast<long long>(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

// Terminal columns a UTF-8 text takes, counting a character as one column.
std::size_t columns(const std::string& text) {
    std::size_t count = 0;
    for (const char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    return count;
}

// The file's name for the screen: its last path component, with bytes that
// would move the cursor or start an escape sequence shown as '?'.
std::string printable_name(const std::string& path) {
    std::string name = path.substr(path.rfind('/') + 1);
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return name;
}

// The end of name within at most room columns, "..." marking the cut; empty
// when too little of it would be left to recognise.
std::string name_end(const std::string& name, std::size_t room) {
    if (columns(name) <= room) return name;
    if (room < 8) return {};
    std::size_t cut = 0, kept = columns(name);
    while (kept > room - 3) {
        ++cut;
        while (cut < name.size() && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) ++cut;
        --kept;
    }
    return "..." + name.substr(cut);
}

std::size_t terminal_columns() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    if (const char* env = std::getenv("COLUMNS")) {
        const long parsed = std::strtol(env, nullptr, 10);
        if (parsed > 0 && parsed < 10000) return static_cast<std::size_t>(parsed);
    }
    return k_default_columns;
}

}  // namespace

progress_bar::progress_bar(std::size_t total, bool enabled)
    : total_(total), enabled_(enabled), start_(std::chrono::steady_clock::now()) {}

void progress_bar::format_elapsed(char* text, std::size_t size) const {
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start_).count();
    std::snprintf(text, size, "%lld:%02lld", static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
}

std::string progress_bar::line(std::size_t done, const std::string& current, double elapsed_seconds,
                               std::size_t width) const {
    // The last column stays free: writing there makes some terminals wrap.
    const std::size_t room = width > 1 ? width - 1 : 0;
    std::string counts = std::to_string(done) + "/" + std::to_string(total_) + "  " + minutes_seconds(elapsed_seconds);
    if (done > 0 && done < total_)
        counts += "  ETA " + minutes_seconds(elapsed_seconds * static_cast<double>(total_ - done) / done);
    std::string name = current.empty() ? std::string() : printable_name(current);

    // Shrink the bar first, then the name, then leave the bar out.
    std::size_t bar_width = k_bar_width;
    const auto length = [&] { return (bar_width ? bar_width + 3 : 0) + counts.size() + (name.empty() ? 0 : 2 + columns(name)); };
    if (length() > room) bar_width -= std::min(length() - room, k_bar_width - k_min_bar_width);
    if (length() > room && !name.empty()) {
        const std::size_t over = length() - room;
        name = columns(name) > over ? name_end(name, columns(name) - over) : std::string();
    }
    if (length() > room) bar_width = 0;
    if (length() > room) {
        name.clear();
        counts.resize(std::min(counts.size(), room));
    }

    std::string text;
    if (bar_width) {
        const std::size_t filled = total_ ? done * bar_width / total_ : bar_width;
        text = "[" + std::string(filled, '#') + std::string(bar_width - filled, '.') + "] ";
    }
    text += counts;
    if (!name.empty()) text += "  " + name;
    return text;
}

void progress_bar::draw(std::size_t done, const std::string& current) {
    if (!enabled_) return;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    // Carriage return and erase-to-end-of-line: the bar overwrites itself.
    std::fprintf(stderr, "\r%s\033[K", line(done, current, elapsed, terminal_columns()).c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void progress_bar::finish() {
    if (!drawn_) return;
    std::fputc('\n', stderr);
    std::fflush(stderr);
}
