// Denoise: a bilateral filter. Each neighbour in a square window weighs by its
// distance (spatial table) times its brightness difference (range table).
#include <cmath>

#include "filter.h"

int thunk_denoise(filter_image* image, const void* params) {
    return apply_denoise(image, *static_cast<const int*>(params));
}

int apply_denoise(filter_image* image, int strength) {
    // Unsigned so that the most negative int fails as well, without overflow.
    if (static_cast<unsigned>(strength) - 1u > 9u) {
        set_err("denoise: strength %d out of range 1..10", strength);
        return 0;
    }
    heap_ptr<unsigned char> result = alloc_pixels(*image);
    if (!result) {
        set_err("denoise: memory allocation failed");
        return 0;
    }
    const int r = strength <= 4 ? 2 : 3;
    const float sigma_s = 0.4f * static_cast<float>(strength) + 1.0f;
    const float sigma_r = 5.0f * static_cast<float>(strength) + 10.0f;
    const float d = (sigma_s + sigma_s) * sigma_s;
    const float e = (sigma_r + sigma_r) * sigma_r;
    float spatial[7][7] = {};
    for (int dy = -r; dy <= r; ++dy)
        for (int dx = -r; dx <= r; ++dx)
            spatial[dy + r][dx + r] = std::exp(-static_cast<float>(dx * dx + dy * dy) / d);
    float range[256];
    for (int k = 0; k < 256; ++k) range[k] = std::exp(-static_cast<float>(k * k) / e);

    const int width = image->width;
    const int height = image->height;
    const unsigned char* in = image->pixels;
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    for (int y = 0; y < height; ++y) {
        unsigned char* out = result.get() + y * stride;
        for (int x = 0; x < width; ++x) {
            const unsigned char* centre = in + y * stride + x * 4;
            const int l0 = luma_int(centre);
            float sr = 0.0f, sg = 0.0f, sb = 0.0f, sw = 0.0f;
            for (int dy = -r; dy <= r; ++dy) {
                const unsigned char* row = in + clamp_coord(y + dy, height) * stride;
                for (int dx = -r; dx <= r; ++dx) {
                    const unsigned char* p = row + clamp_coord(x + dx, width) * 4;
                    const int diff = l0 - luma_int(p);
                    const float w = range[diff < 0 ? -diff : diff] * spatial[dy + r][dx + r];
                    sr += static_cast<float>(p[0]) * w;
                    sg += static_cast<float>(p[1]) * w;
                    sb += static_cast<float>(p[2]) * w;
                    sw += w;
                }
            }
            unsigned char* o = out + x * 4;
            if (sw > 0.0f) {
                o[0] = clamp_byte(sr / sw);
                o[1] = clamp_byte(sg / sw);
                o[2] = clamp_byte(sb / sw);
            } else {
                o[0] = centre[0];
                o[1] = centre[1];
                o[2] = centre[2];
            }
            o[3] = centre[3];
        }
    }
    replace_pixels(image, std::move(result));
    clear_err();
    return 1;
}
