// The BMP layouts that photographs are stored in, decoded without the general
// decoder: 24 bits a pixel, or 32 with the standard channel order (uncompressed,
// or bitfields naming exactly the standard masks), rows bottom-up or top-down,
// pixels right after a 40-, 56-, 108- or 124-byte header. The general decoder
// reads such a file one byte at a time through its stream; here each row is
// converted whole, to the same pixels. Every other BMP, and every file this
// reader is not sure of, is left to the general decoder.
#ifndef IMGFILTER_DECODE_BMP_READER_H
#define IMGFILTER_DECODE_BMP_READER_H

#include "common/image.h"

// True with image filled (a C-heap block of width x height x 4 bytes, exactly
// what the general decoder gives for the file). False when the file is not of
// a layout read here, is short of its pixel data, or its image cannot be
// allocated: the general decoder then decides, with its own reason.
bool read_plain_bmp(const unsigned char* bytes, int length, filter_image* image);

#endif
