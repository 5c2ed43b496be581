// EXIF (APP1 "Exif") and ICC (APP2 "ICC_PROFILE", possibly in several
// numbered pieces) in JPEG files: read from an input's header segments, and
// written into the library's output right after its JFIF header.
#ifndef IMGFILTER_CLI_METADATA_JPEG_H
#define IMGFILTER_CLI_METADATA_JPEG_H

#include <string>

#include "image_metadata.h"

// The largest EXIF block and ICC profile a JPEG file holds. A segment's
// length field counts itself: 65535 - 2 bytes of payload. EXIF takes one
// segment, after "Exif\0\0"; a profile up to 255 numbered ones, each after
// "ICC_PROFILE\0" and two bytes of numbering.
constexpr std::size_t k_jpeg_exif_limit = 65533 - 6;
constexpr std::size_t k_jpeg_icc_limit = 255 * (65533 - 14);

// What the segments before the image data hold; anything malformed is
// treated as absent, an ICC profile whose pieces do not add up (or add up to
// more than k_metadata_limit) marked unreadable.
// *complete (when given) tells whether the header part ended within the
// bytes: false when they stop first, so a longer read may find more.
image_metadata read_jpeg_metadata(const std::string& jpeg, bool* complete = nullptr);

// The metadata's segments and where they go, right after the JFIF header,
// from the first bytes of a file of file_size bytes; at is 0 when the file
// does not start like a JPEG file. A block larger than its limit above is left
// out.
metadata_insertion jpeg_metadata_insertion(const std::string& head, std::size_t file_size,
                                           const image_metadata& metadata);

// The whole file with them added; empty when jpeg does not start like a JPEG
// file.
std::string add_jpeg_metadata(const std::string& jpeg, const image_metadata& metadata);

#endif
