// Oil paint: sorts a disc of neighbours into 20 brightness levels and paints the
// pixel with the mean colour of the fullest level (the darker one on a tie).
#include "filter.h"

namespace {

constexpr int k_levels = 20;
constexpr int k_max_radius = 30;

}  // namespace

int thunk_oil_paint(filter_image* image, const void* params) {
    return apply_oil_paint(image, *static_cast<const int*>(params));
}

int apply_oil_paint(filter_image* image, int radius) {
    if (radius <= 0) {
        set_err("oil_paint: radius must be >= 1, got %d", radius);
        return 0;
    }
    heap_ptr<unsigned char> result = alloc_pixels(*image);
    if (!result) {
        set_err("oil_paint: memory allocation failed");
        return 0;
    }
    const int width = image->width;
    const int height = image->height;
    if (width > 0 && height > 0) {
        const int r = radius < k_max_radius ? radius : k_max_radius;
        const unsigned char* in = image->pixels;
        const std::size_t stride = static_cast<std::size_t>(width) * 4;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                int count[k_levels] = {};
                int sum_r[k_levels] = {};
                int sum_g[k_levels] = {};
                int sum_b[k_levels] = {};
                for (int dy = -r; dy <= r; ++dy) {
                    const unsigned char* row = in + clamp_coord(y + dy, height) * stride;
                    for (int dx = -r; dx <= r; ++dx) {
                        if (dx * dx + dy * dy > r * r) continue;
                        const unsigned char* p = row + clamp_coord(x + dx, width) * 4;
                        const int level = (luma_int(p) * k_levels) >> 8;
                        ++count[level];
                        sum_r[level] += p[0];
                        sum_g[level] += p[1];
                        sum_b[level] += p[2];
                    }
                }
                int best = 0;
                int best_count = 0;
                for (int level = 0; level < k_levels; ++level) {
                    if (count[level] > best_count) {
                        best_count = count[level];
                        best = level;
                    }
                }
                const unsigned char* centre = in + y * stride + x * 4;
                unsigned char* out = result.get() + y * stride + x * 4;
                if (best_count > 0) {
                    out[0] = static_cast<unsigned char>(sum_r[best] / best_count);
                    out[1] = static_cast<unsigned char>(sum_g[best] / best_count);
                    out[2] = static_cast<unsigned char>(sum_b[best] / best_count);
                } else {
                    out[0] = centre[0];
                    out[1] = centre[1];
                    out[2] = centre[2];
                }
                out[3] = centre[3];
            }
        }
    }
    replace_pixels(image, std::move(result));
    clear_err();
    return 1;
}
