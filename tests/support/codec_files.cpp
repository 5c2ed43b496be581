#include "codec_files.h"

#include <zlib.h>

#include <cstdlib>

void put_be16(byte_vector* to, uint32_t value) {
    to->push_back(uint8_t(value >> 8));
    to->push_back(uint8_t(value));
}

void put_be32(byte_vector* to, uint32_t value) {
    put_be16(to, value >> 16);
    put_be16(to, value & 0xFFFF);
}

void put_le(byte_vector* to, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) to->push_back(uint8_t(value >> (8 * i)));
}

namespace {

void put_chunk(byte_vector* png, const char* type, const byte_vector& data) {
    put_be32(png, uint32_t(data.size()));
    const size_t start = png->size();
    png->insert(png->end(), type, type + 4);
    png->insert(png->end(), data.begin(), data.end());
    put_be32(png, uint32_t(crc32(0, png->data() + start, uInt(png->size() - start))));
}

int channels_of(uint8_t colour_type) {
    switch (colour_type) {
        case 2: return 3;
        case 4: return 2;
        case 6: return 4;
        default: return 1;
    }
}

// Rows of the (sub)image with filter type 0, samples packed high bits first.
void put_rows(byte_vector* raw, const png_spec& spec, int x0, int y0, int dx, int dy,
              const std::function<unsigned(int, int, int)>& sample) {
    const int channels = channels_of(spec.colour_type);
    for (int y = y0; y < int(spec.height); y += dy) {
        if (x0 >= int(spec.width)) return;
        raw->push_back(0);
        unsigned accumulator = 0;
        int bits = 0;
        for (int x = x0; x < int(spec.width); x += dx) {
            for (int c = 0; c < channels; ++c) {
                const unsigned value = sample(x, y, c) & ((1u << spec.depth) - 1);
                if (spec.depth == 16) {
                    raw->push_back(uint8_t(value >> 8));
                    raw->push_back(uint8_t(value));
                } else if (spec.depth == 8) {
                    raw->push_back(uint8_t(value));
                } else {
                    accumulator = accumulator << spec.depth | value;
                    bits += spec.depth;
                    if (bits == 8) {
                        raw->push_back(uint8_t(accumulator));
                        accumulator = 0;
                        bits = 0;
                    }
                }
            }
        }
        if (bits) raw->push_back(uint8_t(accumulator << (8 - bits)));
    }
}

byte_vector zlib_stored(const byte_vector& raw) {
    byte_vector z{0x78, 0x01};
    size_t at = 0;
    do {
        const size_t length = raw.size() - at < 65535 ? raw.size() - at : 65535;
        z.push_back(at + length == raw.size() ? 1 : 0);
        put_le(&z, uint32_t(length), 2);
        put_le(&z, uint32_t(~length & 0xFFFF), 2);
        z.insert(z.end(), raw.begin() + long(at), raw.begin() + long(at + length));
        at += length;
    } while (at < raw.size());
    put_be32(&z, uint32_t(adler32(1, raw.data(), uInt(raw.size()))));
    return z;
}

// Deflate's bits go out lowest first; Huffman codes highest bit first.
struct bit_writer {
    byte_vector bytes;
    unsigned accumulator = 0;
    int count = 0;
    void bits(unsigned value, int length) {
        for (int i = 0; i < length; ++i) put((value >> i) & 1);
    }
    void code(unsigned value, int length) {
        for (int i = length - 1; i >= 0; --i) put((value >> i) & 1);
    }
    void put(unsigned bit) {
        accumulator |= bit << count;
        if (++count == 8) {
            bytes.push_back(uint8_t(accumulator));
            accumulator = 0;
            count = 0;
        }
    }
    void flush() {
        while (count) put(0);
    }
};

// Fixed-Huffman deflate: literals, and a match of 258 bytes at distance 1 for
// each run of the previous byte that long.
byte_vector zlib_runs(const byte_vector& raw) {
    bit_writer deflate;
    deflate.bytes = {0x78, 0x01};
    deflate.bits(1, 1);
    deflate.bits(1, 2);
    size_t i = 0;
    while (i < raw.size()) {
        size_t run = 0;
        while (i > 0 && run < 258 && i + run < raw.size() && raw[i + run] == raw[i - 1]) ++run;
        if (run == 258) {
            deflate.code(0xC5, 8);
            deflate.code(0, 5);
            i += run;
            continue;
        }
        const uint8_t v = raw[i++];
        if (v < 144) deflate.code(0x30u + v, 8);
        else deflate.code(0x190u + v - 144, 9);
    }
    deflate.code(0, 7);
    deflate.flush();
    put_be32(&deflate.bytes, uint32_t(adler32(1, raw.data(), uInt(raw.size()))));
    return deflate.bytes;
}

}  // namespace

byte_vector png_header(uint32_t width, uint32_t height, uint8_t depth, uint8_t colour_type, bool interlaced) {
    byte_vector png{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    byte_vector header;
    put_be32(&header, width);
    put_be32(&header, height);
    header.insert(header.end(), {depth, colour_type, 0, 0, uint8_t(interlaced ? 1 : 0)});
    put_chunk(&png, "IHDR", header);
    return png;
}

byte_vector make_png(const png_spec& spec, const std::function<unsigned(int, int, int)>& sample) {
    byte_vector png = png_header(spec.width, spec.height, spec.depth, spec.colour_type, spec.interlaced);
    if (!spec.palette.empty()) put_chunk(&png, "PLTE", spec.palette);
    if (!spec.transparency.empty()) put_chunk(&png, "tRNS", spec.transparency);
    byte_vector raw;
    if (spec.interlaced) {
        static const int passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                         {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
        for (const auto& pass : passes) put_rows(&raw, spec, pass[0], pass[1], pass[2], pass[3], sample);
    } else {
        put_rows(&raw, spec, 0, 0, 1, 1, sample);
    }
    const byte_vector z = spec.compress_runs ? zlib_runs(raw) : zlib_stored(raw);
    const size_t half = z.size() / 2;
    put_chunk(&png, "IDAT", byte_vector(z.begin(), z.begin() + long(half)));
    put_chunk(&png, "IDAT", byte_vector(z.begin() + long(half), z.end()));
    put_chunk(&png, "IEND", {});
    return png;
}

byte_vector inflate_bomb_png(unsigned long long inflated) {
    byte_vector png = png_header(1, 1, 8, 6, false);
    bit_writer deflate;
    deflate.bytes = {0x78, 0x01};
    deflate.bits(1, 1);  // final block
    deflate.bits(1, 2);  // fixed Huffman codes
    deflate.code(0x30, 8);  // literal 0: the row's filter byte
    for (unsigned long long made = 1; made + 258 <= inflated; made += 258) {
        deflate.code(0xC5, 8);  // length 258
        deflate.code(0, 5);     // distance 1
    }
    deflate.code(0, 7);  // end of block
    deflate.flush();
    put_be32(&deflate.bytes, 0);  // no checksum is looked at before the data runs over
    put_chunk(&png, "IDAT", deflate.bytes);
    put_chunk(&png, "IEND", {});
    return png;
}

byte_vector make_bmp(const bmp_spec& spec, const std::function<uint32_t(int, int)>& value) {
    const bool core = spec.header_size == 12;
    const int entry = core ? 3 : 4;
    const uint32_t bitfields = spec.compression == 3 && spec.header_size < 108 ? 12 : 0;
    const uint32_t offset = 14 + spec.header_size + bitfields + uint32_t(spec.palette.size() * entry);
    const int width = spec.width;
    const int rows = std::abs(spec.height);
    const int row_bytes = (width * spec.bits + 7) / 8;
    const int stride = (row_bytes + 3) / 4 * 4;
    byte_vector bmp{'B', 'M'};
    put_le(&bmp, offset + uint32_t(stride * rows), 4);
    put_le(&bmp, 0, 4);
    put_le(&bmp, offset, 4);
    put_le(&bmp, spec.header_size, 4);
    if (core) {
        put_le(&bmp, uint32_t(width), 2);
        put_le(&bmp, uint32_t(spec.height), 2);
        put_le(&bmp, 1, 2);
        put_le(&bmp, spec.bits, 2);
    } else {
        put_le(&bmp, uint32_t(width), 4);
        put_le(&bmp, uint32_t(spec.height), 4);
        put_le(&bmp, 1, 2);
        put_le(&bmp, spec.bits, 2);
        put_le(&bmp, spec.compression, 4);
        for (int i = 0; i < 5; ++i) put_le(&bmp, 0, 4);  // image size, resolutions, colours used and important
        if (spec.header_size == 56) for (int i = 0; i < 4; ++i) put_le(&bmp, spec.masks[i], 4);
        if (bitfields) for (int i = 0; i < 3; ++i) put_le(&bmp, spec.masks[i], 4);
        if (spec.header_size >= 108) {
            for (int i = 0; i < 4; ++i) put_le(&bmp, spec.masks[i], 4);
            put_le(&bmp, 0x73524742, 4);  // sRGB
            for (int i = 0; i < 12; ++i) put_le(&bmp, 0, 4);
            if (spec.header_size == 124) for (int i = 0; i < 4; ++i) put_le(&bmp, 0, 4);
        }
    }
    for (uint32_t colour : spec.palette) put_le(&bmp, colour, entry);
    for (int row = 0; row < rows; ++row) {
        unsigned accumulator = 0;
        int bits = 0;
        size_t start = bmp.size();
        for (int x = 0; x < width; ++x) {
            const uint32_t v = value(x, row);
            if (spec.bits >= 8) {
                put_le(&bmp, v, spec.bits / 8);
                continue;
            }
            accumulator = accumulator << spec.bits | (v & ((1u << spec.bits) - 1));
            bits += spec.bits;
            if (bits == 8) {
                bmp.push_back(uint8_t(accumulator));
                accumulator = 0;
                bits = 0;
            }
        }
        if (bits) bmp.push_back(uint8_t(accumulator << (8 - bits)));
        while (bmp.size() - start < size_t(stride)) bmp.push_back(0);
    }
    return bmp;
}

byte_vector bmp_header(int32_t width, int32_t height) {
    byte_vector bmp{'B', 'M'};
    for (uint32_t value : {54u, 0u, 54u, 40u, uint32_t(width), uint32_t(height)}) put_le(&bmp, value, 4);
    bmp.insert(bmp.end(), {1, 0, 24, 0});
    for (int i = 0; i < 6; ++i) put_le(&bmp, 0, 4);
    return bmp;
}
