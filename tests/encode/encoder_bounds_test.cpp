// The largest image each encoder takes, tested at and around every boundary as
// arithmetic: an image of these sizes would take gigabytes to make.
#include <climits>

#include <gtest/gtest.h>

#include "encode/encoder_bounds.h"

namespace {

struct bound_case {
    const char* name;
    image_format format;
    long long width;
    long long height;
    bool encodable;
};

const bound_case k_cases[] = {
    // JPEG: 16-bit sides, and (width x height - 1) x 4 in int: at most 2^29 pixels.
    {"jpeg_widest", image_format::jpeg, 65535, 1, true},
    {"jpeg_too_wide", image_format::jpeg, 65536, 1, false},
    {"jpeg_tallest", image_format::jpeg, 1, 65535, true},
    {"jpeg_too_tall", image_format::jpeg, 1, 65536, false},
    {"jpeg_2pow29_pixels", image_format::jpeg, 16384, 32768, true},
    {"jpeg_past_2pow29_pixels", image_format::jpeg, 16385, 32768, false},
    {"jpeg_widest_at_most_pixels", image_format::jpeg, 65535, 8192, true},
    {"jpeg_widest_one_row_too_many", image_format::jpeg, 65535, 8193, false},
    // PNG: (width x 4 + 1) x height filtered bytes, at most 1,431,655,760, the
    // most whose worst-case compressed stream fits the compressor's buffer.
    {"png_one_row_widest", image_format::png, 357913939, 1, true},
    {"png_one_row_too_wide", image_format::png, 357913940, 1, false},
    {"png_one_column_tallest", image_format::png, 1, 286331152, true},
    {"png_one_column_too_tall", image_format::png, 1, 286331153, false},
    {"png_16384_wide_tallest", image_format::png, 16384, 21844, true},
    {"png_16384_wide_too_tall", image_format::png, 16384, 21845, false},
    {"png_65535_wide_tallest", image_format::png, 65535, 5461, true},
    {"png_65535_wide_too_tall", image_format::png, 65535, 5462, false},
    // The size that made the stored-block fallback overflow before: refused.
    {"png_23170_square", image_format::png, 23170, 23170, false},
    // BMP: 14 + 108 + width x height x 4 in int.
    {"bmp_most_pixels", image_format::bmp, 536870881, 1, true},
    {"bmp_one_pixel_too_many", image_format::bmp, 536870882, 1, false},
    {"bmp_23170_square", image_format::bmp, 23170, 23170, true},
    {"bmp_23171_square", image_format::bmp, 23171, 23171, false},
    // Empty images, sides beyond int, and products beyond 64 bits.
    {"jpeg_empty", image_format::jpeg, 0, 5, false},
    {"png_empty", image_format::png, 5, 0, false},
    {"bmp_negative", image_format::bmp, -5, 5, false},
    {"png_sides_beyond_int", image_format::png, 1LL << 31, 1, false},
    {"bmp_huge_sides", image_format::bmp, INT_MAX, INT_MAX, false},
    {"png_huge_sides", image_format::png, INT_MAX / 4, INT_MAX, false},
    {"unsupported", image_format::unsupported, 1, 1, false},
};

class EncoderBounds : public ::testing::TestWithParam<bound_case> {};

}  // namespace

TEST_P(EncoderBounds, LargestImageWithoutOverflow) {
    const bound_case& c = GetParam();
    EXPECT_EQ(encodable(c.format, c.width, c.height), c.encodable) << c.width << "x" << c.height;
}

INSTANTIATE_TEST_SUITE_P(EachFormat, EncoderBounds, ::testing::ValuesIn(k_cases),
                         [](const ::testing::TestParamInfo<bound_case>& info) { return std::string(info.param.name); });

// The compressor's capacity, derived from its own growth rule (2 m + 1 from 2)
// in 64 bits: the last capacity before int overflows, less the one byte that a
// push needs free.
TEST(EncoderBounds, CompressorCapacityFollowsItsGrowthRule) {
    long long capacity = 2;
    while (2 * capacity + 1 <= INT_MAX) capacity = 2 * capacity + 1;
    EXPECT_EQ(capacity - 1, 1610612734);
    // 2 + ceil((9 D + 10) / 8) at the largest D, and one byte more.
    EXPECT_LE(2 + (9 * 1431655760LL + 10 + 7) / 8, capacity - 1);
    EXPECT_GT(2 + (9 * 1431655761LL + 10 + 7) / 8, capacity - 1);
}
