// The tables of the JPEG files the library writes: baseline, three components
// at full resolution, quality 92, with the example quantisation and Huffman
// tables of the JPEG standard, in the exact form and arithmetic that
// stb_image_write 1.16 gives them, so the files stay byte for byte what they
// always were.
#ifndef IMGFILTER_ENCODE_JPEG_TABLES_H
#define IMGFILTER_ENCODE_JPEG_TABLES_H

#include <cstdint>

// Where each coefficient of a block, in row-major order, goes in the zigzag
// order in which the file stores it.
extern const unsigned char k_jpeg_zigzag[64];

// A Huffman table as the file declares it: how many codes there are of each
// length from 1 to 16 bits, then the symbols in the order of their codes.
struct jpeg_huffman_spec {
    const unsigned char* counts;  // 16 entries
    const unsigned char* symbols;
    int symbol_count;
};
extern const jpeg_huffman_spec k_luma_dc_spec, k_luma_ac_spec, k_chroma_dc_spec, k_chroma_ac_spec;

// The code of each of the 256 symbols: code in its low length bits, length 0
// for a symbol the table lacks (which then writes nothing, as it always has).
struct jpeg_huffman_code {
    std::uint32_t code;
    std::uint32_t length;
};
void build_huffman_codes(const jpeg_huffman_spec& spec, jpeg_huffman_code codes[256]);

// The quantisers of the luma and chroma tables at quality 92, in zigzag order
// as the file stores them.
void quality_92_quantisers(unsigned char luma[64], unsigned char chroma[64]);

// The factor that quantises each coefficient of the scaled transform, in
// row-major order, for a table in zigzag order: 1 / (quantiser x the
// transform's scale for its row x that for its column), in float.
void quantiser_factors(const unsigned char quantisers[64], float factors[64]);

#endif
