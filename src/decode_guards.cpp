#include "decode_guards.h"

#include <climits>
#include <cstddef>
#include <cstdlib>

#include "stb_image.h"

namespace {

// The decoder reads 0 for every byte past the end of the file; so does the walk.
struct jpeg_bytes {
    const unsigned char* data;
    std::size_t length;

    unsigned at(std::size_t offset) const { return offset < length ? data[offset] : 0u; }
    unsigned be16(std::size_t offset) const { return at(offset) << 8 | at(offset + 1); }
};

// stb_image builds each Huffman table into arrays of 256 symbols without
// checking the counts, so a table that declares more than 256 codes writes past
// them. The tables are read as the decoder reads them: one after another while
// the segment's length has bytes left, even beyond the declared end, until one
// has a class or slot the decoder rejects.
bool dht_segment_overflows(const jpeg_bytes& file, std::size_t length_field) {
    long remaining = static_cast<long>(file.be16(length_field)) - 2;
    std::size_t table = length_field + 2;
    while (remaining > 0) {
        const unsigned spec = file.at(table);
        if ((spec >> 4) > 1 || (spec & 15) > 3) return false;  // the decoder stops with an error here
        unsigned codes = 0;
        for (std::size_t i = 1; i <= 16; ++i) codes += file.at(table + i);
        if (codes > 256) return true;
        table += 17 + codes;
        remaining -= static_cast<long>(17 + codes);
    }
    return false;
}

bool is_restart(unsigned marker) { return marker >= 0xD0 && marker <= 0xD7; }

// Entropy-coded data runs up to the first marker that is neither a stuffed
// zero nor a restart. The decoder never reads beyond that marker, and wherever
// it stops inside the data, the next marker it takes is that one or it fails.
std::size_t skip_entropy_coded_data(const jpeg_bytes& file, std::size_t offset) {
    while (offset < file.length) {
        if (file.data[offset] != 0xFF) {
            ++offset;
            continue;
        }
        std::size_t next = offset + 1;
        while (next < file.length && file.data[next] == 0xFF) ++next;  // fill bytes
        if (next < file.length && (file.data[next] == 0x00 || is_restart(file.data[next]))) {
            offset = next + 1;
            continue;
        }
        return offset;
    }
    return offset;
}

// Visits every segment that the decoder could parse, also those between and
// after scans (progressive files carry tables there), and is generous where the
// decoder is strict: junk between segments is skipped and markers without a
// length are passed over, so no DHT segment the decoder reaches is missed.
bool jpeg_has_oversized_dht(const jpeg_bytes& file) {
    std::size_t offset = 2;  // after SOI
    for (;;) {
        while (offset < file.length && file.data[offset] != 0xFF) ++offset;
        while (offset < file.length && file.data[offset] == 0xFF) ++offset;
        if (offset >= file.length) return false;
        const unsigned marker = file.data[offset++];
        if (marker == 0xD9) return false;  // end of image: the decoder stops reading
        if (marker == 0x00 || marker == 0x01 || marker == 0xD8 || is_restart(marker)) continue;
        const unsigned segment_length = file.be16(offset);
        if (segment_length < 2) return false;  // every such segment stops the decoder with an error
        if (marker == 0xC4 && dht_segment_overflows(file, offset)) return true;
        offset += segment_length;
        if (marker == 0xDA) offset = skip_entropy_coded_data(file, offset);
    }
}

// The decoder's own bound: it decodes no image whose 8-bit RGBA block would
// exceed INT_MAX bytes. Its 16-bit PNG path converts before it checks that
// bound and then overflows the size it allocates, so the bound is applied here
// first, from the header alone; it also caps what a small file can make the
// decoder allocate at 2 GB.
bool too_large(const unsigned char* bytes, int length) {
    int width = 0;
    int height = 0;
    int channels = 0;
    // When the header cannot be read, the decoder runs and reports its own reason.
    if (!stbi_info_from_memory(bytes, length, &width, &height, &channels)) return false;
    // A top-down BMP reports its height negative here, as its header stores it.
    return std::llabs(width) * std::llabs(height) * 4 > INT_MAX;
}

}  // namespace

const char* decode_refusal(const unsigned char* bytes, int length) {
    // The DHT walk comes first because the header query parses DHT segments too.
    if (length >= 2 && bytes[0] == 0xFF && bytes[1] == 0xD8 &&
        jpeg_has_oversized_dht(jpeg_bytes{bytes, static_cast<std::size_t>(length)}))
        return "bad DHT header";
    if (too_large(bytes, length)) return "too large";
    return nullptr;
}
