// A BMP stores each pixel blue, green, red (then alpha); the image holds red,
// green, blue, alpha. Converting either way swaps the outer colour bytes.
#ifndef IMGFILTER_SIMD_BMP_CHANNEL_ORDER_H
#define IMGFILTER_SIMD_BMP_CHANNEL_ORDER_H

#include "simd/code_path.h"

// Copies count 4-byte pixels from in to out with their first and third bytes
// swapped, several pixels at a time on the variant's vectors. Returns the OR
// of the pixels' fourth (alpha) bytes as they were read.
unsigned swap_red_and_blue(const unsigned char* in, unsigned char* out, long long count, code_path path);

#endif
