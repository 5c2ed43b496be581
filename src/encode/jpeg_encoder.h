// The JPEG encoder: baseline, quality 92, Y, Cb and Cr at full resolution,
// alpha ignored, the edge pixels repeated to fill the last blocks. Its files
// are byte for byte those of stb_image_write 1.16 (stbi_write_jpg_to_func with
// 4 components at quality 92), which the library wrote before: the colour
// conversion and the transform are that writer's float arithmetic, operation
// for operation, computed for several blocks at once, one block per vector
// lane, and its Huffman coding is done a word at a time.
#ifndef IMGFILTER_ENCODE_JPEG_ENCODER_H
#define IMGFILTER_ENCODE_JPEG_ENCODER_H

#include "common/image.h"
#include "common/byte_sink.h"
#include "simd/code_path.h"

// Encodes the image into the sink. False when the image is not encodable as
// JPEG or the encoder's memory (one block of about 100 KB) cannot be had; a
// failure of the sink ends the encoding early and shows in sink->failed.
bool encode_jpeg(const filter_image& image, byte_sink* sink);

// The same on a chosen code path (the reference path runs the portable one):
// the same bytes on every path.
bool encode_jpeg_with(const filter_image& image, byte_sink* sink, code_path path);

#endif
