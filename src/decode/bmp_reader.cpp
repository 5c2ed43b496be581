#include "decode/bmp_reader.h"

#include <cstdint>

#include "decode/decode_limits.h"
#include "simd/bmp_channel_order.h"

namespace {

unsigned le16(const unsigned char* p) { return p[0] | p[1] << 8; }
uint32_t le32(const unsigned char* p) {
    return static_cast<uint32_t>(le16(p)) | static_cast<uint32_t>(le16(p + 2)) << 16;
}

struct plain_layout {
    long long width;
    long long height;
    bool bottom_up;
    int pixel_bytes;  // 3: alpha 255; 4: alpha as stored
    // An uncompressed 32-bit file whose alpha bytes are all 0 is taken for one
    // without alpha: every pixel gets 255.
    bool zero_alpha_means_opaque;
    long long pixel_start;
    long long stride;
};

// The header checks the general decoder makes, narrowed to the layouts read
// here: anything it would refuse, or read through a palette or masks, or with
// pixels elsewhere than right after the header, is not taken.
bool read_layout(const unsigned char* bytes, long long length, plain_layout* layout) {
    if (length < 54 || bytes[0] != 'B' || bytes[1] != 'M') return false;
    const uint32_t header = le32(bytes + 14);
    if (header != 40 && header != 56 && header != 108 && header != 124) return false;
    // The whole header must be in the file before any of it is read.
    if (length < 14 + static_cast<long long>(header) || le32(bytes + 10) != 14 + header) return false;
    const long long width = le32(bytes + 18);
    const long long stored_height = static_cast<int32_t>(le32(bytes + 22));
    const long long height = stored_height < 0 ? -stored_height : stored_height;
    if (width == 0 || height == 0 || width > k_max_side || height > k_max_side) return false;
    if (width * height > k_max_pixels) return false;
    if (le16(bytes + 26) != 1) return false;
    const unsigned bits = le16(bytes + 28);
    const uint32_t compression = le32(bytes + 30);
    const bool standard_masks = header >= 108 && le32(bytes + 54) == 0xFF0000u && le32(bytes + 58) == 0xFF00u &&
                                le32(bytes + 62) == 0xFFu && le32(bytes + 66) == 0xFF000000u;
    const bool plain = compression == 0 && (bits == 24 || bits == 32);
    if (!plain && !(bits == 32 && compression == 3 && standard_masks)) return false;
    layout->zero_alpha_means_opaque = bits == 32 && compression == 0;
    const long long row_bytes = width * (bits / 8);
    layout->width = width;
    layout->height = height;
    layout->bottom_up = stored_height > 0;
    layout->pixel_bytes = static_cast<int>(bits / 8);
    layout->pixel_start = 14 + header;
    layout->stride = (row_bytes + 3) / 4 * 4;
    // Every pixel must be in the file (the padding after the last row need not).
    return layout->pixel_start + (height - 1) * layout->stride + row_bytes <= length;
}

void convert_24_bit_row(const unsigned char* in, unsigned char* out, long long width) {
    for (long long x = 0; x < width; ++x) {
        out[4 * x + 0] = in[3 * x + 2];
        out[4 * x + 1] = in[3 * x + 1];
        out[4 * x + 2] = in[3 * x + 0];
        out[4 * x + 3] = 255;
    }
}

}  // namespace

bool read_plain_bmp(const unsigned char* bytes, int length, filter_image* image) {
    plain_layout layout;
    if (!bytes || !read_layout(bytes, length, &layout)) return false;
    const long long row_size = layout.width * 4;
    heap_ptr<unsigned char> pixels = heap_alloc<unsigned char>(row_size * layout.height);
    if (!pixels) return false;
    const code_path path = fastest_code_path();
    uint32_t alpha = 0;
    for (long long y = 0; y < layout.height; ++y) {
        const long long stored_row = layout.bottom_up ? layout.height - 1 - y : y;
        const unsigned char* in = bytes + layout.pixel_start + stored_row * layout.stride;
        unsigned char* out = pixels.get() + y * row_size;
        if (layout.pixel_bytes == 3) convert_24_bit_row(in, out, layout.width);
        else alpha |= swap_red_and_blue(in, out, layout.width, path);
    }
    if (layout.zero_alpha_means_opaque && alpha == 0) {
        for (long long i = 3; i < row_size * layout.height; i += 4) pixels.get()[i] = 255;
    }
    image->width = static_cast<int32_t>(layout.width);
    image->height = static_cast<int32_t>(layout.height);
    image->pixels = pixels.release();
    return true;
}
