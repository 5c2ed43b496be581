#include "encode/encode_image.h"

#include "encode/bmp_writer.h"
#include "encode/encoder_bounds.h"
#include "encode/jpeg_encoder.h"
#include "encode/png_writer.h"

bool encode_image(image_format format, const filter_image& image, byte_sink* sink) {
    if (!encodable(format, image.width, image.height)) return false;
    switch (format) {
        case image_format::jpeg: return encode_jpeg(image, sink);
        case image_format::png: return encode_png(image, sink);
        case image_format::bmp: return encode_bmp(image, sink);
        case image_format::unsupported: break;
    }
    return false;
}
