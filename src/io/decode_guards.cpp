#include "io/decode_guards.h"

#include <climits>
#include <cstddef>
#include <cstdint>
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

// What the walk has seen defined so far. The decoder allocates its tables
// without clearing them and decodes a scan with whatever table its header
// names, defined or not: an undefined Huffman table makes it index its arrays
// with leftover heap bytes (an out-of-bounds read that crashes), an undefined
// quantisation table multiplies by them.
struct jpeg_tables {
    bool huffman[2][4] = {};  // [class: 0 DC, 1 AC][slot]
    bool quantisation[4] = {};
    bool frame_seen = false;
    bool progressive = false;
    int components = 0;
    unsigned component_id[4] = {};
    unsigned component_quantisation[4] = {};
    // Whether a scan has set every coefficient of the component: any scan in a
    // baseline frame, the first DC scan in a progressive one.
    bool component_initialised[4] = {};
};

enum class jpeg_fault { none, oversized_huffman_table, undefined_table, missing_scan };

// stb_image builds each Huffman table into arrays of 256 symbols without
// checking the counts, so a table that declares more than 256 codes writes past
// them. The tables are read as the decoder reads them: one after another while
// the segment's length has bytes left, even beyond the declared end, until one
// has a class or slot the decoder rejects.
jpeg_fault read_dht(const jpeg_bytes& file, std::size_t length_field, jpeg_tables* tables) {
    long remaining = static_cast<long>(file.be16(length_field)) - 2;
    std::size_t table = length_field + 2;
    while (remaining > 0) {
        const unsigned class_and_slot = file.at(table);
        if ((class_and_slot >> 4) > 1 || (class_and_slot & 15) > 3) break;  // the decoder stops with an error here
        unsigned codes = 0;
        for (std::size_t i = 1; i <= 16; ++i) codes += file.at(table + i);
        if (codes > 256) return jpeg_fault::oversized_huffman_table;
        tables->huffman[class_and_slot >> 4][class_and_slot & 15] = true;
        table += 17 + codes;
        remaining -= static_cast<long>(17 + codes);
    }
    return jpeg_fault::none;
}

void read_dqt(const jpeg_bytes& file, std::size_t length_field, jpeg_tables* tables) {
    long remaining = static_cast<long>(file.be16(length_field)) - 2;
    std::size_t table = length_field + 2;
    while (remaining > 0) {
        const unsigned precision_and_slot = file.at(table);
        if ((precision_and_slot >> 4) > 1 || (precision_and_slot & 15) > 3) break;
        tables->quantisation[precision_and_slot & 15] = true;
        const unsigned size = (precision_and_slot >> 4) ? 129 : 65;  // 16- or 8-bit entries
        table += size;
        remaining -= static_cast<long>(size);
    }
}

// Only the first frame header counts: the decoder reads no other.
void read_sof(const jpeg_bytes& file, std::size_t length_field, unsigned marker, jpeg_tables* tables) {
    if (tables->frame_seen) return;
    tables->frame_seen = true;
    tables->progressive = marker == 0xC2;
    const unsigned count = file.at(length_field + 7);
    tables->components = count > 4 ? 4 : static_cast<int>(count);
    for (int i = 0; i < tables->components; ++i) {
        const std::size_t component = length_field + 8 + 3 * static_cast<std::size_t>(i);
        tables->component_id[i] = file.at(component);
        tables->component_quantisation[i] = file.at(component + 2);
    }
}

// A scan decodes its components with the tables its header names: baseline
// scans a DC and an AC table, progressive first DC scans a DC table, DC
// refinements none, AC scans an AC table; every component dequantises with its
// frame table. Selectors the decoder rejects are left to it.
//
// The decoder's coefficient and sample buffers are not cleared either: only a
// baseline scan or a progressive first DC scan sets a component's every
// coefficient. A progressive scan that refines a component before that, like a
// component no scan ever visits, would carry leftover heap bytes into the image.
jpeg_fault check_scan(const jpeg_bytes& file, std::size_t length_field, jpeg_tables* tables) {
    const unsigned count = file.at(length_field + 2);
    const std::size_t after = length_field + 3 + 2 * static_cast<std::size_t>(count);
    const unsigned spectral_start = file.at(after);
    const unsigned approximation_high = file.at(after + 2) >> 4;
    const bool first_dc = spectral_start == 0 && approximation_high == 0;
    const bool uses_dc = !tables->progressive || first_dc;
    const bool uses_ac = !tables->progressive || spectral_start != 0;
    for (unsigned i = 0; i < count && i < 4; ++i) {
        const unsigned id = file.at(length_field + 3 + 2 * i);
        const unsigned dc = file.at(length_field + 4 + 2 * i) >> 4;
        const unsigned ac = file.at(length_field + 4 + 2 * i) & 15;
        for (int c = 0; c < tables->components; ++c) {
            if (tables->component_id[c] != id) continue;
            const unsigned quantisation = tables->component_quantisation[c];
            if (quantisation <= 3 && !tables->quantisation[quantisation]) return jpeg_fault::undefined_table;
            if (uses_dc && dc <= 3 && !tables->huffman[0][dc]) return jpeg_fault::undefined_table;
            if (uses_ac && ac <= 3 && !tables->huffman[1][ac]) return jpeg_fault::undefined_table;
            if (!tables->progressive || first_dc) tables->component_initialised[c] = true;
            if (!tables->component_initialised[c]) return jpeg_fault::missing_scan;
            break;
        }
    }
    return jpeg_fault::none;
}

// The decoder succeeds only at the end-of-image marker, and then builds the
// image from every component of the frame.
jpeg_fault check_image_end(const jpeg_tables& tables) {
    for (int c = 0; c < tables.components; ++c)
        if (!tables.component_initialised[c]) return jpeg_fault::missing_scan;
    return jpeg_fault::none;
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
// length are passed over, so no table the decoder reaches is missed and none
// it defines goes unseen.
jpeg_fault find_jpeg_fault(const jpeg_bytes& file, std::size_t offset) {
    jpeg_tables tables;
    for (;;) {
        while (offset < file.length && file.data[offset] != 0xFF) ++offset;
        while (offset < file.length && file.data[offset] == 0xFF) ++offset;
        if (offset >= file.length) return jpeg_fault::none;
        const unsigned marker = file.data[offset++];
        if (marker == 0xD9) return check_image_end(tables);  // the decoder stops reading here
        if (marker == 0x00 || marker == 0x01 || marker == 0xD8 || is_restart(marker)) continue;
        const unsigned segment_length = file.be16(offset);
        if (segment_length < 2) return jpeg_fault::none;  // every such segment stops the decoder with an error
        if (marker == 0xC4) {
            const jpeg_fault fault = read_dht(file, offset, &tables);
            if (fault != jpeg_fault::none) return fault;
        } else if (marker == 0xDB) {
            read_dqt(file, offset, &tables);
        } else if (marker >= 0xC0 && marker <= 0xC2) {
            read_sof(file, offset, marker, &tables);
        } else if (marker == 0xDA) {
            const jpeg_fault fault = check_scan(file, offset, &tables);
            if (fault != jpeg_fault::none) return fault;
        }
        offset += segment_length;
        if (marker == 0xDA) offset = skip_entropy_coded_data(file, offset);
    }
}

// stb_image reads a paletted BMP's colours into a stack array of 256 entries
// and fills only as many as the file's palette holds; a pixel whose index lies
// beyond them takes the colour of whatever the stack held there, and the
// output file then carries those bytes. The layout is read as the decoder reads
// it; bytes past the end read as 0, an index every palette has.
bool bmp_index_beyond_palette(const unsigned char* bytes, std::size_t length) {
    const auto at = [&](long long offset) -> unsigned { return offset < static_cast<long long>(length) ? bytes[offset] : 0u; };
    const auto le16 = [&](long long offset) { return at(offset) | at(offset + 1) << 8; };
    const auto le32 = [&](long long offset) { return static_cast<uint32_t>(le16(offset)) | static_cast<uint32_t>(le16(offset + 2)) << 16; };
    const long long data = static_cast<int32_t>(le32(10));
    const long long header = le32(14);
    if (header != 12 && header != 40 && header != 56 && header != 108 && header != 124) return false;
    const bool core = header == 12;
    const long long width = core ? le16(18) : le32(18);
    const long long height = core ? le16(20) : std::llabs(static_cast<int32_t>(le32(22)));
    const unsigned bits = core ? le16(24) : le16(28);
    if (bits != 1 && bits != 4 && bits != 8) return false;
    if (width < 1 || width > (1 << 24) || height > (1 << 24)) return false;  // the decoder refuses those sizes
    const long long entry = core ? 3 : 4;
    const long long colours = core ? (data - 14 - 24) / 3 : (data - 14 - header) >> 2;
    if (colours == 0 || colours > 256) return false;  // the decoder refuses these
    // An offset that points into the header gives a negative count, which the
    // decoder takes as it is: it fills no slot at all.
    if (colours < 0) return height > 0;
    if (colours >= (1LL << bits)) return false;  // every index has its colour
    // After the palette the decoder skips to the pixel data, or to the end of
    // the file when the offset lies behind it.
    if (data - 14 - header - colours * entry < 0) return false;
    const long long row_bytes = bits == 1 ? (width + 7) >> 3 : bits == 4 ? (width + 1) >> 1 : width;
    const long long stride = row_bytes + ((4 - row_bytes % 4) % 4);
    for (long long row = 0, start = data; row < height && start < static_cast<long long>(length); ++row, start += stride) {
        for (long long x = 0; x < width; ++x) {
            const long long byte = start + (bits == 8 ? x : bits == 4 ? x / 2 : x / 8);
            if (byte >= static_cast<long long>(length)) break;
            const unsigned value = bytes[byte];
            const unsigned index = bits == 8 ? value : bits == 4 ? (x % 2 ? value & 15 : value >> 4) : (value >> (7 - x % 8)) & 1;
            if (index >= colours) return true;
        }
    }
    return false;
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
    // Header dimensions can be near 2^31 each, so the product is formed
    // unsigned and compared with INT_MAX / 4 rather than multiplied by 4.
    const unsigned long long pixels =
        static_cast<unsigned long long>(std::llabs(width)) * static_cast<unsigned long long>(std::llabs(height));
    return pixels > INT_MAX / 4;
}

}  // namespace

const char* decode_refusal(const unsigned char* bytes, int length) {
    // The JPEG walk comes first because the header query parses DHT segments
    // too. The decoder takes any file for a JPEG whose fill bytes (FF) lead to
    // an SOI marker; the pipeline passes it only those that begin FF D8.
    const jpeg_bytes file{bytes, length > 0 ? static_cast<std::size_t>(length) : 0};
    std::size_t soi = 0;
    while (soi < file.length && bytes[soi] == 0xFF) ++soi;
    if (soi > 0 && soi < file.length && bytes[soi] == 0xD8) {
        switch (find_jpeg_fault(file, soi + 1)) {
            case jpeg_fault::oversized_huffman_table: return "bad DHT header";
            case jpeg_fault::undefined_table: return "undefined table";
            case jpeg_fault::missing_scan: return "missing scan";
            case jpeg_fault::none: break;
        }
    }
    if (length >= 2 && bytes[0] == 'B' && bytes[1] == 'M' && bmp_index_beyond_palette(bytes, file.length))
        return "bad palette index";
    if (too_large(bytes, length)) return "too large";
    return nullptr;
}
