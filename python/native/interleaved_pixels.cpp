#include "interleaved_pixels.h"

#include <cstring>

#include "simd/code_path.h"

namespace {

// Packed rows (the common layout of a C-ordered array and of PIL's bytes)
// move four pixels a 16-byte register where the processor has byte shuffles
// (every one with AVX2), about three times faster than a byte at a time: the
// copies would otherwise take more of an array call than most filters do.
// Each returns how many pixels it did; the plain loops do the rest.
#if IMGFILTER_X86_VARIANTS
IMGFILTER_TARGET_AVX2 std::size_t widen_rgb_shuffled(const unsigned char* in, std::size_t pixels,
                                                     unsigned char* rgba) {
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    std::size_t i = 0;
    // A load takes 16 bytes for 4 pixels' 12: stop while it stays inside the row.
    for (; i + 6 <= pixels; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rgba + 4 * i), _mm_or_si128(_mm_shuffle_epi8(v, spread), alpha));
    }
    return i;
}

IMGFILTER_TARGET_AVX2 std::size_t narrow_to_rgb_shuffled(const unsigned char* rgba, std::size_t pixels,
                                                         unsigned char* out) {
    const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    std::size_t i = 0;
    // A store writes 16 bytes for 4 pixels' 12: stop while it stays inside the output.
    for (; i + 6 <= pixels; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgba + 4 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * i), _mm_shuffle_epi8(v, pack));
    }
    return i;
}
#endif

bool has_byte_shuffles() { return fastest_code_path() >= code_path::avx2; }

void widen_rgb_row(const unsigned char* in, std::size_t pixels, unsigned char* rgba, bool shuffles) {
    std::size_t i = 0;
#if IMGFILTER_X86_VARIANTS
    if (shuffles) i = widen_rgb_shuffled(in, pixels, rgba);
#endif
    (void)shuffles;
    for (; i < pixels; ++i) {
        rgba[4 * i + 0] = in[3 * i + 0];
        rgba[4 * i + 1] = in[3 * i + 1];
        rgba[4 * i + 2] = in[3 * i + 2];
        rgba[4 * i + 3] = 255;
    }
}

void widen_any(const strided_pixels& in, const unsigned char* row, int width, unsigned char* rgba) {
    for (int x = 0; x < width; ++x) {
        const unsigned char* pixel = row + x * in.column;
        rgba[4 * x + 0] = pixel[0];
        rgba[4 * x + 1] = pixel[in.channel];
        rgba[4 * x + 2] = pixel[2 * in.channel];
        rgba[4 * x + 3] = in.channels == 4 ? pixel[3 * in.channel] : 255;
    }
}

}  // namespace

void widen_to_rgba(const strided_pixels& in, int width, int height, unsigned char* rgba) {
    const std::size_t row_bytes = static_cast<std::size_t>(width) * 4;
    const bool packed = in.channel == 1 && in.column == in.channels;
    const bool shuffles = has_byte_shuffles();
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = in.data + y * in.row;
        unsigned char* out = rgba + static_cast<std::size_t>(y) * row_bytes;
        if (packed && in.channels == 4) {
            std::memcpy(out, row, row_bytes);
        } else if (packed) {
            widen_rgb_row(row, static_cast<std::size_t>(width), out, shuffles);
        } else {
            widen_any(in, row, width, out);
        }
    }
}

void narrow_from_rgba(const unsigned char* rgba, int width, int height, int channels, unsigned char* out) {
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (channels == 4) {
        std::memcpy(out, rgba, pixels * 4);
        return;
    }
    std::size_t i = 0;
#if IMGFILTER_X86_VARIANTS
    if (has_byte_shuffles()) i = narrow_to_rgb_shuffled(rgba, pixels, out);
#endif
    for (; i < pixels; ++i) {
        out[3 * i + 0] = rgba[4 * i + 0];
        out[3 * i + 1] = rgba[4 * i + 1];
        out[3 * i + 2] = rgba[4 * i + 2];
    }
}
