// Emboss: a diagonal 3x3 difference of each colour, reduced to one grey with
// the brightness weights and lifted to mid-grey.
//
// The fast path converts each row once into int planes (a band of three
// rows), computes several pixels side by side, one per vector lane, with the
// reference's integer sums and float evaluation, and writes back in place.
#include "../row_band.h"

namespace {

// Rows from the row above to the row below, columns from left to right.
constexpr int k[3][3] = {{-2, -1, 0}, {-1, 0, 1}, {0, 1, 2}};

void emboss_reference(const unsigned char* in, unsigned char* result, int width, int height) {
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    for (int y = 0; y < height; ++y) {
        unsigned char* out = result + y * stride;
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
}

// The band holds R, G and B planes of ints; each lane is one pixel.
template <int lanes>
IMGFILTER_ALWAYS_INLINE void emboss_image_body(unsigned char* pixels, const row_band<int>* band) {
    const int width = band->width;
    filter_rows_in_place(
        pixels, *band,
        [&](int y, const unsigned char* in) IMGFILTER_LAMBDA_INLINE {
            int* r = band->row(y, 0);
            int* g = band->row(y, 1);
            int* b = band->row(y, 2);
            for (int x = 0; x < width; ++x) {
                r[x] = in[x * 4 + 0];
                g[x] = in[x * 4 + 1];
                b[x] = in[x * 4 + 2];
            }
        },
        [&](int y, unsigned char* out) IMGFILTER_LAMBDA_INLINE {
            const int* up[3];
            const int* mid[3];
            const int* down[3];
            for (int c = 0; c < 3; ++c) {
                up[c] = band->clamped(y - 1, c);
                mid[c] = band->row(y, c);
                down[c] = band->clamped(y + 1, c);
            }
            for (int x = 0; x < width; x += lanes) {
                ints<lanes> sum[3];
                for (int c = 0; c < 3; ++c) {
                    // Integer sums: the order of the terms does not matter.
                    const ints<lanes> up_left = load_ints<lanes>(up[c] + x - 1);
                    const ints<lanes> down_right = load_ints<lanes>(down[c] + x + 1);
                    sum[c] = load_ints<lanes>(mid[c] + x + 1) - load_ints<lanes>(mid[c] + x - 1) -
                             load_ints<lanes>(up[c] + x) - up_left - up_left + load_ints<lanes>(down[c] + x) +
                             down_right + down_right;
                }
                floats<lanes> a = __builtin_convertvector(sum[0], floats<lanes>) * 0.299f;
                a = a + __builtin_convertvector(sum[1], floats<lanes>) * 0.587f;
                a = a + __builtin_convertvector(sum[2], floats<lanes>) * 0.114f;
                a = a + 128.5f;
                const ints<lanes> grey = truncate_bytes<lanes>(a);
                store_colours<lanes>(out + x * 4, width - x, grey, grey, grey);
            }
        });
}

IMGFILTER_VARIANTS(emboss_image, (unsigned char* pixels, const row_band<int>* band), (pixels, band), 4, 8, 16)

}  // namespace

int thunk_emboss_with(filter_image* image, const void*, code_path path) {
    const int width = image->width;
    const int height = image->height;
    if (path != code_path::reference) {
        // In place: the band of three rows is the only allocation.
        const row_band<int> band(width, height, 1, 1, 3, 3);
        if (!band.ok()) {
            set_err("emboss: memory allocation failed");
            return 0;
        }
        if (width > 0 && height > 0) emboss_image_for(path)(image->pixels, &band);
        clear_err();
        return 1;
    }
    heap_ptr<unsigned char> result = alloc_pixels(*image);
    if (!result) {
        set_err("emboss: memory allocation failed");
        return 0;
    }
    emboss_reference(image->pixels, result.get(), width, height);
    replace_pixels(image, std::move(result));
    clear_err();
    return 1;
}

int thunk_emboss(filter_image* image, const void* params) {
    return thunk_emboss_with(image, params, fastest_code_path());
}
