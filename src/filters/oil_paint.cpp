// Oil paint: sorts a disc of neighbours into 20 brightness levels and paints the
// pixel with the mean colour of the fullest level (the darker one on a tie).
//
// The reference visits the whole disc for every pixel. The fast path keeps the
// level counts and colour sums of the disc while it slides along a row: moving
// one pixel right, each row of the disc loses its leftmost sample and gains a
// new one on the right. Counts and sums are integers, so the totals are those of
// a full visit, at 2(2r+1) updates a pixel instead of about 3r^2.
#include <cstdint>
#include <cstring>

#include "filters/filter.h"
#include "simd/vectors.h"

namespace {

constexpr int k_levels = 20;
constexpr int k_max_radius = 30;

int level_of(const unsigned char* pixel) { return (luma_int(pixel) * k_levels) >> 8; }

void paint_reference(const unsigned char* in, unsigned char* out, int width, int height, int r) {
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
                    const int level = level_of(p);
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
            unsigned char* o = out + y * stride + x * 4;
            if (best_count > 0) {
                o[0] = static_cast<unsigned char>(sum_r[best] / best_count);
                o[1] = static_cast<unsigned char>(sum_g[best] / best_count);
                o[2] = static_cast<unsigned char>(sum_b[best] / best_count);
            } else {
                o[0] = centre[0];
                o[1] = centre[1];
                o[2] = centre[2];
            }
            o[3] = centre[3];
        }
    }
}

typedef int32_t sums4 __attribute__((vector_size(16)));

// The fast path's rows: the 2r+1 image rows around the current one, each
// widened by r edge pixels on both sides so the disc never needs clamping.
// A row is copied in before the image row is overwritten (the output goes
// back into the image in place): each sample as it enters the sums, (R, G, B,
// 1) with the 1 counting it, beside a row of the samples' levels.
struct oil_rows {
    int width, height, r, slots, padded;
    sums4* samples;         // slots rows of padded samples
    unsigned char* levels;  // slots rows of padded levels

    sums4* sample_row(int y) const { return samples + static_cast<std::size_t>(y % slots) * padded; }
    unsigned char* level_row(int y) const { return levels + static_cast<std::size_t>(y % slots) * padded; }

    void load(const unsigned char* image, int y) const {
        const unsigned char* in = image + static_cast<std::size_t>(y) * width * 4;
        sums4* s = sample_row(y) + r;
        unsigned char* l = level_row(y) + r;
        for (int x = 0; x < width; ++x) {
            const unsigned char* p = in + x * 4;
            s[x] = sums4{p[0], p[1], p[2], 1};
            l[x] = static_cast<unsigned char>(level_of(p));
        }
        for (int i = 1; i <= r; ++i) {
            s[-i] = s[0];
            l[-i] = l[0];
            s[width - 1 + i] = s[width - 1];
            l[width - 1 + i] = l[width - 1];
        }
    }
};

// One row of the disc as it slides right: for the disc around column x, the
// sample that leaves it is at leaving[x] and the one that enters at
// entering[x].
struct disc_row {
    const sums4* leaving;
    const unsigned char* leaving_level;
    const sums4* entering;
    const unsigned char* entering_level;
};

IMGFILTER_ALWAYS_INLINE void slide(sums4* hist, const disc_row& row, int x) {
    hist[row.leaving_level[x]] -= row.leaving[x];
    hist[row.entering_level[x]] += row.entering[x];
}

// The sums are split over a few copies, one for each disc row modulo the
// number of copies, so that updates of one level from neighbouring disc rows
// do not wait for each other in memory; the copies are added up for each
// pixel, which costs more than it saves for small discs.
template <int copies>
IMGFILTER_ALWAYS_INLINE void paint_row_split(const oil_rows* rows, const int* half_width, int y, unsigned char* out) {
    const int r = rows->r;
    const sums4* s[2 * k_max_radius + 1];
    const unsigned char* l[2 * k_max_radius + 1];
    for (int dy = -r; dy <= r; ++dy) {
        const int sy = clamp_coord(y + dy, rows->height);
        s[dy + r] = rows->sample_row(sy) + r;
        l[dy + r] = rows->level_row(sy) + r;
    }
    // hist[copy][level] holds (R sum, G sum, B sum, count).
    sums4 hist[copies][k_levels] = {};
    disc_row span[2 * k_max_radius + 1];
    for (int i = 0; i <= 2 * r; ++i) {
        for (int dx = -half_width[i]; dx <= half_width[i]; ++dx) hist[i % copies][l[i][dx]] += s[i][dx];
        span[i] = {s[i] - half_width[i], l[i] - half_width[i], s[i] + half_width[i] + 1, l[i] + half_width[i] + 1};
    }
    const int width = rows->width;
    for (int x = 0;; ++x) {
        // The copies added up eight ints at a time, all levels in a row.
        sums4 total[k_levels];
        for (int k = 0; k < k_levels / 2; ++k) {
            ints<8> sum = load_lanes<8>(reinterpret_cast<const int*>(&hist[0][2 * k]));
            for (int c = 1; c < copies; ++c) sum += load_lanes<8>(reinterpret_cast<const int*>(&hist[c][2 * k]));
            __builtin_memcpy(&total[2 * k], &sum, sizeof sum);
        }
        int best = 0;
        int best_count = 0;
        for (int level = 0; level < k_levels; ++level) {
            if (total[level][3] > best_count) {
                best_count = total[level][3];
                best = level;
            }
        }
        if (best_count > 0) {
            // One single-precision division for the three means. The sums and
            // the count are exact in a float (below 2^20 and 2^12), and a
            // quotient that falls short of the next integer does so by at
            // least 1 / count, far more than the division's rounding (2^-24
            // of at most 255): truncating it gives the integer quotient.
            const floats<4> mean =
                __builtin_convertvector(total[best], floats<4>) / static_cast<float>(best_count);
            out[x * 4 + 0] = static_cast<unsigned char>(static_cast<int>(mean[0]));
            out[x * 4 + 1] = static_cast<unsigned char>(static_cast<int>(mean[1]));
            out[x * 4 + 2] = static_cast<unsigned char>(static_cast<int>(mean[2]));
        }
        if (x + 1 == width) break;
        // Disc rows a whole round of copies at a time, so that each row's copy
        // is known when compiling.
        int i = 0;
        for (; i + copies <= 2 * r + 1; i += copies) {
            for (int c = 0; c < copies; ++c) slide(hist[c], span[i + c], x);
        }
        for (int c = 0; i <= 2 * r; ++i, ++c) slide(hist[c], span[i], x);
    }
}

// One output row, painted over its own input row.
template <int lanes>
IMGFILTER_ALWAYS_INLINE void paint_row_body(const oil_rows* rows, const int* half_width, int y, unsigned char* out) {
    if (rows->r < 8) {
        paint_row_split<2>(rows, half_width, y, out);
    } else {
        paint_row_split<8>(rows, half_width, y, out);
    }
}

IMGFILTER_VARIANTS(paint_row, (const oil_rows* rows, const int* half_width, int y, unsigned char* out),
                   (rows, half_width, y, out), 0, 0, 0)

void paint_fast(unsigned char* pixels, const oil_rows& rows, code_path path) {
    const int r = rows.r;
    // The disc's half-width in each of its rows: the largest dx with
    // dx^2 + dy^2 <= r^2, the same integer test as the reference's.
    int half_width[2 * k_max_radius + 1];
    for (int dy = -r; dy <= r; ++dy) {
        int dx = 0;
        while ((dx + 1) * (dx + 1) + dy * dy <= r * r) ++dx;
        half_width[dy + r] = dx;
    }
    const auto paint_row = paint_row_for(path);
    const std::size_t stride = static_cast<std::size_t>(rows.width) * 4;
    for (int y = 0; y < rows.height && y <= r; ++y) rows.load(pixels, y);
    for (int y = 0; y < rows.height; ++y) {
        if (y > 0 && y + r < rows.height) rows.load(pixels, y + r);
        paint_row(&rows, half_width, y, pixels + y * stride);
    }
}

}  // namespace

int thunk_oil_paint_with(filter_image* image, const void* params, code_path path) {
    return apply_oil_paint_with(image, *static_cast<const int*>(params), path);
}

int apply_oil_paint_with(filter_image* image, int radius, code_path path) {
    if (radius <= 0) {
        set_err("oil_paint: radius must be >= 1, got %d", radius);
        return 0;
    }
    const int width = image->width;
    const int height = image->height;
    const int r = radius < k_max_radius ? radius : k_max_radius;
    if (path != code_path::reference) {
        // The fast path paints in place: its only allocation is the band of
        // rows around the current one, and its failure is reported as the
        // output buffer's would be.
        const int slots = 2 * r + 1;
        const int padded = (width > 0 ? width : 0) + 2 * r;
        heap_ptr<sums4> samples = heap_alloc<sums4>(static_cast<unsigned long long>(slots) * padded);
        heap_ptr<unsigned char> levels = heap_alloc<unsigned char>(static_cast<unsigned long long>(slots) * padded);
        if (!samples || !levels) {
            set_err("oil_paint: memory allocation failed");
            return 0;
        }
        if (width > 0 && height > 0) {
            const oil_rows rows{width, height, r, slots, padded, samples.get(), levels.get()};
            paint_fast(image->pixels, rows, path);
        }
        clear_err();
        return 1;
    }
    return fill_new_pixels(image, "oil_paint", [&](const unsigned char* in, unsigned char* out) {
        if (width > 0 && height > 0) paint_reference(in, out, width, height, r);
    });
}
