// Emboss: a diagonal 3x3 difference of each colour, reduced to one grey with
// the brightness weights and lifted to mid-grey.
//
// The fast path converts each row once into planes of 16-bit ints (a band of
// three rows), computes several pixels side by side, one per vector lane, with
// the reference's integer sums and float evaluation, and writes back in place.
// The sums lie within -1020 .. 1020, so 16-bit lanes hold them exactly and
// twice as many pixels go through each integer instruction.
#include "filters/filter.h"
#include "simd/row_band.h"

namespace {

// Rows from the row above to the row below, columns from left to right.
constexpr int k[3][3] = {{-2, -1, 0}, {-1, 0, 1}, {0, 1, 2}};

void emboss_reference(const unsigned char* in, unsigned char* result, int width, int height) {
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    for (int y = 0; y < height; ++y) {
        unsigned char* out = result + y * stride;
        for (int x = 0; x < width; ++x) {
            int sr = 0, sg = 0, sb = 0;
            for (int dy = -1; dy <= 1; ++dy) {
                const unsigned char* row = in + clamp_coord(y + dy, height) * stride;
                for (int dx = -1; dx <= 1; ++dx) {
                    const int w = k[dy + 1][dx + 1];
                    if (w == 0) continue;
                    const unsigned char* p = row + clamp_coord(x + dx, width) * 4;
                    sr += w * p[0];
                    sg += w * p[1];
                    sb += w * p[2];
                }
            }
            // The brightness evaluation of luma() on the sums; 128.5 is mid-grey
            // plus the rounding half, added in one step.
            float a = static_cast<float>(sr) * 0.299f;
            a = a + static_cast<float>(sg) * 0.587f;
            a = a + static_cast<float>(sb) * 0.114f;
            a = a + 128.5f;
            const unsigned char grey = truncate_to_byte(a);
            out[x * 4 + 0] = grey;
            out[x * 4 + 1] = grey;
            out[x * 4 + 2] = grey;
            out[x * 4 + 3] = in[y * stride + x * 4 + 3];
        }
    }
}

template <int lanes>
using shorts = typename vector_of<short, lanes>::type;

#if IMGFILTER_X86_VARIANTS
// Sixteen RGBA pixels into sixteen R, G and B values each. Within each half
// of a register one byte shuffle groups every pixel's bytes by colour; a
// dword permute gathers those groups into R, G | B, A eights; two unpacks join
// the eights of both registers; and each sixteen bytes widen into shorts.
IMGFILTER_TARGET_AVX2 inline void split_colours16(const unsigned char* in, short* red, short* green, short* blue) {
    const __m256i group = _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15,  //
                                           0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
    const __m256i gather = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    const __m256i a = _mm256_permutevar8x32_epi32(
        _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in)), group), gather);
    const __m256i b = _mm256_permutevar8x32_epi32(
        _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 32)), group), gather);
    const __m256i red_blue = _mm256_unpacklo_epi64(a, b);     // R0-7 R8-15 | B0-7 B8-15
    const __m256i green_alpha = _mm256_unpackhi_epi64(a, b);  // G0-7 G8-15 | A0-7 A8-15
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(red), _mm256_cvtepu8_epi16(_mm256_castsi256_si128(red_blue)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(green),
                        _mm256_cvtepu8_epi16(_mm256_castsi256_si128(green_alpha)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(blue), _mm256_cvtepu8_epi16(_mm256_extracti128_si256(red_blue, 1)));
}
#endif

#if IMGFILTER_X86_VARIANTS
// The emboss sum of sixteen pixels of one colour plane, from the rows above,
// at and below: integer sums, so the order of the terms does not matter.
IMGFILTER_TARGET_AVX2 inline __m256i emboss_sum16(const short* up, const short* mid, const short* down) {
    const __m256i up_left = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(up - 1));
    const __m256i down_right = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(down + 1));
    __m256i v = _mm256_sub_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(mid + 1)),
                                 _mm256_loadu_si256(reinterpret_cast<const __m256i*>(mid - 1)));
    v = _mm256_sub_epi16(v, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(up)));
    v = _mm256_add_epi16(v, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(down)));
    const __m256i diagonal = _mm256_sub_epi16(down_right, up_left);
    return _mm256_add_epi16(_mm256_add_epi16(v, diagonal), diagonal);
}

// The brightness of eight pixels' sums, truncated, before clamping.
IMGFILTER_TARGET_AVX2 inline __m256i emboss_grey8(__m256i red, __m256i green, __m256i blue) {
    __m256 a = _mm256_mul_ps(_mm256_cvtepi32_ps(red), _mm256_set1_ps(0.299f));
    a = _mm256_add_ps(a, _mm256_mul_ps(_mm256_cvtepi32_ps(green), _mm256_set1_ps(0.587f)));
    a = _mm256_add_ps(a, _mm256_mul_ps(_mm256_cvtepi32_ps(blue), _mm256_set1_ps(0.114f)));
    a = _mm256_add_ps(a, _mm256_set1_ps(128.5f));
    // The sums keep a within about -1000 .. 1300: no NaN and no overflow of
    // the conversion, and the saturating packs that follow clamp to 0..255,
    // which gives truncate_to_byte's byte.
    return _mm256_cvttps_epi32(a);
}

// One output row from the planes of the rows above, at and below it, written
// over the colours of out, sixteen pixels a step. The sums are widened to
// ints as the even and the odd pixels (a multiply-add by 1 takes the even
// shorts, a shift the odd ones), which needs no lane crossing; the greys of
// both come back into pixel order as they are packed into bytes, and a byte
// shuffle spreads each over its pixel's colour bytes, beside the alpha bytes
// already there.
IMGFILTER_TARGET_AVX2 void emboss_row16(const short* const* up, const short* const* mid, const short* const* down,
                                        unsigned char* out, int width) {
    const short *up_r = up[0], *up_g = up[1], *up_b = up[2];
    const short *mid_r = mid[0], *mid_g = mid[1], *mid_b = mid[2];
    const short *down_r = down[0], *down_g = down[1], *down_b = down[2];
    const __m256i ones = _mm256_set1_epi32(1);
    const __m256i spread = _mm256_setr_epi8(0, 0, 0, -1, 1, 1, 1, -1, 2, 2, 2, -1, 3, 3, 3, -1,  //
                                            4, 4, 4, -1, 5, 5, 5, -1, 6, 6, 6, -1, 7, 7, 7, -1);
    const __m256i alpha = _mm256_set1_epi32(static_cast<int>(0xFF000000u));  // the fourth byte of each pixel
    for (int x = 0; x < width; x += 16) {
        const __m256i red = emboss_sum16(up_r + x, mid_r + x, down_r + x);
        const __m256i green = emboss_sum16(up_g + x, mid_g + x, down_g + x);
        const __m256i blue = emboss_sum16(up_b + x, mid_b + x, down_b + x);
        const __m256i even = emboss_grey8(_mm256_madd_epi16(red, ones), _mm256_madd_epi16(green, ones),
                                          _mm256_madd_epi16(blue, ones));
        const __m256i odd = emboss_grey8(_mm256_srai_epi32(red, 16), _mm256_srai_epi32(green, 16),
                                         _mm256_srai_epi32(blue, 16));
        // Pixels 0-3 | 8-11 and 4-7 | 12-15, then 0-7 | 8-15 as shorts and
        // as bytes (each half twice).
        const __m256i low = _mm256_unpacklo_epi32(even, odd);
        const __m256i high = _mm256_unpackhi_epi32(even, odd);
        const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(low, high), _mm256_setzero_si256());
        const __m256i first = _mm256_shuffle_epi8(_mm256_permute2x128_si256(bytes, bytes, 0x00), spread);
        const __m256i second = _mm256_shuffle_epi8(_mm256_permute2x128_si256(bytes, bytes, 0x11), spread);
        unsigned char* o = out + x * 4;
        if (width - x >= 16) {
            __m256i* const at = reinterpret_cast<__m256i*>(o);
            _mm256_storeu_si256(at, _mm256_blendv_epi8(first, _mm256_loadu_si256(at), alpha));
            _mm256_storeu_si256(at + 1, _mm256_blendv_epi8(second, _mm256_loadu_si256(at + 1), alpha));
            continue;
        }
        // The row's last pixels: their colour bytes only.
        unsigned char greys[64];
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(greys), first);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(greys + 32), second);
        for (int i = 0; i < (width - x) * 4; ++i) {
            if (i % 4 != 3) o[i] = greys[i];
        }
    }
}
#endif

#if IMGFILTER_X86_VARIANTS
// (The masked forms of the intrinsics below: the plain ones start from
// undefined registers, which GCC warns of.)
//
// Thirty-two RGBA pixels into thirty-two R, G and B values each: a byte
// shuffle groups each sixteen-byte lane's pixels by colour, a two-register
// dword permute gathers each colour's bytes of all thirty-two pixels, and
// each thirty-two bytes widen into shorts.
IMGFILTER_TARGET_AVX512 inline void split_colours32(const unsigned char* in, short* red, short* green, short* blue) {
    const __m512i group =
        _mm512_maskz_broadcast_i32x4(0xFFFF, _mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15));
    const __m512i a = _mm512_shuffle_epi8(_mm512_loadu_si512(in), group);
    const __m512i b = _mm512_shuffle_epi8(_mm512_loadu_si512(in + 64), group);
    // Dword 4i + c of a register holds colour c of its lane i's four pixels.
    const __m512i red_green = _mm512_permutex2var_epi32(
        a, _mm512_setr_epi32(0, 4, 8, 12, 16, 20, 24, 28, 1, 5, 9, 13, 17, 21, 25, 29), b);
    const __m512i blue_ = _mm512_permutex2var_epi32(
        a, _mm512_setr_epi32(2, 6, 10, 14, 18, 22, 26, 30, 3, 7, 11, 15, 19, 23, 27, 31), b);
    _mm512_storeu_si512(red, _mm512_cvtepu8_epi16(_mm512_maskz_extracti64x4_epi64(0xFF, red_green, 0)));
    _mm512_storeu_si512(green, _mm512_cvtepu8_epi16(_mm512_maskz_extracti64x4_epi64(0xFF, red_green, 1)));
    _mm512_storeu_si512(blue, _mm512_cvtepu8_epi16(_mm512_maskz_extracti64x4_epi64(0xFF, blue_, 0)));
}

// Sixteen greys from half h of the sums of thirty-two pixels, written over the
// colours of out's first count (at most sixteen) pixels; alpha stays. The
// grey is spread over each pixel's colour bytes by a byte shuffle and stored
// under a mask that leaves the alpha bytes (and bytes past count) alone.
template <int h>
IMGFILTER_TARGET_AVX512 inline void emboss_greys16(const __m512i* sum, unsigned char* out, int count) {
    __m512 c[3];
    for (int i = 0; i < 3; ++i) {
        const __m256i half = _mm512_maskz_extracti64x4_epi64(0xFF, sum[i], h);
        c[i] = _mm512_maskz_cvtepi32_ps(0xFFFF, _mm512_maskz_cvtepi16_epi32(0xFFFF, half));
    }
    __m512 a = _mm512_mul_ps(c[0], _mm512_set1_ps(0.299f));
    a = _mm512_add_ps(a, _mm512_mul_ps(c[1], _mm512_set1_ps(0.587f)));
    a = _mm512_add_ps(a, _mm512_mul_ps(c[2], _mm512_set1_ps(0.114f)));
    a = _mm512_add_ps(a, _mm512_set1_ps(128.5f));
    // The sums keep a within about -1000 .. 1300: no NaN and no overflow of
    // the conversion, so truncating first and then clamping in integers
    // gives truncate_to_byte's byte.
    const __m512i grey = _mm512_maskz_min_epi32(
        0xFFFF, _mm512_maskz_max_epi32(0xFFFF, _mm512_maskz_cvttps_epi32(0xFFFF, a), _mm512_setzero_si512()),
        _mm512_set1_epi32(255));
    const __m512i spread = _mm512_maskz_broadcast_i32x4(
        0xFFFF, _mm_setr_epi8(0, 0, 0, -1, 4, 4, 4, -1, 8, 8, 8, -1, 12, 12, 12, -1));
    const __mmask64 colour_bytes = 0x7777777777777777ull;
    const __mmask64 in_row = count >= 16 ? ~0ull : (1ull << (4 * count)) - 1;
    _mm512_mask_storeu_epi8(out, colour_bytes & in_row, _mm512_shuffle_epi8(grey, spread));
}

// One output row from the planes of the rows above, at and below it, written
// over the colours of out, thirty-two pixels a step: the sums in 16-bit
// lanes, the brightness of each sixteen in float lanes.
IMGFILTER_TARGET_AVX512 void emboss_row32(const short* const* up, const short* const* mid, const short* const* down,
                                          unsigned char* out, int width) {
    for (int x = 0; x < width; x += 32) {
        __m512i sum[3];
        for (int c = 0; c < 3; ++c) {
            // Integer sums: the order of the terms does not matter.
            const __m512i up_left = _mm512_loadu_si512(up[c] + x - 1);
            const __m512i down_right = _mm512_loadu_si512(down[c] + x + 1);
            __m512i v = _mm512_sub_epi16(_mm512_loadu_si512(mid[c] + x + 1), _mm512_loadu_si512(mid[c] + x - 1));
            v = _mm512_sub_epi16(v, _mm512_loadu_si512(up[c] + x));
            v = _mm512_add_epi16(v, _mm512_loadu_si512(down[c] + x));
            const __m512i diagonal = _mm512_sub_epi16(down_right, up_left);
            sum[c] = _mm512_add_epi16(_mm512_add_epi16(v, diagonal), diagonal);
        }
        emboss_greys16<0>(sum, out + x * 4, width - x);
        if (x + 16 < width) emboss_greys16<1>(sum, out + (x + 16) * 4, width - x - 16);
    }
}
#endif

// Row of count pixels into planes of R, G and B shorts.
template <int lanes>
IMGFILTER_ALWAYS_INLINE void split_row(const unsigned char* in, int count, short* red, short* green, short* blue) {
    int x = 0;
#if IMGFILTER_X86_VARIANTS
    if constexpr (lanes == 16) {
        // Each step also asks for the same pixels of the next row.
        for (; x + 32 <= count; x += 32) {
            prefetch_at(in, (static_cast<std::size_t>(count) + x) * 4);
            prefetch_at(in, (static_cast<std::size_t>(count) + x) * 4 + 64);
            split_colours32(in + x * 4, red + x, green + x, blue + x);
        }
    }
    if constexpr (lanes >= 8) {
        for (; x + 16 <= count; x += 16) {
            prefetch_at(in, (static_cast<std::size_t>(count) + x) * 4);
            split_colours16(in + x * 4, red + x, green + x, blue + x);
        }
    }
#endif
    for (; x < count; ++x) {
        red[x] = in[x * 4 + 0];
        green[x] = in[x * 4 + 1];
        blue[x] = in[x * 4 + 2];
    }
}

// The two halves of a vector of 2 * lanes sums, widened to ints.
template <int lanes>
IMGFILTER_ALWAYS_INLINE void widen_halves(shorts<2 * lanes> v, ints<lanes>* half) {
    for (int h = 0; h < 2; ++h) {
        shorts<lanes> part;
        __builtin_memcpy(&part, reinterpret_cast<const char*>(&v) + h * sizeof part, sizeof part);
        half[h] = __builtin_convertvector(part, ints<lanes>);
    }
}

// The band holds R, G and B planes of 16-bit ints. Each step takes 2 * lanes
// pixels through the integer sums, then each half of them through the float
// evaluation, lanes pixels at a time.
template <int lanes>
IMGFILTER_ALWAYS_INLINE void emboss_image_body(unsigned char* pixels, const row_band<short>* band) {
    const int width = band->width;
    filter_rows_in_place(
        pixels, *band,
        [&](int y, const unsigned char* in) IMGFILTER_LAMBDA_INLINE {
            split_row<lanes>(in, width, band->row(y, 0), band->row(y, 1), band->row(y, 2));
        },
        [&](int y, unsigned char* out) IMGFILTER_LAMBDA_INLINE {
            const short* up[3];
            const short* mid[3];
            const short* down[3];
            for (int c = 0; c < 3; ++c) {
                up[c] = band->clamped(y - 1, c);
                mid[c] = band->row(y, c);
                down[c] = band->clamped(y + 1, c);
            }
#if IMGFILTER_X86_VARIANTS
            if constexpr (lanes == 16) {
                emboss_row32(up, mid, down, out, width);
                return;
            }
            if constexpr (lanes == 8) {
                emboss_row16(up, mid, down, out, width);
                return;
            }
#endif
            constexpr int wide = 2 * lanes;
            for (int x = 0; x < width; x += wide) {
                shorts<wide> sum[3];
                for (int c = 0; c < 3; ++c) {
                    // Integer sums: the order of the terms does not matter.
                    const shorts<wide> up_left = load_lanes<wide>(up[c] + x - 1);
                    const shorts<wide> down_right = load_lanes<wide>(down[c] + x + 1);
                    sum[c] = load_lanes<wide>(mid[c] + x + 1) - load_lanes<wide>(mid[c] + x - 1) -
                             load_lanes<wide>(up[c] + x) - up_left - up_left + load_lanes<wide>(down[c] + x) +
                             down_right + down_right;
                }
                ints<lanes> red[2], green[2], blue[2];
                widen_halves<lanes>(sum[0], red);
                widen_halves<lanes>(sum[1], green);
                widen_halves<lanes>(sum[2], blue);
                for (int h = 0; h < 2 && x + h * lanes < width; ++h) {
                    floats<lanes> a = __builtin_convertvector(red[h], floats<lanes>) * 0.299f;
                    a = a + __builtin_convertvector(green[h], floats<lanes>) * 0.587f;
                    a = a + __builtin_convertvector(blue[h], floats<lanes>) * 0.114f;
                    a = a + 128.5f;
                    // The sums keep a within about -1000 .. 1300: no NaN and no
                    // overflow of the conversion, so truncating first and then
                    // clamping in integers gives truncate_to_byte's byte.
                    ints<lanes> grey = __builtin_convertvector(a, ints<lanes>);
                    grey = grey < 0 ? 0 : grey;
                    grey = grey > 255 ? 255 : grey;
                    store_grey<lanes>(out + (x + h * lanes) * 4, width - x - h * lanes, grey);
                }
            }
        });
}

IMGFILTER_VARIANTS(emboss_image, (unsigned char* pixels, const row_band<short>* band), (pixels, band), 4, 8, 16)

}  // namespace

int thunk_emboss_with(filter_image* image, const void*, code_path path) {
    const int width = image->width;
    const int height = image->height;
    // In place: the band of three rows, one plane a colour, is the only allocation.
    return band_or_reference<short>(
        image, "emboss", path, {1, 1, 3, 3},
        [&](const row_band<short>& band) {
            emboss_image_for(path)(image->pixels, &band);
            return true;
        },
        [&](const unsigned char* in, unsigned char* out) { emboss_reference(in, out, width, height); });
}
