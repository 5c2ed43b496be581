#include "imgfilter.h"
#include "test_support.h"

namespace {

int edge_detect(const test_image& in, test_image* out) { return run_worker(thunk_edge_detect, in, nullptr, out); }

}  // namespace

// The corners have gx = gy = 50, and the square root of 5000 truncates to 70.
TEST(EdgeDetect, BrightCentreGrid) {
    test_image in(3, 3, grey(0));
    in.set(1, 1, grey(50));
    test_image out;
    ASSERT_EQ(edge_detect(in, &out), 1);
    const int expected[3][3] = {{70, 100, 70}, {100, 0, 100}, {70, 100, 70}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(out.at(x, y), grey(uint8_t(expected[y][x]))) << x << "," << y;
}

// Grey 37 has the brightness 36.999996, which truncates to 36: 4 * 36 = 144.
TEST(EdgeDetect, BrightnessTruncatesBeforeTheGradient) {
    test_image in(2, 1, grey(0));
    in.set(1, 0, grey(37, 200));
    test_image out;
    ASSERT_EQ(edge_detect(in, &out), 1);
    EXPECT_EQ(out.at(0, 0), grey(144, 255));
    EXPECT_EQ(out.at(1, 0), grey(144, 200));
}

TEST(EdgeDetect, StrongEdgesAreCapped) {
    test_image in(2, 1, grey(0));
    in.set(1, 0, grey(255));
    test_image out;
    ASSERT_EQ(edge_detect(in, &out), 1);
    EXPECT_EQ(out, test_image(2, 1, grey(255)));
}

TEST(EdgeDetect, FlatAndSinglePixelImagesBecomeBlack) {
    test_image out;
    ASSERT_EQ(edge_detect(test_image(5, 2, {10, 250, 130, 44}), &out), 1);
    EXPECT_EQ(out, test_image(5, 2, grey(0, 44)));
    ASSERT_EQ(edge_detect(test_image(1, 1, {255, 255, 255, 1}), &out), 1);
    EXPECT_EQ(out, test_image(1, 1, grey(0, 1)));
}

TEST(EdgeDetect, GreyOutputWithTheInputsAlpha) {
    const test_image in = varied_image(9, 7);
    test_image out;
    ASSERT_EQ(edge_detect(in, &out), 1);
    for (int y = 0; y < in.height; ++y) {
        for (int x = 0; x < in.width; ++x) {
            const rgba p = out.at(x, y);
            EXPECT_EQ(p, grey(p.r, in.at(x, y).a)) << x << "," << y;
        }
    }
    EXPECT_STREQ(imgfilter_last_error(), "");
}

TEST(EdgeDetect, ThroughTheLibrary) {
    test_image in(3, 3, grey(0));
    in.set(1, 1, grey(50));
    const file_run run = run_on_files(in, [](const char* input, const char* output) {
        const int result = imgfilter_edge_detect(input, output);
        EXPECT_EQ(load_image(output).at(0, 0), grey(70));
        return result;
    });
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.message, "");
    const file_run missing = run_on_missing_input(imgfilter_edge_detect);
    EXPECT_EQ(missing.message, "edge_detect: cannot read input file '" + missing.input + "'");
}
