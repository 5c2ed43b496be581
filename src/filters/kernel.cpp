// Custom kernel: correlation with the caller's 3x3 or 5x5 grid, used as given.
//
// The fast path keeps the rows around the current one as float planes of the
// three colours, computes many pixels side by side, one per vector lane, each
// with the reference's products and sums in grid order, and writes the colour
// bytes back in place.
#include <cmath>

#include "filters/filter.h"
#include "simd/row_band.h"

namespace {

void kernel_reference(const unsigned char* in, unsigned char* result, int width, int height, const float* weights,
                      int size) {
    const int c = size / 2;
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    for (int y = 0; y < height; ++y) {
        unsigned char* out = result + y * stride;
        for (int x = 0; x < width; ++x) {
            float ar = 0.0f, ag = 0.0f, ab = 0.0f;
            // Products enter the sums in row-major order of the grid.
            for (int ky = 0; ky < size; ++ky) {
                const unsigned char* row = in + clamp_coord(y - c + ky, height) * stride;
                for (int kx = 0; kx < size; ++kx) {
                    const float w = weights[ky * size + kx];
                    const unsigned char* p = row + clamp_coord(x - c + kx, width) * 4;
                    ar += static_cast<float>(p[0]) * w;
                    ag += static_cast<float>(p[1]) * w;
                    ab += static_cast<float>(p[2]) * w;
                }
            }
            out[x * 4 + 0] = clamp_byte(ar);
            out[x * 4 + 1] = clamp_byte(ag);
            out[x * 4 + 2] = clamp_byte(ab);
            out[x * 4 + 3] = in[y * stride + x * 4 + 3];
        }
    }
}

// How many vectors of each colour's sums a step keeps in flight. Each sum is
// a chain of additions that wait for each other, so a step needs many of them
// to keep the adders busy through an addition's latency: AVX-512's 32
// registers hold three colours' sums of four vectors beside a 3x3 grid's
// weights; the narrower variants measured best with two, though their 16
// registers then hold only some of the weights.
template <int lanes>
constexpr int k_vectors_per_colour = lanes == 16 ? 4 : 2;

// clamp_byte for each lane. The ceiling comes first, in float, with 255 as
// the first operand of the processor's min, which returns its second operand
// when either is NaN: NaN stays NaN. Truncation then turns NaN and everything
// below the int range into the int minimum, which the integer floor at 0
// makes 0, as clamp_byte gives; all else below 1 truncates to 0 or less. The
// floor in integers leaves the float adders to the sums.
#if IMGFILTER_X86_VARIANTS
IMGFILTER_TARGET_AVX2 inline void round_to_bytes8(const floats<8>* sum, words<8>* bytes) {
    const __m256 v = _mm256_min_ps(_mm256_set1_ps(255.0f), _mm256_add_ps(reinterpret_cast<__m256>(*sum),
                                                                          _mm256_set1_ps(0.5f)));
    *bytes = reinterpret_cast<words<8>>(_mm256_max_epi32(_mm256_cvttps_epi32(v), _mm256_setzero_si256()));
}
// (The masked forms: the plain ones start from undefined registers, which
// GCC warns of.)
IMGFILTER_TARGET_AVX512 inline void round_to_bytes16(const floats<16>* sum, words<16>* bytes) {
    const __m512 v = _mm512_maskz_min_ps(0xFFFF, _mm512_set1_ps(255.0f),
                                         _mm512_add_ps(reinterpret_cast<__m512>(*sum), _mm512_set1_ps(0.5f)));
    *bytes = reinterpret_cast<words<16>>(
        _mm512_maskz_max_epi32(0xFFFF, _mm512_maskz_cvttps_epi32(0xFFFF, v), _mm512_setzero_si512()));
}
#endif

template <int lanes>
IMGFILTER_ALWAYS_INLINE words<lanes> round_to_bytes(floats<lanes> sum) {
#if IMGFILTER_X86_VARIANTS
    words<lanes> bytes;
    if constexpr (lanes == 8) {
        round_to_bytes8(&sum, &bytes);
        return bytes;
    }
    if constexpr (lanes == 16) {
        round_to_bytes16(&sum, &bytes);
        return bytes;
    }
#endif
    return reinterpret_cast<words<lanes>>(truncate_bytes<lanes>(sum + 0.5f));
}

#if IMGFILTER_X86_VARIANTS
// Sixteen pixels' colour bytes, under a mask that leaves their alpha bytes
// alone.
IMGFILTER_TARGET_AVX512 inline void store_colour_bytes16(unsigned char* out, const words<16>* packed) {
    _mm512_mask_storeu_epi8(out, 0x7777777777777777ull, reinterpret_cast<__m512i>(*packed));
}
#endif

// The colour bytes of lanes whole pixels, packed into words with alpha 0,
// written over out with its alpha bytes kept.
template <int lanes>
IMGFILTER_ALWAYS_INLINE void store_colour_words(unsigned char* out, words<lanes> packed) {
#if IMGFILTER_X86_VARIANTS
    if constexpr (lanes == 16) {
        store_colour_bytes16(out, &packed);
        return;
    }
#endif
    words<lanes> old;
    __builtin_memcpy(&old, out, sizeof old);
    packed |= old & (0xFFu << k_alpha_shift);
    __builtin_memcpy(out, &packed, sizeof packed);
}

// The sums of n * lanes pixels rounded to bytes, of which the first count
// pixels from x on are stored over out's colour bytes (alpha stays).
template <int lanes, int n>
IMGFILTER_ALWAYS_INLINE void store_sums(const floats<lanes> (*sum)[n], int x, unsigned char* out, int count) {
    constexpr int shift[3] = {k_red_shift, k_green_shift, k_blue_shift};
    words<lanes> packed[n];
    for (int v = 0; v < n; ++v) {
        packed[v] = round_to_bytes<lanes>(sum[0][v]) << shift[0] | round_to_bytes<lanes>(sum[1][v]) << shift[1] |
                    round_to_bytes<lanes>(sum[2][v]) << shift[2];
    }
    for (int v = 0; v < n && v * lanes < count; ++v) {
        unsigned char* o = out + (x + v * lanes) * 4;
        if (count - v * lanes >= lanes) {
            store_colour_words<lanes>(o, packed[v]);
            continue;
        }
        for (int i = 0; i < count - v * lanes; ++i) {
            for (int p = 0; p < 3; ++p) o[i * 4 + p] = static_cast<unsigned char>(packed[v][i] >> shift[p]);
        }
    }
}

// Products enter the sums in row-major order of the grid. The sums start
// with the first product rather than 0 + it, and weights of 0 are left out
// where that pays (see kernel_image_sized): a product of 0 is +0 or -0, and
// either change can only flip the sign of a zero sum, which the next nonzero
// term or the rounding to a byte (0 either way) removes.

// One step of n * lanes pixels from x on over every weight of the grid,
// unrolled, so each weight and row offset is a constant.
template <int lanes, int size, int n>
IMGFILTER_ALWAYS_INLINE void kernel_step(const float* const (*rows)[size], const float* w, int x, unsigned char* out,
                                         int count) {
    floats<lanes> sum[3][n];
    for (int c = 0; c < 3; ++c) {
        for (int v = 0; v < n; ++v) sum[c][v] = load_lanes<lanes>(rows[c][0] + x + v * lanes) * w[0];
    }
#pragma GCC unroll 25
    for (int k = 1; k < size * size; ++k) {
        for (int c = 0; c < 3; ++c) {
            const float* q = rows[c][k / size] + x + k % size;
            for (int v = 0; v < n; ++v) sum[c][v] += load_lanes<lanes>(q + v * lanes) * w[k];
        }
    }
    store_sums<lanes, n>(sum, x, out, count);
}

// One step over the terms of the grid's nonzero weights only: term t reads
// colour c's plane from at[t][c] with weight w[t].
template <int lanes, int n>
IMGFILTER_ALWAYS_INLINE void sparse_kernel_step(const float* const (*at)[3], const float* w, int terms, int x,
                                                unsigned char* out, int count) {
    floats<lanes> sum[3][n] = {};
    if (terms > 0) {
        for (int c = 0; c < 3; ++c) {
            for (int v = 0; v < n; ++v) sum[c][v] = load_lanes<lanes>(at[0][c] + x + v * lanes) * w[0];
        }
    }
    for (int t = 1; t < terms; ++t) {
        const float weight = w[t];
        for (int c = 0; c < 3; ++c) {
            const float* q = at[t][c] + x;
            for (int v = 0; v < n; ++v) sum[c][v] += load_lanes<lanes>(q + v * lanes) * weight;
        }
    }
    store_sums<lanes, n>(sum, x, out, count);
}

// The band holds each image row as R, G and B planes of floats: the alpha
// bytes, which the grid leaves alone, take no lanes. Output row y overwrites
// image row y, whose alpha bytes are still the image's own, so only the
// colour bytes are written.
//
// A grid with many weights of 0 (a sharpening cross has four of nine) goes
// through the list of its other weights: a loop over that list costs about a
// fifth more per term than the unrolled grid, so it pays from a quarter of
// the weights being 0.
template <int lanes, int size>
IMGFILTER_ALWAYS_INLINE void kernel_image_sized(unsigned char* pixels, const row_band<float>* band,
                                                const float* weights) {
    const int width = band->width;
    const int c = size / 2;
    float w[size * size];
    int term_row[size * size], term_column[size * size];
    int terms = 0;
    for (int k = 0; k < size * size; ++k) {
        if (weights[k] == 0.0f) continue;
        w[terms] = weights[k];
        term_row[terms] = k / size;
        term_column[terms] = k % size;
        ++terms;
    }
    const bool sparse = 4 * terms <= 3 * size * size;
    if (!sparse) {
        for (int k = 0; k < size * size; ++k) w[k] = weights[k];
    }
    constexpr int n = k_vectors_per_colour<lanes>;
    constexpr int step = n * lanes;
    filter_rows_in_place(
        pixels, *band,
        [&](int y, const unsigned char* in) IMGFILTER_LAMBDA_INLINE {
            split_colours<lanes>(in, width, band->row(y, 0), band->row(y, 1), band->row(y, 2));
        },
        [&](int y, unsigned char* out) IMGFILTER_LAMBDA_INLINE {
            // The last step may read past the row's end into the band's
            // padding; only the row's own pixels are stored.
            if (sparse) {
                const float* at[size * size][3];
                for (int t = 0; t < terms; ++t) {
                    for (int p = 0; p < 3; ++p) at[t][p] = band->clamped(y - c + term_row[t], p) - c + term_column[t];
                }
                int x = 0;
                for (; x + step <= width; x += step) sparse_kernel_step<lanes, n>(at, w, terms, x, out, step);
                if (x < width) sparse_kernel_step<lanes, n>(at, w, terms, x, out, width - x);
                return;
            }
            const float* rows[3][size];
            for (int p = 0; p < 3; ++p) {
                for (int ky = 0; ky < size; ++ky) rows[p][ky] = band->clamped(y - c + ky, p) - c;
            }
            int x = 0;
            for (; x + step <= width; x += step) kernel_step<lanes, size, n>(rows, w, x, out, step);
            if (x < width) kernel_step<lanes, size, n>(rows, w, x, out, width - x);
        });
}

template <int lanes>
IMGFILTER_ALWAYS_INLINE void kernel_image_body(unsigned char* pixels, const row_band<float>* band,
                                               const float* weights, int size) {
    if (size == 3) {
        kernel_image_sized<lanes, 3>(pixels, band, weights);
    } else {
        kernel_image_sized<lanes, 5>(pixels, band, weights);
    }
}

IMGFILTER_VARIANTS(kernel_image, (unsigned char* pixels, const row_band<float>* band, const float* weights, int size),
                   (pixels, band, weights, size), 4, 8, 16)

}  // namespace

int thunk_kernel_with(filter_image* image, const void* params, code_path path) {
    const kernel_params* kernel = static_cast<const kernel_params*>(params);
    if (!kernel->weights) {
        set_err("kernel: weights pointer is NULL");
        return 0;
    }
    const int size = kernel->size;
    if (size != 3 && size != 5) {
        set_err("kernel: size must be 3 or 5, got %d", size);
        return 0;
    }
    // A NaN weight would make every sum NaN and the picture black.
    for (int i = 0; i < size * size; ++i) {
        if (std::isnan(kernel->weights[i])) {
            set_err("kernel: weights[%d] is not a number", i);
            return 0;
        }
    }
    const float* weights = kernel->weights;
    const int width = image->width;
    const int height = image->height;
    // In place: the band of size rows, one plane a colour, is the only allocation.
    return band_or_reference<float>(
        image, "kernel", path, {size / 2, 1, size, 3},
        [&](const row_band<float>& band) {
            kernel_image_for(path)(image->pixels, &band, weights, size);
            return true;
        },
        [&](const unsigned char* in, unsigned char* out) { kernel_reference(in, out, width, height, weights, size); });
}
