#include <limits>

#include "imgfilter.h"
#include "test_support.h"

namespace {

int vignette(const test_image& in, float strength, test_image* out) {
    return run_worker(filter_of(filter_id::vignette).worker, in, &strength, out);
}

const rgba k_grey{200, 100, 50, 128};

void expect_ring(const test_image& out, rgba corner, rgba edge, rgba centre) {
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 3; ++x) {
            const int off_axis = (x != 1) + (y != 1);
            const rgba expected = off_axis == 2 ? corner : off_axis == 1 ? edge : centre;
            EXPECT_EQ(out.at(x, y), expected) << "at " << x << "," << y;
        }
    }
}

}  // namespace

TEST(Vignette, HalfStrengthAsFractionOrPercent) {
    for (float strength : {0.5f, 50.0f}) {
        test_image out;
        ASSERT_EQ(vignette(test_image(3, 3, k_grey), strength, &out), 1);
        expect_ring(out, {100, 50, 25, 128}, {150, 75, 38, 128}, k_grey);
    }
    EXPECT_STREQ(imgfilter_last_error(), "");
}

TEST(Vignette, FullStrengthFromOneUpward) {
    for (float strength : {1.0f, 100.0f, 150.0f, std::numeric_limits<float>::infinity()}) {
        test_image out;
        ASSERT_EQ(vignette(test_image(3, 3, k_grey), strength, &out), 1);
        expect_ring(out, {0, 0, 0, 128}, {100, 50, 25, 128}, k_grey);
    }
}

TEST(Vignette, JustAboveOneIsAPercentage) {
    test_image out;
    ASSERT_EQ(vignette(test_image(3, 3, k_grey), 1.5f, &out), 1);
    expect_ring(out, {197, 99, 49, 128}, {199, 99, 50, 128}, k_grey);
}

TEST(Vignette, NegativeAndNanAreRefused) {
    test_image out;
    EXPECT_EQ(vignette(test_image(3, 3, k_grey), -0.5f, &out), 0);
    EXPECT_STREQ(imgfilter_last_error(), "vignette: strength must be non-negative, got -0.5");
    EXPECT_EQ(out, test_image(3, 3, k_grey));

    EXPECT_EQ(vignette(test_image(3, 3, k_grey), std::numeric_limits<float>::quiet_NaN(), &out), 0);
    EXPECT_STREQ(imgfilter_last_error(), "vignette: strength must be non-negative, got nan");
    EXPECT_EQ(out, test_image(3, 3, k_grey));

    EXPECT_EQ(vignette(test_image(3, 3, k_grey), -std::numeric_limits<float>::infinity(), &out), 0);
    EXPECT_STREQ(imgfilter_last_error(), "vignette: strength must be non-negative, got -inf");
}

TEST(Vignette, SingleRows) {
    test_image out;
    // A 2x1 image is all corners.
    ASSERT_EQ(vignette(test_image(2, 1, k_grey), 0.5f, &out), 1);
    EXPECT_EQ(out.at(0, 0), (rgba{100, 50, 25, 128}));
    EXPECT_EQ(out.at(1, 0), (rgba{100, 50, 25, 128}));

    // In a 5x1 row the ends are corners, the middle is the centre.
    ASSERT_EQ(vignette(test_image(5, 1, k_grey), 1.0f, &out), 1);
    EXPECT_EQ(out.at(0, 0), (rgba{0, 0, 0, 128}));
    EXPECT_EQ(out.at(4, 0), (rgba{0, 0, 0, 128}));
    EXPECT_EQ(out.at(2, 0), k_grey);
}

TEST(Vignette, EmptyImageSucceedsInTheWorker) {
    test_image out;
    EXPECT_EQ(vignette(test_image(0, 0), 0.5f, &out), 1);
}

TEST(Vignette, NeverBrightensAndNeverTouchesAlpha) {
    test_image in(17, 11);
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 17; ++x) in.set(x, y, {uint8_t(x * 15), uint8_t(y * 23), 255, uint8_t(x * y)});
    for (float strength : {0.01f, 0.3f, 0.99f, 7.0f, 1e30f}) {
        test_image out;
        ASSERT_EQ(vignette(in, strength, &out), 1);
        for (int y = 0; y < 11; ++y) {
            for (int x = 0; x < 17; ++x) {
                EXPECT_LE(out.at(x, y).r, in.at(x, y).r);
                EXPECT_LE(out.at(x, y).b, in.at(x, y).b);
                EXPECT_EQ(out.at(x, y).a, in.at(x, y).a);
            }
        }
    }
}
