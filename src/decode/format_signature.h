// Which of the three formats a file is, from its first bytes only: whether it
// may reach the decoder at all, and the output's format when its path names
// none. Everything else about the file's validity is the decoder's.
#ifndef IMGFILTER_DECODE_FORMAT_SIGNATURE_H
#define IMGFILTER_DECODE_FORMAT_SIGNATURE_H

#include "common/image_format.h"

// JPEG (FF D8), PNG (89 'P' 'N' 'G', in a file of 8 bytes at least) and BMP
// ('B' 'M'); unsupported for anything else, a 1-byte or an empty file included.
image_format detect_format(const unsigned char* bytes, int length);

#endif
