// The progress line fitted to every terminal width.
#include <gtest/gtest.h>

#include <string>

#include "progress_bar.h"

namespace {

std::size_t columns(const std::string& text) {
    std::size_t count = 0;
    for (char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

}  // namespace

TEST(ProgressLine, FitsEveryWidth) {
    const progress_bar bar(200, false);
    const std::string name = "/photos/" + std::string(40, 'x') + "-\xc3\xa9t\xc3\xa9.jpg";
    for (std::size_t width = 0; width <= 140; ++width) {
        const std::string line = bar.line(57, name, 95.0, width);
        EXPECT_LT(columns(line), std::max<std::size_t>(width, 1)) << width << ": " << line;
        // Cut names still end with the file's own end, on a character boundary.
        const std::size_t dots = line.find("  ...");
        if (dots != std::string::npos) {
            EXPECT_EQ(line.substr(line.size() - 4), ".jpg");
        }
    }
}

TEST(ProgressLine, ShowsCountsElapsedTimeLeftAndTheFile) {
    const progress_bar bar(200, false);
    EXPECT_EQ(bar.line(50, "dir/a.jpg", 65.0, 100),
              "[#######.......................] 50/200  1:05  ETA 3:15  a.jpg");
    EXPECT_EQ(bar.line(0, "a.jpg", 0.4, 100), "[..............................] 0/200  0:00  a.jpg");
    EXPECT_EQ(bar.line(200, "", 130.0, 100), "[##############################] 200/200  2:10");
    // Bytes that would steer the terminal are shown as '?'.
    EXPECT_EQ(bar.line(0, "a\x1b[2J\n.jpg", 0, 100), "[..............................] 0/200  0:00  a?[2J?.jpg");
    // Narrow: a shorter bar, then a shorter name, then no bar.
    EXPECT_EQ(bar.line(50, "abcdefghij.jpg", 65.0, 48), "[##........] 50/200  1:05  ETA 3:15  ...hij.jpg");
    EXPECT_EQ(bar.line(50, "abcdefghij.jpg", 65.0, 25), "50/200  1:05  ETA 3:15");
}
