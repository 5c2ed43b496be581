// The twelve exported functions. Each filter entry point checks the two paths,
// puts its parameters in a record on its own stack and runs the pipeline; the
// worker checks the parameters after the input was decoded, so a bad file is
// reported before a bad parameter.
#include "imgfilter.h"

#include "common/last_error.h"
#include "filter_table.h"
#include "pipeline.h"

namespace {

int run_filter(filter_id id, const char* input_path, const char* output_path, const void* params) {
    const filter_entry& filter = filter_of(id);
    if (!input_path || !output_path) {
        set_err("%s: input and output paths must not be NULL", filter.name);
        return 0;
    }
    return process_image(input_path, output_path, filter.name, filter.worker, params);
}

}  // namespace

extern "C" {

IMGFILTER_API int imgfilter_init(void) {
    clear_err();
    return 1;
}

IMGFILTER_API void imgfilter_cleanup(void) { clear_err(); }

IMGFILTER_API const char* imgfilter_last_error(void) { return last_error_text(); }

IMGFILTER_API int imgfilter_vignette(const char* input_path, const char* output_path, float strength) {
    return run_filter(filter_id::vignette, input_path, output_path, &strength);
}

IMGFILTER_API int imgfilter_blur(const char* input_path, const char* output_path, float radius) {
    return run_filter(filter_id::blur, input_path, output_path, &radius);
}

IMGFILTER_API int imgfilter_sharpen(const char* input_path, const char* output_path, float amount) {
    return run_filter(filter_id::sharpen, input_path, output_path, &amount);
}

IMGFILTER_API int imgfilter_kernel(const char* input_path, const char* output_path, const float* weights, int size) {
    const kernel_params params{weights, size};
    return run_filter(filter_id::kernel, input_path, output_path, &params);
}

IMGFILTER_API int imgfilter_emboss(const char* input_path, const char* output_path) {
    return run_filter(filter_id::emboss, input_path, output_path, nullptr);
}

IMGFILTER_API int imgfilter_edge_detect(const char* input_path, const char* output_path) {
    return run_filter(filter_id::edge_detect, input_path, output_path, nullptr);
}

IMGFILTER_API int imgfilter_denoise(const char* input_path, const char* output_path, int strength) {
    return run_filter(filter_id::denoise, input_path, output_path, &strength);
}

IMGFILTER_API int imgfilter_pixelate(const char* input_path, const char* output_path, int block_size) {
    return run_filter(filter_id::pixelate, input_path, output_path, &block_size);
}

IMGFILTER_API int imgfilter_oil_paint(const char* input_path, const char* output_path, int radius) {
    return run_filter(filter_id::oil_paint, input_path, output_path, &radius);
}

}  // extern "C"
