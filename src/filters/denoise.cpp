// Denoise: a bilateral filter. Each neighbour in a square window weighs by its
// distance (spatial table) times its brightness difference (range table).
//
// The fast path works on a band of the 2r+1 rows around the current one, each
// converted once to float colour planes and a truncated-luma plane (the
// reference converts every sample for each window it falls in), and computes
// several neighbouring output pixels side by side, one per vector lane, each
// with the reference's products and sums in the reference's order. It writes
// the result back into the image in place.
#include <cmath>
#include <cstdint>

#include "filters/filter.h"
#include "simd/vectors.h"

namespace {

constexpr int k_max_window_radius = 3;
// A step takes two vectors of pixels: eight sums that do not wait for each
// other, twice as many as one vector's four, which would leave the adders idle
// while each sum waits for its previous addition. Rows keep k_row_tail values
// of room for the second vector.

// Brightness differences below this are the common case in a photograph;
// their weights are kept per window position as well, and looked up from
// registers (16 or 32 entries) instead of memory.
constexpr int k_small_difference = 32;

struct denoise_tables {
    int r;
    float spatial[7][7];
    float range[256];
    // weight[i][j][k] = range[k] * spatial[i][j] for k below
    // k_small_difference: the product each neighbour would form, formed once.
    float weight[7][7][k_small_difference];
};

void filter_reference(const unsigned char* in, unsigned char* result, int width, int height,
                      const denoise_tables& t) {
    const int r = t.r;
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    for (int y = 0; y < height; ++y) {
        unsigned char* out = result + y * stride;
        for (int x = 0; x < width; ++x) {
            const unsigned char* centre = in + y * stride + x * 4;
            const int l0 = luma_int(centre);
            float sr = 0.0f, sg = 0.0f, sb = 0.0f, sw = 0.0f;
            for (int dy = -r; dy <= r; ++dy) {
                const unsigned char* row = in + clamp_coord(y + dy, height) * stride;
                for (int dx = -r; dx <= r; ++dx) {
                    const unsigned char* p = row + clamp_coord(x + dx, width) * 4;
                    const int diff = l0 - luma_int(p);
                    const float w = t.range[diff < 0 ? -diff : diff] * t.spatial[dy + r][dx + r];
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
}

// The band of rows around the current one. Each row is widened by r edge
// pixels on the left and r + k_row_tail on the right, so a window never needs
// clamping and the last, partly used vector of a row reads edge pixels.
struct denoise_rows {
    int width, height, r, slots, padded;
    float* planes;  // slots rows of four planes: R, G, B as float, luma as int
    int* lumas;

    float* plane(int y, int channel) const {
        return planes + (static_cast<std::size_t>(y % slots) * 3 + channel) * padded;
    }
    int* luma(int y) const { return lumas + static_cast<std::size_t>(y % slots) * padded; }

    // Converts image row y; it must still hold the decoded pixels.
    void load(const unsigned char* image, int y) const {
        // A local copy: the int stores below could otherwise be the member,
        // which would keep the loops from being vectorised.
        const int width = this->width;
        const unsigned char* in = image + static_cast<std::size_t>(y) * width * 4;
        float* red = plane(y, 0) + r;
        float* green = plane(y, 1) + r;
        float* blue = plane(y, 2) + r;
        int* l = luma(y) + r;
        split_colours<8>(in, width, red, green, blue);
        // luma_int's products and sums, from the converted planes: a separate
        // loop of whole vectors.
        for (int x = 0; x < width; ++x) {
            l[x] = static_cast<int>(0.299f * red[x] + 0.587f * green[x] + 0.114f * blue[x]);
        }
        for (int i = 1; i <= r; ++i) {
            red[-i] = red[0];
            green[-i] = green[0];
            blue[-i] = blue[0];
            l[-i] = l[0];
        }
        for (int i = width; i < width + r + k_row_tail; ++i) {
            red[i] = red[width - 1];
            green[i] = green[width - 1];
            blue[i] = blue[width - 1];
            l[i] = l[width - 1];
        }
    }
};

// Writes the weighted means of the first count (at most lanes) pixels from out.
template <int lanes>
IMGFILTER_ALWAYS_INLINE void store_means(unsigned char* out, int count, floats<lanes> sr, floats<lanes> sg,
                                         floats<lanes> sb, floats<lanes> sw) {
    const ints<lanes> o_r = clamp_bytes<lanes>(sr / sw);
    const ints<lanes> o_g = clamp_bytes<lanes>(sg / sw);
    const ints<lanes> o_b = clamp_bytes<lanes>(sb / sw);
    const int n = count < lanes ? count : lanes;
    for (int lane = 0; lane < n; ++lane) {
        // A weight sum that is not positive leaves the pixel as it was.
        if (!(sw[lane] > 0.0f)) continue;
        unsigned char* o = out + lane * 4;
        o[0] = static_cast<unsigned char>(o_r[lane]);
        o[1] = static_cast<unsigned char>(o_g[lane]);
        o[2] = static_cast<unsigned char>(o_b[lane]);
    }
}

template <int lanes>
IMGFILTER_ALWAYS_INLINE void filter_row_body(const denoise_rows* rows, const denoise_tables* t, int y,
                                             unsigned char* out) {
    const int r = t->r;
    const float* red[2 * k_max_window_radius + 1];
    const float* green[2 * k_max_window_radius + 1];
    const float* blue[2 * k_max_window_radius + 1];
    const int* luma[2 * k_max_window_radius + 1];
    for (int dy = -r; dy <= r; ++dy) {
        const int sy = clamp_coord(y + dy, rows->height);
        red[dy + r] = rows->plane(sy, 0);
        green[dy + r] = rows->plane(sy, 1);
        blue[dy + r] = rows->plane(sy, 2);
        luma[dy + r] = rows->luma(sy);
    }
    const int width = rows->width;
    // Bits that mark a difference of at least 16, and of at least 32.
    const ints<lanes> above_15 = ints<lanes>{} + ~15;
    const ints<lanes> above_31 = ints<lanes>{} + ~(k_small_difference - 1);
    for (int x = 0; x < width; x += 2 * lanes) {
        const int x1 = x + lanes;
        const ints<lanes> l0 = load_lanes<lanes>(luma[r] + r + x);
        const ints<lanes> l1 = load_lanes<lanes>(luma[r] + r + x1);
        floats<lanes> sr0 = {}, sg0 = {}, sb0 = {}, sw0 = {};
        floats<lanes> sr1 = {}, sg1 = {}, sb1 = {}, sw1 = {};
        for (int i = 0; i <= 2 * r; ++i) {
            for (int j = 0; j <= 2 * r; ++j) {
                ints<lanes> diff0 = l0 - load_lanes<lanes>(luma[i] + x + j);
                ints<lanes> diff1 = l1 - load_lanes<lanes>(luma[i] + x1 + j);
                diff0 = diff0 < 0 ? -diff0 : diff0;
                diff1 = diff1 < 0 ? -diff1 : diff1;
                // Where every difference is small, as it mostly is, the weight
                // comes from registers; otherwise from gathers.
                floats<lanes> w0, w1;
                if (no_common_bits<lanes>(diff0 | diff1, above_15)) {
                    w0 = look_up_small<lanes, 16>(t->weight[i][j], diff0);
                    w1 = look_up_small<lanes, 16>(t->weight[i][j], diff1);
                } else if (no_common_bits<lanes>(diff0 | diff1, above_31)) {
                    w0 = look_up_small<lanes, 32>(t->weight[i][j], diff0);
                    w1 = look_up_small<lanes, 32>(t->weight[i][j], diff1);
                } else {
                    const float spatial = t->spatial[i][j];
                    w0 = look_up<lanes>(t->range, diff0) * spatial;
                    w1 = look_up<lanes>(t->range, diff1) * spatial;
                }
                sr0 += load_lanes<lanes>(red[i] + x + j) * w0;
                sr1 += load_lanes<lanes>(red[i] + x1 + j) * w1;
                sg0 += load_lanes<lanes>(green[i] + x + j) * w0;
                sg1 += load_lanes<lanes>(green[i] + x1 + j) * w1;
                sb0 += load_lanes<lanes>(blue[i] + x + j) * w0;
                sb1 += load_lanes<lanes>(blue[i] + x1 + j) * w1;
                sw0 += w0;
                sw1 += w1;
            }
        }
        store_means<lanes>(out + x * 4, width - x, sr0, sg0, sb0, sw0);
        if (x1 < width) store_means<lanes>(out + x1 * 4, width - x1, sr1, sg1, sb1, sw1);
    }
}

IMGFILTER_VARIANTS(filter_row, (const denoise_rows* rows, const denoise_tables* t, int y, unsigned char* out),
                   (rows, t, y, out), 4, 8, 16)

void filter_fast(unsigned char* pixels, const denoise_rows& rows, const denoise_tables& t, code_path path) {
    const auto filter_row = filter_row_for(path);
    const std::size_t stride = static_cast<std::size_t>(rows.width) * 4;
    for (int y = 0; y < rows.height && y <= rows.r; ++y) rows.load(pixels, y);
    for (int y = 0; y < rows.height; ++y) {
        if (y > 0 && y + rows.r < rows.height) rows.load(pixels, y + rows.r);
        filter_row(&rows, &t, y, pixels + y * stride);
    }
}

}  // namespace

int thunk_denoise_with(filter_image* image, const void* params, code_path path) {
    return apply_denoise_with(image, *static_cast<const int*>(params), path);
}

int apply_denoise_with(filter_image* image, int strength, code_path path) {
    // Unsigned so that the most negative int fails as well, without overflow.
    if (static_cast<unsigned>(strength) - 1u > 9u) {
        set_err("denoise: strength %d out of range 1..10", strength);
        return 0;
    }
    const int width = image->width;
    const int height = image->height;
    const int r = strength <= 4 ? 2 : 3;
    // The fast path filters in place: its only allocation is the band of rows,
    // and its failure is reported as the output buffer's would be.
    const int slots = 2 * r + 1;
    const int padded = (width > 0 ? width : 0) + 2 * r + k_row_tail;
    heap_ptr<unsigned char> result;
    heap_ptr<float> planes;
    heap_ptr<int> lumas;
    if (path == code_path::reference) {
        result = alloc_pixels(*image);
    } else {
        planes = heap_alloc<float>(static_cast<unsigned long long>(slots) * 3 * padded);
        lumas = heap_alloc<int>(static_cast<unsigned long long>(slots) * padded);
    }
    if (path == code_path::reference ? !result : !planes || !lumas) {
        set_err("denoise: memory allocation failed");
        return 0;
    }
    denoise_tables t;
    t.r = r;
    const float sigma_s = 0.4f * static_cast<float>(strength) + 1.0f;
    const float sigma_r = 5.0f * static_cast<float>(strength) + 10.0f;
    const float d = (sigma_s + sigma_s) * sigma_s;
    const float e = (sigma_r + sigma_r) * sigma_r;
    for (int dy = 0; dy < 7; ++dy)
        for (int dx = 0; dx < 7; ++dx) t.spatial[dy][dx] = 0.0f;
    for (int dy = -r; dy <= r; ++dy)
        for (int dx = -r; dx <= r; ++dx)
            t.spatial[dy + r][dx + r] = std::exp(-static_cast<float>(dx * dx + dy * dy) / d);
    for (int k = 0; k < 256; ++k) t.range[k] = std::exp(-static_cast<float>(k * k) / e);
    for (int i = 0; i < 7; ++i)
        for (int j = 0; j < 7; ++j)
            for (int k = 0; k < k_small_difference; ++k) t.weight[i][j][k] = t.range[k] * t.spatial[i][j];

    if (width > 0 && height > 0) {
        if (path == code_path::reference) {
            filter_reference(image->pixels, result.get(), width, height, t);
        } else {
            const denoise_rows rows{width, height, r, slots, padded, planes.get(), lumas.get()};
            filter_fast(image->pixels, rows, t, path);
        }
    }
    if (result) replace_pixels(image, std::move(result));
    clear_err();
    return 1;
}
