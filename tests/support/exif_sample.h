// A phone-like EXIF block for the metadata tests, and a small reader to look
// into the blocks the tool writes. The block holds what a camera writes: an
// orientation, dates, a copyright, an Exif directory with a maker note, a GPS
// directory and a second directory with a JPEG thumbnail.
#ifndef IMGFILTER_TESTS_EXIF_SAMPLE_H
#define IMGFILTER_TESTS_EXIF_SAMPLE_H

#include <cstdint>
#include <string>
#include <vector>

// Recognisable bytes of the parts that must never be carried.
extern const char k_thumbnail_marker[];  // inside the IFD1 thumbnail
extern const char k_maker_note_marker[];
// The latitude as it is stored: 48/1 51/1 2999/100 in the block's byte order.
std::string latitude_bytes(bool little_endian);

// The block as found after "Exif\0\0" in a JPEG or in a PNG eXIf chunk.
std::string phone_exif(bool little_endian = true);

// A directory entry as read back.
struct exif_field {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    std::string value;  // the raw value bytes
};

struct exif_directory {
    std::vector<exif_field> fields;
    uint32_t next = 0;  // offset of the next directory (0: none)
    bool ok = false;    // read without running off the block
    const exif_field* find(uint16_t tag) const;
};

// The directory at offset (0: the first directory, from the header).
exif_directory read_exif_directory(const std::string& tiff, uint32_t offset = 0);
// A SHORT or LONG value of a field, in the block's byte order.
uint32_t exif_number(const std::string& tiff, const exif_field& field);

// The payload of every JPEG header segment with the marker (0xE1...), in order.
std::vector<std::string> jpeg_segments(const std::string& jpeg, unsigned marker);
// The data of every PNG chunk of the type, in order.
std::vector<std::string> png_chunks(const std::string& png, const char* type);

// The file without its APP1 and APP2 segments / eXIf and iCCP chunks.
std::string without_jpeg_metadata(const std::string& jpeg);
std::string without_png_metadata(const std::string& png);

// A JPEG file with segments inserted right after the JFIF one (or SOI).
std::string with_jpeg_segments(const std::string& jpeg, const std::vector<std::pair<unsigned, std::string>>& segments);
// A PNG file with chunks (type, data) inserted after IHDR; CRCs computed.
std::string with_png_chunks(const std::string& png, const std::vector<std::pair<std::string, std::string>>& chunks);

// A made-up ICC profile of the given size with a plausible header.
std::string sample_icc_profile(std::size_t size);

#endif
