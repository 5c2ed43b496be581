// Vignette: darkens towards the corners by a factor 1 - r^2 * s, where r is the
// distance from the centre over the distance to a corner pixel. In place.
#include <cmath>

#include "filter.h"

int thunk_vignette_with(filter_image* image, const void* params, code_path path) {
    (void)path;
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
        unsigned char* pixel = image->pixels;
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
    clear_err();
    return 1;
}

int thunk_vignette(filter_image* image, const void* params) {
    return thunk_vignette_with(image, params, fastest_code_path());
}
