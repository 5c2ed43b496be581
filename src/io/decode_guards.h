// Checks that run on the file's bytes before the decoder sees them. The system's
// stb_image has memory-safety faults that a crafted file can reach; where a
// cheap look at the file can tell such a file from every valid one, it is
// refused here with a reason of its own, and no valid file changes its result.
#ifndef IMGFILTER_DECODE_GUARDS_H
#define IMGFILTER_DECODE_GUARDS_H

// NULL when the file may go to the decoder, otherwise the short reason to
// quote as the decoder's: "bad DHT header" (a JPEG Huffman table of more than
// 256 codes), "undefined table" (a JPEG scan that uses a Huffman or
// quantisation table no segment before it defined), "missing scan" (a JPEG
// component whose coefficients no scan sets in full), "bad palette index" (a
// BMP pixel whose colour index lies beyond its palette) or "too large" (width
// x height x 4 above 2,147,483,647).
const char* decode_refusal(const unsigned char* bytes, int length);

#endif
