// The output's format, from its path alone: the extension after the last '.'
// of the whole path names it (jpg, jpeg, png or bmp, in any case); any other
// extension, or none, leaves the input's format.
#ifndef IMGFILTER_ENCODE_OUTPUT_FORMAT_H
#define IMGFILTER_ENCODE_OUTPUT_FORMAT_H

#include "common/image_format.h"

image_format choose_output_format(const char* output_path, image_format input_format);

// The extension that names the format ("jpg", "png", "bmp"); NULL for
// unsupported.
const char* extension_of(image_format format);

#endif
