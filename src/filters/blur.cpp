// Gaussian blur: two one-dimensional passes with one normalised weight table,
// horizontal into unrounded floats, vertical into bytes. Alpha rides along.
#include <cmath>

#include "filter.h"

namespace {

// The half-width of the kernel: ceil(2 * radius), at least 1 and at most 100.
// Radii above 50 (and +infinity) all give 100.
int half_width(float twice_radius) {
    const float up = std::ceil(twice_radius);
    if (!(up >= 1.0f)) return 1;
    if (up >= 100.0f) return 100;
    return static_cast<int>(up);
}

}  // namespace

void blur_weight_table(float radius, int r, float* weights) {
    // D and the running sum are single precision and the sum runs from -r to
    // +r: that order decides the last bit of every weight.
    const float spread = radius * (radius + radius);
    float sum = 0.0f;
    for (int i = -r; i <= r; ++i) {
        const float q = -static_cast<float>(i * i);
        const float e = std::exp(q / spread);
        weights[i + r] = e;
        sum += e;
    }
    // A division per entry, not a multiplication by 1/sum, which rounds twice.
    for (int k = 0; k <= 2 * r; ++k) weights[k] = weights[k] / sum;
}

int thunk_blur(filter_image* image, const void* params) {
    const float radius = *static_cast<const float*>(params);
    // Written so that NaN fails too: NaN weights would blacken the picture.
    if (!(radius > 0.0f)) {
        set_err("blur: radius must be positive, got %g", static_cast<double>(radius));
        return 0;
    }
    const int width = image->width;
    const int height = image->height;
    if (width <= 0 || height <= 0) {
        set_err("blur: empty image");
        return 0;
    }
    const float t = radius + radius;
    const int r = half_width(t);
    const float spread = radius * t;  // 2 * radius^2, rounded once
    if (spread == 0.0f) {
        // So tiny a radius that 2r^2 vanishes in single precision: every weight
        // would be 0/0. A Gaussian that narrow blurs by nothing.
        clear_err();
        return 1;
    }

    const int taps = 2 * r + 1;
    heap_ptr<float> weights = heap_alloc<float>(static_cast<unsigned long long>(taps));
    if (!weights) {
        set_err("blur: memory allocation failed for weights");
        return 0;
    }
    const float* w = weights.get();
    blur_weight_table(radius, r, weights.get());

    const unsigned long long count = static_cast<unsigned long long>(width) * static_cast<unsigned long long>(height);
    heap_ptr<float> across = heap_alloc<float>(count * 4);
    if (!across) {
        set_err("blur: memory allocation failed for horizontal pass");
        return 0;
    }
    const unsigned char* in = image->pixels;
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = in + static_cast<std::size_t>(y) * width * 4;
        float* out = across.get() + static_cast<std::size_t>(y) * width * 4;
        for (int x = 0; x < width; ++x, out += 4) {
            float ar = 0.0f, ag = 0.0f, ab = 0.0f;
            for (int k = 0; k < taps; ++k) {
                const unsigned char* p = row + clamp_coord(x - r + k, width) * 4;
                ar += static_cast<float>(p[0]) * w[k];
                ag += static_cast<float>(p[1]) * w[k];
                ab += static_cast<float>(p[2]) * w[k];
            }
            out[0] = ar;
            out[1] = ag;
            out[2] = ab;
            out[3] = static_cast<float>(row[x * 4 + 3]);
        }
    }

    heap_ptr<unsigned char> result = alloc_pixels(*image);
    if (!result) {
        set_err("blur: memory allocation failed for vertical pass");
        return 0;
    }
    const float* h = across.get();
    for (int y = 0; y < height; ++y) {
        unsigned char* out = result.get() + static_cast<std::size_t>(y) * width * 4;
        for (int x = 0; x < width; ++x, out += 4) {
            float br = 0.0f, bg = 0.0f, bb = 0.0f;
            for (int k = 0; k < taps; ++k) {
                const float* p = h + (static_cast<std::size_t>(clamp_coord(y - r + k, height)) * width + x) * 4;
                br += p[0] * w[k];
                bg += p[1] * w[k];
                bb += p[2] * w[k];
            }
            out[0] = clamp_byte(br);
            out[1] = clamp_byte(bg);
            out[2] = clamp_byte(bb);
            out[3] = static_cast<unsigned char>(h[(static_cast<std::size_t>(y) * width + x) * 4 + 3]);
        }
    }
    replace_pixels(image, std::move(result));
    clear_err();
    return 1;
}
