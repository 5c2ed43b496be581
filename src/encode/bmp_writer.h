// BMP output, byte for byte as stb_image_write lays out 4-component pixels (a
// 108-byte header with the standard masks, rows bottom-up, each pixel blue,
// green, red, alpha), but converted a block of pixels at a time instead of
// handed over a few bytes at a time.
#ifndef IMGFILTER_ENCODE_BMP_WRITER_H
#define IMGFILTER_ENCODE_BMP_WRITER_H

#include "common/image.h"
#include "common/byte_sink.h"

// Writes the whole file to the sink. The image must be encodable as BMP
// (encoder_bounds.h). False when no block to convert into can be allocated; the
// sink's own failure is reported through sink->failed.
bool encode_bmp(const filter_image& image, byte_sink* sink);

#endif
