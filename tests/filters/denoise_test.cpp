#include <algorithm>
#include <cstdlib>

#include "test_support.h"

namespace {

int denoise(const test_image& in, int strength, test_image* out) {
    return run_worker(filter_of(filter_id::denoise).worker, in, &strength, out);
}

// A 7x7 image of grey 100 whose pixels at the given distance from the centre
// (in the larger of the two directions) are grey 130.
test_image ring_around_centre(int distance) {
    test_image image(7, 7, grey(100));
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 7; ++x)
            if (std::max(std::abs(x - 3), std::abs(y - 3)) == distance) image.set(x, y, grey(130));
    return image;
}

// Left half grey 50, right half grey 150: brightness 100 apart.
test_image two_halves() {
    test_image image(8, 3, grey(50));
    for (int y = 0; y < 3; ++y)
        for (int x = 4; x < 8; ++x) image.set(x, y, grey(150));
    return image;
}

}  // namespace

// The ring three places out lies in the 7x7 window of strengths 5 to 10 and
// outside the 5x5 window of 1 to 4; the ring two places out lies in both.
TEST(Denoise, WindowIsFiveWideUpToFourAndSevenFromFive) {
    test_image out;
    for (int strength = 1; strength <= 10; ++strength) {
        ASSERT_EQ(denoise(ring_around_centre(3), strength, &out), 1);
        if (strength <= 4)
            EXPECT_EQ(out.at(3, 3), grey(100)) << strength;
        else
            EXPECT_GT(out.at(3, 3).r, 100) << strength;
        ASSERT_EQ(denoise(ring_around_centre(2), strength, &out), 1);
        EXPECT_GT(out.at(3, 3).r, 100) << strength;
    }
}

TEST(Denoise, HardBorderKeptAtOneAndSoftenedAtTen) {
    test_image out;
    ASSERT_EQ(denoise(two_halves(), 1, &out), 1);
    EXPECT_EQ(out, two_halves());

    ASSERT_EQ(denoise(two_halves(), 10, &out), 1);
    for (int y = 0; y < 3; ++y) {
        EXPECT_GT(out.at(3, y).r, 60) << y;
        EXPECT_LT(out.at(4, y).r, 140) << y;
    }
}
