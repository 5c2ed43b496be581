#include "test_support.h"

namespace {

int edge_detect(const test_image& in, test_image* out) {
    return run_worker(filter_of(filter_id::edge_detect).worker, in, nullptr, out);
}

}  // namespace

// The corners have gx = gy = 50, and the square root of 5000 truncates to 70.
TEST(EdgeDetect, BrightCentreGrid) {
    test_image out;
    ASSERT_EQ(edge_detect(grey_picture(3, {0, 0, 0, 0, 50, 0, 0, 0, 0}), &out), 1);
    EXPECT_EQ(out, grey_picture(3, {70, 100, 70, 100, 0, 100, 70, 100, 70}));
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
    test_image out;
    ASSERT_EQ(edge_detect(grey_picture(2, {0, 255}), &out), 1);
    EXPECT_EQ(out, test_image(2, 1, grey(255)));
}
