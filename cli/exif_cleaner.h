// Rebuilds an EXIF block keeping what describes the picture (orientation,
// dates, camera settings, author, copyright) and dropping what would betray
// the image before filtering or where it was taken: the thumbnail (the
// second image directory and its JPEG), maker notes and XMP (both may hold
// preview images), strips and tiles, sub-images, and, unless asked for, the
// GPS directory. The bytes of dropped parts are not copied at all: the block
// is written anew, not patched. A directory is carried once, however many
// pointers lead to it: the pointers after the first are dropped.
#ifndef IMGFILTER_CLI_EXIF_CLEANER_H
#define IMGFILTER_CLI_EXIF_CLEANER_H

#include <string>

// The cleaned block, in the input's byte order and never larger than tiff;
// empty when nothing is left to keep, or when tiff cannot be read: not a
// well-formed TIFF structure, larger than k_metadata_limit, or one that would
// clean to a larger block (values shared by many entries).
// *readable (when given) tells which: false when tiff could not be read.
std::string cleaned_exif(const std::string& tiff, bool keep_location, bool* readable = nullptr);

#endif
