// Encoding an image in one of the three formats into a byte sink.
#ifndef IMGFILTER_ENCODE_ENCODE_IMAGE_H
#define IMGFILTER_ENCODE_ENCODE_IMAGE_H

#include "common/byte_sink.h"
#include "common/image.h"
#include "common/image_format.h"
#include "encode/encoder_bounds.h"

// Encodes the image into the sink. False when the image cannot be encoded in
// that format (empty, too large for the format) or the encoder failed; the
// sink's own failure is reported through sink->failed.
bool encode_image(image_format format, const filter_image& image, byte_sink* sink);

#endif
