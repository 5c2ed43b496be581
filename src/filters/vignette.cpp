// Vignette: darkens towards the corners by a factor 1 - r^2 * s, where r is the
// distance from the centre over the distance to a corner pixel. In place.
//
// The fast path computes each factor once for the up to four pixels that lie
// mirrored about the centre, several pixels' factors side by side, and scales
// many colour bytes side by side, one per vector lane, each lane with the
// reference's operations in the reference's order.
#include <cmath>

#include "filters/filter.h"
#include "simd/row_band.h"

namespace {

void vignette_reference(unsigned char* pixels, int width, int height, float cx, float cy, float d, float s) {
    unsigned char* pixel = pixels;
    for (int y = 0; y < height; ++y) {
        const float dy = static_cast<float>(y) - cy;
        const float dy2 = dy * dy;
        for (int x = 0; x < width; ++x, pixel += 4) {
            const float dx = static_cast<float>(x) - cx;
            const float dx2 = dx * dx;
            float r = std::sqrt(dx2 + dy2) / d;
            if (r > 1.0f) r = 1.0f;
            float factor = 1.0f - (r * r) * s;
            if (factor < 0.0f) factor = 0.0f;
            pixel[0] = clamp_byte(static_cast<float>(pixel[0]) * factor);
            pixel[1] = clamp_byte(static_cast<float>(pixel[1]) * factor);
            pixel[2] = clamp_byte(static_cast<float>(pixel[2]) * factor);
        }
    }
}

// The factor is symmetric about both centre lines: with cx = (width - 1) * 0.5f
// the offsets float(x) - cx and float(width - 1 - x) - cx are exact negatives
// of each other (multiples of 0.5 below 2^23, so every step is exact), so
// their squares are equal; the same holds for rows. Each factor is therefore
// computed once, with the reference's operations, for a pixel of the top-left
// quarter and applied to the up to four pixels that mirror it. Beyond 2^24
// columns or rows float(x) is no longer exact and the mirror is not used.
constexpr int k_exact_mirror = 1 << 24;

// Columns are done in chunks of k_chunk with scratch on the stack (the filter
// allocates nothing); k_row_tail more entries let whole vectors be read past n.
constexpr int k_chunk = 256;

// The factors of columns x0 .. x0 + n - 1 in a row whose dy^2 is given.
template <int lanes>
IMGFILTER_ALWAYS_INLINE void row_factors(float* factor, int x0, int n, float dy2, float cx, float d, float s) {
    ints<lanes> step = {};
    for (int lane = 0; lane < lanes; ++lane) step[lane] = lane;
    for (int x = 0; x < n; x += lanes) {
        const floats<lanes> dx = __builtin_convertvector(step + (x0 + x), floats<lanes>) - cx;
        const floats<lanes> dx2 = dx * dx;
        floats<lanes> r = square_root<lanes>(dx2 + dy2) / d;
        r = r > 1.0f ? floats<lanes>{} + 1.0f : r;
        floats<lanes> f = 1.0f - (r * r) * s;
        f = f < 0.0f ? floats<lanes>{} : f;
        __builtin_memcpy(factor + x, &f, sizeof f);
    }
}

// Scales the colour bytes of n pixels (at most k_chunk) from p, pixel i by
// factor[i]. The bytes are widened to ints on the stack and back (plain loops
// that become the variant's widening and narrowing instructions); each factor
// is spread over its pixel's four lanes, and alpha lanes are scaled by
// exactly 1, which keeps them.
template <int lanes>
IMGFILTER_ALWAYS_INLINE void scale_pixels(unsigned char* p, const float* factor, int n, std::ptrdiff_t next_row) {
    int line[4 * k_chunk];
    for (int b = 0; b < 4 * n; b += 64) prefetch_at(p, static_cast<std::size_t>(next_row + b));
    ints<lanes> is_alpha = {};
    for (int lane = 3; lane < lanes; lane += 4) is_alpha[lane] = -1;
    const floats<lanes> one = floats<lanes>{} + 1.0f;
    widen_bytes(line, p, 4 * n);
    int i = 0;
    for (; i + lanes <= n; i += lanes) {
        const floats<lanes> f = load_lanes<lanes>(factor + i);
        for (int q = 0; q < 4; ++q) {
            int* b = line + 4 * i + q * lanes;
            const floats<lanes> scale = is_alpha ? one : spread_quarter<lanes>(f, q);
            // byte * factor lies in 0..255 (the factor in 0..1), so clamp_byte
            // is the plain truncation of it + 0.5f.
            const floats<lanes> scaled = __builtin_convertvector(load_lanes<lanes>(b), floats<lanes>) * scale;
            const ints<lanes> result = __builtin_convertvector(scaled + 0.5f, ints<lanes>);
            __builtin_memcpy(b, &result, sizeof result);
        }
    }
    for (; i < n; ++i) {
        for (int c = 0; c < 3; ++c) line[4 * i + c] = clamp_byte(static_cast<float>(line[4 * i + c]) * factor[i]);
    }
    narrow_to_bytes(p, line, 4 * n);
}

template <int lanes>
IMGFILTER_ALWAYS_INLINE void vignette_image_body(unsigned char* pixels, int width, int height, float cx, float cy,
                                                 float d, float s) {
    float left[k_chunk + k_row_tail];
    float right[k_chunk + k_row_tail];
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    // Each range is scaled again a row further in (down from the top, up
    // from the bottom); its pixels there are asked for meanwhile.
    const std::ptrdiff_t row_step = static_cast<std::ptrdiff_t>(stride);
    const bool mirror_rows = height <= k_exact_mirror;
    const bool mirror_columns = width <= k_exact_mirror;
    const int rows = mirror_rows ? (height + 1) / 2 : height;
    const int columns = mirror_columns ? (width + 1) / 2 : width;
    for (int y = 0; y < rows; ++y) {
        const float dy = static_cast<float>(y) - cy;
        const float dy2 = dy * dy;
        unsigned char* top = pixels + static_cast<std::size_t>(y) * stride;
        const int y_mirror = height - 1 - y;
        unsigned char* bottom = mirror_rows && y_mirror != y ? pixels + static_cast<std::size_t>(y_mirror) * stride
                                                             : nullptr;
        for (int x0 = 0; x0 < columns; x0 += k_chunk) {
            const int n = columns - x0 < k_chunk ? columns - x0 : k_chunk;
            row_factors<lanes>(left, x0, n, dy2, cx, d, s);
            scale_pixels<lanes>(top + x0 * 4, left, n, row_step);
            if (bottom) scale_pixels<lanes>(bottom + x0 * 4, left, n, -row_step);
            if (!mirror_columns) continue;
            // Columns from columns on mirror those below width - columns; the
            // middle column of an odd width mirrors itself and is done already.
            const int begin = width - x0 - n > columns ? width - x0 - n : columns;
            const int m = width - x0 - begin;
            for (int i = 0; i < m; ++i) right[i] = left[width - 1 - begin - i - x0];
            scale_pixels<lanes>(top + begin * 4, right, m, row_step);
            if (bottom) scale_pixels<lanes>(bottom + begin * 4, right, m, -row_step);
        }
    }
}

IMGFILTER_VARIANTS(vignette_image, (unsigned char* pixels, int width, int height, float cx, float cy, float d, float s),
                   (pixels, width, height, cx, cy, d, s), 4, 8, 16)

}  // namespace

int thunk_vignette_with(filter_image* image, const void* params, code_path path) {
    const float strength = *static_cast<const float*>(params);
    // Written so that NaN fails too: a NaN factor would blacken the picture.
    if (!(strength >= 0.0f)) {
        set_err("vignette: strength must be non-negative, got %g", static_cast<double>(strength));
        return 0;
    }
    float s = strength;
    if (s > 1.0f) {
        // 1 means full strength; above it the value is a percentage, capped at 100.
        s = s <= 100.0f ? s / 100.0f : 1.0f;
    } else if (s == 0.0f) {
        clear_err();
        return 1;
    }

    const int width = image->width;
    const int height = image->height;
    const float cx = static_cast<float>(width - 1) * 0.5f;
    const float cy = static_cast<float>(height - 1) * 0.5f;
    float d = std::sqrt(cx * cx + cy * cy);
    if (!(d > 0.0f)) d = 1.0f;  // a 1x1 image: every r is then 0

    if (width > 0 && height > 0) {
        if (path == code_path::reference) {
            vignette_reference(image->pixels, width, height, cx, cy, d, s);
        } else {
            vignette_image_for(path)(image->pixels, width, height, cx, cy, d, s);
        }
    }
    clear_err();
    return 1;
}
