#include "io/jpeg_entropy_coder.h"

#include <cstring>

void jpeg_entropy_coder::start(byte_sink* sink) {
    sink_ = sink;
    used_ = 0;
    bits_ = 0;
    bit_count_ = 0;
}

void jpeg_entropy_coder::put_bytes(const void* data, int size) {
    const unsigned char* from = static_cast<const unsigned char*>(data);
    while (size > 0) {
        if (used_ == k_capacity) flush();
        const int piece = size < k_capacity - used_ ? size : k_capacity - used_;
        std::memcpy(bytes_ + used_, from, static_cast<std::size_t>(piece));
        used_ += piece;
        from += piece;
        size -= piece;
    }
}

void jpeg_entropy_coder::flush() {
    if (used_ > 0 && !sink_->failed) sink_->write(sink_, bytes_, used_);
    used_ = 0;
}

void jpeg_entropy_coder::put_stuffed_byte(unsigned char byte) {
    bytes_[used_++] = byte;
    if (byte == 0xFF) bytes_[used_++] = 0;
}

// Four bytes at a time; a byte is FF exactly when its low seven bits carry
// into its top bit, which is set.
void jpeg_entropy_coder::put_word(std::uint32_t word) {
    if ((((word & 0x7F7F7F7Fu) + 0x01010101u) & word & 0x80808080u) != 0) {
        for (int shift = 24; shift >= 0; shift -= 8) put_stuffed_byte(static_cast<unsigned char>(word >> shift));
        return;
    }
    unsigned char* out = bytes_ + used_;
    out[0] = static_cast<unsigned char>(word >> 24);
    out[1] = static_cast<unsigned char>(word >> 16);
    out[2] = static_cast<unsigned char>(word >> 8);
    out[3] = static_cast<unsigned char>(word);
    used_ += 4;
}

// code holds no bits above length (at most 27): with fewer than 32 pending,
// the 64-bit buffer never loses one.
inline void jpeg_entropy_coder::put_bits(std::uint32_t code, std::uint32_t length) {
    bits_ = (bits_ << length) | code;
    bit_count_ += static_cast<int>(length);
    if (bit_count_ >= 32) {
        bit_count_ -= 32;
        put_word(static_cast<std::uint32_t>(bits_ >> bit_count_));
    }
}

// The symbol run x 16 + size, then the value's size low bits, negative values
// less one (so their leading bit is 0), in one piece. The pixels bound every
// value well below 2^15, so run x 16 + size stays within the table.
inline void jpeg_entropy_coder::put_value(const jpeg_huffman_code* codes, int run, int value) {
    const std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    const std::uint32_t size = magnitude ? 32u - static_cast<std::uint32_t>(__builtin_clz(magnitude)) : 0u;
    const std::uint32_t low_bits = static_cast<std::uint32_t>(value - (value < 0 ? 1 : 0)) & ((1u << size) - 1u);
    const jpeg_huffman_code& symbol = codes[(run << 4) + static_cast<int>(size)];
    put_bits((symbol.code << size) | low_bits, symbol.length + size);
}

void jpeg_entropy_coder::code_block(const std::int32_t* coefficients, int stride, std::uint64_t nonzero,
                                    int* predictor, const jpeg_huffman_tables& tables) {
    if (used_ > k_capacity - k_block_room) flush();
    const int dc = coefficients[0];
    put_value(tables.dc, 0, dc - *predictor);
    *predictor = dc;
    // The AC coefficients that are not 0, in order, each after the run of
    // zeros before it; runs of 16 or more take a 16-zero symbol per 16.
    std::uint64_t rest = nonzero & ~std::uint64_t{1};
    int last = 0;
    while (rest != 0) {
        const int k = __builtin_ctzll(rest);
        rest &= rest - 1;
        int run = k - last - 1;
        last = k;
        for (; run >= 16; run -= 16) put_bits(tables.ac[0xF0].code, tables.ac[0xF0].length);
        put_value(tables.ac, run, coefficients[k * stride]);
    }
    if (last != 63) put_bits(tables.ac[0].code, tables.ac[0].length);  // end of block
}

// The last byte is completed with 1 bits; bits left beyond it are dropped.
void jpeg_entropy_coder::finish_bits() {
    if (used_ > k_capacity - k_block_room) flush();
    bits_ = (bits_ << 7) | 0x7F;
    bit_count_ += 7;
    while (bit_count_ >= 8) {
        bit_count_ -= 8;
        put_stuffed_byte(static_cast<unsigned char>(bits_ >> bit_count_));
    }
    bit_count_ = 0;
}
