// Decoding the file's bytes to the pipeline's image: the guards first, then the
// decoder, and on failure a reason that fits the one-line message.
#ifndef IMGFILTER_DECODE_DECODE_IMAGE_H
#define IMGFILTER_DECODE_DECODE_IMAGE_H

#include "common/image.h"

struct decode_reason {
    // Escaped, a decoder reason is at most four times as long as it was; the
    // decoder's own are under 40 bytes.
    char text[160];
};

// The reason as one printable line: every byte outside printable ASCII, and
// the backslash that introduces the escapes, is written as \xHH (so a PNG chunk
// type of "\n\x1b[2" cannot start a new line or drive a terminal); a NULL or
// empty reason becomes "unknown"; a reason too long for the buffer is cut.
void printable_reason(const char* raw, decode_reason* reason);

// True with image filled (pixels a C-heap block of width x height x 4 bytes),
// or false with the reason to quote as the decoder's.
bool decode_image(const unsigned char* bytes, int length, filter_image* image, decode_reason* reason);

#endif
