#include "parameter_check.h"

#include "imgfilter.h"
#include "private_temp_dir.h"

namespace {

// A 24-bit BMP of one grey pixel: the smallest image every filter accepts.
const unsigned char k_one_pixel_bmp[58] = {
    'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,                  // file header
    40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0,   // info header: 1 x 1, 24 bits
    4, 0, 0, 0, 0x13, 0x0B, 0, 0, 0x13, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    128, 128, 128, 0,  // the pixel and the row's padding
};

}  // namespace

bool parameter_accepted(const filter_command& command, const param_value& value, std::string* message) {
    private_temp_dir dir;
    std::string error;
    if (!dir.create(&error)) return true;
    const std::string input = dir.path("probe.bmp");
    if (!write_private_file(input, std::string(reinterpret_cast<const char*>(k_one_pixel_bmp), sizeof k_one_pixel_bmp),
                            &error))
        return true;
    if (command.run(input.c_str(), dir.path("probe-out.bmp").c_str(), value)) return true;
    const std::string refusal = imgfilter_last_error();
    // Reading, decoding or writing our own files failing says nothing about
    // the parameter.
    for (const char* not_a_parameter : {": cannot read input file", ": cannot decode", ": cannot write output file",
                                        ": unsupported image format", "memory allocation failed"})
        if (refusal.find(not_a_parameter) != std::string::npos) return true;
    *message = refusal;
    return false;
}
