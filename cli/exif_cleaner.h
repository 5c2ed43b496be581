// Rebuilds an EXIF block keeping what describes the picture (orientation,
// dates, camera settings, author, copyright) and dropping what would betray
// the image before filtering or where it was taken: the thumbnail (the
// second image directory and its JPEG), maker notes and XMP (both may hold
// preview images), strips and tiles, sub-images, and, unless asked for, the
// GPS directory. The bytes of dropped parts are not copied at all: the block
// is written anew, not patched.
#ifndef IMGFILTER_CLI_EXIF_CLEANER_H
#define IMGFILTER_CLI_EXIF_CLEANER_H

#include <string>

// The cleaned block, in the input's byte order; empty when tiff is not a
// well-formed TIFF structure or nothing is left to keep.
std::string cleaned_exif(const std::string& tiff, bool keep_location);

#endif
