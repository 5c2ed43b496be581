// Gaussian blur: two one-dimensional passes with one normalised weight table,
// horizontal into unrounded floats, vertical into bytes. Alpha rides along.
//
// The reference keeps the whole horizontal pass (16 bytes a pixel) and writes
// a new image. The fast path keeps only the 2r+1 rows of the horizontal pass
// that the current output row needs, as float planes, and writes each output
// row back into the image once no later row needs its input. Both passes
// compute several neighbouring pixels side by side, one per vector lane, each
// with the reference's products and sums in the reference's tap order.
#include <cmath>
#include <cstdint>

#include "filters/filter.h"
#include "simd/vectors.h"

namespace {

// The half-width of the kernel: ceil(2 * radius), at least 1 and at most 100.
// Radii above 50 (and +infinity) all give 100.
int half_width(float twice_radius) {
    const float up = std::ceil(twice_radius);
    if (!(up >= 1.0f)) return 1;
    if (up >= 100.0f) return 100;
    return static_cast<int>(up);
}

int blur_reference(filter_image* image, const float* w, int r) {
    const int width = image->width;
    const int height = image->height;
    const int taps = 2 * r + 1;
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
    return 1;
}

// The rows of the fast path. Image rows become float planes widened by r edge
// pixels on each side (one row at a time, as the horizontal pass reads it);
// the horizontal pass keeps its last 2r + k_block rows in a ring, padded to
// whole vectors.
//
// The ring is stored strip by strip: a strip is the 2 * lanes columns that one
// step of either pass computes, and each ring row's part of a strip is one
// record of three planes of 2 * lanes floats. A strip's records for all ring
// rows lie together, so the vertical pass, which goes down one strip at a
// time through up to 2r + k_block rows, reads one compact block instead of
// one cache line from each of hundreds of rows (and pages) far apart.
struct blur_rows {
    int width, height, r, slots, padded;
    float* source;  // three planes of width + 2r + k_row_tail floats
    float* ring;    // slots rows of three planes of width rounded up to k_row_tail floats
    const float** column;  // the vertical pass's source rows

    // Image row y's record in the first strip, for strips of strip columns.
    float* record(int y, int strip) const { return ring + static_cast<std::size_t>(y % slots) * 3 * strip; }
    // How far apart the same record lies in neighbouring strips.
    std::size_t strip_step(int strip) const { return static_cast<std::size_t>(slots) * 3 * strip; }
};

// The horizontal pass of image row y into its ring row.
template <int lanes>
IMGFILTER_ALWAYS_INLINE void across_row_body(const blur_rows* rows, const float* w, const unsigned char* in, int y) {
    const int width = rows->width;
    const int r = rows->r;
    const int taps = 2 * r + 1;
    const std::size_t ps = static_cast<std::size_t>(rows->padded);
    split_colours<lanes>(in, width, rows->source + r, rows->source + ps + r, rows->source + 2 * ps + r);
    for (int c = 0; c < 3; ++c) {
        float* p = rows->source + c * ps + r;
        for (int i = 1; i <= r; ++i) p[-i] = p[0];
        for (int i = width; i < width + r + k_row_tail; ++i) p[i] = p[width - 1];
    }
    // All three planes and two vectors of each at a time: six sums that do
    // not wait for each other.
    const float* p = rows->source;
    constexpr int strip = 2 * lanes;
    float* out = rows->record(y, strip);
    const std::size_t step = rows->strip_step(strip);
    for (int x = 0; x < width; x += strip, out += step) {
        // The sums start with the first product rather than 0 + it: the
        // products are never -0, so adding them to 0 would change nothing.
        floats<lanes> r0 = load_lanes<lanes>(p + x) * w[0], r1 = load_lanes<lanes>(p + x + lanes) * w[0];
        floats<lanes> g0 = load_lanes<lanes>(p + x + ps) * w[0], g1 = load_lanes<lanes>(p + x + ps + lanes) * w[0];
        floats<lanes> b0 = load_lanes<lanes>(p + x + 2 * ps) * w[0];
        floats<lanes> b1 = load_lanes<lanes>(p + x + 2 * ps + lanes) * w[0];
        for (int k = 1; k < taps; ++k) {
            const float* q = p + x + k;
            r0 += load_lanes<lanes>(q) * w[k];
            r1 += load_lanes<lanes>(q + lanes) * w[k];
            g0 += load_lanes<lanes>(q + ps) * w[k];
            g1 += load_lanes<lanes>(q + ps + lanes) * w[k];
            b0 += load_lanes<lanes>(q + 2 * ps) * w[k];
            b1 += load_lanes<lanes>(q + 2 * ps + lanes) * w[k];
        }
        __builtin_memcpy(out, &r0, sizeof r0);
        __builtin_memcpy(out + lanes, &r1, sizeof r1);
        __builtin_memcpy(out + strip, &g0, sizeof g0);
        __builtin_memcpy(out + strip + lanes, &g1, sizeof g1);
        __builtin_memcpy(out + 2 * strip, &b0, sizeof b0);
        __builtin_memcpy(out + 2 * strip + lanes, &b1, sizeof b1);
    }
}

// clamp_byte for weighted means of bytes: no weight is negative and they sum
// to about 1, so a mean is never negative, NaN or much above 255, and
// truncating first and then capping in integers gives the same byte.
template <int lanes>
IMGFILTER_ALWAYS_INLINE ints<lanes> mean_bytes(floats<lanes> mean) {
    const ints<lanes> v = __builtin_convertvector(mean + 0.5f, ints<lanes>);
    return v > 255 ? 255 : v;
}

// Output rows b .. b + n - 1 of a block in one strip (n is 1 or 2): each row's
// six sums (two vectors of each colour) over the taps in order. Two rows at
// once give twelve sums that do not wait for each other, enough to keep the
// adders busy while each sum waits for its previous addition.
template <int lanes, int n>
IMGFILTER_ALWAYS_INLINE void down_strip(const float* const* column, std::size_t at, const float* w, int taps,
                                        unsigned char* out, std::size_t row_bytes, int left) {
    constexpr int strip = 2 * lanes;
    floats<lanes> sum[n][6];
    for (int b = 0; b < n; ++b) {
        const float* q = column[b] + at;
        for (int v = 0; v < 6; ++v) sum[b][v] = load_lanes<lanes>(q + v / 2 * strip + v % 2 * lanes) * w[0];
    }
    for (int k = 1; k < taps; ++k) {
        for (int b = 0; b < n; ++b) {
            const float* q = column[b + k] + at;
            for (int v = 0; v < 6; ++v) sum[b][v] += load_lanes<lanes>(q + v / 2 * strip + v % 2 * lanes) * w[k];
        }
    }
    for (int b = 0; b < n; ++b) {
        unsigned char* o = out + b * row_bytes;
        store_colours<lanes>(o, left, mean_bytes<lanes>(sum[b][0]), mean_bytes<lanes>(sum[b][2]),
                             mean_bytes<lanes>(sum[b][4]));
        if (left > lanes) {
            store_colours<lanes>(o + lanes * 4, left - lanes, mean_bytes<lanes>(sum[b][1]),
                                 mean_bytes<lanes>(sum[b][3]), mean_bytes<lanes>(sum[b][5]));
        }
    }
}

// The vertical pass for output rows y0 .. y0 + count - 1, written over those
// image rows' colours. Going across the row a strip at a time, and down the
// block of rows within each strip, keeps the strip's part of the band in
// cache while the block's rows use it.
template <int lanes>
IMGFILTER_ALWAYS_INLINE void down_rows_body(const blur_rows* rows, const float* w, unsigned char* pixels, int y0,
                                            int count) {
    const int width = rows->width;
    const int r = rows->r;
    const int taps = 2 * r + 1;
    const int span = taps - 1 + count;
    const float** column = rows->column;  // ring row of image row y0 - r + j
    constexpr int strip = 2 * lanes;
    for (int j = 0; j < span; ++j) column[j] = rows->record(clamp_coord(y0 - r + j, rows->height), strip);
    const std::size_t step = rows->strip_step(strip);
    const std::size_t row_bytes = static_cast<std::size_t>(width) * 4;
    std::size_t at = 0;  // the strip's offset from the first strip
    for (int x = 0; x < width; x += strip, at += step) {
        unsigned char* out = pixels + static_cast<std::size_t>(y0) * row_bytes + static_cast<std::size_t>(x) * 4;
        int b = 0;
        for (; b + 2 <= count; b += 2) {
            down_strip<lanes, 2>(column + b, at, w, taps, out + b * row_bytes, row_bytes, width - x);
        }
        if (b < count) down_strip<lanes, 1>(column + b, at, w, taps, out + b * row_bytes, row_bytes, width - x);
    }
}

IMGFILTER_VARIANTS(across_row, (const blur_rows* rows, const float* w, const unsigned char* in, int y),
                   (rows, w, in, y), 4, 8, 16)
IMGFILTER_VARIANTS(down_rows, (const blur_rows* rows, const float* w, unsigned char* pixels, int y0, int count),
                   (rows, w, pixels, y0, count), 4, 8, 16)

// Output rows are made in blocks of k_block. A block needs rows y0 - r ..
// y0 + k_block - 1 + r of the horizontal pass; the image rows that are new
// among them are read before the block overwrites its own rows, so every
// image row is read before it is written.
constexpr int k_block = 16;

void blur_fast(unsigned char* pixels, const blur_rows& rows, const float* w, code_path path) {
    const auto across_row = across_row_for(path);
    const auto down_rows = down_rows_for(path);
    const std::size_t stride = static_cast<std::size_t>(rows.width) * 4;
    int next = 0;  // the next image row to go through the horizontal pass
    for (int y0 = 0; y0 < rows.height; y0 += k_block) {
        const int count = rows.height - y0 < k_block ? rows.height - y0 : k_block;
        for (; next < rows.height && next <= y0 + count - 1 + rows.r; ++next) {
            across_row(&rows, w, pixels + next * stride, next);
        }
        down_rows(&rows, w, pixels, y0, count);
    }
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

int thunk_blur_with(filter_image* image, const void* params, code_path path) {
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

    if (path == code_path::reference) {
        if (!blur_reference(image, w, r)) return 0;
        clear_err();
        return 1;
    }
    // The fast path's band of horizontal-pass rows stands for the reference's
    // intermediate, and the vertical pass's table of source rows for its
    // output buffer (the output goes back into the image).
    const int slots = 2 * r + k_block;
    const int padded = width + 2 * r + k_row_tail;
    const int stride = (width + k_row_tail - 1) / k_row_tail * k_row_tail;
    heap_ptr<float> source = heap_alloc<float>(3ull * padded);
    // One cache line more than the ring needs, so that the ring can start on
    // a line: every record, and so every vector the vertical pass loads,
    // then lies within one cache line instead of straddling two.
    constexpr int line = 64 / sizeof(float);
    heap_ptr<float> ring = heap_alloc<float>(static_cast<unsigned long long>(slots) * 3 * stride + line);
    if (!source || !ring) {
        set_err("blur: memory allocation failed for horizontal pass");
        return 0;
    }
    heap_ptr<const float*> column = heap_alloc<const float*>(static_cast<unsigned long long>(taps - 1 + k_block));
    if (!column) {
        set_err("blur: memory allocation failed for vertical pass");
        return 0;
    }
    float* const ring_start =
        ring.get() + (line - reinterpret_cast<std::uintptr_t>(ring.get()) / sizeof(float) % line) % line;
    const blur_rows rows{width, height, r, slots, padded, source.get(), ring_start, column.get()};
    blur_fast(image->pixels, rows, w, path);
    clear_err();
    return 1;
}
