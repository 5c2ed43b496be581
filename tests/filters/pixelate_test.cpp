#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "test_support.h"

namespace {

int pixelate(const test_image& in, int block, test_image* out) {
    return run_worker(filter_of(filter_id::pixelate).worker, in, &block, out);
}

test_image red_row(const std::vector<int>& reds) {
    test_image row(static_cast<int>(reds.size()), 1);
    for (size_t x = 0; x < reds.size(); ++x) row.set(static_cast<int>(x), 0, {uint8_t(reds[x]), 0, 0, 255});
    return row;
}

}  // namespace

// Blocks 2, 2 and 1 wide and 2 and 1 high over R = 10 * x + y.
TEST(Pixelate, FiveByThreeAtBlockTwo) {
    test_image in(5, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) in.set(x, y, {uint8_t(10 * x + y), 0, 0, 255});
    test_image out;
    ASSERT_EQ(pixelate(in, 2, &out), 1);
    const int expected[3][5] = {{6, 6, 26, 26, 41}, {6, 6, 26, 26, 41}, {7, 7, 27, 27, 42}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) EXPECT_EQ(out.at(x, y).r, expected[y][x]) << x << "," << y;
}

TEST(Pixelate, MeansRoundHalfUp) {
    const struct {
        std::vector<int> reds;
        int mean;
    } cases[] = {{{0, 1}, 1}, {{1, 0, 0}, 0}, {{1, 1, 0}, 1}, {{255, 254}, 255}, {{2, 3, 3, 3}, 3}, {{2, 2, 2, 3}, 2}};
    for (const auto& c : cases) {
        test_image out;
        ASSERT_EQ(pixelate(red_row(c.reds), static_cast<int>(c.reds.size()), &out), 1);
        for (int x = 0; x < out.width; ++x) EXPECT_EQ(out.at(x, 0).r, c.mean) << "block of " << c.reds.size() << " at " << x;
    }
}

TEST(Pixelate, AlphaIsAveragedWithTheColours) {
    test_image in(2, 2, {0, 0, 0, 0});
    in.set(1, 0, {10, 20, 30, 255});
    test_image out;
    ASSERT_EQ(pixelate(in, 100, &out), 1);
    EXPECT_EQ(out, test_image(2, 2, {3, 5, 8, 64}));
}

TEST(Pixelate, BlockAsLargeAsTheImagePaintsItsMean) {
    test_image in(3, 2, {0, 0, 0, 255});
    in.set(2, 1, {60, 120, 180, 195});
    for (int block : {3, 4, 1000, INT_MAX}) {
        test_image out;
        ASSERT_EQ(pixelate(in, block, &out), 1);
        EXPECT_EQ(out, test_image(3, 2, {10, 20, 30, 245})) << block;
    }
}

TEST(Pixelate, LoneCornerPixelKeepsItsBytes) {
    const test_image in = varied_image(5, 5);
    test_image out;
    ASSERT_EQ(pixelate(in, 2, &out), 1);
    EXPECT_EQ(out.at(4, 4), in.at(4, 4));
}

// 2900 x 2900 bytes of 255 sum to more than a signed 32-bit int holds.
TEST(Pixelate, HugeBlockSumsDoNotOverflow) {
    const int side = 2900;
    const size_t bytes = size_t(side) * side * 4;
    filter_image image{side, side, static_cast<unsigned char*>(std::malloc(bytes))};
    ASSERT_NE(image.pixels, nullptr);
    std::memset(image.pixels, 255, bytes);
    const int block = side;
    EXPECT_EQ(filter_of(filter_id::pixelate).worker(&image, &block), 1);
    size_t changed = 0;
    for (size_t i = 0; i < bytes; ++i) changed += image.pixels[i] != 255;
    EXPECT_EQ(changed, 0u);
    std::free(image.pixels);
}
