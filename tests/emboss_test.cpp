#include "imgfilter.h"
#include "test_support.h"

namespace {

int emboss(const test_image& in, test_image* out) { return run_worker(thunk_emboss, in, nullptr, out); }

}  // namespace

// The top-left pixel sees the bright centre at its lower right (weight 2), the
// bottom-right one at its upper left (weight -2): this fixes the table's
// orientation.
TEST(Emboss, BrightCentreGrid) {
    test_image in(3, 3, grey(0));
    in.set(1, 1, grey(50));
    test_image out;
    ASSERT_EQ(emboss(in, &out), 1);
    const int expected[3][3] = {{228, 178, 128}, {178, 128, 78}, {128, 78, 28}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(out.at(x, y), grey(uint8_t(expected[y][x]))) << x << "," << y;
}

TEST(Emboss, StepsSaturateBothWays) {
    test_image rising(2, 1, grey(0));
    rising.set(1, 0, grey(255));
    test_image out;
    ASSERT_EQ(emboss(rising, &out), 1);
    EXPECT_EQ(out, test_image(2, 1, grey(255)));

    test_image falling(2, 1, grey(255));
    falling.set(1, 0, grey(0));
    ASSERT_EQ(emboss(falling, &out), 1);
    EXPECT_EQ(out, test_image(2, 1, grey(0)));
}

// Colour differences count with the brightness weights, and the grey rounds
// half up: a red step of 2 is 3 * 2 * 0.299 = 1.79 above mid-grey, giving 130;
// a blue step of 255 is 87.2 above, giving 215.
TEST(Emboss, ChannelsWeighAsBrightnessAndRound) {
    test_image red_step(2, 1, {0, 0, 0, 255});
    red_step.set(1, 0, {2, 0, 0, 255});
    test_image out;
    ASSERT_EQ(emboss(red_step, &out), 1);
    EXPECT_EQ(out.at(0, 0), grey(130));

    test_image blue_step(2, 1, {0, 0, 0, 255});
    blue_step.set(1, 0, {0, 0, 255, 255});
    ASSERT_EQ(emboss(blue_step, &out), 1);
    EXPECT_EQ(out.at(0, 0), grey(215));
}

TEST(Emboss, FlatAndSinglePixelImagesBecomeMidGrey) {
    test_image out;
    ASSERT_EQ(emboss(test_image(4, 3, {255, 0, 99, 17}), &out), 1);
    EXPECT_EQ(out, test_image(4, 3, grey(128, 17)));
    ASSERT_EQ(emboss(test_image(1, 1, {3, 250, 40, 0}), &out), 1);
    EXPECT_EQ(out, test_image(1, 1, grey(128, 0)));
}

TEST(Emboss, GreyOutputWithTheInputsAlpha) {
    const test_image in = varied_image(9, 7);
    test_image out;
    ASSERT_EQ(emboss(in, &out), 1);
    for (int y = 0; y < in.height; ++y) {
        for (int x = 0; x < in.width; ++x) {
            const rgba p = out.at(x, y);
            EXPECT_EQ(p, grey(p.r, in.at(x, y).a)) << x << "," << y;
        }
    }
    EXPECT_STREQ(imgfilter_last_error(), "");
}

TEST(Emboss, ThroughTheLibrary) {
    test_image in(3, 3, grey(0));
    in.set(1, 1, grey(50));
    const file_run run = run_on_files(in, [](const char* input, const char* output) {
        const int result = imgfilter_emboss(input, output);
        EXPECT_EQ(load_image(output).at(0, 0), grey(228));
        return result;
    });
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.message, "");
    const file_run missing = run_on_missing_input(imgfilter_emboss);
    EXPECT_EQ(missing.message, "emboss: cannot read input file '" + missing.input + "'");
}
