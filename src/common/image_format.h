// The three formats the library reads and writes. Which one a file is comes
// from its first bytes (decode/format_signature.h); which one an output gets,
// from its path's extension (encode/output_format.h).
#ifndef IMGFILTER_COMMON_IMAGE_FORMAT_H
#define IMGFILTER_COMMON_IMAGE_FORMAT_H

enum class image_format { unsupported, jpeg, png, bmp };

#endif
