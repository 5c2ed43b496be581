// Checks that run on the file's bytes before the decoder sees them. The system's
// stb_image has memory-safety faults that a crafted file can reach; where a
// cheap look at the file can tell such a file from every valid one, it is
// refused here with a reason of its own, and no valid file changes its result.
#ifndef IMGFILTER_DECODE_DECODE_GUARDS_H
#define IMGFILTER_DECODE_DECODE_GUARDS_H

// NULL when the file may go to the decoder, otherwise the short reason to
// quote as the decoder's, the first that applies in this order: "bad DHT
// header" (a JPEG Huffman table of more than 256 codes), "too large" (width x
// height x 4 above 2,147,483,647), "undefined table" (a JPEG scan that uses a
// Huffman or quantisation table no segment before it defined), "missing scan"
// (a JPEG component whose coefficients no scan sets in full), "too many scans"
// (a progressive JPEG whose scans times its pixels pass a work bound),
// "truncated" (a BMP shorter than the pixel data its header declares) or "bad
// palette index" (a BMP pixel whose colour index lies beyond its palette).
// Only headers the decoder accepts are looked at: where it refuses a file on
// its own, its own reason stands.
const char* decode_refusal(const unsigned char* bytes, int length);

#endif
