#include "encode/jpeg_entropy_coder.h"

#include <cstring>

namespace {

// The coder's bit buffer and write position, copied into locals for a block:
// the compiler must otherwise assume that every byte written may change the
// coder's own members, and reload them after each one.
struct bit_stream {
    std::uint64_t bits;  // the pending bits at the top, 0 below them
    int count;           // below 8 between symbols
    unsigned char* out;
};

// Whether any byte of word is FF: one whose low seven bits carry into its top
// bit, which is set.
inline bool has_ff_byte(std::uint64_t word) {
    return (((word & 0x7F7F7F7F7F7F7F7Full) + 0x0101010101010101ull) & word & 0x8080808080808080ull) != 0;
}

// Adds code, which holds no bits above length (at most 27), and writes out the
// whole bytes. The bits below the pending ones are 0, so a byte not yet whole
// is never FF: when no byte of the buffer is FF, which is nearly always, all
// eight go out at once (the position moves past the whole ones only, and the
// rest are written again later), else byte by byte, each FF followed by a 0.
inline void put_bits(bit_stream& s, std::uint32_t code, std::uint32_t length) {
    s.count += static_cast<int>(length);
    s.bits |= static_cast<std::uint64_t>(code) << 32 << (32 - s.count);  // in two: count may be 0
    if (!has_ff_byte(s.bits)) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        const std::uint64_t in_order = s.bits;
#else
        const std::uint64_t in_order = __builtin_bswap64(s.bits);
#endif
        std::memcpy(s.out, &in_order, sizeof in_order);
        const int whole = s.count >> 3;
        s.out += whole;
        s.bits <<= whole * 8;
        s.count &= 7;
        return;
    }
    for (; s.count >= 8; s.count -= 8, s.bits <<= 8) {
        const unsigned char byte = static_cast<unsigned char>(s.bits >> 56);
        *s.out++ = byte;
        if (byte == 0xFF) *s.out++ = 0;
    }
}

// The symbol run x 16 + size, then the value's size low bits, negative values
// less one (so their leading bit is 0), in one piece. Without a branch on the
// sign, which is as good as random: the size is that of 2 |value| + 1 less
// one, which is 0 for 0. The pixels bound every value well below 2^15, so
// run x 16 + size stays within the table.
inline void put_value(bit_stream& s, const jpeg_huffman_code* codes, int run, int value) {
    const int sign = value >> 31;  // -1 or 0 (GCC and Clang shift in the sign)
    const std::uint32_t magnitude = static_cast<std::uint32_t>((value ^ sign) - sign);
    const std::uint32_t size = 63u - static_cast<std::uint32_t>(__builtin_clzll(std::uint64_t{magnitude} * 2 + 1));
    const std::uint32_t low_bits = static_cast<std::uint32_t>(value + sign) & ((1u << size) - 1u);
    const jpeg_huffman_code& symbol = codes[(run << 4) + static_cast<int>(size)];
    put_bits(s, (symbol.code << size) | low_bits, symbol.length + size);
}

}  // namespace

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

void jpeg_entropy_coder::code_block(const std::int32_t* coefficients, int stride, std::uint64_t nonzero,
                                    int* predictor, const jpeg_huffman_tables& tables) {
    if (used_ > k_capacity - k_block_room) flush();
    bit_stream s{bits_, bit_count_, bytes_ + used_};
    const int dc = coefficients[0];
    put_value(s, tables.dc, 0, dc - *predictor);
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
        for (; run >= 16; run -= 16) put_bits(s, tables.ac[0xF0].code, tables.ac[0xF0].length);
        put_value(s, tables.ac, run, coefficients[k * stride]);
    }
    if (last != 63) put_bits(s, tables.ac[0].code, tables.ac[0].length);  // end of block
    bits_ = s.bits;
    bit_count_ = s.count;
    used_ = static_cast<int>(s.out - bytes_);
}

// The last byte is completed with 1 bits; bits left beyond it are dropped.
void jpeg_entropy_coder::finish_bits() {
    if (used_ > k_capacity - k_block_room) flush();
    bit_stream s{bits_, bit_count_, bytes_ + used_};
    put_bits(s, 0x7F, 7);
    bits_ = 0;
    bit_count_ = 0;
    used_ = static_cast<int>(s.out - bytes_);
}
