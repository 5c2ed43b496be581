// Pixelate: paints each block of block_size x block_size pixels (cut off at the
// right and bottom edges) with its rounded mean, alpha included. In place.
#include <cstdint>

#include "filters/filter.h"

int thunk_pixelate_with(filter_image* image, const void* params, code_path path) {
    // One loop serves every path: it reads and writes each pixel once, in
    // place, with integer sums, and is bound by memory rather than arithmetic.
    (void)path;
    const int block = *static_cast<const int*>(params);
    if (block <= 0) {
        set_err("pixelate: block_size must be >= 1, got %d", block);
        return 0;
    }
    const int width = image->width;
    const int height = image->height;
    if (block > 1 && width > 0 && height > 0) {
        const std::size_t stride = static_cast<std::size_t>(width) * 4;
        // Block ends are found without forming y0 + block, which could overflow.
        for (int y0 = 0, y1; y0 < height; y0 = y1) {
            y1 = height - y0 > block ? y0 + block : height;
            for (int x0 = 0, x1; x0 < width; x0 = x1) {
                x1 = width - x0 > block ? x0 + block : width;
                // 64-bit sums: a block can hold more pixels than 32 bits can sum.
                int64_t sum[4] = {0, 0, 0, 0};
                for (int y = y0; y < y1; ++y) {
                    const unsigned char* p = image->pixels + y * stride + static_cast<std::size_t>(x0) * 4;
                    for (int x = x0; x < x1; ++x, p += 4) {
                        sum[0] += p[0];
                        sum[1] += p[1];
                        sum[2] += p[2];
                        sum[3] += p[3];
                    }
                }
                const int64_t n = static_cast<int64_t>(y1 - y0) * (x1 - x0);
                const int64_t half = n / 2;
                unsigned char mean[4];
                for (int c = 0; c < 4; ++c) mean[c] = static_cast<unsigned char>((sum[c] + half) / n);
                for (int y = y0; y < y1; ++y) {
                    unsigned char* p = image->pixels + y * stride + static_cast<std::size_t>(x0) * 4;
                    for (int x = x0; x < x1; ++x, p += 4) {
                        p[0] = mean[0];
                        p[1] = mean[1];
                        p[2] = mean[2];
                        p[3] = mean[3];
                    }
                }
            }
        }
    }
    clear_err();
    return 1;
}
