#include <cmath>
#include <limits>
#include <vector>

#include "imgfilter.h"
#include "test_support.h"

namespace {

const float k_inf = std::numeric_limits<float>::infinity();

int blur(const test_image& in, float radius, test_image* out) {
    return run_worker(filter_of(filter_id::blur).worker, in, &radius, out);
}

std::vector<int> red_row(const test_image& image) {
    std::vector<int> reds;
    for (int x = 0; x < image.width; ++x) reds.push_back(image.at(x, 0).r);
    return reds;
}

// Blurs a one-row image and returns its red bytes.
std::vector<int> blurred_row(const std::vector<int>& levels, float radius) {
    test_image out;
    EXPECT_EQ(blur(grey_picture(static_cast<int>(levels.size()), levels), radius, &out), 1) << "radius " << radius;
    return red_row(out);
}

}  // namespace

TEST(Blur, WeightTablesToSixPlaces) {
    const struct {
        float radius;
        std::vector<double> weights;
    } cases[] = {
        {0.25f, {0.000335, 0.999330, 0.000335}},
        {0.5f, {0.106507, 0.786986, 0.106507}},
        {1.0f, {0.054489, 0.244201, 0.402620, 0.244201, 0.054489}},
        {1.5f, {0.036633, 0.111281, 0.216745, 0.270682, 0.216745, 0.111281, 0.036633}},
    };
    for (const auto& c : cases) {
        const int r = static_cast<int>(c.weights.size() / 2);
        std::vector<float> table(c.weights.size());
        blur_weight_table(c.radius, r, table.data());
        for (size_t k = 0; k < table.size(); ++k) {
            EXPECT_NEAR(table[k], c.weights[k], 5e-7) << "radius " << c.radius << " entry " << k;
            EXPECT_EQ(table[k], table[table.size() - 1 - k]) << "radius " << c.radius << " entry " << k;
        }
    }
}

TEST(Blur, SpikeAndBorderRows) {
    EXPECT_EQ(blurred_row({0, 0, 255, 0, 0}, 1.0f), (std::vector<int>{14, 62, 103, 62, 14}));
    EXPECT_EQ(blurred_row({0, 0, 255, 0, 0}, 0.5f), (std::vector<int>{0, 27, 201, 27, 0}));
    // At the left border the edge pixel is read for displacements -2, -1 and 0.
    EXPECT_EQ(blurred_row({255, 0, 0}, 1.0f), (std::vector<int>{179, 76, 14}));
}

TEST(Blur, ColumnsBlurLikeRows) {
    test_image column(1, 5, grey(0));
    column.set(0, 2, grey(255));
    test_image out;
    ASSERT_EQ(blur(column, 1.0f, &out), 1);
    const int expected[] = {14, 62, 103, 62, 14};
    for (int y = 0; y < 5; ++y) EXPECT_EQ(out.at(0, y), grey(static_cast<uint8_t>(expected[y]))) << "row " << y;
}

// The pixel in the middle of 255, 2, 0, 2, 255 comes out 0 while the kernel
// spans one pixel each way (0.43 before rounding) and 1 once it spans two and
// the bright ends add their tiny share (0.56).
TEST(Blur, HalfWidthGrowsJustAboveHalfARadius) {
    const std::vector<int> row{255, 2, 0, 2, 255};
    EXPECT_EQ(blurred_row(row, 0.25f)[2], 0);
    EXPECT_EQ(blurred_row(row, 0.5f)[2], 0);
    EXPECT_EQ(blurred_row(row, std::nextafter(0.5f, 1.0f))[2], 1);
}

// Bright pixels 100 and 101 places away from the middle of a dark row: the
// widest kernel reaches the first and never the second.
TEST(Blur, HalfWidthStopsAtOneHundred) {
    std::vector<int> near_pair(203, 0), far_pair(203, 0);
    near_pair[1] = near_pair[201] = 255;
    far_pair[0] = far_pair[202] = 255;
    for (float radius : {50.0f, 50.01f, 1e10f, k_inf}) {
        EXPECT_GT(blurred_row(near_pair, radius)[101], 0) << "radius " << radius;
        EXPECT_EQ(blurred_row(far_pair, radius)[101], 0) << "radius " << radius;
    }
    // Just below 50 the kernel is one pixel narrower, though still wide.
    EXPECT_EQ(blurred_row(near_pair, 49.5f)[101], 0);
}

// With every weight equal, each output is the mean of exactly 201 samples: on
// a step from 0 to 201 it counts the bright samples in its window.
TEST(Blur, HugeRadiiAverageEvenlyOverTwoHundredAndOneSamples) {
    std::vector<int> step(402, 0);
    for (int x = 201; x < 402; ++x) step[x] = 201;
    for (float radius : {1e10f, 1e30f, k_inf}) {
        const std::vector<int> out = blurred_row(step, radius);
        for (int x = 0; x < 402; ++x) {
            const int expected = x <= 100 ? 0 : (x >= 301 ? 201 : x - 100);
            ASSERT_EQ(out[x], expected) << "radius " << radius << " x " << x;
        }
    }
}

TEST(Blur, EmptyImageIsRefusedInTheWorker) {
    test_image out;
    EXPECT_EQ(blur(test_image(0, 0), 1.0f, &out), 0);
    EXPECT_STREQ(imgfilter_last_error(), "blur: empty image");
}
