// The twelve exported functions. Each filter entry point checks the two paths,
// puts its parameters in a record on its own stack and runs the pipeline; the
// worker checks the parameters after the input was decoded, so a bad file is
// reported before a bad parameter.
#include "imgfilter.h"

#include "pipeline.h"

namespace {

int run_filter(const char* filter_name, const char* input_path, const char* output_path, filter_fn worker,
               const void* params) {
    if (!input_path || !output_path) {
        set_err("%s: input and output paths must not be NULL", filter_name);
        return 0;
    }
    return process_image(input_path, output_path, filter_name, worker, params);
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
    return run_filter("vignette", input_path, output_path, thunk_vignette, &strength);
}

}  // extern "C"
