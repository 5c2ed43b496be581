// EXIF (the eXIf chunk) and ICC (the iCCP chunk, a zlib stream) in PNG files:
// read from an input's chunks, and written into the library's output right
// after its header chunk, where both belong (before the image data).
#ifndef IMGFILTER_CLI_METADATA_PNG_H
#define IMGFILTER_CLI_METADATA_PNG_H

#include <string>

#include "image_metadata.h"

// What the chunks before the image data hold: the first eXIf and iCCP chunk
// only, later ones ignored. One with a wrong checksum, larger than
// k_metadata_limit, or (iCCP) whose profile does not inflate within that
// limit is left out and marked unreadable.
// *complete (when given) tells whether the header part ended within the
// bytes: false when they stop first, so a longer read may find more.
image_metadata read_png_metadata(const std::string& png, bool* complete = nullptr);

// The metadata's chunks and where they go, right after the header chunk, from
// the first bytes of a file of file_size bytes; at is 0 when the file does not
// start like a PNG file or the profile cannot be compressed.
metadata_insertion png_metadata_insertion(const std::string& head, std::size_t file_size,
                                          const image_metadata& metadata);

// The whole file with them added; empty when png does not start like a PNG
// file or the profile cannot be compressed.
std::string add_png_metadata(const std::string& png, const image_metadata& metadata);

#endif
