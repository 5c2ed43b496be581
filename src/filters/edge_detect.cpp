// Edge detection: Sobel gradients of the truncated brightness, magnitude as grey.
#include <cmath>

#include "filter.h"

namespace {

constexpr int gx_k[3][3] = {{-1, 0, 1}, {-2, 0, 2}, {-1, 0, 1}};
constexpr int gy_k[3][3] = {{-1, -2, -1}, {0, 0, 0}, {1, 2, 1}};

}  // namespace

int thunk_edge_detect(filter_image* image, const void*) {
    heap_ptr<unsigned char> result = alloc_pixels(*image);
    if (!result) {
        set_err("edge_detect: memory allocation failed");
        return 0;
    }
    const int width = image->width;
    const int height = image->height;
    const unsigned char* in = image->pixels;
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    for (int y = 0; y < height; ++y) {
        unsigned char* out = result.get() + y * stride;
        for (int x = 0; x < width; ++x) {
            int gx = 0, gy = 0;
            for (int dy = -1; dy <= 1; ++dy) {
                const unsigned char* row = in + clamp_coord(y + dy, height) * stride;
                for (int dx = -1; dx <= 1; ++dx) {
                    const int l = luma_int(row + clamp_coord(x + dx, width) * 4);
                    gx += gx_k[dy + 1][dx + 1] * l;
                    gy += gy_k[dy + 1][dx + 1] * l;
                }
            }
            // m is at most 2,080,800: exact in float, and the truncated float
            // square root is the integer square root for every such m.
            const int m = gx * gx + gy * gy;
            int v = static_cast<int>(std::sqrt(static_cast<float>(m)));
            if (v > 255) v = 255;
            out[x * 4 + 0] = static_cast<unsigned char>(v);
            out[x * 4 + 1] = static_cast<unsigned char>(v);
            out[x * 4 + 2] = static_cast<unsigned char>(v);
            out[x * 4 + 3] = in[y * stride + x * 4 + 3];
        }
    }
    replace_pixels(image, std::move(result));
    clear_err();
    return 1;
}
