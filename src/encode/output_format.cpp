#include "encode/output_format.h"

#include <cstddef>
#include <cstring>

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

const char* extension_of(image_format format) {
    switch (format) {
        case image_format::jpeg: return "jpg";
        case image_format::png: return "png";
        case image_format::bmp: return "bmp";
        case image_format::unsupported: break;
    }
    return nullptr;
}
