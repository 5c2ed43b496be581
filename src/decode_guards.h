// Checks that run on the file's bytes before the decoder sees them. The system's
// stb_image has memory-safety faults that a crafted file can reach; where a
// cheap look at the file can tell such a file from every valid one, it is
// refused here with a reason of its own, and no valid file changes its result.
#ifndef IMGFILTER_DECODE_GUARDS_H
#define IMGFILTER_DECODE_GUARDS_H

// NULL when the file may go to the decoder, otherwise the short reason to
// quote as the decoder's: "bad DHT header" or "too large".
const char* decode_refusal(const unsigned char* bytes, int length);

#endif
