#include <climits>

#include "test_support.h"

namespace {

int oil_paint(const test_image& in, int radius, test_image* out) {
    return run_worker(filter_of(filter_id::oil_paint).worker, in, &radius, out);
}

}  // namespace

// Five different brightness levels in the cross, one count each, so the
// darkest wins; the four diagonals share a level and would win if they counted.
TEST(OilPaint, RadiusOneIsACrossWithoutDiagonals) {
    test_image in(3, 3, grey(200));
    in.set(1, 1, grey(100));
    in.set(1, 0, grey(120));
    in.set(0, 1, grey(140));
    in.set(2, 1, grey(160));
    in.set(1, 2, grey(175));
    test_image out;
    ASSERT_EQ(oil_paint(in, 1, &out), 1);
    EXPECT_EQ(out.at(1, 1), grey(100));
}

// Levels 1 and 15 hold two samples each, level 0 one: the darker level wins
// and its mean truncates, 21.5 to 21.
TEST(OilPaint, TieGoesToTheDarkerLevelAndMeansTruncate) {
    test_image in(3, 3, grey(0));
    in.set(1, 1, grey(201));
    in.set(2, 1, {200, 201, 199, 255});
    in.set(1, 0, grey(10));
    in.set(0, 1, {21, 19, 20, 255});
    in.set(1, 2, {22, 20, 20, 255});
    test_image out;
    ASSERT_EQ(oil_paint(in, 1, &out), 1);
    EXPECT_EQ(out.at(1, 1), (rgba{21, 19, 20, 255}));
}

TEST(OilPaint, MeansTruncate) {
    test_image in(3, 1, {10, 0, 0, 255});
    in.set(1, 0, {11, 1, 3, 255});
    test_image out;
    ASSERT_EQ(oil_paint(in, 1, &out), 1);
    // The middle pixel of one row reads itself three times (as the centre, up and
    // down) and each neighbour once, all in level 0: 53 / 5, 3 / 5 and 9 / 5.
    EXPECT_EQ(out.at(1, 0), (rgba{10, 0, 1, 255}));
}

// The fast path divides a level's colour sum by its count in single precision
// and truncates. That is the integer quotient only while the float rounding
// stays smaller than the gap below the next integer: check it at every
// integer boundary for every count a disc of radius 30 (the largest) can
// hold. The float quotient grows with the sum, so the boundaries suffice.
TEST(OilPaint, FloatMeansEqualIntegerQuotientsForEveryDiscCount) {
    int largest_count = 0;
    for (int dy = -30; dy <= 30; ++dy)
        for (int dx = -30; dx <= 30; ++dx) largest_count += dx * dx + dy * dy <= 900;
    for (int count = 1; count <= largest_count; ++count) {
        for (int mean = 1; mean <= 255; ++mean) {
            const int sum = mean * count;
            ASSERT_EQ(static_cast<int>(static_cast<float>(sum) / static_cast<float>(count)), mean) << count;
            ASSERT_EQ(static_cast<int>(static_cast<float>(sum - 1) / static_cast<float>(count)), mean - 1) << count;
        }
    }
}

// The upper-left pixel reads itself as the centre and for the displacements up
// and left; its two darker neighbours hold only two samples.
TEST(OilPaint, CornerCountsThreeTimes) {
    test_image in(3, 3, grey(20));
    in.set(0, 0, grey(200));
    test_image out;
    ASSERT_EQ(oil_paint(in, 1, &out), 1);
    EXPECT_EQ(out.at(0, 0), grey(200));
}

TEST(OilPaint, RadiiAboveThirtyActAsThirty) {
    const test_image in = varied_image(66, 64);
    test_image at_29, at_30, at_1000, at_max;
    ASSERT_EQ(oil_paint(in, 29, &at_29), 1);
    ASSERT_EQ(oil_paint(in, 30, &at_30), 1);
    ASSERT_EQ(oil_paint(in, 1000, &at_1000), 1);
    ASSERT_EQ(oil_paint(in, INT_MAX, &at_max), 1);
    EXPECT_EQ(at_1000, at_30);
    EXPECT_EQ(at_max, at_30);
    EXPECT_FALSE(at_29 == at_30);
}
