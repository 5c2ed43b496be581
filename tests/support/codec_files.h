// Files made byte by byte for the codec tests: PNGs of every colour type, bit
// depth and interlacing (palette indices past the palette included), BMPs of
// every layout the decoder reads, a PNG whose data inflates far past its
// declared size, and headers alone, for the checks made before decoding.
#ifndef IMGFILTER_TESTS_CODEC_FILES_H
#define IMGFILTER_TESTS_CODEC_FILES_H

#include <cstdint>
#include <functional>
#include <vector>

using byte_vector = std::vector<uint8_t>;

// Fields appended in the byte order of JPEG and PNG (big-endian) or of BMP.
void put_be16(byte_vector* to, uint32_t value);
void put_be32(byte_vector* to, uint32_t value);
void put_le(byte_vector* to, uint32_t value, int bytes);

struct png_spec {
    uint32_t width;
    uint32_t height;
    uint8_t depth;
    uint8_t colour_type;  // 0 grey, 2 RGB, 3 palette, 4 grey + alpha, 6 RGBA
    bool interlaced = false;
    byte_vector palette;  // RGB triples, for colour type 3
    byte_vector transparency;  // the tRNS chunk's bytes, if any
    bool compress_runs = false;  // deflate runs of a byte (large flat images in small files)
};

// sample(x, y, channel) gives each sample, masked to the depth. The image data
// is stored uncompressed (deflate's stored blocks) or with runs compressed,
// split over two IDAT chunks.
byte_vector make_png(const png_spec& spec, const std::function<unsigned(int, int, int)>& sample);

// A PNG that ends after its IHDR chunk: what the header query reads.
byte_vector png_header(uint32_t width, uint32_t height, uint8_t depth, uint8_t colour_type, bool interlaced = false);

// A 1 x 1 RGBA PNG whose IDAT inflates to `inflated` bytes (fixed-Huffman
// matches of 258 bytes, 13 bits each: about inflated / 160 bytes of file).
byte_vector inflate_bomb_png(unsigned long long inflated);

struct bmp_spec {
    int32_t width;
    int32_t height;  // negative: rows stored top-down
    uint16_t bits;
    uint32_t header_size = 40;  // 12, 40, 56, 108 or 124
    uint32_t compression = 0;   // 0, or 3 (bitfields)
    uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha, for compression 3
    std::vector<uint32_t> palette;  // 0x00RRGGBB, for 1, 4 and 8 bits
};

// value(x, row) is the palette index or the packed pixel of the row as stored.
byte_vector make_bmp(const bmp_spec& spec, const std::function<uint32_t(int, int)>& value);

// A 24-bit BMP with a BITMAPINFOHEADER and no pixel data, whatever its size.
byte_vector bmp_header(int32_t width, int32_t height);

#endif
