#include "pipeline.h"

#include "common/last_error.h"
#include "decode/decode_image.h"
#include "decode/format_signature.h"
#include "encode/encode_image.h"
#include "encode/output_format.h"
#include "fs/input_file.h"
#include "fs/write_output.h"

namespace {

struct encoding {
    image_format format;
    const filter_image* image;
};

bool encode_into(const void* source, byte_sink* sink) {
    const encoding* output = static_cast<const encoding*>(source);
    return encode_image(output->format, *output->image, sink);
}


}  // namespace

bool write_output_file(const char* output_path, image_format format, const filter_image& image) {
    if (!encodable(format, image.width, image.height)) return false;
    const encoding output{format, &image};
    return write_output(output_path, file_content{encode_into, &output});
}

int process_image(const char* input_path, const char* output_path, const char* filter_name, filter_fn worker,
                  const void* params) {
    image_owner owner;
    image_format input_format;
    decode_reason reason;
    bool decoded;
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
        decoded = decode_image(file.data.get(), file.length, &owner.image, &reason);
        // The file buffer is released here, before the worker runs.
    }
    if (!decoded) {
        set_err("%s: cannot decode '%s' (%s)", filter_name, input_path, reason.text);
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
