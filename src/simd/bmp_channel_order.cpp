#include "simd/bmp_channel_order.h"

#include "simd/vectors.h"

namespace {

// For a pixel read as one word, or a vector of them.
template <typename pixel_words>
IMGFILTER_ALWAYS_INLINE pixel_words swapped(pixel_words w) {
    constexpr unsigned outer = 0xFFu << k_red_shift | 0xFFu << k_blue_shift;
    return (w & ~outer) | ((w >> k_red_shift) & 0xFFu) << k_blue_shift | ((w >> k_blue_shift) & 0xFFu) << k_red_shift;
}

template <int lanes>
IMGFILTER_ALWAYS_INLINE void swap_outer_bytes_body(const unsigned char* in, unsigned char* out, long long count,
                                                   unsigned* seen) {
    words<lanes> all = {};
    long long i = 0;
    for (; i + lanes <= count; i += lanes) {
        words<lanes> w;
        __builtin_memcpy(&w, in + 4 * i, sizeof w);
        all |= w;
        const words<lanes> result = swapped(w);
        __builtin_memcpy(out + 4 * i, &result, sizeof result);
    }
    unsigned rest = 0;
    for (int lane = 0; lane < lanes; ++lane) rest |= all[lane];
    for (; i < count; ++i) {
        unsigned w;
        __builtin_memcpy(&w, in + 4 * i, sizeof w);
        rest |= w;
        const unsigned result = swapped(w);
        __builtin_memcpy(out + 4 * i, &result, sizeof result);
    }
    *seen = rest;
}

IMGFILTER_VARIANTS(swap_outer_bytes, (const unsigned char* in, unsigned char* out, long long count, unsigned* seen),
                   (in, out, count, seen), 4, 8, 16)

}  // namespace

unsigned swap_red_and_blue(const unsigned char* in, unsigned char* out, long long count, code_path path) {
    unsigned seen = 0;
    swap_outer_bytes_for(path)(in, out, count, &seen);
    return seen >> k_alpha_shift & 0xFFu;
}
