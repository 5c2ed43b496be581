#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "imgfilter.h"
#include "test_support.h"

namespace {

const float k_nan = std::numeric_limits<float>::quiet_NaN();

int convolve(const test_image& in, const std::vector<float>& weights, test_image* out) {
    const kernel_params params{weights.data(), weights.size() == 25 ? 5 : 3};
    return run_worker(filter_of(filter_id::kernel).worker, in, &params, out);
}

// A grid of the given size, zero but for one weight.
std::vector<float> single_weight(int size, int index, float weight) {
    std::vector<float> grid(size * size, 0.0f);
    grid[index] = weight;
    return grid;
}

// R = 10 * x + y, so every pixel tells where it came from.
test_image numbered(int width, int height) {
    test_image image(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) image.set(x, y, {uint8_t(10 * x + y), uint8_t(x), uint8_t(y), uint8_t(200 + x + y)});
    return image;
}

}  // namespace

// The grid is not flipped: its first weight reads the upper-left neighbour,
// which moves the picture one pixel right and down.
TEST(Kernel, UpperLeftWeightShiftsRightAndDown) {
    test_image out;
    ASSERT_EQ(convolve(numbered(3, 3), single_weight(3, 0, 1.0f), &out), 1);
    const int expected[3][3] = {{0, 0, 10}, {0, 0, 10}, {1, 1, 11}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(out.at(x, y).r, expected[y][x]) << x << "," << y;
}

TEST(Kernel, LowerRightWeightOfFiveShiftsTwoLeftAndUp) {
    const test_image in = numbered(6, 4);
    test_image out;
    ASSERT_EQ(convolve(in, single_weight(5, 24, 1.0f), &out), 1);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 6; ++x) {
            const rgba source = in.at(std::min(x + 2, 5), std::min(y + 2, 3));
            EXPECT_EQ(out.at(x, y), (rgba{source.r, source.g, source.b, in.at(x, y).a})) << x << "," << y;
        }
    }
}

TEST(Kernel, LaplacianBlackensAFlatImage) {
    test_image out;
    ASSERT_EQ(convolve(test_image(4, 4, {90, 180, 255, 77}), {0, -1, 0, -1, 4, -1, 0, -1, 0}, &out), 1);
    EXPECT_EQ(out, test_image(4, 4, {0, 0, 0, 77}));
}

TEST(Kernel, SumsSaturate) {
    const test_image in(2, 2, {100, 200, 0, 255});
    const struct {
        float centre;
        rgba expected;
    } cases[] = {{2.0f, {200, 255, 0, 255}},
                 {-1.0f, {0, 0, 0, 255}},
                 {1e10f, {255, 255, 0, 255}},
                 {std::numeric_limits<float>::infinity(), {255, 255, 0, 255}},
                 {std::numeric_limits<float>::max(), {255, 255, 0, 255}},
                 {-std::numeric_limits<float>::infinity(), {0, 0, 0, 255}}};
    for (const auto& c : cases) {
        test_image out;
        ASSERT_EQ(convolve(in, single_weight(3, 4, c.centre), &out), 1) << c.centre;
        EXPECT_EQ(out, test_image(2, 2, c.expected)) << c.centre;
    }
}

TEST(Kernel, NanWeightIsRefusedAtItsIndex) {
    const struct {
        std::vector<float> grid;
        const char* message;
    } cases[] = {
        {{0, 0, 0, 0, k_nan, 0, 0, k_nan, 0}, "kernel: weights[4] is not a number"},
        {{k_nan, 1, 1, 1, 1, 1, 1, 1, 1}, "kernel: weights[0] is not a number"},
        {single_weight(5, 24, k_nan), "kernel: weights[24] is not a number"},
        {single_weight(5, 13, -k_nan), "kernel: weights[13] is not a number"},
    };
    for (const auto& c : cases) {
        const test_image in = varied_image(4, 3);
        filter_image image{in.width, in.height, static_cast<unsigned char*>(std::malloc(in.bytes.size()))};
        std::memcpy(image.pixels, in.bytes.data(), in.bytes.size());
        unsigned char* const decoded = image.pixels;
        const kernel_params params{c.grid.data(), c.grid.size() == 25 ? 5 : 3};
        EXPECT_EQ(filter_of(filter_id::kernel).worker(&image, &params), 0);
        EXPECT_STREQ(imgfilter_last_error(), c.message);
        // The record still holds the decoded buffer, untouched.
        EXPECT_EQ(image.pixels, decoded);
        EXPECT_EQ(std::memcmp(image.pixels, in.bytes.data(), in.bytes.size()), 0);
        std::free(image.pixels);
    }
}
