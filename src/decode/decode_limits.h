// The largest image the decoder makes: no side above 2^24 pixels, and no
// 8-bit RGBA block above INT_MAX bytes. Whatever stands for a decoded image
// (a BMP read here, pixels handed over in memory) is held to the same.
#ifndef IMGFILTER_DECODE_DECODE_LIMITS_H
#define IMGFILTER_DECODE_DECODE_LIMITS_H

#include <climits>

constexpr long long k_max_side = 1LL << 24;
constexpr long long k_max_pixels = INT_MAX / 4;

#endif
