// PNG output, byte for byte as stb_image_write writes 4-component pixels at its
// default settings: 8-bit RGBA, each row filtered with whichever of the five
// filters gives the smallest sum of its bytes taken as signed, the filtered
// rows compressed by the writer's deflate at level 8, and one IDAT chunk.
// Here the five filters are tried in one vectorised pass over each row, and
// the chunks go to the sink as they are, without the writer's copy of the
// whole compressed stream.
#ifndef IMGFILTER_ENCODE_PNG_WRITER_H
#define IMGFILTER_ENCODE_PNG_WRITER_H

#include "common/image.h"
#include "common/byte_sink.h"
#include "simd/code_path.h"

// Writes the whole file to the sink. The image must be encodable as PNG
// (encoder_bounds.h). False when a block cannot be allocated; the sink's own
// failure is reported through sink->failed.
bool encode_png(const filter_image& image, byte_sink* sink);

// The compressor's level: stb_image_write's default, which the bytes follow.
constexpr int k_png_compression_level = 8;

// The same with the rows filtered by the given variant; what tests compare.
bool encode_png_with(const filter_image& image, byte_sink* sink, code_path path);

#endif
