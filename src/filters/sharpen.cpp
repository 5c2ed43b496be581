// Sharpen: (1 + a) times the pixel minus a/4 times its four direct neighbours.
//
// The fast path keeps copies of the three rows around the current one, computes
// many colour bytes side by side, one per vector lane, each with the
// reference's sum, products and rounding, and writes back in place.
#include "filters/filter.h"
#include "simd/row_band.h"

namespace {

void sharpen_reference(const unsigned char* in, unsigned char* result, int width, int height, float kn, float kc) {
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = in + y * stride;
        const unsigned char* up = in + (y > 0 ? y - 1 : 0) * stride;
        const unsigned char* down = in + (y + 1 < height ? y + 1 : height - 1) * stride;
        unsigned char* out = result + y * stride;
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
}

template <int lanes>
using bytes = typename vector_of<unsigned char, lanes>::type;

// The band holds the image rows as ints, R, G, B and A interleaved, so each
// lane is one byte of one pixel; alpha lanes keep the pixel's own alpha.
template <int lanes>
IMGFILTER_ALWAYS_INLINE void sharpen_image_body(unsigned char* pixels, const row_band<int>* band, int* line, float kn,
                                                float kc) {
    const int end = band->width * 4;
    filter_rows_in_place(
        pixels, *band,
        [&](int y, const unsigned char* in) IMGFILTER_LAMBDA_INLINE {
            // A cache line at a time, asking for the next row's on the way.
            int* row = band->row(y, 0);
            for (int x = 0; x < end; x += 64) {
                prefetch_at(in, static_cast<std::size_t>(end) + x);
                widen_bytes(row + x, in + x, end - x < 64 ? end - x : 64);
            }
        },
        [&](int y, unsigned char* out) IMGFILTER_LAMBDA_INLINE {
            const int* up = band->clamped(y - 1, 0);
            const int* mid = band->row(y, 0);
            const int* down = band->clamped(y + 1, 0);
            int direct = 0;  // bytes written without the line buffer
            for (int x = 0; x < end; x += lanes) {
                const ints<lanes> centre = load_lanes<lanes>(mid + x);
                const ints<lanes> s = load_lanes<lanes>(up + x) + load_lanes<lanes>(down + x) +
                                      load_lanes<lanes>(mid + x - 4) + load_lanes<lanes>(mid + x + 4);
                const floats<lanes> v = __builtin_convertvector(s, floats<lanes>) * kn +
                                        __builtin_convertvector(centre, floats<lanes>) * kc;
                // The amount is checked to be 0..5, so v is never NaN and lies
                // within about -1300 .. 1600: truncating v + 0.5 and then
                // clamping in integers gives clamp_byte's byte.
                ints<lanes> byte = __builtin_convertvector(v + 0.5f, ints<lanes>);
                byte = byte < 0 ? 0 : byte;
                byte = byte > 255 ? 255 : byte;
                const ints<lanes> result = keep_alpha<lanes>(byte, centre);
                if constexpr (lanes >= 16) {
                    // Whole steps narrow straight into the row (one
                    // instruction with AVX-512); narrower variants, whose
                    // compilers make a long sequence of it, and the last
                    // partial step go through the line buffer.
                    if (x + lanes <= end) {
                        const bytes<lanes> narrow = __builtin_convertvector(result, bytes<lanes>);
                        __builtin_memcpy(out + x, &narrow, sizeof narrow);
                        direct = x + lanes;
                        continue;
                    }
                }
                __builtin_memcpy(line + x, &result, sizeof result);
            }
            narrow_to_bytes(out + direct, line + direct, end - direct);
        });
}

IMGFILTER_VARIANTS(sharpen_image, (unsigned char* pixels, const row_band<int>* band, int* line, float kn, float kc),
                   (pixels, band, line, kn, kc), 4, 8, 16)

}  // namespace

int thunk_sharpen_with(filter_image* image, const void* params, code_path path) {
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
    const float kc = amount + 1.0f;
    const float kn = -amount * 0.25f;
    const int width = image->width;
    const int height = image->height;
    // In place: the band of three rows, R, G, B and A interleaved, and one
    // output row are the only allocations.
    return band_or_reference<int>(
        image, "sharpen", path, {1, 4, 3, 1},
        [&](const row_band<int>& band) {
            const heap_ptr<int> line = heap_alloc<int>(static_cast<unsigned long long>(band.padded));
            if (line) sharpen_image_for(path)(image->pixels, &band, line.get(), kn, kc);
            return line != nullptr;
        },
        [&](const unsigned char* in, unsigned char* out) { sharpen_reference(in, out, width, height, kn, kc); });
}
