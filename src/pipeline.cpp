#include "pipeline.h"

#include "common/last_error.h"
#include "io/decode_guards.h"
#include "io/image_file.h"
#include "stb_image.h"

namespace {

// Frees whatever block the image holds when the call ends, also one that the
// worker put there in place of the decoded one.
struct image_owner {
    filter_image image{};
    ~image_owner() { std::free(image.pixels); }
};

}  // namespace

int process_image(const char* input_path, const char* output_path, const char* filter_name, filter_fn worker,
                  const void* params) {
    image_owner owner;
    image_format input_format;
    {
        file_bytes file;
        if (!read_input_file(input_path, &file)) {
            set_err("%s: cannot read input file '%s'", filter_name, input_path);
            return 0;
        }
        input_format = detect_format(file.data.get(), file.length);
        if (input_format == image_format::unsupported) {
            set_err("%s: unsupported image format for '%s'", filter_name, input_path);
            return 0;
        }
        if (const char* refusal = decode_refusal(file.data.get(), file.length)) {
            set_err("%s: cannot decode '%s' (%s)", filter_name, input_path, refusal);
            return 0;
        }
        int channels = 0;
        owner.image.pixels = stbi_load_from_memory(file.data.get(), file.length, &owner.image.width,
                                                   &owner.image.height, &channels, 4);
        // The file buffer is released here, before the worker runs.
    }
    if (!owner.image.pixels) {
        const char* reason = stbi_failure_reason();
        set_err("%s: cannot decode '%s' (%s)", filter_name, input_path, reason ? reason : "unknown");
        return 0;
    }

    if (!worker(&owner.image, params)) return 0;

    const image_format output_format = choose_output_format(output_path, input_format);
    if (!write_output_file(output_path, output_format, owner.image)) {
        set_err("%s: cannot write output file '%s'", filter_name, output_path);
        return 0;
    }
    clear_err();
    return 1;
}
