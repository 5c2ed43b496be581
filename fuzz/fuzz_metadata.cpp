// The fuzzer's bytes are an input file for the tool's metadata readers (JPEG
// segments, PNG chunks) and, as they stand, an EXIF block for its cleaner.
// Besides not crashing: a cleaned block is never larger than the raw one,
// holds no GPS pointer unless the location was asked for, reads back whole
// and cleans to itself; and metadata written into a file reads back as it was.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "exif_cleaner.h"
#include "image_metadata.h"
#include "metadata_jpeg.h"
#include "metadata_png.h"

namespace {

constexpr uint16_t k_exif_ifd = 0x8769;
constexpr uint16_t k_gps_ifd = 0x8825;
constexpr uint16_t k_interop_ifd = 0xA005;

void check(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "metadata check failed: %s\n", what);
    std::abort();
}

// The smallest files the writers accept: what the library's encoders begin with.
const std::string k_jpeg = std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 20) +
                           std::string("\xFF\xD9", 2);
const std::string k_png = std::string("\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR", 16) +
                          std::string("\x00\x00\x00\x01\x00\x00\x00\x01\x08\x06\x00\x00\x00\x1f\x15\xc4\x89", 17) +
                          std::string("\x00\x00\x00\x00IEND\xae\x42\x60\x82", 12);

// Reads a cleaned block's directories on its own, through every pointer, as
// the next program to open the file would.
class cleaned_block {
public:
    explicit cleaned_block(const std::string& tiff) : tiff_(tiff), little_(tiff[0] == 'I') {}

    void check_directories(bool keep_location) const {
        std::vector<uint32_t> pending{u32(4)};
        while (!pending.empty()) {
            const uint64_t offset = pending.back();
            pending.pop_back();
            check(offset + 2 <= tiff_.size(), "a directory starts past the block");
            const unsigned count = u16(offset);
            check(offset + 2 + 12ull * count + 4 <= tiff_.size(), "a directory runs past the block");
            for (unsigned i = 0; i < count; ++i) {
                const uint64_t at = offset + 2 + 12ull * i;
                const uint16_t tag = u16(at);
                check(keep_location || tag != k_gps_ifd, "a GPS directory kept without being asked for");
                if (tag == k_exif_ifd || tag == k_gps_ifd || tag == k_interop_ifd) {
                    // Directories follow the one pointing at them: this walk ends.
                    check(u32(at + 8) > offset, "a pointer leads backwards");
                    pending.push_back(u32(at + 8));
                    continue;
                }
                const uint64_t length = uint64_t(type_size(u16(at + 2))) * u32(at + 4);
                check(length <= 4 || u32(at + 8) + length <= tiff_.size(), "a value lies past the block");
            }
        }
    }

private:
    static unsigned type_size(uint16_t type) {
        static const unsigned sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
        return type < 13 ? sizes[type] : 0;
    }
    uint16_t u16(uint64_t at) const {
        const unsigned a = uint8_t(tiff_[at]), b = uint8_t(tiff_[at + 1]);
        return uint16_t(little_ ? a | b << 8 : a << 8 | b);
    }
    uint32_t u32(uint64_t at) const {
        return little_ ? uint32_t(u16(at + 2)) << 16 | u16(at) : uint32_t(u16(at)) << 16 | u16(at + 2);
    }
    const std::string& tiff_;
    bool little_;
};

std::string checked_cleaning(const std::string& raw, bool keep_location) {
    bool readable = false;
    const std::string cleaned = cleaned_exif(raw, keep_location, &readable);
    check(cleaned.size() <= raw.size(), "the cleaned block is larger than the raw one");
    check(readable || cleaned.empty(), "an unreadable block gave a cleaned one");
    if (cleaned.empty()) return cleaned;
    cleaned_block(cleaned).check_directories(keep_location);
    check(cleaned_exif(cleaned, keep_location) == cleaned, "cleaning the cleaned block changed it");
    return cleaned;
}

// Written into each container and read back, the metadata is what it was,
// less what the container cannot hold.
void check_round_trip(const image_metadata& written) {
    const image_metadata from_png = read_png_metadata(add_png_metadata(k_png, written));
    check(from_png.exif == written.exif && from_png.icc == written.icc, "PNG metadata read back differs");
    check(!from_png.exif_unreadable && !from_png.icc_unreadable, "PNG metadata written is unreadable");
    const image_metadata from_jpeg = read_jpeg_metadata(add_jpeg_metadata(k_jpeg, written));
    const bool exif_fits = written.exif.size() <= k_jpeg_exif_limit, icc_fits = written.icc.size() <= k_jpeg_icc_limit;
    check(from_jpeg.exif == (exif_fits ? written.exif : ""), "JPEG EXIF read back differs");
    check(from_jpeg.icc == (icc_fits ? written.icc : ""), "JPEG ICC profile read back differs");
    check(!from_jpeg.exif_unreadable && !from_jpeg.icc_unreadable, "JPEG metadata written is unreadable");
}

void check_found(const image_metadata& found) {
    check(found.exif.size() <= k_metadata_limit && found.icc.size() <= k_metadata_limit, "a block past the limit");
    check(!(found.icc_unreadable && !found.icc.empty()), "an unreadable profile was kept");
    for (bool keep_location : {false, true}) check_round_trip({checked_cleaning(found.exif, keep_location), found.icc});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    check_found(read_jpeg_metadata(bytes));
    check_found(read_png_metadata(bytes));
    // The bytes as an EXIF block, and as a profile of any content.
    check_found({bytes, bytes});
    return 0;
}
