#include "encode/bmp_writer.h"

#include <cstdint>
#include <cstring>

#include "simd/bmp_channel_order.h"

namespace {

constexpr int k_header_size = 14 + 108;
constexpr long long k_block_pixels = 16 * 1024;

unsigned char* put16(unsigned char* out, uint32_t value) {
    out[0] = static_cast<unsigned char>(value);
    out[1] = static_cast<unsigned char>(value >> 8);
    return out + 2;
}

unsigned char* put32(unsigned char* out, uint32_t value) { return put16(put16(out, value), value >> 16); }

// The file header, then a version 4 information header: 32 bits a pixel with
// bitfields (red, green, blue, alpha masks), everything else 0.
void fill_header(unsigned char* header, uint32_t width, uint32_t height) {
    unsigned char* out = header;
    *out++ = 'B';
    *out++ = 'M';
    out = put32(out, k_header_size + width * height * 4);
    out = put32(out, 0);  // two reserved 16-bit fields
    out = put32(out, k_header_size);
    out = put32(out, 108);
    out = put32(out, width);
    out = put32(out, height);
    out = put16(out, 1);   // planes
    out = put16(out, 32);  // bits a pixel
    out = put32(out, 3);   // bitfields
    std::memset(out, 0, 20);  // image size, resolutions, colours used and important
    out += 20;
    static const uint32_t masks[] = {0xFF0000u, 0xFF00u, 0xFFu, 0xFF000000u};  // red, green, blue, alpha
    for (uint32_t mask : masks) out = put32(out, mask);
    std::memset(out, 0, static_cast<std::size_t>(header + k_header_size - out));  // colour space and its endpoints
}

}  // namespace

bool encode_bmp(const filter_image& image, byte_sink* sink) {
    heap_ptr<unsigned char> block = heap_alloc<unsigned char>(k_block_pixels * 4);
    if (!block) return false;
    const long long width = image.width;
    const code_path path = fastest_code_path();
    unsigned char header[k_header_size];
    fill_header(header, static_cast<uint32_t>(image.width), static_cast<uint32_t>(image.height));
    // A sink that failed (even before the first byte) takes nothing more.
    if (!sink->failed) sink->write(sink, header, k_header_size);
    for (long long y = image.height - 1; y >= 0 && !sink->failed; --y) {
        const unsigned char* row = image.pixels + y * width * 4;
        for (long long x = 0; x < width && !sink->failed; x += k_block_pixels) {
            const long long count = width - x < k_block_pixels ? width - x : k_block_pixels;
            swap_red_and_blue(row + 4 * x, block.get(), count, path);
            sink->write(sink, block.get(), static_cast<int>(count * 4));
        }
    }
    return true;
}
