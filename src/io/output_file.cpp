#include <climits>
#include <cstring>

#include "io/image_file.h"
#include "io/output_writer.h"
#include "stb_image_write.h"

namespace {

// ASCII case-insensitive for the letters of the names compared: bit 0x20 set on
// both bytes, as the extension table has always been matched.
bool extension_is(const char* extension, const char* name) {
    const std::size_t length = std::strlen(name);
    if (std::strlen(extension) != length) return false;
    for (std::size_t i = 0; i < length; ++i) {
        if ((static_cast<unsigned char>(extension[i]) | 0x20) != (static_cast<unsigned char>(name[i]) | 0x20))
            return false;
    }
    return true;
}

void forward_to_sink(void* context, void* data, int size) {
    byte_sink* sink = static_cast<byte_sink*>(context);
    if (!sink->failed && size > 0) sink->write(sink, data, size);
}

// The encoders do their size arithmetic in int. Every image the decoder can
// deliver keeps width * height * 4 within INT_MAX, but the encoders add a row
// byte or a header on top; refuse what would overflow rather than write garbage.
// JPEG stores each dimension in 16 bits: a larger image would be a broken file.
bool encodable(image_format format, long long width, long long height) {
    if (width <= 0 || height <= 0) return false;  // no format has a valid empty image
    switch (format) {
        case image_format::jpeg: return width <= 65535 && height <= 65535;
        case image_format::png: return (width * 4 + 1) * height <= INT_MAX;
        case image_format::bmp: return width * height * 4 + 122 <= INT_MAX;
        case image_format::unsupported: break;
    }
    return false;
}

}  // namespace

image_format choose_output_format(const char* output_path, image_format input_format) {
    const char* dot = std::strrchr(output_path, '.');
    if (!dot || dot[1] == '\0') return input_format;
    const char* extension = dot + 1;
    if (extension_is(extension, "jpg") || extension_is(extension, "jpeg")) return image_format::jpeg;
    if (extension_is(extension, "png")) return image_format::png;
    if (extension_is(extension, "bmp")) return image_format::bmp;
    return input_format;
}

bool encode_image(image_format format, const filter_image& image, byte_sink* sink) {
    if (!encodable(format, image.width, image.height)) return false;
    const int w = image.width;
    const int h = image.height;
    switch (format) {
        case image_format::jpeg: return stbi_write_jpg_to_func(forward_to_sink, sink, w, h, 4, image.pixels, 92) != 0;
        case image_format::png:
            return stbi_write_png_to_func(forward_to_sink, sink, w, h, 4, image.pixels, w * 4) != 0;
        case image_format::bmp: return stbi_write_bmp_to_func(forward_to_sink, sink, w, h, 4, image.pixels) != 0;
        case image_format::unsupported: break;
    }
    return false;
}

bool write_output_file(const char* output_path, image_format format, const filter_image& image) {
    // Nothing is created for an image that cannot be encoded.
    if (!encodable(format, image.width, image.height)) return false;
    return write_output(output_path, format, image);
}
