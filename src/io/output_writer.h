// Writing an encoded image to whatever stands at the output path: a regular
// file is replaced atomically, keeping its permissions and owner; a symlink is
// written through; a device, FIFO or multiply linked file is written in place,
// from an encoding finished in memory first.
#ifndef IMGFILTER_OUTPUT_WRITER_H
#define IMGFILTER_OUTPUT_WRITER_H

#include "common/image.h"
#include "io/image_file.h"

// False when nothing may be written there or writing failed; a file that
// stood at the path is then as it was, unless it is one written in place and
// the device itself failed midway.
bool write_output(const char* output_path, image_format format, const filter_image& image);

#endif
