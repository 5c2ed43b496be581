// Sharpen: (1 + a) times the pixel minus a/4 times its four direct neighbours.
#include "filter.h"

int thunk_sharpen(filter_image* image, const void* params) {
    const float amount = *static_cast<const float*>(params);
    // Written so that NaN fails too: a NaN amount would blacken the picture.
    if (!(amount >= 0.0f && amount <= 5.0f)) {
        set_err("sharpen: amount %g out of range 0.0..5.0", static_cast<double>(amount));
        return 0;
    }
    if (amount == 0.0f) {
        clear_err();
        return 1;
    }
    heap_ptr<unsigned char> result = alloc_pixels(*image);
    if (!result) {
        set_err("sharpen: memory allocation failed");
        return 0;
    }
    const float kc = amount + 1.0f;
    const float kn = -amount * 0.25f;
    const int width = image->width;
    const int height = image->height;
    const unsigned char* in = image->pixels;
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = in + y * stride;
        const unsigned char* up = in + (y > 0 ? y - 1 : 0) * stride;
        const unsigned char* down = in + (y + 1 < height ? y + 1 : height - 1) * stride;
        unsigned char* out = result.get() + y * stride;
        for (int x = 0; x < width; ++x) {
            const int left = (x > 0 ? x - 1 : 0) * 4;
            const int right = (x + 1 < width ? x + 1 : width - 1) * 4;
            const int at = x * 4;
            for (int c = 0; c < 3; ++c) {
                const int s = up[at + c] + down[at + c] + row[left + c] + row[right + c];
                const float v = static_cast<float>(s) * kn + static_cast<float>(row[at + c]) * kc;
                out[at + c] = clamp_byte(v);
            }
            out[at + 3] = row[at + 3];
        }
    }
    replace_pixels(image, std::move(result));
    clear_err();
    return 1;
}
