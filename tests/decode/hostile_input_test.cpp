// Damaged and crafted input files through every filter: truncated and
// bit-flipped JPEG, PNG and BMP files and BMPs of zero size (the regression
// files are replayed by regression_outcomes_test.cpp). No call may crash or
// leak (the sanitizer configuration checks both), and none may report success
// with an output that does not decode to the input's size.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "codec_files.h"
#include "filter_calls.h"
#include "imgfilter.h"
#include "stb_image.h"
#include "test_support.h"

namespace {

using bytes = std::vector<uint8_t>;

test_image gradient(int w, int h) {
    test_image image(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.set(x, y, {uint8_t(x * 19 + y), uint8_t(y * 23), uint8_t(255 - x * 7), uint8_t(128 + x + y)});
    return image;
}

class HostileInput : public ::testing::Test {
protected:
    scratch_dir dir;
    long successes = 0;
    long failures = 0;

    // Runs one filter on the bytes and checks the contract of its outcome.
    void check(const filter_call& call, const bytes& file, const std::string& what) {
        const std::string in = dir.path("in.bin");
        const std::string out = dir.path("out.png");
        ASSERT_TRUE(write_bytes(in, file));
        const int result = call.run(in.c_str(), out.c_str());
        const std::string message = imgfilter_last_error();
        if (result == 1) {
            ++successes;
            EXPECT_EQ(message, "") << what;
            int width = 0, height = 0, channels = 0;
            ASSERT_TRUE(stbi_info_from_memory(file.data(), int(file.size()), &width, &height, &channels)) << what;
            const test_image output = load_image(out);
            EXPECT_EQ(output.width, std::abs(width)) << what;
            EXPECT_EQ(output.height, std::abs(height)) << what;
            std::remove(out.c_str());
        } else {
            ++failures;
            EXPECT_EQ(result, 0) << what;
            EXPECT_EQ(message.rfind(std::string(call.name) + ": ", 0), 0u) << what << ": " << message;
            EXPECT_FALSE(file_exists(out)) << what;
        }
        EXPECT_EQ(list_dir(dir.root()).size(), 1u) << what;  // only the input: no temporary left
    }

    std::vector<std::pair<std::string, bytes>> valid_files() {
        const test_image image = gradient(13, 9);
        EXPECT_TRUE(write_png(dir.path("v.png"), image));
        EXPECT_TRUE(write_bmp(dir.path("v.bmp"), image));
        EXPECT_TRUE(write_jpg(dir.path("v.jpg"), image));
        std::vector<std::pair<std::string, bytes>> files = {
            {"png", read_bytes(dir.path("v.png"))},
            {"bmp", read_bytes(dir.path("v.bmp"))},
            {"jpeg", read_bytes(dir.path("v.jpg"))},
            {"progressive jpeg", read_bytes(std::string(IMGFILTER_TEST_DATA) + "/progressive.jpg")},
            {"grey progressive jpeg", read_bytes(std::string(IMGFILTER_TEST_DATA) + "/grey_progressive.jpg")},
            {"16-bit interlaced png", read_bytes(std::string(IMGFILTER_TEST_DATA) + "/rgba16_interlaced.png")},
            {"palette png", read_bytes(std::string(IMGFILTER_TEST_DATA) + "/palette_transparent.png")},
            {"8-bit palette bmp", read_bytes(std::string(IMGFILTER_TEST_DATA) + "/palette8.bmp")},
        };
        for (const char* name : {"v.png", "v.bmp", "v.jpg"}) std::remove(dir.path(name).c_str());
        return files;
    }
};

}  // namespace

TEST_F(HostileInput, TruncatedFiles) {
    const std::vector<filter_call>& filters = every_filter();
    size_t turn = 0;
    for (const auto& [kind, file] : valid_files()) {
        ASSERT_GT(file.size(), 60u) << kind;
        // Every length through the headers, then every 7th byte.
        for (size_t length = 1; length < file.size(); length += length < 64 ? 1 : 7) {
            const filter_call& call = filters[turn++ % filters.size()];
            check(call, bytes(file.begin(), file.begin() + long(length)),
                  kind + " cut to " + std::to_string(length) + " bytes, " + call.name);
        }
    }
    EXPECT_GT(failures, 0);
}

TEST_F(HostileInput, BitFlippedFiles) {
    const std::vector<filter_call>& filters = every_filter();
    std::mt19937 random(20261209);
    size_t turn = 0;
    for (const auto& [kind, file] : valid_files()) {
        for (int round = 0; round < 150; ++round) {
            bytes damaged = file;
            const int flips = 1 + round % 4;
            for (int i = 0; i < flips; ++i) {
                // The signature stays, so the damage reaches the decoder.
                const size_t at = 2 + random() % (damaged.size() - 2);
                damaged[at] ^= uint8_t(1u << (random() % 8));
            }
            const filter_call& call = filters[turn++ % filters.size()];
            check(call, damaged, kind + " round " + std::to_string(round) + ", " + call.name);
        }
    }
    EXPECT_GT(successes, 0);
    EXPECT_GT(failures, 0);
}

// An empty image decodes; each filter then either refuses it itself or the
// writer refuses it, and no file appears.
TEST_F(HostileInput, ZeroSizedBmps) {
    const std::pair<int32_t, int32_t> sizes[] = {{0, 4}, {4, 0}, {0, 0}, {0, -4}};
    for (const auto& [width, height] : sizes) {
        for (const filter_call& call : every_filter()) {
            const std::string what = std::to_string(width) + "x" + std::to_string(height) + ", " + call.name;
            check(call, bmp_header(width, height), what);
        }
    }
    EXPECT_EQ(successes, 0);
}
