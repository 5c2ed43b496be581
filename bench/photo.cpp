#include "photo.h"

#include <cmath>
#include <cstdint>

namespace {

// xorshift32: the same picture on every run and every machine.
uint32_t next(uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

unsigned char to_byte(float v) { return static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v); }

}  // namespace

std::vector<unsigned char> make_photo(int width, int height) {
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 4);
    uint32_t state = 2463534242u;
    // A few discs of flat colour over a sky-to-ground gradient.
    struct disc { float x, y, r, c[3]; };
    disc discs[24];
    for (disc& d : discs) {
        d.x = static_cast<float>(next(state) % width);
        d.y = static_cast<float>(next(state) % height);
        d.r = static_cast<float>(20 + next(state) % (width / 6));
        for (float& c : d.c) c = static_cast<float>(next(state) % 256);
    }
    for (int y = 0; y < height; ++y) {
        const float fy = static_cast<float>(y) / height;
        for (int x = 0; x < width; ++x) {
            const float fx = static_cast<float>(x) / width;
            float c[3] = {60 + 150 * fy + 20 * std::sin(fx * 9.0f), 90 + 100 * fy * fx, 200 - 120 * fy};
            for (const disc& d : discs) {
                const float dx = x - d.x, dy = y - d.y;
                if (dx * dx + dy * dy < d.r * d.r) {
                    for (int i = 0; i < 3; ++i) c[i] = d.c[i] * (0.8f + 0.2f * std::sin(dx * 0.05f + dy * 0.03f));
                }
            }
            unsigned char* p = &pixels[(static_cast<size_t>(y) * width + x) * 4];
            for (int i = 0; i < 3; ++i) p[i] = to_byte(c[i] + static_cast<float>(next(state) % 13) - 6.0f);
            p[3] = 255;
        }
    }
    return pixels;
}
