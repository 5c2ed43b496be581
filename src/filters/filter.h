// What the nine filter units share beyond the image itself: the reference
// path's buffer swap, and the workers the pipeline and the tests call.
#ifndef IMGFILTER_FILTER_H
#define IMGFILTER_FILTER_H

#include <utility>

#include "common/image.h"
#include "common/last_error.h"
#include "simd/code_path.h"

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

// The workers the pipeline calls; each runs its fastest code path.
int thunk_vignette(filter_image* image, const void* params);
int thunk_blur(filter_image* image, const void* params);
int thunk_sharpen(filter_image* image, const void* params);
int thunk_kernel(filter_image* image, const void* params);
int thunk_emboss(filter_image* image, const void* params);
int thunk_edge_detect(filter_image* image, const void* params);
int thunk_denoise(filter_image* image, const void* params);
int thunk_pixelate(filter_image* image, const void* params);
int thunk_oil_paint(filter_image* image, const void* params);

// The blur's normalised Gaussian for a positive radius whose 2 * radius^2 does
// not vanish, over the half-width r: entry k (0..2r) weighs the displacement k - r.
void blur_weight_table(float radius, int r, float* weights);

int apply_denoise(filter_image* image, int strength);
int apply_oil_paint(filter_image* image, int radius);

// The same workers on a chosen code path: the reference loop or one compiled
// variant of the fast path. Checks, messages and results are the same on
// every path; the tests and the benchmark use these to compare them.
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
