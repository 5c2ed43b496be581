#include "decode/format_signature.h"

image_format detect_format(const unsigned char* bytes, int length) {
    if (length <= 1) return image_format::unsupported;
    if (bytes[0] == 0xFF) return bytes[1] == 0xD8 ? image_format::jpeg : image_format::unsupported;
    if (length >= 8 && bytes[0] == 0x89) {
        return bytes[1] == 0x50 && bytes[2] == 0x4E && bytes[3] == 0x47 ? image_format::png
                                                                         : image_format::unsupported;
    }
    if (bytes[0] == 0x42 && bytes[1] == 0x4D) return image_format::bmp;
    return image_format::unsupported;
}
