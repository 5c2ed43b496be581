// Emboss: a diagonal 3x3 difference of each colour, reduced to one grey with
// the brightness weights and lifted to mid-grey.
#include "filter.h"

namespace {

// Rows from the row above to the row below, columns from left to right.
constexpr int k[3][3] = {{-2, -1, 0}, {-1, 0, 1}, {0, 1, 2}};

}  // namespace

int thunk_emboss(filter_image* image, const void*) {
    heap_ptr<unsigned char> result = alloc_pixels(*image);
    if (!result) {
        set_err("emboss: memory allocation failed");
        return 0;
    }
    const int width = image->width;
    const int height = image->height;
    const unsigned char* in = image->pixels;
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    for (int y = 0; y < height; ++y) {
        unsigned char* out = result.get() + y * stride;
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
    replace_pixels(image, std::move(result));
    clear_err();
    return 1;
}
