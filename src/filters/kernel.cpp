// Custom kernel: correlation with the caller's 3x3 or 5x5 grid, used as given.
#include <cmath>

#include "filter.h"

int thunk_kernel(filter_image* image, const void* params) {
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
    heap_ptr<unsigned char> result = alloc_pixels(*image);
    if (!result) {
        set_err("kernel: memory allocation failed");
        return 0;
    }
    const float* weights = kernel->weights;
    const int c = size / 2;
    const int width = image->width;
    const int height = image->height;
    const unsigned char* in = image->pixels;
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    for (int y = 0; y < height; ++y) {
        unsigned char* out = result.get() + y * stride;
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
    replace_pixels(image, std::move(result));
    clear_err();
    return 1;
}
