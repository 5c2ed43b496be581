// Custom kernel: correlation with the caller's 3x3 or 5x5 grid, used as given.
//
// The fast path keeps the rows around the current one as floats, computes
// many colour bytes side by side, one per vector lane, each with the
// reference's products and sums in grid order, and writes back in place.
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

// The band holds the image rows as floats, R, G, B and A interleaved, so each
// lane is one byte of one pixel; alpha lanes keep the pixel's own alpha.
template <int lanes, int size>
IMGFILTER_ALWAYS_INLINE void kernel_image_sized(unsigned char* pixels, const row_band<float>* band, int* line,
                                                const float* weights) {
    const int end = band->width * 4;
    const int c = size / 2;
    float w[size * size];
    for (int i = 0; i < size * size; ++i) w[i] = weights[i];
    filter_rows_in_place(
        pixels, *band,
        [&](int y, const unsigned char* in) IMGFILTER_LAMBDA_INLINE {
            float* row = band->row(y, 0);
            for (int i = 0; i < end; ++i) row[i] = static_cast<float>(in[i]);
        },
        [&](int y, unsigned char* out) IMGFILTER_LAMBDA_INLINE {
            const float* rows[size];
            for (int ky = 0; ky < size; ++ky) rows[ky] = band->clamped(y - c + ky, 0) - c * 4;
            const float* mid = band->row(y, 0);
            // Two vectors at a time, so the additions of one do not wait for
            // the other's.
            for (int x = 0; x < end; x += 2 * lanes) {
                // Products enter the sums in row-major order of the grid.
                floats<lanes> lo = {}, hi = {};
                for (int ky = 0; ky < size; ++ky) {
                    for (int kx = 0; kx < size; ++kx) {
                        const float* p = rows[ky] + x + kx * 4;
                        lo += load_lanes<lanes>(p) * w[ky * size + kx];
                        hi += load_lanes<lanes>(p + lanes) * w[ky * size + kx];
                    }
                }
                const ints<lanes> lo_alpha = __builtin_convertvector(load_lanes<lanes>(mid + x), ints<lanes>);
                const ints<lanes> hi_alpha = __builtin_convertvector(load_lanes<lanes>(mid + x + lanes), ints<lanes>);
                const ints<lanes> lo_result = keep_alpha<lanes>(clamp_bytes<lanes>(lo), lo_alpha);
                const ints<lanes> hi_result = keep_alpha<lanes>(clamp_bytes<lanes>(hi), hi_alpha);
                __builtin_memcpy(line + x, &lo_result, sizeof lo_result);
                __builtin_memcpy(line + x + lanes, &hi_result, sizeof hi_result);
            }
            narrow_to_bytes(out, line, end);
        });
}

template <int lanes>
IMGFILTER_ALWAYS_INLINE void kernel_image_body(unsigned char* pixels, const row_band<float>* band, int* line,
                                               const float* weights, int size) {
    if (size == 3) {
        kernel_image_sized<lanes, 3>(pixels, band, line, weights);
    } else {
        kernel_image_sized<lanes, 5>(pixels, band, line, weights);
    }
}

IMGFILTER_VARIANTS(kernel_image,
                   (unsigned char* pixels, const row_band<float>* band, int* line, const float* weights, int size),
                   (pixels, band, line, weights, size), 4, 8, 16)

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
    if (path != code_path::reference) {
        // In place: the band of rows and one output row are the only
        // allocations.
        const row_band<float> band(width, height, size / 2, 4, size, 1);
        heap_ptr<int> line = heap_alloc<int>(static_cast<unsigned long long>(band.padded));
        if (!band.ok() || !line) {
            set_err("kernel: memory allocation failed");
            return 0;
        }
        if (width > 0 && height > 0) kernel_image_for(path)(image->pixels, &band, line.get(), weights, size);
        clear_err();
        return 1;
    }
    return fill_new_pixels(image, "kernel", [&](const unsigned char* in, unsigned char* out) {
        kernel_reference(in, out, width, height, weights, size);
    });
}

int thunk_kernel(filter_image* image, const void* params) {
    return thunk_kernel_with(image, params, fastest_code_path());
}
