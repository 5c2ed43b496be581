// Vignette: darkens towards the corners by a factor 1 - r^2 * s, where r is the
// distance from the centre over the distance to a corner pixel. In place.
//
// The fast path computes several pixels' factors side by side and scales many
// colour bytes side by side, one per vector lane, each lane with the
// reference's operations in the reference's order.
#include <cmath>

#include "../row_band.h"

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

// A row is done in chunks of k_chunk pixels with scratch on the stack (the
// filter allocates nothing). Several pixels' factors are computed side by
// side with the reference's operations, then each factor is spread over its
// pixel's four bytes and the bytes are scaled side by side.
constexpr int k_chunk = 256;

template <int lanes>
IMGFILTER_ALWAYS_INLINE void vignette_image_body(unsigned char* pixels, int width, int height, float cx, float cy,
                                                 float d, float s) {
    int line[4 * k_chunk];
    ints<lanes> step = {};
    for (int lane = 0; lane < lanes; ++lane) step[lane] = lane;
    ints<lanes> is_alpha = {};
    for (int lane = 3; lane < lanes; lane += 4) is_alpha[lane] = -1;
    const floats<lanes> one = floats<lanes>{} + 1.0f;
    for (int y = 0; y < height; ++y) {
        const float dy = static_cast<float>(y) - cy;
        const float dy2 = dy * dy;
        for (int x0 = 0; x0 < width; x0 += k_chunk) {
            const int n = width - x0 < k_chunk ? width - x0 : k_chunk;
            unsigned char* p = pixels + (static_cast<std::size_t>(y) * width + x0) * 4;
            widen_bytes(line, p, 4 * n);
            for (int x = 0; x < n; x += lanes) {
                const floats<lanes> dx = __builtin_convertvector(step + (x0 + x), floats<lanes>) - cx;
                const floats<lanes> dx2 = dx * dx;
                floats<lanes> r = square_root<lanes>(dx2 + dy2) / d;
                r = r > 1.0f ? floats<lanes>{} + 1.0f : r;
                floats<lanes> f = 1.0f - (r * r) * s;
                f = f < 0.0f ? floats<lanes>{} : f;
                for (int q = 0; q < 4; ++q) {
                    const int i = 4 * x + q * lanes;
                    if (i >= 4 * n) break;
                    // Alpha lanes are scaled by exactly 1, which keeps them.
                    const floats<lanes> factor = is_alpha ? one : spread_quarter<lanes>(f, q);
                    if (i + lanes <= 4 * n) {
                        // byte * factor lies in 0..255 (the factor in 0..1), so
                        // clamp_byte is the plain truncation of it + 0.5f.
                        const floats<lanes> scaled =
                            __builtin_convertvector(load_ints<lanes>(line + i), floats<lanes>) * factor;
                        const ints<lanes> result = __builtin_convertvector(scaled + 0.5f, ints<lanes>);
                        __builtin_memcpy(line + i, &result, sizeof result);
                    } else {
                        // The last bytes of a row that fill no whole vector.
                        for (int lane = 0; i + lane < 4 * n; ++lane) {
                            if (lane % 4 != 3) line[i + lane] = clamp_byte(static_cast<float>(line[i + lane]) * factor[lane]);
                        }
                    }
                }
            }
            narrow_to_bytes(p, line, 4 * n);
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

int thunk_vignette(filter_image* image, const void* params) {
    return thunk_vignette_with(image, params, fastest_code_path());
}
