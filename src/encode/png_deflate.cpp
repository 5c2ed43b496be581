#include "encode/png_deflate.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "common/heap.h"

// Every PNG the library writes has always come out of stb_image_write's
// compressor, byte for byte as the system's stb writes it, so this one makes
// the same choices as that one, in the same order, and differs only in how it
// finds them:
//
//   - a bucket per hash of the next three bytes (16384 of them), holding the
//     positions of earlier steps that hashed there, oldest first; a bucket that
//     has reached 2 x quality positions drops its oldest quality before it
//     takes the next. Only the position each step starts at is ever added,
//     never the bytes inside a match.
//   - at each step the longest match among the bucket's positions less than
//     32768 back, at most 258 bytes and never past the end; among equally long
//     ones the latest; at least 3 bytes.
//   - a match is dropped for a literal when some position in the next byte's
//     bucket (this step's already added) matches the next byte for longer.
//   - the steps stop 3 bytes before the end; the rest are literals. One final
//     block of fixed Huffman codes, then the Adler-32 of the data; stored blocks
//     of at most 32767 bytes when the compressed form is longer than those.
//
// stb keeps each bucket as a growing array of pointers, scans it oldest first
// including positions long out of reach, compares byte by byte, measures the
// lazy look in full again at the next step, and pushes the output a byte at a
// time through a growing buffer. Here the buckets are fixed slots of one flat
// table, walked newest first: the walk stops at the first position out of
// reach (all older ones are too) and "the latest of the longest" is the first
// one found longer than every newer one, which a 4-byte look at where it would
// have to be longer turns most positions away from. Bytes are compared eight at
// a time, codes go out through a 64-bit accumulator, and the output block is
// sized for the worst case once.

namespace {

constexpr int k_buckets = 16384;
constexpr int k_window = 32768;
constexpr int k_longest_match = 258;
constexpr int k_stored_block = 32767;  // stb's stored blocks, one byte short of the format's limit
constexpr uint32_t k_adler_modulus = 65521;
constexpr std::size_t k_adler_run = 5552;  // the most bytes whose sums cannot overflow 32 bits

// Codes are sent least significant bit first, Huffman codes with their first
// bit first: so each code is kept reversed.
struct bit_code {
    uint32_t bits;
    uint32_t count;
};

constexpr uint32_t reversed(uint32_t code, uint32_t count) {
    uint32_t result = 0;
    for (uint32_t k = 0; k < count; ++k) {
        result = result << 1 | (code & 1);
        code >>= 1;
    }
    return result;
}

// The fixed literal/length code of a symbol.
constexpr bit_code fixed_code(uint32_t symbol) {
    if (symbol <= 143) return {reversed(0x30 + symbol, 8), 8};
    if (symbol <= 255) return {reversed(0x190 + symbol - 144, 9), 9};
    if (symbol <= 279) return {reversed(symbol - 256, 7), 7};
    return {reversed(0xc0 + symbol - 280, 8), 8};
}

constexpr uint32_t k_end_of_block = 256;
constexpr uint16_t k_length_base[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 259};
constexpr uint8_t k_length_extra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t k_distance_base[] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                        193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};

struct code_tables {
    bit_code literal[256] = {};
    // A match's length code followed by its extra bits, by length.
    bit_code length[k_longest_match + 1] = {};
    uint32_t distance_symbol[30] = {};

    constexpr code_tables() {
        for (uint32_t byte = 0; byte < 256; ++byte) literal[byte] = fixed_code(byte);
        for (uint32_t length_of_match = 3; length_of_match <= k_longest_match; ++length_of_match) {
            uint32_t symbol = 0;
            while (length_of_match >= k_length_base[symbol + 1]) ++symbol;
            const bit_code code = fixed_code(257 + symbol);
            length[length_of_match] = {code.bits | (length_of_match - k_length_base[symbol]) << code.count,
                                       code.count + k_length_extra[symbol]};
        }
        for (uint32_t symbol = 0; symbol < 30; ++symbol) distance_symbol[symbol] = reversed(symbol, 5);
    }
};
constexpr code_tables k_codes{};

// A distance's 5-bit code followed by its extra bits. Classes come in pairs
// per power of two from 5 on, told apart by the bit below the top one.
inline bit_code distance_code(uint32_t distance) {
    const uint32_t below = distance - 1;
    uint32_t symbol = below;
    if (below >= 4) {
        const uint32_t top = 31 - static_cast<uint32_t>(__builtin_clz(below));
        symbol = 2 * top + (below >> (top - 1) & 1);
    }
    const uint32_t extra = symbol < 4 ? 0 : symbol / 2 - 1;
    return {k_codes.distance_symbol[symbol] | (distance - k_distance_base[symbol]) << 5, 5 + extra};
}

inline uint64_t load_le64(const uint8_t* at) {
    uint64_t value;
    std::memcpy(&value, at, sizeof value);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    value = __builtin_bswap64(value);
#endif
    return value;
}

inline uint32_t load_le32(const uint8_t* at) {
    uint32_t value;
    std::memcpy(&value, at, sizeof value);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    value = __builtin_bswap32(value);
#endif
    return value;
}

inline void store_le64(uint8_t* at, uint64_t value) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    value = __builtin_bswap64(value);
#endif
    std::memcpy(at, &value, sizeof value);
}

// The output, least significant bit first. Each step puts at most 31 bits on
// the at most 7 left over, then flushes the whole bytes with one 8-byte store:
// the block keeps 8 bytes of room past the longest stream.
class bit_stream {
public:
    explicit bit_stream(uint8_t* at) : at_(at) {}
    void put(uint64_t bits, uint32_t count) {
        pending_ |= bits << count_;
        count_ += count;
    }
    void put(bit_code code) { put(code.bits, code.count); }
    void flush() {
        store_le64(at_, pending_);
        at_ += count_ >> 3;
        pending_ >>= count_ & ~7u;
        count_ &= 7;
    }
    // Where the next whole byte goes.
    const uint8_t* position() const { return at_; }
    // The end of the stream, its last byte padded with zero bits.
    uint8_t* finish() {
        flush();
        return at_ + (count_ ? 1 : 0);
    }

private:
    uint8_t* at_;
    uint64_t pending_ = 0;
    uint32_t count_ = 0;
};

inline uint32_t bucket_of(const uint8_t* at) {
    uint32_t hash = at[0] + (at[1] << 8) + (at[2] << 16);
    hash ^= hash << 3;
    hash += hash >> 5;
    hash ^= hash << 4;
    hash += hash >> 17;
    hash ^= hash << 25;
    hash += hash >> 6;
    return hash & (k_buckets - 1);
}

// How many of the first limit bytes at earlier and at are equal; earlier lies
// before at, and limit never reaches past the data.
inline int match_length(const uint8_t* earlier, const uint8_t* at, int limit) {
    int length = 0;
    while (length + 8 <= limit) {
        const uint64_t difference = load_le64(earlier + length) ^ load_le64(at + length);
        if (difference) return length + __builtin_ctzll(difference) / 8;
        length += 8;
    }
    while (length < limit && earlier[length] == at[length]) ++length;
    return length;
}

// Adds length bytes to the Adler-32 sums, each kept below the modulus.
void adler_add(const uint8_t* data, std::size_t length, uint32_t* sum_in, uint32_t* sum_of_sums_in) {
    uint32_t sum = *sum_in, sum_of_sums = *sum_of_sums_in;
    while (length) {
        std::size_t run = length < k_adler_run ? length : k_adler_run;
        length -= run;
        for (; run >= 8; run -= 8, data += 8) {
            sum += data[0];
            sum_of_sums += sum;
            sum += data[1];
            sum_of_sums += sum;
            sum += data[2];
            sum_of_sums += sum;
            sum += data[3];
            sum_of_sums += sum;
            sum += data[4];
            sum_of_sums += sum;
            sum += data[5];
            sum_of_sums += sum;
            sum += data[6];
            sum_of_sums += sum;
            sum += data[7];
            sum_of_sums += sum;
        }
        for (; run; --run) {
            sum += *data++;
            sum_of_sums += sum;
        }
        sum %= k_adler_modulus;
        sum_of_sums %= k_adler_modulus;
    }
    *sum_in = sum;
    *sum_of_sums_in = sum_of_sums;
}

// The part of the data the compressor can still look at: from 32 KiB behind
// the current position to at least k_ahead bytes past it (or the end), refilled
// from the source about a megabyte at a time. Positions stay those in the
// whole data; the Adler-32 of the data is summed as it comes in.
class data_window {
public:
    // A step reads at most the longest match past the byte after it, in 8-byte
    // loads that stop at the match's end.
    static constexpr int k_ahead = 512;

    bool prepare(deflate_source* source, int length) {
        source_ = source;
        length_ = length;
        const int most = k_window + k_refill + k_ahead;
        capacity_ = length < most ? length : most;
        buffer_ = heap_alloc<uint8_t>(static_cast<unsigned long long>(capacity_));
        if (!buffer_) return false;
        fill();
        return true;
    }

    // Brings in what a step at position `at` reads.
    void reach(int at) {
        if (end_ == length_ || at + k_ahead <= end_) return;
        const int keep = at - k_window > base_ ? at - k_window : base_;
        std::memmove(buffer_.get(), buffer_.get() + (keep - base_), static_cast<std::size_t>(end_ - keep));
        base_ = keep;
        fill();
    }

    const uint8_t* at(int position) const { return buffer_.get() + (position - base_); }
    uint32_t adler() const { return sum_of_sums_ << 16 | sum_; }

private:
    static constexpr int k_refill = 1 << 20;

    void fill() {
        const int room = capacity_ - (end_ - base_);
        const int count = length_ - end_ < room ? length_ - end_ : room;
        uint8_t* to = buffer_.get() + (end_ - base_);
        source_->read(to, static_cast<std::size_t>(count));
        adler_add(to, static_cast<std::size_t>(count), &sum_, &sum_of_sums_);
        end_ += count;
    }

    deflate_source* source_ = nullptr;
    int length_ = 0;
    int capacity_ = 0;
    int base_ = 0;  // the position of the buffer's first byte
    int end_ = 0;   // the position after its last
    heap_ptr<uint8_t> buffer_;
    uint32_t sum_ = 1, sum_of_sums_ = 0;
};

// A match: its length (0 for none) and where it starts.
struct match {
    int length;
    int from;
};

// Each bucket's positions, oldest first, in a fixed slot of one flat table: at
// the writer's quality a bucket is 64 bytes, and its positions are independent
// loads. A slot holds the 2 x quality positions at which a bucket drops half,
// or as many as there are steps if that is fewer (the bucket then never
// drops): high qualities cost memory only on long data.
class match_finder {
public:
    // False when the table cannot be had.
    bool prepare(const data_window* data, int length, int quality) {
        data_ = data;
        length_ = length;
        quality_ = quality;
        full_ = 2 * static_cast<std::size_t>(quality);
        const std::size_t steps = length > 3 ? static_cast<std::size_t>(length) - 3 : 1;
        slot_ = full_ < steps ? full_ : steps;
        counts_ = heap_alloc<int32_t>(k_buckets);
        positions_ = heap_alloc<int32_t>(static_cast<unsigned long long>(k_buckets) * slot_);
        if (!counts_ || !positions_) return false;
        std::memset(counts_.get(), 0, k_buckets * sizeof(int32_t));
        return true;
    }

    // The longest match for position at among its bucket's positions in reach,
    // the latest of equally long ones, if it is longer than floor (2 or more);
    // length 0 otherwise. With floor 2 it needs 4 bytes from at, else 3.
    //
    // Newest first, stopping at the first position out of reach (all older
    // ones are too) and at a match that cannot be beaten. Only a position that
    // agrees with at on the bytes up to best can beat best, so one 4-byte
    // comparison of the bytes ending there (the first 3 while best is 2) turns
    // most positions away before they are measured; it never reads past the
    // data, as best stays below the limit.
    match longest(int at, uint32_t bucket, int floor) const {
        const int limit = length_ - at < k_longest_match ? length_ - at : k_longest_match;
        if (floor >= limit) return {0, -1};
        const int32_t* positions = positions_.get() + bucket * slot_;
        const uint8_t* here = data_->at(at);
        match best{floor, -1};
        int offset = floor < 3 ? 0 : floor - 3;
        uint32_t mask = floor < 3 ? 0xffffffu : ~0u;
        uint32_t wanted = load_le32(here + offset) & mask;
        for (int k = counts_.get()[bucket] - 1; k >= 0; --k) {
            const int position = positions[k];
            if (position <= at - k_window) break;
            const uint8_t* earlier = data_->at(position);
            if ((load_le32(earlier + offset) & mask) != wanted) continue;
            const int length = match_length(earlier, here, limit);
            if (length > best.length) {
                best = {length, position};
                if (length == limit) break;
                offset = length - 3;
                mask = ~0u;
                wanted = load_le32(here + offset);
            }
        }
        return best.from < 0 ? match{0, -1} : best;
    }

    // Asks for a bucket that is about to be searched: the table (a megabyte at
    // the writer's quality) fills a core's cache, and the search has better
    // to do than wait for it.
    void expect(uint32_t bucket) const {
        __builtin_prefetch(positions_.get() + bucket * slot_);
        __builtin_prefetch(counts_.get() + bucket);
    }

    void add(int at, uint32_t bucket) {
        int32_t* positions = positions_.get() + bucket * slot_;
        int32_t& count = counts_.get()[bucket];
        if (static_cast<std::size_t>(count) == full_) {
            std::memmove(positions, positions + quality_, static_cast<std::size_t>(quality_) * sizeof *positions);
            count = quality_;
        }
        positions[count++] = at;
    }

private:
    const data_window* data_ = nullptr;
    int length_ = 0;
    int quality_ = 0;
    std::size_t full_ = 0;  // 2 x quality
    std::size_t slot_ = 0;
    heap_ptr<int32_t> counts_;
    heap_ptr<int32_t> positions_;
};

// One final block of fixed codes, from the block header to the padded end;
// NULL as soon as the output passes `most`, the end of the stored form, which
// the writer then takes instead (the compressed form only grows).
//
// The lazy look at the next byte asks for the longest match there beyond the
// current one. When it finds one, the current byte goes out as a literal and
// the next step searches that same bucket, untouched meanwhile, from that same
// position: the longest beyond the current match is its longest of all, so it
// is kept for that step.
uint8_t* compress_fixed(data_window& data, int length, match_finder& finder, uint8_t* at, const uint8_t* most) {
    bit_stream out(at);
    out.put(1, 1);  // the final block
    out.put(1, 2);  // fixed Huffman codes
    int i = 0;
    match next{0, -1};
    while (i < length - 3) {
        data.reach(i);
        const uint8_t* here = data.at(i);
        const uint32_t bucket = bucket_of(here);
        // The next byte's bucket is searched next either way: for the lazy
        // match after a match, or as the next step after a literal.
        const uint32_t next_bucket = bucket_of(here + 1);
        finder.expect(next_bucket);
        const match found = next.length ? next : finder.longest(i, bucket, 2);
        finder.add(i, bucket);
        next = found.length ? finder.longest(i + 1, next_bucket, found.length) : match{0, -1};
        if (found.length && !next.length) {
            const bit_code length_code = k_codes.length[found.length];
            const bit_code distance = distance_code(static_cast<uint32_t>(i - found.from));
            out.put(length_code.bits | static_cast<uint64_t>(distance.bits) << length_code.count,
                    length_code.count + distance.count);
            i += found.length;
        } else {
            out.put(k_codes.literal[*here]);
            ++i;
        }
        out.flush();
        if (out.position() > most) return nullptr;
    }
    data.reach(i);
    for (; i < length; ++i) {
        out.put(k_codes.literal[*data.at(i)]);
        out.flush();
    }
    out.put(fixed_code(k_end_of_block));
    uint8_t* end = out.finish();
    return end > most ? nullptr : end;
}

// The data again, as stored blocks; returns the end and the Adler-32.
uint8_t* store_blocks(deflate_source& source, std::size_t length, uint8_t* at, uint32_t* adler) {
    source.rewind();
    uint32_t sum = 1, sum_of_sums = 0;
    for (std::size_t done = 0; done < length;) {
        const std::size_t block = length - done < k_stored_block ? length - done : k_stored_block;
        at[0] = done + block == length;  // the final block, stored
        at[1] = static_cast<uint8_t>(block);
        at[2] = static_cast<uint8_t>(block >> 8);
        at[3] = static_cast<uint8_t>(~block);
        at[4] = static_cast<uint8_t>(~block >> 8);
        source.read(at + 5, block);
        adler_add(at + 5, block, &sum, &sum_of_sums);
        at += 5 + block;
        done += block;
    }
    *adler = sum_of_sums << 16 | sum;
    return at;
}

struct memory_source final : deflate_source {
    explicit memory_source(const unsigned char* bytes) : data(bytes), next(bytes) {}
    void read(unsigned char* to, std::size_t count) override {
        if (count) std::memcpy(to, next, count);
        next += count;
    }
    void rewind() override { next = data; }
    const unsigned char* data;
    const unsigned char* next;
};

}  // namespace

heap_ptr<unsigned char> png_deflate(deflate_source& source, int data_len, int quality, int* compressed_length) {
    if (data_len < 0) return nullptr;
    if (quality < 5) quality = 5;
    const std::size_t length = static_cast<std::size_t>(data_len);
    // The stored form: the header, 5 bytes a block and the data. The compressed
    // form is given up once it passes that, so the block needs only room for
    // it, the Adler-32 and the last 8-byte store of the bit stream.
    const unsigned long long stored = 2 + length + 5ull * ((length + k_stored_block - 1) / k_stored_block);
    const unsigned long long capacity = stored + 4 + 16;
    if (capacity > SIZE_MAX) return nullptr;

    heap_ptr<uint8_t> out = heap_alloc<uint8_t>(capacity);
    uint8_t* at = out.get();
    uint32_t check = 0;
    {
        data_window window;
        match_finder finder;
        if (!out || !window.prepare(&source, data_len) || !finder.prepare(&window, data_len, quality)) return nullptr;
        *at++ = 0x78;  // deflate with a 32 KiB window
        *at++ = 0x5e;  // the header's check bits, announcing the fast level as stb does
        at = compress_fixed(window, data_len, finder, at, out.get() + stored);
        check = window.adler();
    }
    if (!at) at = store_blocks(source, length, out.get() + 2, &check);

    for (int shift = 24; shift >= 0; shift -= 8) *at++ = static_cast<uint8_t>(check >> shift);
    // Only data of almost 2 GiB that does not compress comes out longer than
    // an int counts; the writer never hands over that much.
    if (at - out.get() > INT_MAX) return nullptr;
    *compressed_length = static_cast<int>(at - out.get());
    return out;
}

heap_ptr<unsigned char> png_deflate(const unsigned char* data, int length, int quality, int* compressed_length) {
    memory_source source(data);
    return png_deflate(source, length, quality, compressed_length);
}
