#include "test_support.h"

namespace {

int emboss(const test_image& in, test_image* out) {
    return run_worker(filter_of(filter_id::emboss).worker, in, nullptr, out);
}

}  // namespace

// The top-left pixel sees the bright centre at its lower right (weight 2), the
// bottom-right one at its upper left (weight -2): this fixes the table's
// orientation.
TEST(Emboss, BrightCentreGrid) {
    test_image out;
    ASSERT_EQ(emboss(grey_picture(3, {0, 0, 0, 0, 50, 0, 0, 0, 0}), &out), 1);
    EXPECT_EQ(out, grey_picture(3, {228, 178, 128, 178, 128, 78, 128, 78, 28}));
}

TEST(Emboss, StepsSaturateBothWays) {
    test_image out;
    ASSERT_EQ(emboss(grey_picture(2, {0, 255}), &out), 1);
    EXPECT_EQ(out, test_image(2, 1, grey(255)));
    ASSERT_EQ(emboss(grey_picture(2, {255, 0}), &out), 1);
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
