#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>

#include "imgfilter.h"
#include "test_support.h"

namespace {

int denoise(const test_image& in, int strength, test_image* out) {
    return run_worker(thunk_denoise, in, &strength, out);
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

TEST(Denoise, StrengthsOutsideOneToTenAreRefused) {
    for (int strength : {0, 11, -5, INT_MIN, INT_MAX}) {
        const file_run run = run_on_files(test_image(3, 3, grey(40)), [&](const char* in, const char* out) {
            return imgfilter_denoise(in, out, strength);
        });
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.message, "denoise: strength " + std::to_string(strength) + " out of range 1..10");
        EXPECT_FALSE(run.wrote_output) << strength;
    }
}

TEST(Denoise, OneAndTenAreAccepted) {
    for (int strength : {1, 10}) {
        const file_run run = run_on_files(test_image(3, 3, grey(40)), [&](const char* in, const char* out) {
            return imgfilter_denoise(in, out, strength);
        });
        EXPECT_EQ(run.result, 1);
        EXPECT_EQ(run.message, "");
        EXPECT_TRUE(run.wrote_output);
    }
}

TEST(Denoise, UnreadableInputIsReportedBeforeTheStrength) {
    const file_run run =
        run_on_missing_input([](const char* in, const char* out) { return imgfilter_denoise(in, out, 0); });
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.message, "denoise: cannot read input file '" + run.input + "'");
}

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

TEST(Denoise, FlatAndSinglePixelImagesAreUnchanged) {
    for (int strength = 1; strength <= 10; ++strength) {
        test_image out;
        ASSERT_EQ(denoise(test_image(9, 8, {250, 7, 133, 21}), strength, &out), 1);
        EXPECT_EQ(out, test_image(9, 8, {250, 7, 133, 21})) << strength;
        ASSERT_EQ(denoise(test_image(1, 1, {1, 2, 3, 4}), strength, &out), 1);
        EXPECT_EQ(out, test_image(1, 1, {1, 2, 3, 4})) << strength;
    }
}

TEST(Denoise, AlphaNeverChanges) {
    const test_image in = varied_image(12, 9);
    for (int strength : {1, 4, 5, 10}) {
        test_image out;
        ASSERT_EQ(denoise(in, strength, &out), 1);
        EXPECT_TRUE(alpha_kept_colour_changed(in, out)) << strength;
    }
}
