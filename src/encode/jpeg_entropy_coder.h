// The bytes of a JPEG file as the encoder produces them: headers as they are,
// then the Huffman-coded blocks as one stream of bits, most significant first,
// with a 0 after every FF byte of it. The bytes gather in a buffer that goes to
// the sink whenever it is nearly full, so the sink sees a few large pieces.
#ifndef IMGFILTER_ENCODE_JPEG_ENTROPY_CODER_H
#define IMGFILTER_ENCODE_JPEG_ENTROPY_CODER_H

#include <cstdint>

#include "common/byte_sink.h"
#include "encode/jpeg_tables.h"

// The codes of one component's tables, by symbol.
struct jpeg_huffman_tables {
    jpeg_huffman_code dc[256];
    jpeg_huffman_code ac[256];
};

// Plain data without a constructor: it lives in the encoder's one heap block
// and is set up by start.
class jpeg_entropy_coder {
public:
    void start(byte_sink* sink);
    // Bytes outside the bit stream: the headers, the end marker.
    void put_bytes(const void* data, int size);

    // One block's coefficients in zigzag order, the k-th at
    // coefficients[k * stride]; bit k of nonzero is set where coefficient k is
    // not 0 (bit 0, the DC coefficient's, is not looked at). predictor holds
    // the component's previous DC coefficient and receives this one's.
    void code_block(const std::int32_t* coefficients, int stride, std::uint64_t nonzero, int* predictor,
                    const jpeg_huffman_tables& tables);

    // Ends the bit stream: fills its last byte with 1 bits.
    void finish_bits();
    // Hands everything gathered to the sink.
    void flush();
    bool sink_failed() const { return sink_->failed; }

private:
    static constexpr int k_capacity = 64 * 1024;
    // More than one block can add, FF stuffing included: 27 bits for the DC
    // difference, at most 27 for each of 63 AC coefficients, three runs of 16
    // zeros and an end of block, doubled, and the 8 bytes written at a time.
    static constexpr int k_block_room = 1024;

    byte_sink* sink_;
    int used_;
    std::uint64_t bits_;  // the pending bits at the top, 0 below them
    int bit_count_;       // below 8 between calls
    unsigned char bytes_[k_capacity];
};

#endif
