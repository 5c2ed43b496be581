// The metadata the tool carries from an input to its output: the EXIF block
// (a TIFF structure: orientation, dates, camera, copyright...) and the ICC
// colour profile, both as raw bytes independent of the container format.
#ifndef IMGFILTER_CLI_IMAGE_METADATA_H
#define IMGFILTER_CLI_IMAGE_METADATA_H

#include <cstddef>
#include <string>

struct image_metadata {
    std::string exif;  // starts with "II*\0" or "MM\0*"; empty when absent
    std::string icc;   // the profile itself; empty when absent
    // The file holds a block that could not be read (damaged, or beyond the
    // limits below): it is left out, as if absent.
    bool exif_unreadable = false;
    bool icc_unreadable = false;
    bool empty() const { return exif.empty() && icc.empty(); }
};

// Where metadata goes into a file the library wrote, and what goes there: the
// writers need only the file's first k_insertion_head bytes and its size, so
// the file itself is never copied to make room.
struct metadata_insertion {
    std::size_t at = 0;  // bytes of the file before the insertion; 0: none
    std::string bytes;   // the segments or chunks to insert there
};
constexpr std::size_t k_insertion_head = 64;

enum class metadata_policy {
    strip,    // carry nothing
    usual,    // EXIF without location, and the ICC profile
    all,      // EXIF with its GPS location too, and the ICC profile
};

// Larger blocks are not carried: a real profile or EXIF block is far smaller,
// and the tool holds them in memory per file. The readers never hold more
// than this of either, nor inflate a profile past it.
constexpr std::size_t k_metadata_limit = 16u << 20;

#endif
