// EXIF (APP1 "Exif") and ICC (APP2 "ICC_PROFILE", possibly in several
// numbered pieces) in JPEG files: read from an input's header segments, and
// written into the library's output right after its JFIF header.
#ifndef IMGFILTER_CLI_METADATA_JPEG_H
#define IMGFILTER_CLI_METADATA_JPEG_H

#include <string>

#include "image_metadata.h"

// What the segments before the image data hold; anything malformed is
// treated as absent.
// *complete (when given) tells whether the header part ended within the
// bytes: false when they stop first, so a longer read may find more.
image_metadata read_jpeg_metadata(const std::string& jpeg, bool* complete = nullptr);

// The file with the metadata's segments added; empty when jpeg does not start
// like a JPEG file. Metadata too large for a segment is left out.
std::string add_jpeg_metadata(const std::string& jpeg, const image_metadata& metadata);

#endif
