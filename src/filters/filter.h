// What the nine filter units share beyond the image itself: the reference
// path's buffer swap, the choice between it and a fast path that works in
// place, and the workers the filter table and the tests call.
#ifndef IMGFILTER_FILTER_H
#define IMGFILTER_FILTER_H

#include <utility>

#include "common/image.h"
#include "common/last_error.h"
#include "simd/code_path.h"
#include "simd/row_band.h"

// The kernel filter's parameter record: the caller's pointer, passed on.
struct kernel_params {
    const float* weights;  // the caller's size*size row-major grid, read in place
    int size;
};

// Truncates toward zero and clamps to a byte without the undefined behaviour of
// converting a NaN or an out-of-range float to int: NaN and everything below 1
// give 0, everything from 255 up gives 255.
inline unsigned char truncate_to_byte(float value) {
    if (!(value >= 1.0f)) return 0;
    if (value >= 255.0f) return 255;
    return static_cast<unsigned char>(static_cast<int>(value));
}

// Rounds a filter's single-precision result to a colour byte: + 0.5f, then
// truncation and clamping (so NaN gives 0 and anything from 255.5 gives 255).
inline unsigned char clamp_byte(float value) { return truncate_to_byte(value + 0.5f); }

// The reference path of a window filter: fill(in, out) computes every output
// pixel into a new buffer from the untouched image, which then replaces it.
// A failed allocation sets "<name>: memory allocation failed" and returns 0.
template <typename Fill>
int fill_new_pixels(filter_image* image, const char* name, Fill fill) {
    heap_ptr<unsigned char> result = alloc_pixels(*image);
    if (!result) {
        set_err("%s: memory allocation failed", name);
        return 0;
    }
    fill(image->pixels, result.get());
    replace_pixels(image, std::move(result));
    clear_err();
    return 1;
}

// The blur's normalised Gaussian for a positive radius whose 2 * radius^2 does
// not vanish, over the half-width r: entry k (0..2r) weighs the displacement k - r.
void blur_weight_table(float radius, int r, float* weights);

// The two paths of a window filter whose fast path writes its rows back into
// the image through a band (simd/row_band.h): the reference computes every
// pixel into a new buffer with fill(in, out), as fill_new_pixels; any other
// path allocates a band of the given shape, the fast path's only allocation,
// and runs paint(band) when the image has pixels. paint returns false when a
// block of its own cannot be allocated. A failed allocation on either path
// sets "<name>: memory allocation failed" and returns 0.
template <typename T, typename Paint, typename Fill>
int band_or_reference(filter_image* image, const char* name, code_path path, band_shape shape, Paint paint, Fill fill) {
    if (path == code_path::reference) return fill_new_pixels(image, name, fill);
    const row_band<T> band(image->width, image->height, shape.radius, shape.group, shape.slots, shape.planes);
    if (!band.ok() || (image->width > 0 && image->height > 0 && !paint(band))) {
        set_err("%s: memory allocation failed", name);
        return 0;
    }
    clear_err();
    return 1;
}

// The workers the pipeline calls, each on the code path the filter table
// chooses for this processor (defined beside the table, where that choice is
// made).
int thunk_vignette(filter_image* image, const void* params);
int thunk_blur(filter_image* image, const void* params);
int thunk_sharpen(filter_image* image, const void* params);
int thunk_kernel(filter_image* image, const void* params);
int thunk_emboss(filter_image* image, const void* params);
int thunk_edge_detect(filter_image* image, const void* params);
int thunk_denoise(filter_image* image, const void* params);
int thunk_pixelate(filter_image* image, const void* params);
int thunk_oil_paint(filter_image* image, const void* params);

// The two filters whose work takes its parameter by value, on that path too.
int apply_denoise(filter_image* image, int strength);
int apply_oil_paint(filter_image* image, int radius);

// The workers, on a chosen code path: the reference loop or one compiled
// variant of the fast path. Checks, messages and results are the same on
// every path; the filter table picks the path the library runs, and the tests
// and the benchmark use these to compare them.
int thunk_vignette_with(filter_image* image, const void* params, code_path path);
int thunk_blur_with(filter_image* image, const void* params, code_path path);
int thunk_sharpen_with(filter_image* image, const void* params, code_path path);
int thunk_kernel_with(filter_image* image, const void* params, code_path path);
int thunk_emboss_with(filter_image* image, const void* params, code_path path);
int thunk_edge_detect_with(filter_image* image, const void* params, code_path path);
int thunk_denoise_with(filter_image* image, const void* params, code_path path);
int thunk_pixelate_with(filter_image* image, const void* params, code_path path);
int thunk_oil_paint_with(filter_image* image, const void* params, code_path path);

int apply_denoise_with(filter_image* image, int strength, code_path path);
int apply_oil_paint_with(filter_image* image, int radius, code_path path);

#endif
