// Edge detection: Sobel gradients of the truncated brightness, magnitude as grey.
//
// The fast path computes each pixel's truncated luma once, into a band of
// three rows, and several pixels' gradients side by side, one per vector lane,
// in integers; the magnitude's truncated square root is found exactly in
// integers too. It writes back in place.
#include <cmath>

#include "filters/filter.h"
#include "simd/row_band.h"

namespace {

constexpr int gx_k[3][3] = {{-1, 0, 1}, {-2, 0, 2}, {-1, 0, 1}};
constexpr int gy_k[3][3] = {{-1, -2, -1}, {0, 0, 0}, {1, 2, 1}};

void edge_reference(const unsigned char* in, unsigned char* result, int width, int height) {
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    for (int y = 0; y < height; ++y) {
        unsigned char* out = result + y * stride;
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
}

// The largest n <= 255 with n * n <= m, for each lane: the integer square
// root capped at 255, which is what the truncated float square root gives for
// every m that can occur. Found bit by bit, from 128 down.
template <int lanes>
IMGFILTER_ALWAYS_INLINE ints<lanes> capped_root(ints<lanes> m) {
    ints<lanes> root = {};
    for (int bit = 128; bit > 0; bit >>= 1) {
        const ints<lanes> trial = root | bit;
        root = trial * trial <= m ? trial : root;
    }
    return root;
}

// The band holds a plane of truncated lumas; each lane is one pixel.
template <int lanes>
IMGFILTER_ALWAYS_INLINE void edge_image_body(unsigned char* pixels, const row_band<int>* band) {
    const int width = band->width;
    filter_rows_in_place(
        pixels, *band,
        [&](int y, const unsigned char* in) IMGFILTER_LAMBDA_INLINE {
            truncated_lumas<lanes>(in, width, band->row(y, 0));
        },
        [&](int y, unsigned char* out) IMGFILTER_LAMBDA_INLINE {
            const int* up = band->clamped(y - 1, 0);
            const int* mid = band->row(y, 0);
            const int* down = band->clamped(y + 1, 0);
            for (int x = 0; x < width; x += lanes) {
                // Integer sums: the order of the terms does not matter.
                const ints<lanes> ul = load_lanes<lanes>(up + x - 1), u = load_lanes<lanes>(up + x),
                                  ur = load_lanes<lanes>(up + x + 1);
                const ints<lanes> ml = load_lanes<lanes>(mid + x - 1), mr = load_lanes<lanes>(mid + x + 1);
                const ints<lanes> dl = load_lanes<lanes>(down + x - 1), d = load_lanes<lanes>(down + x),
                                  dr = load_lanes<lanes>(down + x + 1);
                const ints<lanes> gx = (ur - ul) + (mr - ml) + (mr - ml) + (dr - dl);
                const ints<lanes> gy = (dl - ul) + (d - u) + (d - u) + (dr - ur);
                const ints<lanes> grey = capped_root<lanes>(gx * gx + gy * gy);
                store_grey<lanes>(out + x * 4, width - x, grey);
            }
        });
}

IMGFILTER_VARIANTS(edge_image, (unsigned char* pixels, const row_band<int>* band), (pixels, band), 4, 8, 16)

}  // namespace

int thunk_edge_detect_with(filter_image* image, const void*, code_path path) {
    const int width = image->width;
    const int height = image->height;
    // In place: the band of three luma rows is the only allocation.
    return band_or_reference<int>(
        image, "edge_detect", path, {1, 1, 3, 1},
        [&](const row_band<int>& band) {
            edge_image_for(path)(image->pixels, &band);
            return true;
        },
        [&](const unsigned char* in, unsigned char* out) { edge_reference(in, out, width, height); });
}
