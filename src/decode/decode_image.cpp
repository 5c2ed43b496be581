#include "decode/decode_image.h"

#include <cstddef>
#include <cstdio>

#include "decode/bmp_reader.h"
#include "decode/decode_guards.h"
#include "stb_image.h"

void printable_reason(const char* raw, decode_reason* reason) {
    constexpr std::size_t capacity = sizeof reason->text;
    if (!raw || !*raw) raw = "unknown";
    std::size_t used = 0;
    for (const unsigned char* byte = reinterpret_cast<const unsigned char*>(raw); *byte; ++byte) {
        const bool plain = *byte >= 0x20 && *byte < 0x7F && *byte != '\\';
        const std::size_t width = plain ? 1 : 4;
        if (used + width >= capacity) break;
        if (plain) reason->text[used] = static_cast<char>(*byte);
        else std::snprintf(reason->text + used, 5, "\\x%02x", *byte);
        used += width;
    }
    reason->text[used] = '\0';
}

bool decode_image(const unsigned char* bytes, int length, filter_image* image, decode_reason* reason) {
    if (const char* refusal = decode_refusal(bytes, length)) {
        printable_reason(refusal, reason);
        return false;
    }
    if (read_plain_bmp(bytes, length, image)) return true;
    int channels = 0;
    image->pixels = stbi_load_from_memory(bytes, length, &image->width, &image->height, &channels, 4);
    if (image->pixels) return true;
    printable_reason(stbi_failure_reason(), reason);
    return false;
}
